#include "platform/scm/ServiceLauncher.h"

#include "platform/scm/ServiceChannel.h"
#include "platform/scm/ServiceState.h"
#include "platform/win/LastError.h"
#include "platform/win/Process.h"
#include "platform/win/StateRoot.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tq::scm {

namespace {

// Where the service process finds what it was handed.
constexpr int kChildLockFd = 3;
constexpr int kChildChannelFd = 4;

struct LaunchPlan {
    std::vector<std::string> argvText;
    std::vector<std::string> envText;
    std::vector<char*> argv;
    std::vector<char*> envp;
    int lockFd = -1;
    int channelFd = -1;
    int logFd = -1;
    int nullFd = -1;
};

bool StartsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// The caller's environment, less what a start hands over afresh.
std::vector<std::string> ServiceEnvironment(const std::string& name, const std::vector<std::string>& serviceArgs)
{
    std::vector<std::string> env;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        if (StartsWith(*e, "TQ_STATE_ROOT=") || StartsWith(*e, "TQ_SERVICE_"))
            continue;
        env.emplace_back(*e);
    }
    // The process runs in "/", so a relative state root would point elsewhere.
    std::error_code ec;
    std::filesystem::path root = std::filesystem::absolute(StateRoot(), ec);
    env.push_back("TQ_STATE_ROOT=" + (ec ? StateRoot() : root.lexically_normal().string()));
    env.push_back(std::string(kEnvServiceName) + "=" + name);
    env.push_back(std::string(kEnvLockFd) + "=" + std::to_string(kChildLockFd));
    env.push_back(std::string(kEnvChannelFd) + "=" + std::to_string(kChildChannelFd));
    env.push_back(std::string(kEnvArgCount) + "=" + std::to_string(serviceArgs.size()));
    for (size_t i = 0; i < serviceArgs.size(); ++i)
        env.push_back(std::string(kEnvArgPrefix) + std::to_string(i + 1) + "=" + serviceArgs[i]);
    return env;
}

std::vector<char*> PointersOf(std::vector<std::string>& texts)
{
    std::vector<char*> p;
    for (std::string& t : texts)
        p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

// The service process, between fork and exec: async-signal-safe calls only.
[[noreturn]] void BecomeService(const LaunchPlan& plan)
{
    // Lift every descriptor kept above the numbers it must end up at.
    int lockFd = ::fcntl(plan.lockFd, F_DUPFD_CLOEXEC, 10);
    int channelFd = ::fcntl(plan.channelFd, F_DUPFD_CLOEXEC, 10);
    int logFd = ::fcntl(plan.logFd, F_DUPFD_CLOEXEC, 10);
    int nullFd = ::fcntl(plan.nullFd, F_DUPFD_CLOEXEC, 10);
    if (lockFd < 0 || channelFd < 0 || logFd < 0 || nullFd < 0 || ::dup2(nullFd, 0) < 0 || ::dup2(logFd, 1) < 0 ||
        ::dup2(logFd, 2) < 0 || ::dup2(lockFd, kChildLockFd) < 0 || ::dup2(channelFd, kChildChannelFd) < 0) {
        int err = errno;
        SendLaunchMessage(channelFd >= 0 ? channelFd : plan.channelFd, LaunchTag::Failed, err, -1);
        ::_exit(127);
    }
    // Nothing else of the controller's leaks into the service.
    if (::syscall(SYS_close_range, kChildChannelFd + 1, ~0U, 0) != 0) {
        for (int fd = kChildChannelFd + 1; fd < 1024; ++fd)
            ::close(fd);
    }
    struct sigaction dfl{};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (::chdir("/") != 0) {
        // The program still runs; "/" is only where it should not pin a folder.
    }
    ::execve(plan.argv[0], plan.argv.data(), plan.envp.data());
    int err = errno;
    SendLaunchMessage(kChildChannelFd, LaunchTag::Failed, err, -1);
    ::_exit(127);
}

// The helper between controller and service: gives the service its own
// session and no parent to wait for it, and reports it with a pidfd.
[[noreturn]] void RunHelper(const LaunchPlan& plan)
{
    ::setsid();
    pid_t service = ::fork();
    if (service < 0) {
        SendLaunchMessage(plan.channelFd, LaunchTag::Failed, errno, -1);
        ::_exit(1);
    }
    if (service == 0)
        BecomeService(plan);
    // The service cannot be reaped before this process ends, so the pidfd
    // surely names it.
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, service, 0));
    SendLaunchMessage(plan.channelFd, LaunchTag::Process, service, pidfd);
    ::_exit(0);
}

