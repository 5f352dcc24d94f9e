#include "tests/server/host/program/TqwlProcess.h"

#include "tests/server/host/program/TqwlClient.h"
#include "tests/support/TestSupport.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tqtest {

namespace {

// Waits for a child with a deadline; kills it when the deadline passes.
int WaitChild(pid_t pid, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0)
            return -1;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

pid_t Spawn(const std::vector<std::string>& argv, const std::string& outputPath, const std::string& cwd)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0)
            ::_exit(126);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        // The test's SIGINT mask must not reach the program.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

} // namespace

TqwlProcess::TqwlProcess(std::string stateRoot) : stateRoot_(std::move(stateRoot)) {}

TqwlProcess::~TqwlProcess()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

void TqwlProcess::Start(const std::vector<std::string>& args)
{
    WaitUntilPortFree(34347);
    std::vector<std::string> argv{TQWL_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = Spawn(argv, stateRoot_ + "/tqwl.out", stateRoot_);
}

bool TqwlProcess::WaitForPort(int port, int timeoutMs) const
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(fd);
        if (ok)
            return true;
        if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void TqwlProcess::Signal(int signal) const
{
    if (pid_ > 0)
        ::kill(pid_, signal);
}

int TqwlProcess::Wait(int timeoutMs)
{
    if (pid_ <= 0)
        return -1;
    int code = WaitChild(pid_, timeoutMs);
    pid_ = -1;
    return code;
}

std::string TqwlProcess::Output() const
{
    return ReadFileText(stateRoot_ + "/tqwl.out");
}

int RunProgram(const std::vector<std::string>& argv, std::string* output, int timeoutMs)
{
    TempFolder scratch;
    std::string path = scratch / "output.txt";
    pid_t pid = Spawn(argv, path, {});
    int code = WaitChild(pid, timeoutMs);
    if (output != nullptr)
        *output = ReadFileText(path);
    return code;
}

long InvokeBlobOverRpc(int port, const std::vector<BYTE>& blob, std::vector<BYTE>* reply, bool* nullReply)
{
    TqwlClient client;
    const RPC_STATUS status = client.Connect(port);
    if (status != RPC_S_OK)
        return -static_cast<long>(status) - 2;
    return client.InvokeBlob(blob, reply, nullReply);
}

long InvokeOverRpc(int port, CInvokeData& request, CInvokeData& reply, long* replySize, const char*)
{
    std::vector<BYTE> blob(request.GetEncodedSize(InvokeModeRequest));
    request.Encode(blob.data(), static_cast<LONG>(blob.size()), InvokeModeRequest);
    std::vector<BYTE> answer;
    bool null = false;
    long rc = InvokeBlobOverRpc(port, blob, &answer, &null);
    if (replySize != nullptr)
        *replySize = null ? -1 : static_cast<long>(answer.size());
    if (!answer.empty())
        reply.Decode(answer.data(), answer.size());
    return rc;
}

} // namespace tqtest
