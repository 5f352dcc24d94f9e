#include "console/core/OverlappedPipeServer.h"

#include "platform/pipe/NamedPipe.h"
#include "platform/win/Process.h"
#include "server/dispatch/WinLogImpl.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <set>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr DWORD kPort = 41234;

// Keeps what arrives and answers with a reply the test chooses.
class RecordingPipeServer : public COverlappedPipeServer {
public:
    explicit RecordingPipeServer(DWORD identity = kPort) : COverlappedPipeServer(identity) {}
    ~RecordingPipeServer() override { Stop(); }

    std::vector<std::string> WaitFor(size_t count, int timeoutMs = 10000)
    {
        std::unique_lock<std::mutex> hold(lock_);
        arrived_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return requests_.size() >= count; });
        return requests_;
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return requests_.size();
    }
    std::string reply;

protected:
    void HandleRequest(const std::string& request, std::string& out) override
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            requests_.push_back(request);
        }
        arrived_.notify_all();
        out = reply;
    }

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<std::string> requests_;
};

bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Opens the pipe as the server's writer does: busy means waiting for an instance.
DWORD OpenWhenFree(PipeHandle* h)
{
    const std::string name = COverlappedPipeServer::PipeName(kPort);
    DWORD opened = PipeOpen(name, h);
    if (opened == ERROR_PIPE_BUSY && PipeWait(name, 1000))
        opened = PipeOpen(name, h);
    return opened;
}

class OverlappedPipeServerTest : public tqtest::StateRootTest {
protected:
    // Starts serving and waits until the pipe can be opened.
    void StartServing(COverlappedPipeServer& server)
    {
        server.Start();
        ASSERT_TRUE(WaitUntil([&] {
            PipeHandle h = INVALID_PIPE_HANDLE;
            if (PipeOpen(COverlappedPipeServer::PipeName(server.Identity()), &h) != ERROR_SUCCESS)
                return false;
            PipeClose(h); // an empty connection: no request
            return true;
        }));
    }
    // A record of exactly `length` characters, as the server's log writes it.
    static std::string MessageForLength(size_t length)
    {
        const std::string bare = CWinLogImpl::FormatCallRecord(1, 1004, "g", "", 0, "s", "f", 1, GetCurrentThreadId());
        return std::string(length - bare.size(), 'x');
    }
    CWinLogImpl log_{kPort};
};

TEST(OverlappedPipeServerName, InfoAndPortPipes)
{
    EXPECT_EQ(COverlappedPipeServer::PipeName(0xF0000001), "\\\\.\\pipe\\TQC.Log.Info");
    EXPECT_EQ(COverlappedPipeServer::PipeName(34347), "\\\\.\\pipe\\TQC.Log.34347");
}

TEST_F(OverlappedPipeServerTest, RecordsUpTo4095CharactersArriveWholeAndLongerOnesAreDropped)
{
    RecordingPipeServer server;
    StartServing(server);
    const std::string longest = MessageForLength(4095);
    log_.LogCall(1, 1004, "g", longest.c_str(), 0, "s", "f", 1);
    auto got = server.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].size(), 4095u);
    EXPECT_NE(got[0].find(longest), std::string::npos);

    // One byte more (4096 characters and the NUL): dropped, and the instance
    // serves the next writer.
    const std::string tooLong = MessageForLength(4096);
    log_.LogCall(1, 1004, "g", tooLong.c_str(), 0, "s", "f", 1);
    log_.LogCall(1, 1004, "g", "after", 0, "s", "f", 1);
    got = server.WaitFor(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_NE(got[1].find("|after|"), std::string::npos);
    EXPECT_TRUE(server.IsRunning());
}

TEST_F(OverlappedPipeServerTest, WritersThatCloseAtOnceAndEmptyMessagesFreeTheirInstance)
{
    RecordingPipeServer server;
    StartServing(server);
    // Far more writers than instances, one after the other, each closing at once.
    for (int i = 0; i < 40; ++i)
        log_.LogCall(0, 2000 + i, "g", "m", 0, "s", "f", i);
    ASSERT_EQ(server.WaitFor(40).size(), 40u);

    // A 0-byte message reads as a closed connection: no request.
    for (int i = 0; i < 6; ++i) {
        PipeHandle h = INVALID_PIPE_HANDLE;
        ASSERT_EQ(OpenWhenFree(&h), ERROR_SUCCESS);
        PipeWrite(h, "", 0, nullptr);
        PipeClose(h);
    }
    log_.LogCall(1, 9, "g", "last", 0, "s", "f", 1);
    auto got = server.WaitFor(41);
    ASSERT_EQ(got.size(), 41u);
    EXPECT_NE(got[40].find("|last|"), std::string::npos);
}

