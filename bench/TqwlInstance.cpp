#include "bench/TqwlInstance.h"

#include "common/Names.h"
#include "platform/registry/Registry.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tqbench {

namespace {

using Clock = std::chrono::steady_clock;

// Runs a program to its end with its output into the file; the exit code,
// -1 when it could not run or ended by a signal.
int RunToEnd(const std::vector<std::string>& argv, const std::string& output)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (pid < 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

LONG WriteVirtualServer(const VirtualServerConfig& server)
{
    std::string path = std::string(tq::kVirtualServersKey) + "\\" + server.name;
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS, &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    DWORD port = static_cast<DWORD>(server.port);
    rc = RegSetValueExA(key, tq::kPortValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port), sizeof port);
    if (rc == ERROR_SUCCESS)
        rc = RegSetValueExA(key, tq::kStorageFolderValue, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(server.folder.c_str()),
                            static_cast<DWORD>(server.folder.size() + 1));
    RegCloseKey(key);
    return rc;
}

} // namespace

int FreeLoopbackPort()
{
    // Never the server's own fixed ports, and never one handed out before in
    // this run: each virtual server needs a port of its own.
    static std::mutex mutex;
    static std::set<int> given{tq::kDefaultPort, tq::kClientPort};
    std::lock_guard lock(mutex);
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int port = 0;
        socklen_t length = sizeof addr;
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
            port = ntohs(addr.sin_port);
        if (fd >= 0)
            ::close(fd);
        if (port != 0 && given.insert(port).second)
            return port;
    }
    return 0;
}

bool PortAnswers(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

TqwlInstance::TqwlInstance(std::string binFolder, std::string stateRoot)
    : bin_(std::move(binFolder)), root_(std::move(stateRoot))
{
}

TqwlInstance::~TqwlInstance()
{
    if (pid_ > 0)
        Stop(5000);
}

bool TqwlInstance::Configure(const std::vector<VirtualServerConfig>& servers, std::string* error)
{
    const std::string setupOutput = root_ + "/tqwlsetup.out";
    if (RunToEnd({bin_ + "/tqwlsetup", "seed", root_ + "/default/"}, setupOutput) != 0) {
        *error = "tqwlsetup seed failed (see " + setupOutput + ")";
        return false;
    }
    for (const auto& server : servers) {
        std::error_code ec;
        std::filesystem::create_directories(server.folder, ec);
        if (ec) {
            *error = "cannot create " + server.folder + ": " + ec.message();
            return false;
        }
        LONG rc = WriteVirtualServer(server);
        if (rc != ERROR_SUCCESS) {
            *error = "cannot write virtual server " + server.name + " to the registry: error " + std::to_string(rc);
            return false;
        }
    }
    servers_ = servers;
    return true;
}

bool TqwlInstance::Start(std::string* error)
{
    const std::string program = bin_ + "/TQWL";
    const std::string output = root_ + "/tqwl.out";
    pid_ = ::fork();
    if (pid_ == 0) {
        int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        if (::chdir(root_.c_str()) != 0)
            ::_exit(126);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid_ < 0) {
        *error = "cannot start " + program;
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    for (const auto& server : servers_) {
        while (!PortAnswers(server.port)) {
            if (!Alive()) {
                *error = program + " ended while starting:\n" + Output();
                return false;
            }
            if (Clock::now() > deadline) {
                *error = "port " + std::to_string(server.port) + " of " + server.name + " did not open";
                Stop(5000);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    return true;
}

bool TqwlInstance::Alive()
{
    if (pid_ <= 0)
        return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

int TqwlInstance::Stop(int timeoutMs)
{
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, SIGINT);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_)
            break;
        if (done < 0 && errno != EINTR) {
            pid_ = -1;
            return -1;
        }
        if (Clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string TqwlInstance::Output() const
{
    std::ifstream in(root_ + "/tqwl.out");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace tqbench
