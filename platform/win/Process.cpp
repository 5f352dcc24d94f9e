#include "platform/win/Process.h"

#include <chrono>
#include <climits>
#include <thread>
#include <sys/syscall.h>
#include <unistd.h>

DWORD GetCurrentThreadId()
{
    thread_local const DWORD id = static_cast<DWORD>(::syscall(SYS_gettid));
    return id;
}

DWORD GetCurrentProcessId()
{
    return static_cast<DWORD>(::getpid());
}

std::string GetModuleFileName()
{
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string GetModuleFolder()
{
    std::string path = GetModuleFileName();
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

void Sleep(DWORD milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

ULONGLONG GetTickCount64()
{
    using namespace std::chrono;
    return static_cast<ULONGLONG>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void TerminateCurrentProcess(UINT exitCode)
{
    ::_exit(static_cast<int>(exitCode));
}
