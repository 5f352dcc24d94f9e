#include "tests/support/TestSupport.h"

#include "platform/win/Process.h"

#include <arpa/inet.h>
#include <chrono>
#include <thread>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace tqtest {

TempFolder::TempFolder(const std::string& parent)
{
    std::string templ =
        ((parent.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(parent)) / "tqtest-XXXXXX")
            .string();
    char* made = ::mkdtemp(templ.data());
    if (made == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = made;
}

TempFolder::~TempFolder()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

static void SaveEnv(const char* name, std::string& old, bool& had)
{
    const char* v = std::getenv(name);
    had = v != nullptr;
    if (had)
        old = v;
}

static void RestoreEnv(const char* name, const std::string& old, bool had)
{
    if (had)
        ::setenv(name, old.c_str(), 1);
    else
        ::unsetenv(name);
}

void StateRootTest::SetUp()
{
    SaveEnv("TQ_STATE_ROOT", oldRoot_, hadRoot_);
    SaveEnv("TQ_EVENTLOG_FILE", oldEventLog_, hadEventLog_);
    ::setenv("TQ_STATE_ROOT", root_.Path().c_str(), 1);
    ::setenv("TQ_EVENTLOG_FILE", EventLogPath().c_str(), 1);
}

void StateRootTest::TearDown()
{
    RestoreEnv("TQ_STATE_ROOT", oldRoot_, hadRoot_);
    RestoreEnv("TQ_EVENTLOG_FILE", oldEventLog_, hadEventLog_);
}

std::string StateRootTest::EventLogText() const
{
    return ReadFileText(EventLogPath());
}

namespace {

// Binds a loopback TCP socket to port (0: any); the port bound, or 0. As
// servers do, it ignores connections of the port that only linger in TIME_WAIT.
int BindLoopback(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    int bound = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        socklen_t len = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        bound = ntohs(addr.sin_port);
    }
    ::close(fd);
    return bound;
}

} // namespace

int FreeTcpPort()
{
    // The server's own fixed ports lie in the kernel's ephemeral range; a
    // test never takes them, so that the tests of the fixed ports find them free.
    for (;;) {
        int port = BindLoopback(0);
        if (port != 0 && (port < 34340 || port > 34350))
            return port;
    }
}

bool WaitUntilPortFree(int port, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (BindLoopback(port) != port) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string ReadFileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool WriteFileText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

std::string BuildFolder()
{
    const char* v = std::getenv("TQ_BUILD_DIR");
    if (v != nullptr && *v != '\0')
        return v;
    // Test programs live in <build>/tests/<folder...>; walk up to the folder holding CMakeCache.txt.
    std::filesystem::path p = GetModuleFolder();
    while (!p.empty() && p != p.root_path()) {
        if (std::filesystem::exists(p / "CMakeCache.txt"))
            return p.string();
        p = p.parent_path();
    }
    return GetModuleFolder();
}

} // namespace tqtest
