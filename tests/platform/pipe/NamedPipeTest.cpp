// Named pipes, client against server: names, whole messages in order, many
// writers at once, busy instances, over-long messages, and servers that come,
// go and die.
#include "tests/platform/pipe/PipeTestSupport.h"

#include "platform/win/LastError.h"
#include "platform/win/StateRoot.h"

#include <chrono>
#include <fcntl.h>
#include <map>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace pipetest;
using Clock = std::chrono::steady_clock;

std::string WithNul(const std::string& s)
{
    return s + std::string(1, '\0');
}

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

PipeHandle Connect(const char* pipe = kPipe)
{
    PipeHandle h = INVALID_PIPE_HANDLE;
    EXPECT_EQ(PipeOpen(pipe, &h), ERROR_SUCCESS);
    return h;
}

class NamedPipeTest : public tqtest::StateRootTest {};

TEST_F(NamedPipeTest, EveryNameHasItsOwnSocketFile)
{
    const std::string dir = Root() + "/run/pipe/";
    EXPECT_EQ(PipeSocketPath("\\\\.\\pipe\\TQC.Log.34347"), dir + "TQC.Log.34347");
    EXPECT_EQ(PipeSocketPath("\\\\.\\PIPE\\TQC.Log.Info"), dir + "TQC.Log.Info");
    EXPECT_EQ(PipeSocketPath("\\\\.\\pipe\\a/b%c"), dir + "a%2Fb%25c");
    EXPECT_EQ(PipeSocketPath("\\\\.\\pipe\\a%2Fb"), dir + "a%252Fb");
    EXPECT_EQ(PipeSocketPath("\\\\.\\pipe\\.."), dir + "%2E.");
    EXPECT_EQ(PipeSocketPath("\\\\.\\pipe\\.x.lock"), dir + "%2Ex.lock");
    EXPECT_EQ(PipeSocketPath("\\\\.\\pipe\\tab\there\\sub"), dir + "tab%09here\\sub");
    EXPECT_EQ(PipeSocketPath("\\\\.\\pipe\\Case"), dir + "Case");
    EXPECT_NE(PipeSocketPath("\\\\.\\pipe\\case"), PipeSocketPath("\\\\.\\pipe\\Case"));
    for (const char* bad : {"", "TQC.Log", "\\\\.\\pipe\\", "\\\\server\\pipe\\x", "\\\\.\\pipes\\x", "\\.\\pipe\\x"})
        EXPECT_EQ(PipeSocketPath(bad), "") << bad;
    PipeHandle h = 7;
    EXPECT_EQ(PipeOpen("TQC.Log", &h), ERROR_INVALID_NAME);
    EXPECT_EQ(h, INVALID_PIPE_HANDLE);
    CNamedPipeServer server;
    EXPECT_EQ(server.Create("TQC.Log", 4), ERROR_INVALID_NAME);
    EXPECT_EQ(server.Create(kPipe, 0), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(server.Create(kPipe, 256), ERROR_INVALID_PARAMETER);
}

TEST_F(NamedPipeTest, NobodyServingFailsAtOnceWithFileNotFound)
{
    PipeHandle h = INVALID_PIPE_HANDLE;
    auto start = Clock::now();
    EXPECT_EQ(PipeOpen(kPipe, &h), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(PipeWait(kPipe, 1000));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    // A socket file nobody listens on, as a dead server leaves it.
    ASSERT_TRUE(CreateFolders(Root() + "/run/pipe"));
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = PipeSocketPath(kPipe);
    std::copy(path.begin(), path.end(), addr.sun_path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
    EXPECT_EQ(PipeOpen(kPipe, &h), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(PipeWait(kPipe, 1000));
    EXPECT_EQ(WriteRecord(kPipe, "dropped"), ERROR_FILE_NOT_FOUND);
    // None of this waited: the bound is far above an immediate answer and far
    // below the one-second wait.
    EXPECT_LT(MsSince(start), 500);
}

TEST_F(NamedPipeTest, RecordsArriveWholeAndInOrder)
{
    Collector collector;
    ASSERT_EQ(collector.CreateResult(), ERROR_SUCCESS);
    std::vector<std::string> sent;
    for (int i = 0; i < 60; ++i) {
        sent.push_back(WithNul("0|1004|0|00000000-0000-0000-0000-000000000000|CloseFile(" + std::to_string(i) +
                               ")|WinFileImpl|CWinFileImpl::OnCloseFile|539|77"));
        ASSERT_EQ(WriteRecord(kPipe, sent.back().substr(0, sent.back().size() - 1)), ERROR_SUCCESS);
    }
    EXPECT_EQ(collector.WaitFor(sent.size()), sent);
}

TEST_F(NamedPipeTest, ManyWritersAtOnceNeverInterleave)
{
    Collector collector;
    ASSERT_EQ(collector.CreateResult(), ERROR_SUCCESS);
    constexpr int kThreads = 8, kRecords = 60;
    std::vector<std::thread> writers;
    std::atomic<int> failed{0};
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t, &failed] {
            for (int n = 0; n < kRecords; ++n) {
                // Records of different lengths, so a mix-up cannot look whole.
                std::string record = std::to_string(t) + "|" + std::to_string(n) + "|" + std::string(t * 97 + n, 'a' + t);
                if (WriteRecord(kPipe, record) != ERROR_SUCCESS)
                    ++failed;
            }
        });
    }
    for (auto& w : writers)
        w.join();
    EXPECT_EQ(failed, 0);
    auto got = collector.WaitFor(kThreads * kRecords);
    ASSERT_EQ(got.size(), size_t(kThreads * kRecords));
    std::map<int, int> next;
    for (const auto& m : got) {
        int t = 0, n = 0;
        ASSERT_EQ(std::sscanf(m.c_str(), "%d|%d|", &t, &n), 2) << m;
        std::string expected = std::to_string(t) + "|" + std::to_string(n) + "|" + std::string(t * 97 + n, 'a' + t);
        EXPECT_EQ(m, WithNul(expected));
        // One writer's records come in the order it wrote them.
        EXPECT_EQ(n, next[t]++) << "writer " << t;
    }
}

TEST_F(NamedPipeTest, AllInstancesBusyMakesTheWriterGiveUpAfterItsWait)
{
    CNamedPipeServer server;
    ASSERT_EQ(server.Create(kPipe, 2), ERROR_SUCCESS);
    // Nobody is served: the two clients hold both instances.
    PipeHandle a = Connect(), b = Connect();
    PipeHandle c = INVALID_PIPE_HANDLE;
    EXPECT_EQ(PipeOpen(kPipe, &c), ERROR_PIPE_BUSY);
    EXPECT_EQ(GetLastError(), ERROR_PIPE_BUSY);
    auto start = Clock::now();
    EXPECT_EQ(WriteRecord(kPipe, "dropped", 200), ERROR_PIPE_BUSY);
    EXPECT_EQ(GetLastError(), ERROR_SEM_TIMEOUT);
    long long waited = MsSince(start);
    EXPECT_GE(waited, 150);
    EXPECT_LT(waited, 5000);
    EXPECT_FALSE(PipeWait(kPipe, 0));

    // Once the server serves, an instance frees up within the wait.
    PipeWrite(a, "first", 6, nullptr);
    PipeClose(a);
    std::thread serve([&] {
        PipeHandle h = INVALID_PIPE_HANDLE;
        char buffer[64];
        DWORD n = 0;
        ASSERT_EQ(server.WaitForMessage(5000, &h), ERROR_SUCCESS);
        EXPECT_EQ(PipeRead(h, buffer, sizeof buffer, &n), ERROR_SUCCESS);
        EXPECT_STREQ(buffer, "first");
        EXPECT_EQ(PipeRead(h, buffer, sizeof buffer, &n), ERROR_BROKEN_PIPE);
        server.Disconnect(h);
    });
    EXPECT_EQ(WriteRecord(kPipe, "second", 5000), ERROR_SUCCESS);
    serve.join();
    PipeClose(b);
}

TEST_F(NamedPipeTest, WhenEveryInstanceHoldsAClientOneMoreWaitsInLine)
{
    Collector collector(kPipe, 4);
    ASSERT_EQ(collector.CreateResult(), ERROR_SUCCESS);
    std::vector<PipeHandle> held;
    // One at a time: the server shortens its queue as it takes clients up,
    // and clients that rush in meanwhile may find it full.
    for (int i = 0; i < 4; ++i) {
        held.push_back(Connect());
        std::string text = "held " + std::to_string(i);
        PipeWrite(held.back(), text.c_str(), static_cast<DWORD>(text.size() + 1), nullptr);
        collector.WaitFor(static_cast<size_t>(i) + 1);
    }
    EXPECT_EQ(collector.Server().ConnectedCount(), 4u);
    PipeHandle fifth = Connect();
    PipeWrite(fifth, "fifth", 6, nullptr);
    PipeHandle sixth = INVALID_PIPE_HANDLE;
    EXPECT_EQ(PipeOpen(kPipe, &sixth), ERROR_PIPE_BUSY);
    EXPECT_EQ(collector.Messages().size(), 4u);
    // A held client that leaves makes room: the one in line is served.
    PipeClose(held[0]);
    auto got = collector.WaitFor(5);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[4], WithNul("fifth"));
    for (size_t i = 1; i < held.size(); ++i)
        PipeClose(held[i]);
    PipeClose(fifth);
}

