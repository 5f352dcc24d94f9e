// Hostile clients over the wire against the running program. The hostile one
// calls from 127.0.0.2, the well-behaved one from 127.0.0.1, so the server
// tells them apart as it would two machines; the well-behaved one must go on
// being served in its usual time, and the program's memory must stay under
// the bound each case states.
#include "tests/server/host/program/RunningTqwl.h"
#include "tests/server/host/program/TqwlClient.h"
#include "tests/server/host/program/TqwlProcess.h"

#include "common/Names.h"
#include "platform/registry/Registry.h"
#include "server/shared/LdapConfigRecord.h"
#include "server/dispatch/ServerImpl.h"
#include "server/storage/attributes/Attribute.h"
#include "server/storage/container/DynIO.h"
#include "tests/server/storage/container/MemoryFileIO.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using tqtest::RunningTqwl;
using tqtest::TqwlClient;

namespace {

constexpr int kPort = RunningTqwl::kDefaultPort;
constexpr const char* kHostile = "127.0.0.2";
constexpr size_t kMiB = size_t(1) << 20;
// A call of the well-behaved client takes milliseconds; this is far beyond.
// A sanitizer slows the server several times over.
constexpr auto kUsualTime = tqtest::kSanitized ? 10s : 2s;
constexpr HRESULT kTooManyOpenFiles = HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES);

class TqwlHostileClientTest : public tqtest::StateRootTest {};

using Clock = std::chrono::steady_clock;

// The well-behaved client: one call after the other until stopped, each on a
// fresh connection (so it needs a free connection slot every time), keeping
// the slowest and the failures.
class SteadyClient {
public:
    SteadyClient() : thread_([this] { Run(); }) {}
    ~SteadyClient() { Stop(); }

    void Stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    int Calls() const { return calls_; }
    int Failures() const { return failures_; }
    Clock::duration Slowest() const { return Clock::duration(slowest_.load()); }

private:
    void Run()
    {
        while (!stop_) {
            const auto started = Clock::now();
            TqwlClient client;
            CInvokeData request(2026), reply; // the user list's default group
            const bool ok = client.Connect(kPort) == RPC_S_OK && client.Invoke(request, reply) == 0 &&
                            reply.result == S_OK;
            const auto took = (Clock::now() - started).count();
            if (took > slowest_)
                slowest_ = took;
            ++calls_;
            if (!ok)
                ++failures_;
            std::this_thread::sleep_for(20ms);
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<int> calls_{0};
    std::atomic<int> failures_{0};
    std::atomic<Clock::rep> slowest_{0};
    std::thread thread_;
};

void ExpectServedThroughout(SteadyClient& steady)
{
    steady.Stop();
    std::printf("well-behaved calls: %d, slowest %lld ms\n", steady.Calls(),
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(steady.Slowest()).count()));
    EXPECT_GT(steady.Calls(), 3);
    EXPECT_EQ(steady.Failures(), 0);
    EXPECT_LT(steady.Slowest(), kUsualTime)
        << std::chrono::duration_cast<std::chrono::milliseconds>(steady.Slowest()).count() << " ms";
}

void PutDword(std::vector<BYTE>& b, size_t at, DWORD v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<BYTE>(v >> (8 * i));
}

// A request blob of size bytes made of items of itemLength bytes each, as
// many as fit (the count says so, whatever it is).
std::vector<BYTE> ItemFlood(size_t size, DWORD itemLength, DWORD count)
{
    std::vector<BYTE> blob(size, 0);
    PutDword(blob, 0, 9999);
    PutDword(blob, 28, count);
    for (size_t at = 36; at + 8 + itemLength <= size; at += 8 + itemLength) {
        PutDword(blob, at, itemLength);
        PutDword(blob, at + 4, InvokeItemBytes);
    }
    return blob;
}

HRESULT WriteWholeFile(TqwlClient& client, const char* name, const std::vector<BYTE>& bytes)
{
    CInvokeData request(1011), reply;
    request.PushInString(name);
    request.PushInBytes(bytes.data(), static_cast<DWORD>(bytes.size()));
    EXPECT_EQ(client.Invoke(request, reply), 0);
    return reply.result;
}

// A handle from code 1001, and the call's result.
HRESULT OpenFile(TqwlClient& client, const char* name, LONG* handle)
{
    CInvokeData request(1001), reply;
    request.PushInString(name);
    request.PushInDword(GENERIC_READ);
    EXPECT_EQ(client.Invoke(request, reply), 0);
    reply.PopOutInt(handle);
    return reply.result;
}

HRESULT CloseFile(TqwlClient& client, LONG handle)
{
    CInvokeData request(1004), reply;
    request.PushInDword(static_cast<DWORD>(handle));
    EXPECT_EQ(client.Invoke(request, reply), 0);
    return reply.result;
}

// Lets more descriptors be opened by this process, and by the program it starts.
void RaiseOwnDescriptorLimit(rlim_t wanted)
{
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted)
        GTEST_SKIP() << "hard descriptor limit " << limit.rlim_max << " is below " << wanted;
    limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, wanted);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
}

