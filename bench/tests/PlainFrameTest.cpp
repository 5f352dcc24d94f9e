#include "bench/PlainClient.h"
#include "bench/PlainFrame.h"
#include "bench/PlainFrameReader.h"
#include "bench/PlainServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using tqbench::PlainClient;
using tqbench::PlainFrame;
using tqbench::PlainFrameReader;
using tqbench::PlainServer;

namespace {

std::vector<unsigned char> Frame(uint32_t length, uint32_t replyLength, unsigned char fill)
{
    std::vector<unsigned char> frame(length, fill);
    PlainFrame::EncodeHeader(frame.data(), {length, replyLength});
    return frame;
}

class SocketPair : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
    void TearDown() override
    {
        for (int fd : fds_)
            if (fd >= 0)
                ::close(fd);
    }
    void Send(const std::vector<unsigned char>& bytes, size_t from = 0, size_t count = SIZE_MAX)
    {
        count = std::min(count, bytes.size() - from);
        ASSERT_EQ(::write(fds_[1], bytes.data() + from, count), static_cast<ssize_t>(count));
    }
    void CloseWriter()
    {
        ::close(fds_[1]);
        fds_[1] = -1;
    }
    int fds_[2] = {-1, -1};
};

} // namespace

TEST(PlainFrame, HeaderIsTwoLittleEndianLengths)
{
    unsigned char head[PlainFrame::kHeaderSize];
    PlainFrame::EncodeHeader(head, {0x01020304, 80});
    const unsigned char expected[] = {4, 3, 2, 1, 80, 0, 0, 0};
    EXPECT_EQ(std::memcmp(head, expected, sizeof head), 0);
    PlainFrame::Header h;
    ASSERT_EQ(PlainFrame::DecodeHeader(head, 7, &h), PlainFrame::Check::NeedMore);
    ASSERT_EQ(PlainFrame::DecodeHeader(head, sizeof head, &h), PlainFrame::Check::Ok);
    EXPECT_EQ(h.length, 0x01020304u);
    EXPECT_EQ(h.replyLength, 80u);
    PlainFrame::EncodeHeader(head, {0x40000000, 80});
    EXPECT_EQ(PlainFrame::DecodeHeader(head, sizeof head, &h), PlainFrame::Check::Bad);
}

TEST(PlainFrame, LengthsOutsideTheLimitsAreRefused)
{
    unsigned char head[PlainFrame::kHeaderSize];
    PlainFrame::Header h;
    auto check = [&](uint32_t length, uint32_t reply) {
        PlainFrame::EncodeHeader(head, {length, reply});
        return PlainFrame::DecodeHeader(head, sizeof head, &h);
    };
    EXPECT_EQ(check(8, 0), PlainFrame::Check::Ok);  // a bare header, a reply
    EXPECT_EQ(check(7, 0), PlainFrame::Check::Bad);
    EXPECT_EQ(check(0, 8), PlainFrame::Check::Bad);
    EXPECT_EQ(check(8, 7), PlainFrame::Check::Bad);  // no reply is shorter than its header
    EXPECT_EQ(check(PlainFrame::kMaxLength, PlainFrame::kMaxLength), PlainFrame::Check::Ok);
    EXPECT_EQ(check(PlainFrame::kMaxLength + 1, 8), PlainFrame::Check::Bad);
    EXPECT_EQ(check(8, PlainFrame::kMaxLength + 1), PlainFrame::Check::Bad);
}

TEST_F(SocketPair, ReaderJoinsFramesSplitAnywhereAndSeparatesFramesSentTogether)
{
    PlainFrameReader reader(fds_[0]);
    auto first = Frame(20, 8, 0xAA);
    auto second = Frame(9, 30, 0xBB);
    std::vector<unsigned char> both(first);
    both.insert(both.end(), second.begin(), second.end());
    // Three bytes of the header, then the rest of both frames at once.
    std::thread writer([&] {
        Send(both, 0, 3);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Send(both, 3);
    });
    PlainFrame::Header h;
    const unsigned char* frame = nullptr;
    ASSERT_EQ(reader.Next(&h, &frame), PlainFrameReader::Result::Ok);
    EXPECT_EQ(h.length, 20u);
    EXPECT_EQ(h.replyLength, 8u);
    EXPECT_EQ(frame[19], 0xAA);
    ASSERT_EQ(reader.Next(&h, &frame), PlainFrameReader::Result::Ok);
    EXPECT_EQ(h.length, 9u);
    EXPECT_EQ(h.replyLength, 30u);
    EXPECT_EQ(frame[8], 0xBB);
    writer.join();
    CloseWriter();
    EXPECT_EQ(reader.Next(&h, &frame), PlainFrameReader::Result::Closed);
}