TEST_F(NamedPipeTest, WritersWaitingInTheQueueAreTakenUpInTurnOneInstanceAtATime)
{
    CNamedPipeServer server;
    ASSERT_EQ(server.Create(kPipe, 4), ERROR_SUCCESS);
    // Nobody is served yet: four writers fit the queue, a fifth finds it full.
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(WriteRecord(kPipe, "r" + std::to_string(i), 0), ERROR_SUCCESS) << i;
    EXPECT_EQ(WriteRecord(kPipe, "late", 0), ERROR_PIPE_BUSY);
    // Each wait gives the next writer in the order they came, its record
    // already there; served and let go, it never holds a second instance.
    char buffer[64];
    DWORD n = 0;
    for (int i = 0; i < 4; ++i) {
        PipeHandle h = INVALID_PIPE_HANDLE;
        ASSERT_EQ(server.WaitForMessage(5000, &h), ERROR_SUCCESS) << i;
        EXPECT_EQ(server.ConnectedCount(), 1u);
        ASSERT_EQ(PipeRead(h, buffer, sizeof buffer, &n), ERROR_SUCCESS);
        EXPECT_EQ(std::string(buffer, n), WithNul("r" + std::to_string(i)));
        EXPECT_EQ(PipeWrite(h, "ok", 3, nullptr), ERROR_NO_DATA); // the writer has gone
        server.Disconnect(h);
    }
    PipeHandle h = INVALID_PIPE_HANDLE;
    EXPECT_EQ(server.WaitForMessage(20, &h), WAIT_TIMEOUT);
    EXPECT_EQ(WriteRecord(kPipe, "again", 0), ERROR_SUCCESS);
    ASSERT_EQ(server.WaitForMessage(5000, &h), ERROR_SUCCESS);
    ASSERT_EQ(PipeRead(h, buffer, sizeof buffer, &n), ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "again");
}