TEST_F(OverlappedPipeServerTest, RepliesAreCutAt4094CharactersAndEachMessageIsAnswered)
{
    RecordingPipeServer server;
    server.reply = std::string(5000, 'r');
    StartServing(server);
    PipeHandle h = INVALID_PIPE_HANDLE;
    ASSERT_EQ(OpenWhenFree(&h), ERROR_SUCCESS);
    char answer[8192];
    DWORD n = 0;
    for (int round = 0; round < 2; ++round) { // further messages on one connection
        ASSERT_EQ(PipeWrite(h, "hello\0junk", 10, nullptr), ERROR_SUCCESS);
        ASSERT_TRUE(WaitUntil([&] { return PipeRead(h, answer, sizeof answer, &n) == ERROR_SUCCESS; }));
        ASSERT_EQ(n, 4095u);
        EXPECT_EQ(answer[4093], 'r');
        EXPECT_EQ(answer[4094], '\0');
    }
    // The request ends at its NUL.
    EXPECT_EQ(server.WaitFor(2), (std::vector<std::string>{"hello", "hello"}));

    server.reply.clear(); // an empty reply is the NUL alone
    ASSERT_EQ(PipeWrite(h, "x", 1, nullptr), ERROR_SUCCESS); // no NUL sent: the bytes received count
    ASSERT_TRUE(WaitUntil([&] { return PipeRead(h, answer, sizeof answer, &n) == ERROR_SUCCESS; }));
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(server.WaitFor(3).back(), "x");
    PipeClose(h);
}

TEST_F(OverlappedPipeServerTest, ANewServerTakesOverANameItsPredecessorIsLettingGo)
{
    auto old = std::make_unique<RecordingPipeServer>();
    StartServing(*old);
    RecordingPipeServer next;
    next.Start(); // before the old one has let go
    old->Stop();
    old.reset();
    log_.LogCall(1, 1, "g", "to the new one", 0, "s", "f", 1);
    EXPECT_TRUE(WaitUntil([&] {
        if (next.Count() > 0)
            return true;
        log_.LogCall(1, 1, "g", "to the new one", 0, "s", "f", 1);
        return false;
    }));
    EXPECT_TRUE(next.IsRunning());
}

TEST_F(OverlappedPipeServerTest, StopRightAfterStartAndTwiceAndRestart)
{
    RecordingPipeServer server;
    for (int i = 0; i < 20; ++i) {
        server.Start();
        server.Stop();
        EXPECT_FALSE(server.IsRunning());
    }
    server.Stop();
    // The pipe is gone with the thread: writers find nobody.
    PipeHandle h = INVALID_PIPE_HANDLE;
    EXPECT_EQ(PipeOpen(COverlappedPipeServer::PipeName(kPort), &h), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    StartServing(server);
    log_.LogCall(1, 1, "g", "again", 0, "s", "f", 1);
    EXPECT_EQ(server.WaitFor(1).size(), 1u);
}

TEST_F(OverlappedPipeServerTest, AThreadThatEndedByItselfIsStoppedWithoutWaiting)
{
    RecordingPipeServer first;
    StartServing(first);
    const auto started = std::chrono::steady_clock::now();
    RecordingPipeServer second; // the same name: its thread cannot serve it and ends
    second.Start();
    ASSERT_TRUE(WaitUntil([&] { return !second.IsRunning(); }));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1900)); // tried a while
    const auto before = std::chrono::steady_clock::now();
    second.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    log_.LogCall(1, 1, "g", "to the first", 0, "s", "f", 1);
    EXPECT_EQ(first.WaitFor(1).size(), 1u);
}

TEST_F(OverlappedPipeServerTest, RecordsFromManyWritersAtOnceAreNeitherLostNorInterleaved)
{
    RecordingPipeServer server;
    StartServing(server);
    constexpr int kWriters = 8;
    constexpr int kEach = 150;
    std::set<std::string> sent;
    std::vector<std::thread> writers;
    std::mutex sentLock;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            CWinLogImpl log(kPort);
            for (int i = 0; i < kEach; ++i) {
                const std::string message = "w" + std::to_string(w) + "-" + std::to_string(i) + std::string(200, 'p');
                log.LogCall(1, 1002, "g", message.c_str(), 0, "WinFileImpl", "CWinFileImpl::OnReadFile", i);
                std::lock_guard<std::mutex> hold(sentLock);
                sent.insert(message);
            }
        });
    }
    for (auto& t : writers)
        t.join();
    auto got = server.WaitFor(kWriters * kEach, 20000);
    ASSERT_EQ(got.size(), static_cast<size_t>(kWriters * kEach));
    std::set<std::string> received;
    for (const auto& r : got) {
        const auto first = r.find("|g|") + 3;
        received.insert(r.substr(first, r.find('|', first) - first));
    }
    EXPECT_EQ(received, sent);
}