TEST_F(SocketPair, ReaderGrowsForALargeFrameAndReportsACutOneAsClosed)
{
    PlainFrameReader reader(fds_[0]);
    auto large = Frame(300000, 8, 0x11);
    large.back() = 0x22;
    std::thread writer([&] {
        Send(large);
        auto cut = Frame(100, 8, 0x33);
        Send(cut, 0, 50);
        CloseWriter();
    });
    PlainFrame::Header h;
    const unsigned char* frame = nullptr;
    ASSERT_EQ(reader.Next(&h, &frame), PlainFrameReader::Result::Ok);
    EXPECT_EQ(h.length, 300000u);
    EXPECT_EQ(frame[150000], 0x11);
    EXPECT_EQ(frame[299999], 0x22);
    EXPECT_EQ(reader.Next(&h, &frame), PlainFrameReader::Result::Closed);
    writer.join();
}

TEST_F(SocketPair, ReaderRefusesABadHeader)
{
    PlainFrameReader reader(fds_[0]);
    Send(Frame(8, 0, 0));  // fine
    std::vector<unsigned char> bad(8, 0);
    PlainFrame::EncodeHeader(bad.data(), {3, 0});
    Send(bad);
    PlainFrame::Header h;
    const unsigned char* frame = nullptr;
    EXPECT_EQ(reader.Next(&h, &frame), PlainFrameReader::Result::Ok);
    EXPECT_EQ(reader.Next(&h, &frame), PlainFrameReader::Result::Bad);
}

TEST(PlainServer, AnswersEachRequestWithTheReplyLengthItAsks)
{
    PlainServer server;
    ASSERT_TRUE(server.Start());
    ASSERT_GT(server.Port(), 0);
    PlainClient client;
    ASSERT_TRUE(client.Connect(server.Port()));
    EXPECT_TRUE(client.Call(72, 80));
    EXPECT_TRUE(client.Call(8, 8));
    EXPECT_TRUE(client.Call(2 << 20, 28));  // a large request, a small reply
    EXPECT_TRUE(client.Call(40, 3 << 20));  // and the other way round
    EXPECT_FALSE(client.Call(7, 80));       // refused before sending
    EXPECT_TRUE(client.Call(24, 28));       // the connection is still good

    // Many clients at once, each with its own connection.
    std::vector<std::thread> clients;
    std::atomic<int> good{0};
    for (int i = 0; i < 16; ++i)
        clients.emplace_back([&, i] {
            PlainClient c;
            bool ok = c.Connect(server.Port());
            for (int k = 0; ok && k < 50; ++k)
                ok = c.Call(24 + static_cast<size_t>(i), 28 + static_cast<size_t>(k));
            good += ok ? 1 : 0;
        });
    for (auto& t : clients)
        t.join();
    EXPECT_EQ(good.load(), 16);
    server.Stop();
}

TEST(PlainServer, ClosesAConnectionThatSendsABadFrameAndStopsWithClientsConnected)
{
    PlainServer server;
    ASSERT_TRUE(server.Start());
    PlainClient idle;
    ASSERT_TRUE(idle.Connect(server.Port()));

    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(server.Port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    unsigned char bad[8];
    PlainFrame::EncodeHeader(bad, {4, 8});
    ASSERT_EQ(::write(fd, bad, sizeof bad), 8);
    char c;
    EXPECT_EQ(::read(fd, &c, 1), 0);  // closed without an answer
    ::close(fd);

    // Stop ends the idle connection too rather than waiting for it.
    server.Stop();
    EXPECT_FALSE(idle.Call(24, 28));
}

TEST(PlainServer, RunsInAChildProcessUntilItsLifelineCloses)
{
    int port = 0, lifeline = -1;
    pid_t pid = PlainServer::StartProcess(&port, &lifeline);
    ASSERT_GT(pid, 0);
    ASSERT_GT(port, 0);
    PlainClient client;
    ASSERT_TRUE(client.Connect(port));
    EXPECT_TRUE(client.Call(72, 80));
    ::close(lifeline);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(client.Call(72, 80));
}