std::vector<BYTE> FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

} // namespace

// Requests of tens of megabytes, some of empty items (8 bytes each on the
// wire), some of many small ones, four at once and again: the program stays
// under 1 GiB; before the items were held compactly and the requests in
// flight bounded, four such requests took it to 1.8 GB.
TEST_F(TqwlHostileClientTest, FloodsOfItemsKeepTheServerBoundedAndServing)
{
    RunningTqwl tqwl(Root());
    SteadyClient steady;
    std::atomic<int> answered{0};
    std::vector<std::thread> hostile;
    for (int i = 0; i < 4; ++i) {
        hostile.emplace_back([&, i] {
            const std::vector<BYTE> blob = i % 2 == 0 ? ItemFlood(64 * kMiB, 0, 0x00800000)
                                                      : ItemFlood(36 + size_t(CInvokeData::kMaxDecodedItems) * 1024, 1016,
                                                                  CInvokeData::kMaxDecodedItems);
            for (int round = 0; round < 3; ++round) {
                TqwlClient client(kHostile);
                ASSERT_EQ(client.Connect(kPort), RPC_S_OK);
                std::vector<BYTE> reply;
                bool null = false;
                const long rc = client.InvokeBlob(blob, &reply, &null);
                // Too many items: refused as a bad call; many small ones: a code nobody serves.
                if (rc == static_cast<long>(static_cast<ULONG>(E_UNEXPECTED)) || rc == 0)
                    ++answered;
            }
        });
    }
    for (auto& t : hostile)
        t.join();
    ExpectServedThroughout(steady);
    EXPECT_EQ(answered, 12);
    if (!tqtest::kSanitized) {
        EXPECT_LT(tqwl.PeakResidentBytes(), 1024 * kMiB) << tqwl.PeakResidentBytes() / kMiB << " MiB";
    }
}

// A settings file nested 16 deep over 9 MiB of zeros is a few kilobytes on
// disk, but a load would copy about 150 MiB: it is refused before copying,
// and the program stays under 256 MiB.
TEST_F(TqwlHostileClientTest, NestedSettingsFileIsRefusedWithoutGrowingTheServer)
{
    tqtest::MemoryFileIO memory;
    {
        CAttributeDirectory bomb;
        CAttributeDirectory* at = &bomb;
        std::vector<CAttributeDirectory*> levels;
        for (int level = 0; level < 16; ++level) {
            CAttributeDirectory* child = nullptr;
            ASSERT_EQ(at->CreateDirectory(("d" + std::to_string(level)).c_str(), &child), S_OK);
            levels.push_back(at = child);
        }
        CAttribute* blob = nullptr;
        ASSERT_EQ(at->CreateAttribute("ReplStatus", 4, 1, &blob, 0), S_OK);
        const std::vector<BYTE> zeros(9 * kMiB, 0);
        blob->SetBinary(zeros.data(), static_cast<LONG>(zeros.size()));
        blob->Release();
        for (CAttributeDirectory* d : levels)
            d->Release();
        CDynIO io(&memory);
        ASSERT_EQ(io.Save("settings.ad", &bomb, CONTAINER_LZW), S_OK);
    }
    const std::vector<BYTE> file = memory.files["settings.ad"];
    ASSERT_LT(file.size(), kMiB);

    RunningTqwl tqwl(Root());
    SteadyClient steady;
    TqwlClient hostile(kHostile);
    ASSERT_EQ(hostile.Connect(kPort), RPC_S_OK);
    ASSERT_EQ(WriteWholeFile(hostile, "settings.ad", file), S_OK);
    for (int i = 0; i < 20; ++i) {
        CInvokeData request(2), reply;
        const auto started = Clock::now();
        ASSERT_EQ(hostile.Invoke(request, reply), 0);
        EXPECT_TRUE(FAILED(reply.result));
        EXPECT_LT(Clock::now() - started, kUsualTime);
    }
    ExpectServedThroughout(steady);
    if (!tqtest::kSanitized) {
        EXPECT_LT(tqwl.PeakResidentBytes(), 256 * kMiB) << tqwl.PeakResidentBytes() / kMiB << " MiB";
    }
}