DWORD ErrorOfLaunchStep(int err)
{
    return err == ENOEXEC ? ERROR_BAD_FORMAT : Win32ErrorFromErrno(err);
}

// Ends a service process that did not make it to the dispatcher and waits
// until its descriptors (the run lock among them) are gone.
void KillService(int pidfd, pid_t pid, bool alive)
{
    if (pidfd >= 0) {
        ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
        pollfd p{pidfd, POLLIN, 0};
        ::poll(&p, 1, 5000);
    } else if (pid > 0 && alive) {
        ::kill(pid, SIGKILL);
    }
}

void CloseIfOpen(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

} // namespace

DWORD LaunchService(const std::string& name, const std::vector<std::string>& commandLine,
                    const std::vector<std::string>& serviceArgs, int lockFd)
{
    if (commandLine.empty() || commandLine[0].empty())
        return ERROR_FILE_NOT_FOUND;
    LaunchPlan plan;
    plan.argvText = commandLine;
    plan.envText = ServiceEnvironment(name, serviceArgs);
    plan.argv = PointersOf(plan.argvText);
    plan.envp = PointersOf(plan.envText);
    plan.lockFd = lockFd;

    int channel[2] = {-1, -1};
    plan.logFd = ::open(ServiceFilePath(name, ".log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    plan.nullFd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (plan.logFd < 0 || plan.nullFd < 0 || ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, channel) != 0) {
        DWORD err = Win32ErrorFromErrno(errno);
        CloseIfOpen(plan.logFd);
        CloseIfOpen(plan.nullFd);
        return err;
    }
    plan.channelFd = channel[1];

    pid_t helper = ::fork();
    if (helper == 0)
        RunHelper(plan);
    int forkErr = errno;
    ::close(channel[1]);
    ::close(plan.logFd);
    ::close(plan.nullFd);
    if (helper < 0) {
        ::close(channel[0]);
        return Win32ErrorFromErrno(forkErr);
    }
    int helperStatus = 0;
    while (::waitpid(helper, &helperStatus, 0) < 0 && errno == EINTR) {
    }

    const unsigned long long deadline = GetTickCount64() + ScmTimeoutMs();
    int pidfd = -1;
    pid_t pid = 0;
    DWORD result = ERROR_PROCESS_ABORTED;
    bool alive = false;
    while (true) {
        LaunchMessage m{};
        int passed = -1;
        IoResult r = ReceiveLaunchMessage(channel[0], &m, &passed, deadline);
        if (r == IoResult::TimedOut) {
            result = ERROR_SERVICE_REQUEST_TIMEOUT;
            alive = true;
            break;
        }
        if (r != IoResult::Ok) {
            result = ERROR_PROCESS_ABORTED; // it ended, or dropped its channel, before the dispatcher
            break;
        }
        if (m.tag == LaunchTag::Process) {
            pid = m.value;
            if (passed >= 0) {
                CloseIfOpen(pidfd);
                pidfd = passed;
            }
            continue;
        }
        CloseIfOpen(passed);
        if (m.tag == LaunchTag::Connected) {
            result = ERROR_SUCCESS;
            break;
        }
        if (m.tag == LaunchTag::Failed) {
            result = ErrorOfLaunchStep(m.value);
            break;
        }
    }
    ::close(channel[0]);
    if (result != ERROR_SUCCESS)
        KillService(pidfd, pid, alive);
    CloseIfOpen(pidfd);
    return result;
}

} // namespace tq::scm