TEST_F(NamedPipeTest, AWriterTakenUpBeforeItWroteHoldsItsInstance)
{
    CNamedPipeServer server;
    ASSERT_EQ(server.Create(kPipe, 4), ERROR_SUCCESS);
    PipeHandle slow = Connect();
    PipeHandle h = INVALID_PIPE_HANDLE;
    ASSERT_EQ(server.WaitForMessage(5000, &h), ERROR_SUCCESS);
    char buffer[64];
    DWORD n = 0;
    EXPECT_EQ(PipeRead(h, buffer, sizeof buffer, &n), ERROR_NO_DATA);
    // Back in its wait, the server keeps room for three more only.
    EXPECT_EQ(server.WaitForMessage(20, &h), WAIT_TIMEOUT);
    std::vector<PipeHandle> others;
    for (int i = 0; i < 3; ++i)
        others.push_back(Connect());
    PipeHandle extra = INVALID_PIPE_HANDLE;
    EXPECT_EQ(PipeOpen(kPipe, &extra), ERROR_PIPE_BUSY);
    // Its record, written late, is still served.
    ASSERT_EQ(PipeWrite(slow, "late", 5, nullptr), ERROR_SUCCESS);
    std::string got;
    for (int tries = 0; tries < 8 && got.empty(); ++tries) {
        ASSERT_EQ(server.WaitForMessage(5000, &h), ERROR_SUCCESS);
        if (PipeRead(h, buffer, sizeof buffer, &n) == ERROR_SUCCESS)
            got.assign(buffer, n);
    }
    EXPECT_EQ(got, WithNul("late"));
    PipeClose(slow);
    for (PipeHandle o : others)
        PipeClose(o);
}