// 4,200 idle connections from one address: it gets at most 2,048 of the
// 4,096 slots, the rest are closed at once, the ones that never bind are
// closed after 10 s, and the other client goes on connecting and calling.
// The program stays under 512 MiB.
TEST_F(TqwlHostileClientTest, ConnectionFloodLeavesSlotsForOthers)
{
    RaiseOwnDescriptorLimit(8192);
    if (HasFatalFailure() || IsSkipped())
        return;
    RunningTqwl tqwl(Root());
    SteadyClient steady;
    sockaddr_in from{}, to{};
    from.sin_family = to.sin_family = AF_INET;
    ::inet_pton(AF_INET, kHostile, &from.sin_addr);
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    to.sin_port = htons(kPort);
    std::vector<int> idle;
    const auto opened = Clock::now();
    for (int i = 0; i < 4200; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0) << i;
        idle.push_back(fd);
    }
    // Closed by the server: readable with nothing to read.
    auto closedCount = [&] {
        std::vector<pollfd> polls;
        for (int fd : idle)
            polls.push_back({fd, POLLIN, 0});
        ::poll(polls.data(), polls.size(), 0);
        int closed = 0;
        for (const pollfd& p : polls) {
            char byte;
            if (p.revents != 0 && ::recv(p.fd, &byte, 1, MSG_DONTWAIT) <= 0)
                ++closed;
        }
        return closed;
    };
    for (int i = 0; i < 100 && closedCount() < 4200 - 2048; ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_GE(closedCount(), 4200 - 2048);
    EXPECT_LT(closedCount(), 4200);
    if (!tqtest::kSanitized) {
        EXPECT_LT(tqwl.PeakResidentBytes(), 512 * kMiB) << tqwl.PeakResidentBytes() / kMiB << " MiB";
    }
    while (closedCount() < 4200 && Clock::now() - opened < (tqtest::kSanitized ? 60s : 15s))
        std::this_thread::sleep_for(200ms);
    EXPECT_EQ(closedCount(), 4200);
    EXPECT_GE(Clock::now() - opened, 9s);
    for (int fd : idle)
        ::close(fd);
    ExpectServedThroughout(steady);
}