TEST_F(OverlappedPipeServerTest, AFifthWriterWaitsItsTurnAndASixthFindsThePipeBusy)
{
    RecordingPipeServer server;
    StartServing(server);
    std::vector<PipeHandle> held(5, INVALID_PIPE_HANDLE);
    // Writers that stay connected, each taken up before the next comes.
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(WaitUntil(
            [&] { return PipeOpen(COverlappedPipeServer::PipeName(kPort), &held[i]) == ERROR_SUCCESS; }, 2000));
        ASSERT_EQ(PipeWrite(held[i], "a", 2, nullptr), ERROR_SUCCESS);
        ASSERT_EQ(server.WaitFor(i + 1).size(), i + 1);
    }
    // The instances are all taken; one more writer still gets in line.
    ASSERT_TRUE(WaitUntil(
        [&] { return PipeOpen(COverlappedPipeServer::PipeName(kPort), &held[4]) == ERROR_SUCCESS; }, 2000));
    PipeHandle sixth = INVALID_PIPE_HANDLE;
    EXPECT_EQ(PipeOpen(COverlappedPipeServer::PipeName(kPort), &sixth), static_cast<DWORD>(ERROR_PIPE_BUSY));
    ASSERT_EQ(PipeWrite(held[4], "fifth", 6, nullptr), ERROR_SUCCESS);
    PipeClose(held[0]); // an instance comes free: the waiting writer is served
    EXPECT_EQ(server.WaitFor(5).back(), "fifth");
    for (int i = 1; i < 5; ++i)
        PipeClose(held[i]);
}

// Connections that never write hold every instance and the place in line;
// they are cut, so the server's writer (which waits 1 s for a busy pipe)
// gets through instead of dropping its record.
TEST_F(OverlappedPipeServerTest, SilentConnectionsAreCutAndHoldUpNoWriter)
{
    RecordingPipeServer server;
    StartServing(server);
    std::vector<PipeHandle> silent(5, INVALID_PIPE_HANDLE);
    for (PipeHandle& h : silent)
        ASSERT_TRUE(WaitUntil([&] { return PipeOpen(COverlappedPipeServer::PipeName(kPort), &h) == ERROR_SUCCESS; }, 2000));
    ASSERT_TRUE(WaitUntil([&] {
        log_.LogCall(1, 1, "g", "not held up", 0, "s", "f", 1);
        return server.Count() > 0;
    }));
    for (PipeHandle h : silent) {
        char buffer[8];
        DWORD n = 0;
        EXPECT_EQ(PipeRead(h, buffer, sizeof buffer, &n), static_cast<DWORD>(ERROR_BROKEN_PIPE));
        PipeClose(h);
    }
}

TEST_F(OverlappedPipeServerTest, AFailedWaitDoesNotEndLoggingForGood)
{
    RecordingPipeServer server;
    StartServing(server);
    // Use up every descriptor but one, which the writer takes: the server
    // cannot take the writer up, and its wait fails.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit low = old;
    low.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> filler;
    for (;;) {
        int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            break;
        filler.push_back(fd);
    }
    ASSERT_FALSE(filler.empty());
    ::close(filler.back());
    filler.pop_back();
    PipeHandle writer = INVALID_PIPE_HANDLE;
    const DWORD opened = OpenWhenFree(&writer);
    if (opened == ERROR_SUCCESS)
        PipeWrite(writer, "held back", 10, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(600)); // several failed waits
    const bool runningMeanwhile = server.IsRunning();
    for (int fd : filler)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &old);
    ASSERT_EQ(opened, ERROR_SUCCESS);
    EXPECT_TRUE(runningMeanwhile);
    EXPECT_EQ(server.WaitFor(1), std::vector<std::string>{"held back"});
    PipeClose(writer);
    log_.LogCall(1, 1, "g", "later", 0, "s", "f", 1);
    EXPECT_EQ(server.WaitFor(2).size(), 2u);
}

} // namespace