TEST_F(NamedPipeTest, MessageLongerThanTheBufferGivesMoreData)
{
    CNamedPipeServer server;
    ASSERT_EQ(server.Create(kPipe, 4), ERROR_SUCCESS);
    PipeHandle client = Connect();
    std::string exact(4095, 'x'), over(4096, 'y');
    ASSERT_EQ(PipeWrite(client, exact.c_str(), 4096, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(PipeWrite(client, over.c_str(), 4097, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(PipeWrite(client, "after", 6, nullptr), ERROR_SUCCESS);
    PipeHandle h = INVALID_PIPE_HANDLE;
    ASSERT_EQ(server.WaitForMessage(5000, &h), ERROR_SUCCESS);
    std::vector<char> buffer(4096);
    DWORD n = 0;
    EXPECT_EQ(PipeRead(h, buffer.data(), 4096, &n), ERROR_SUCCESS);
    EXPECT_EQ(n, 4096u);
    EXPECT_EQ(PipeRead(h, buffer.data(), 4096, &n), ERROR_MORE_DATA);
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(n, 4096u);
    EXPECT_EQ(buffer[4095], 'y');
    // The rest of that message is gone; the next read is the next message.
    EXPECT_EQ(PipeRead(h, buffer.data(), 4096, &n), ERROR_SUCCESS);
    EXPECT_STREQ(buffer.data(), "after");

    // The same holds for replies read by the client.
    ASSERT_EQ(PipeWrite(h, "Default server response", 24, nullptr), ERROR_SUCCESS);
    char small[8];
    EXPECT_EQ(PipeRead(client, small, sizeof small, &n), ERROR_MORE_DATA);
    EXPECT_EQ(std::string(small, n), "Default ");
    PipeClose(client);
}

TEST_F(NamedPipeTest, EndsOfConnectionsAreReportedOnBothSides)
{
    CNamedPipeServer server;
    ASSERT_EQ(server.Create(kPipe, 1), ERROR_SUCCESS);
    PipeHandle client = Connect();
    EXPECT_EQ(PipeSetMessageMode(client), ERROR_SUCCESS);
    ASSERT_EQ(PipeWrite(client, "x", 2, nullptr), ERROR_SUCCESS);
    PipeHandle h = INVALID_PIPE_HANDLE;
    ASSERT_EQ(server.WaitForMessage(5000, &h), ERROR_SUCCESS);
    char buffer[16];
    DWORD n = 0;
    EXPECT_EQ(PipeRead(h, buffer, sizeof buffer, &n), ERROR_SUCCESS);
    // Nothing waiting on a server instance: it does not block.
    EXPECT_EQ(PipeRead(h, buffer, sizeof buffer, &n), ERROR_NO_DATA);
    // A zero-byte message reads like the end of the connection.
    ASSERT_EQ(PipeWrite(client, "", 0, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(server.WaitForMessage(5000, &h), ERROR_SUCCESS);
    EXPECT_EQ(PipeRead(h, buffer, sizeof buffer, &n), ERROR_BROKEN_PIPE);
    PipeClose(client);
    ASSERT_EQ(server.WaitForMessage(5000, &h), ERROR_SUCCESS);
    EXPECT_EQ(PipeRead(h, buffer, sizeof buffer, &n), ERROR_BROKEN_PIPE);
    EXPECT_EQ(PipeWrite(h, "late", 5, nullptr), ERROR_NO_DATA);
    server.Disconnect(h);
    EXPECT_EQ(server.ConnectedCount(), 0u);

    // The client learns of a server that went away.
    client = Connect();
    // A client just taken up is given before it wrote; it has nothing yet.
    ASSERT_EQ(server.WaitForMessage(50, &h), ERROR_SUCCESS);
    EXPECT_EQ(PipeRead(h, buffer, sizeof buffer, &n), ERROR_NO_DATA);
    ASSERT_EQ(server.WaitForMessage(50, &h), WAIT_TIMEOUT);
    EXPECT_EQ(server.ConnectedCount(), 1u);
    server.Close();
    EXPECT_EQ(PipeRead(client, buffer, sizeof buffer, &n), ERROR_BROKEN_PIPE);
    EXPECT_EQ(PipeWrite(client, "x", 2, nullptr), ERROR_NO_DATA);
    PipeClose(client);

    int file = ::open((Root() + "/plain").c_str(), O_CREAT | O_RDWR, 0600);
    EXPECT_EQ(PipeSetMessageMode(file), ERROR_INVALID_HANDLE);
    EXPECT_EQ(PipeSetMessageMode(INVALID_PIPE_HANDLE), ERROR_INVALID_HANDLE);
    ::close(file);
}

TEST_F(NamedPipeTest, StopWakesTheServingThreadForGood)
{
    CNamedPipeServer server;
    ASSERT_EQ(server.Create(kPipe, 4), ERROR_SUCCESS);
    PipeHandle h = INVALID_PIPE_HANDLE;
    EXPECT_EQ(server.WaitForMessage(30, &h), WAIT_TIMEOUT);
    DWORD result = 0;
    std::thread waiter([&] { result = server.WaitForMessage(INFINITE, &h); });
    ::usleep(50 * 1000);
    server.Stop();
    waiter.join();
    EXPECT_EQ(result, ERROR_OPERATION_ABORTED);
    EXPECT_EQ(server.WaitForMessage(INFINITE, &h), ERROR_OPERATION_ABORTED);
    server.Stop(); // twice is harmless

    // A stop that comes before the serving thread starts still ends it.
    CNamedPipeServer early;
    early.Stop();
    ASSERT_EQ(early.Create("\\\\.\\pipe\\other", 4), ERROR_SUCCESS);
    EXPECT_EQ(early.WaitForMessage(INFINITE, &h), ERROR_OPERATION_ABORTED);
}

TEST_F(NamedPipeTest, ServerOutOfDescriptorsFailsTheWaitInsteadOfSpinning)
{
    pid_t child = ::fork();
    if (child == 0) {
        CNamedPipeServer server;
        if (server.Create(kPipe, 4) != ERROR_SUCCESS)
            ::_exit(1);
        PipeHandle client = INVALID_PIPE_HANDLE;
        if (PipeOpen(kPipe, &client) != ERROR_SUCCESS)
            ::_exit(2);
        // No descriptor is left for the accepted end.
        int probe = ::dup(0);
        ::close(probe);
        rlimit limit{static_cast<rlim_t>(probe), static_cast<rlim_t>(probe)};
        ::setrlimit(RLIMIT_NOFILE, &limit);
        PipeHandle h = INVALID_PIPE_HANDLE;
        ::_exit(server.WaitForMessage(2000, &h) == ERROR_TOO_MANY_OPEN_FILES ? 0 : 3);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(NamedPipeTest, OneServerPerNameAndItsSocketGoesWithIt)
{
    auto first = std::make_unique<CNamedPipeServer>();
    ASSERT_EQ(first->Create(kPipe, 4), ERROR_SUCCESS);
    EXPECT_EQ(first->Create(kPipe, 4), ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(Exists(first->SocketPath()));
    CNamedPipeServer second;
    EXPECT_EQ(second.Create(kPipe, 4), ERROR_PIPE_BUSY);
    CNamedPipeServer other;
    EXPECT_EQ(other.Create("\\\\.\\pipe\\TQC.Log.Info", 4), ERROR_SUCCESS);
    std::string path = first->SocketPath();
    first.reset();
    EXPECT_FALSE(Exists(path));
    PipeHandle h = INVALID_PIPE_HANDLE;
    EXPECT_EQ(PipeOpen(kPipe, &h), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(second.Create(kPipe, 4), ERROR_SUCCESS);
    PipeClose(Connect());
}

TEST_F(NamedPipeTest, SocketLeftByADeadServerDoesNotBlockTheNext)
{
    pid_t child = ::fork();
    if (child == 0) {
        auto* server = new CNamedPipeServer; // never closed: the process dies with it
        ::_exit(server->Create(kPipe, 4) == ERROR_SUCCESS ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_TRUE(Exists(PipeSocketPath(kPipe)));
    PipeHandle h = INVALID_PIPE_HANDLE;
    EXPECT_EQ(PipeOpen(kPipe, &h), ERROR_FILE_NOT_FOUND);

    Collector collector;
    ASSERT_EQ(collector.CreateResult(), ERROR_SUCCESS);
    EXPECT_EQ(WriteRecord(kPipe, "alive"), ERROR_SUCCESS);
    EXPECT_EQ(collector.WaitFor(1), std::vector<std::string>{WithNul("alive")});
}

TEST_F(NamedPipeTest, LongStateRootsStillWork)
{
    std::string deep = Root() + "/" + std::string(60, 'd') + "/" + std::string(60, 'e');
    ::setenv("TQ_STATE_ROOT", deep.c_str(), 1);
    ASSERT_GT(PipeSocketPath(kPipe).size(), sizeof(sockaddr_un::sun_path));
    PipeHandle h = INVALID_PIPE_HANDLE;
    EXPECT_EQ(PipeOpen(kPipe, &h), ERROR_FILE_NOT_FOUND);
    {
        Collector collector;
        ASSERT_EQ(collector.CreateResult(), ERROR_SUCCESS);
        EXPECT_TRUE(Exists(PipeSocketPath(kPipe)));
        EXPECT_EQ(WriteRecord(kPipe, "deep"), ERROR_SUCCESS);
        EXPECT_EQ(collector.WaitFor(1).size(), 1u);
    }
    EXPECT_FALSE(Exists(PipeSocketPath(kPipe)));
    CNamedPipeServer server;
    EXPECT_EQ(server.Create("\\\\.\\pipe\\" + std::string(120, 'n'), 4), ERROR_FILENAME_EXCED_RANGE);
}

TEST_F(NamedPipeTest, OverLongRecordsAreDroppedByTheServerAndOthersStillArrive)
{
    Collector collector;
    ASSERT_EQ(collector.CreateResult(), ERROR_SUCCESS);
    EXPECT_EQ(WriteRecord(kPipe, std::string(4095, 'a')), ERROR_SUCCESS); // 4096 with its NUL
    EXPECT_EQ(WriteRecord(kPipe, std::string(4096, 'b')), ERROR_SUCCESS); // the writer cannot tell
    EXPECT_EQ(WriteRecord(kPipe, "small"), ERROR_SUCCESS);
    auto got = collector.WaitFor(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].size(), 4096u);
    EXPECT_EQ(got[1], WithNul("small"));
    EXPECT_EQ(collector.Failures(), 1u);
}

} // namespace