// One client opening handles until refused gets half of the table, which is
// sized from the descriptor limit the program raised (not from the 1,024 it
// started with, which would give 512 handles); the other client still opens
// and closes files. Handles outlive their connection, so the share stays
// taken until handles are closed.
TEST_F(TqwlHostileClientTest, HandleFloodLeavesHandlesForOthers)
{
    RaiseOwnDescriptorLimit(4096);
    if (HasFatalFailure() || IsSkipped())
        return;
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    RunningTqwl tqwl(Root(), [&] {
        rlimit low = saved;
        low.rlim_cur = 1024;
        ::setrlimit(RLIMIT_NOFILE, &low);
    });
    ::setrlimit(RLIMIT_NOFILE, &saved);
    {
        TqwlClient writer;
        ASSERT_EQ(writer.Connect(kPort), RPC_S_OK);
        ASSERT_EQ(WriteWholeFile(writer, "shared.txt", {'a', 'b'}), S_OK);
    }
    SteadyClient steady;
    std::vector<LONG> taken;
    {
        TqwlClient hostile(kHostile);
        ASSERT_EQ(hostile.Connect(kPort), RPC_S_OK);
        for (int i = 0; i < 70000; ++i) {
            LONG handle = -1;
            const HRESULT hr = OpenFile(hostile, "shared.txt", &handle);
            if (hr == kTooManyOpenFiles)
                break;
            ASSERT_EQ(hr, S_OK);
            taken.push_back(handle);
        }
    }
    EXPECT_GT(taken.size(), 512u);
    std::printf("handles taken by one address: %zu\n", taken.size());

    TqwlClient other;
    ASSERT_EQ(other.Connect(kPort), RPC_S_OK);
    LONG handle = -1;
    ASSERT_EQ(OpenFile(other, "shared.txt", &handle), S_OK);
    EXPECT_EQ(CloseFile(other, handle), S_OK);

    // A new connection from the same address finds its share still taken
    // until it closes one of its handles.
    TqwlClient again(kHostile);
    ASSERT_EQ(again.Connect(kPort), RPC_S_OK);
    EXPECT_EQ(OpenFile(again, "shared.txt", &handle), kTooManyOpenFiles);
    EXPECT_EQ(CloseFile(again, taken.back()), S_OK);
    EXPECT_EQ(OpenFile(again, "shared.txt", &handle), S_OK);
    ExpectServedThroughout(steady);
    if (!tqtest::kSanitized) {
        EXPECT_LT(tqwl.PeakResidentBytes(), 256 * kMiB) << tqwl.PeakResidentBytes() / kMiB << " MiB";
    }
}

// A directory server that accepts and never answers: the browse waits for
// it, the user list's other calls do not.
TEST_F(TqwlHostileClientTest, BrowseOfASilentDirectoryHoldsUpNoUserListCall)
{
    const int port = tqtest::FreeTcpPort();
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &at.sin_addr);
    int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::listen(listener, 8), 0);

    RunningTqwl tqwl(Root());
    LdapConfigRecord settings;
    settings.Clear();
    LdapConfigRecord::SetField(settings.server, "127.0.0.1:" + std::to_string(port));
    LdapConfigRecord::SetField(settings.container, "dc=silent,dc=test");
    ASSERT_EQ(tqwl.Call(2033, [&](CInvokeData& r) { r.PushInBytes(&settings, sizeof settings); })->result, S_OK);

    std::atomic<bool> browsed{false};
    HRESULT browse = S_OK;
    std::thread hostile([&] {
        TqwlClient client(kHostile);
        ASSERT_EQ(client.Connect(kPort), RPC_S_OK);
        CInvokeData request(2031), reply;
        request.PushInString("");
        EXPECT_EQ(client.Invoke(request, reply), 0);
        browse = reply.result;
        browsed = true;
    });
    // The directory server has the browse's connection; it never answers.
    pollfd waiting{listener, POLLIN, 0};
    ASSERT_EQ(::poll(&waiting, 1, 10000), 1);
    int silent = ::accept(listener, nullptr, nullptr);
    SteadyClient steady;
    std::this_thread::sleep_for(3s);
    EXPECT_FALSE(browsed);
    const auto started = Clock::now();
    EXPECT_EQ(tqwl.Call(2012, [](CInvokeData& r) { r.PushInString("Sales"); })->result, S_OK);
    EXPECT_LT(Clock::now() - started, kUsualTime);
    ExpectServedThroughout(steady);

    // Once the directory server goes away, the browse answers its failure.
    ::close(silent);
    ::close(listener);
    hostile.join();
    EXPECT_TRUE(FAILED(browse)) << std::hex << browse;
}

// A stored identity of all zeros is no identity: the nil GUID, which every
// unknown caller presents, may not install a snap-in.
TEST_F(TqwlHostileClientTest, NilServerIdentityMatchesNoCaller)
{
    RunningTqwl tqwl(Root(), [] {
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, tq::kClsidKeyFormat, tq::kServerIdentityClass);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, name, KEY_WRITE, &key), ERROR_SUCCESS);
        const BYTE zeros[16] = {};
        ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_BINARY, zeros, sizeof zeros), ERROR_SUCCESS);
        RegCloseKey(key);
    });
    const std::vector<BYTE> image = FileBytes(TEST_SNAPIN_A);
    ASSERT_FALSE(image.empty());
    auto reply = tqwl.Call(8, [&](CInvokeData& r) {
        r.PushInString("Intruder");
        r.PushInString(("intruder_" + std::to_string(::getpid()) + ".so").c_str());
        r.PushInBytes(image.data(), static_cast<DWORD>(image.size()));
        r.PushInDword(0);
    });
    EXPECT_EQ(reply->result, E_ACCESSDENIED);
    EXPECT_EQ(tqwl.Call(5100)->result, E_NOTIMPL);
}

// 4002 copies the computer list under another name, never over the
// server's own files.
TEST_F(TqwlHostileClientTest, ComputerListCopyNeverReplacesTheServersFiles)
{
    RunningTqwl tqwl(Root());
    ASSERT_EQ(tqwl.Call(2004, [](CInvokeData& r) { r.PushInString("alice"); })->result, S_OK);
    ASSERT_EQ(tqwl.Call(3, [](CInvokeData& r) { r.PushInDword(0); })->result, S_OK);
    const std::string userList = tqtest::ReadFileText(tqwl.Storage() + "/userlist.fdb");
    const std::string settings = tqtest::ReadFileText(tqwl.Storage() + "/settings.ad");
    for (const char* name : {"userlist.fdb", "USERLIST.FDB", "..\\userlist.fdb", "sub/settings.ad", "LDAPConfig.ad",
                             "userlist.fdb-journal", "complist.fdb-wal", "settings.ad.partial"}) {
        auto reply = tqwl.Call(4002, [&](CInvokeData& r) { r.PushInString(name); });
        EXPECT_EQ(reply->result, E_ACCESSDENIED) << name;
    }
    EXPECT_EQ(tqtest::ReadFileText(tqwl.Storage() + "/userlist.fdb"), userList);
    EXPECT_EQ(tqtest::ReadFileText(tqwl.Storage() + "/settings.ad"), settings);
    EXPECT_FALSE(std::filesystem::exists(tqwl.Storage() + "/LDAPConfig.ad"));
    EXPECT_FALSE(std::filesystem::exists(tqwl.Storage() + "/userlist.fdb-journal"));

    // The empty name, and the list's own, copy nothing; another name gets a copy.
    EXPECT_EQ(tqwl.Call(4002, [](CInvokeData& r) { r.PushInString(""); })->result, S_OK);
    EXPECT_EQ(tqwl.Call(4002, [](CInvokeData& r) { r.PushInString("complist.fdb"); })->result, S_OK);
    EXPECT_EQ(tqwl.Call(4002, [](CInvokeData& r) { r.PushInString("backup.fdb"); })->result, S_OK);
    EXPECT_TRUE(std::filesystem::exists(tqwl.Storage() + "/backup.fdb"));
    auto users = tqwl.Call(2019);
    EXPECT_EQ(users->result, S_OK);
}

// A replacement that gives up waiting for a call inside the old snap-in
// leaves the old one serving (takes about 30 s: the replacement's wait).
TEST_F(TqwlHostileClientTest, SnapinReplacementThatTimesOutKeepsTheOldOne)
{
    RunningTqwl tqwl(Root());
    BYTE guid[16];
    GetServerGuid(guid);
    const GUID own = GuidFromBytes(guid);
    ASSERT_NE(own, GUID_NULL);
    const std::string tag = std::to_string(::getpid());
    auto install = [&](const char* image, const std::string& file, DWORD replace) {
        const std::vector<BYTE> bytes = FileBytes(image);
        CInvokeData request(8), reply;
        request.callerGuid = own;
        request.PushInString("Slow");
        request.PushInString(file.c_str());
        request.PushInBytes(bytes.data(), static_cast<DWORD>(bytes.size()));
        request.PushInDword(replace);
        EXPECT_EQ(tqtest::InvokeOverRpc(kPort, request, reply), 0);
        return reply.result;
    };
    auto answer = [&](DWORD code) {
        auto reply = tqwl.Call(code);
        char text[64] = {};
        reply->PopOutString(text, sizeof text);
        return std::string(text);
    };
    ASSERT_EQ(install(TEST_SNAPIN_A, "slow_a_" + tag + ".so", 0), S_OK);
    ASSERT_EQ(answer(5100), "a:5100");

    std::thread inside([&] { tqwl.Call(5400, [](CInvokeData& r) { r.PushInString("33000"); }); });
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(install(TEST_SNAPIN_B, "slow_b_" + tag + ".so", 1), HRESULT_FROM_WIN32(ERROR_BUSY));
    EXPECT_EQ(answer(5100), "a:5100");
    inside.join();
    // Once the call has left, the replacement goes through.
    EXPECT_EQ(install(TEST_SNAPIN_B, "slow_b_" + tag + ".so", 1), S_OK);
    EXPECT_EQ(answer(5100), "b:5100");
    for (const char* file : {"slow_a_", "slow_b_"})
        std::filesystem::remove(std::filesystem::path(TQWL_PROGRAM).parent_path() / "Snapins" / (file + tag + ".so"));
}

TEST_F(TqwlHostileClientTest, RenamingAGroupOntoItsOwnNameIsRefused)
{
    RunningTqwl tqwl(Root());
    ASSERT_EQ(tqwl.Call(2012, [](CInvokeData& r) { r.PushInString("Sales"); })->result, S_OK);
    for (const char* name : {"Sales", "SALES"}) {
        auto reply = tqwl.Call(2018, [&](CInvokeData& r) {
            r.PushInString("Sales");
            r.PushInString(name);
        });
        EXPECT_EQ(reply->result, E_INVALIDARG) << name;
    }
    EXPECT_EQ(tqwl.Call(2018,
                        [](CInvokeData& r) {
                            r.PushInString("Sales");
                            r.PushInString("Marketing");
                        })
                  ->result,
              S_OK);
}

// A browse whose directory server cannot be reached answers the failure, not
// an empty list: a client can tell an empty container from a broken setting.
TEST_F(TqwlHostileClientTest, BrowseOfAnUnreachableDirectoryAnswersItsFailure)
{
    RunningTqwl tqwl(Root());
    const int closedPort = tqtest::FreeTcpPort();
    LdapConfigRecord settings;
    settings.Clear();
    LdapConfigRecord::SetField(settings.server, "127.0.0.1:" + std::to_string(closedPort));
    ASSERT_EQ(tqwl.Call(2033, [&](CInvokeData& r) { r.PushInBytes(&settings, sizeof settings); })->result, S_OK);
    auto reply = tqwl.Call(2031, [](CInvokeData& r) { r.PushInString(""); });
    EXPECT_TRUE(FAILED(reply->result)) << std::hex << reply->result;
}

// "LocalService" of any type makes the program a service: run by hand, the
// dispatcher refuses it.
TEST_F(TqwlHostileClientTest, LocalServiceOfAnyTypeEntersTheDispatcher)
{
    ASSERT_EQ(tqtest::RunProgram({TQWL_SETUP, "seed", Root() + "/storage"}), 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, (std::string(tq::kAppIdKey) + "\\" + tq::kAppId).c_str(),
                              KEY_WRITE, &key),
              ERROR_SUCCESS);
    const DWORD value = 1;
    ASSERT_EQ(RegSetValueExA(key, tq::kLocalServiceValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                             sizeof value),
              ERROR_SUCCESS);
    RegCloseKey(key);
    std::string out;
    EXPECT_EQ(tqtest::RunProgram({TQWL_PROGRAM}, &out), static_cast<int>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT & 0xFF))
        << out;
}
