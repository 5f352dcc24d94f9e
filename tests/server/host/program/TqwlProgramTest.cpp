#include "tests/server/host/program/TqwlProcess.h"

#include "common/Names.h"
#include "platform/registry/Registry.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

using tqtest::InvokeBlobOverRpc;
using tqtest::InvokeOverRpc;
using tqtest::RunProgram;
using tqtest::TqwlProcess;

namespace {

constexpr int kDefaultPort = 34347;

class TqwlProgramTest : public tqtest::StateRootTest {
protected:
    void SetUp() override
    {
        StateRootTest::SetUp();
        storage_ = Root() + "/storage";
        ASSERT_EQ(RunProgram({TQWL_SETUP, "seed", storage_}), 0);
    }

    void AddVirtualServer(const std::string& name, const std::string& folder, DWORD port)
    {
        HKEY key = nullptr;
        std::string path = std::string(tq::kVirtualServersKey) + "\\" + name;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        RegSetValueExA(key, tq::kStorageFolderValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>(folder.size() + 1));
        RegSetValueExA(key, tq::kPortValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port), 4);
        RegCloseKey(key);
    }

    // impacket's answer lines.
    std::string Impacket(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{"/usr/bin/python3", TQWL_CLIENT_SCRIPT};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string out;
        int code = RunProgram(argv, &out);
        EXPECT_EQ(code, 0) << out;
        return out;
    }

    static bool HaveImpacket()
    {
        return RunProgram({"/usr/bin/python3", "-c", "import impacket"}) == 0;
    }

    std::string storage_;
};

std::vector<BYTE> Encoded(CInvokeData& r)
{
    std::vector<BYTE> blob(r.GetEncodedSize(InvokeModeRequest));
    r.Encode(blob.data(), static_cast<LONG>(blob.size()), InvokeModeRequest);
    return blob;
}

} // namespace

TEST_F(TqwlProgramTest, ImpacketCallsBothInterfaces)
{
    if (!HaveImpacket())
        GTEST_SKIP() << "python3-impacket is not installed";
    TqwlProcess tqwl(Root());
    tqwl.Start();
    ASSERT_TRUE(tqwl.WaitForPort(kDefaultPort)) << tqwl.Output();

    for (const char* iface : {"50", "65"}) {
        EXPECT_EQ(Impacket({"version", std::to_string(kDefaultPort), iface}), "5\n");

        // An unknown code: E_NOTIMPL, with code, reserved word and GUID echoed.
        CInvokeData request(6001);
        request.reserved = 0xCAFE;
        UuidCreate(&request.callerGuid);
        request.PushInString("anything");
        auto blob = Encoded(request);
        tqtest::WriteFileText(Root() + "/request.bin", std::string(blob.begin(), blob.end()));
        std::string answer = Impacket({"invoke", std::to_string(kDefaultPort), iface, Root() + "/request.bin",
                                       Root() + "/reply.bin"});
        EXPECT_EQ(answer, "0 40\n");
        std::string reply = tqtest::ReadFileText(Root() + "/reply.bin");
        CInvokeData decoded;
        ASSERT_TRUE(decoded.Decode(reinterpret_cast<const BYTE*>(reply.data()), reply.size()));
        EXPECT_EQ(decoded.functionCode, 6001u);
        EXPECT_EQ(decoded.reserved, 0xCAFEu);
        EXPECT_EQ(decoded.callerGuid, request.callerGuid);
        EXPECT_EQ(decoded.result, E_NOTIMPL);
        EXPECT_EQ(decoded.OutCount(), 0u);
    }
    tqwl.Signal(SIGINT);
    EXPECT_EQ(tqwl.Wait(), 0);
}

TEST_F(TqwlProgramTest, FragmentedRequestsWriteAWholeFile)
{
    if (!HaveImpacket())
        GTEST_SKIP() << "python3-impacket is not installed";
    TqwlProcess tqwl(Root());
    tqwl.Start();
    ASSERT_TRUE(tqwl.WaitForPort(kDefaultPort)) << tqwl.Output();

    std::string data(300000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 + i / 251);
    CInvokeData write(1011);
    write.PushInString("big.bin");
    write.PushInBytes(data.data(), static_cast<DWORD>(data.size()));
    auto blob = Encoded(write);
    tqtest::WriteFileText(Root() + "/request.bin", std::string(blob.begin(), blob.end()));
    // impacket cuts the request into fragments of at most 2048 bytes.
    EXPECT_EQ(Impacket({"invoke", std::to_string(kDefaultPort), "50", Root() + "/request.bin", Root() + "/reply.bin",
                        "2048"}),
              "0 40\n");
    EXPECT_EQ(tqtest::ReadFileText(storage_ + "/big.bin"), data);

    // And back, in fragments both ways, over our own client.
    CInvokeData read(1012), reply;
    read.PushInString("big.bin");
    EXPECT_EQ(InvokeOverRpc(kDefaultPort, read, reply), 0);
    EXPECT_EQ(reply.result, S_OK);
    ASSERT_EQ(reply.OutCount(), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.OutItems().front().data),
                          reply.OutItems().front().length),
              data);
    tqwl.Signal(SIGTERM);
    EXPECT_EQ(tqwl.Wait(), 0);
}

// Stop signals keep coming while the program shuts down (an impatient
// operator, a supervisor repeating its stop): it still ends cleanly.
TEST_F(TqwlProgramTest, RepeatedStopSignalsDuringShutdownEndItCleanly)
{
    for (int run = 0; run < 3; ++run) {
        TqwlProcess tqwl(Root());
        tqwl.Start();
        ASSERT_TRUE(tqwl.WaitForPort(kDefaultPort)) << tqwl.Output();
        for (int i = 0; i < 200; ++i) {
            tqwl.Signal(i % 2 == 0 ? SIGTERM : SIGINT);
            if (i % 20 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(tqwl.Wait(), 0) << tqwl.Output();
    }
}

TEST_F(TqwlProgramTest, UndecodableBlobGetsAnEmptyReplyAndUnexpected)
{
    TqwlProcess tqwl(Root());
    tqwl.Start();
    ASSERT_TRUE(tqwl.WaitForPort(kDefaultPort)) << tqwl.Output();
    std::vector<BYTE> reply;
    bool null = false;
    EXPECT_EQ(InvokeBlobOverRpc(kDefaultPort, std::vector<BYTE>(10, 0x41), &reply, &null), 0x8000FFFFL);
    EXPECT_TRUE(reply.empty());
    EXPECT_TRUE(null);
    // The server goes on.
    CInvokeData ok(6000), answer;
    EXPECT_EQ(InvokeOverRpc(kDefaultPort, ok, answer), 0);
    EXPECT_EQ(answer.result, E_NOTIMPL);
    tqwl.Signal(SIGINT);
    EXPECT_EQ(tqwl.Wait(), 0);
}

TEST_F(TqwlProgramTest, VirtualServersAnswerOnTheirOwnPortsAndStopInOrder)
{
    tqtest::TempFolder low, high;
    const int portA = tqtest::FreeTcpPort();
    int portB = tqtest::FreeTcpPort();
    while (portB == portA)
        portB = tqtest::FreeTcpPort();
    AddVirtualServer("High", high.Path(), static_cast<DWORD>(std::max(portA, portB)));
    AddVirtualServer("Low", low.Path(), static_cast<DWORD>(std::min(portA, portB)));
    AddVirtualServer("Missing", Root() + "/nowhere", 41999);

    TqwlProcess tqwl(Root());
    tqwl.Start();
    ASSERT_TRUE(tqwl.WaitForPort(std::max(portA, portB))) << tqwl.Output();

    // Each port's calls reach its own storage folder.
    CInvokeData write(1011), reply;
    write.PushInString("mine.txt");
    write.PushInBytes("low", 3);
    EXPECT_EQ(InvokeOverRpc(std::min(portA, portB), write, reply), 0);
    EXPECT_EQ(reply.result, S_OK);
    EXPECT_EQ(tqtest::ReadFileText(low / "mine.txt"), "low");
    EXPECT_FALSE(std::filesystem::exists(high / "mine.txt"));
    EXPECT_FALSE(std::filesystem::exists(storage_ + "/mine.txt"));
    EXPECT_FALSE(tqwl.WaitForPort(41999, 200));

    tqwl.Signal(SIGINT);
    EXPECT_EQ(tqwl.Wait(), 0);
    // Every server saved its lists and stopped, in ascending port order.
    std::string out = tqwl.Output();
    std::vector<size_t> at;
    for (int port : {kDefaultPort, std::min(portA, portB), std::max(portA, portB)}) {
        auto pos = out.find("Virtual server on port " + std::to_string(port) + " stopped");
        ASSERT_NE(pos, std::string::npos) << out;
        at.push_back(pos);
    }
    std::vector<int> ports{kDefaultPort, std::min(portA, portB), std::max(portA, portB)};
    std::vector<std::pair<int, size_t>> pairs;
    for (size_t i = 0; i < ports.size(); ++i)
        pairs.emplace_back(ports[i], at[i]);
    std::sort(pairs.begin(), pairs.end());
    for (size_t i = 1; i < pairs.size(); ++i)
        EXPECT_LT(pairs[i - 1].second, pairs[i].second);
    EXPECT_TRUE(std::filesystem::exists(low / "complist.fdb"));
    EXPECT_NE(EventLogText().find("Not starting Missing: Storage folder doesn't exist"), std::string::npos);
}

TEST_F(TqwlProgramTest, OwnProcessPrintsHostMessages)
{
    // A port that is taken cannot be an endpoint: the message says so on standard output.
    tqtest::TempFolder folder;
    int taken = tqtest::FreeTcpPort();
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(taken));
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    AddVirtualServer("Taken", folder.Path(), static_cast<DWORD>(taken));

    TqwlProcess tqwl(Root());
    tqwl.Start();
    ASSERT_TRUE(tqwl.WaitForPort(kDefaultPort)) << tqwl.Output();
    tqwl.Signal(SIGINT);
    EXPECT_EQ(tqwl.Wait(), 0);
    ::close(fd);
    std::string out = tqwl.Output();
    EXPECT_NE(out.find("Error using TCP/IP endpoint " + std::to_string(taken) +
                       " - RPC Error 1740 -- The endpoint is a duplicate.\n"),
              std::string::npos)
        << out;
}

TEST_F(TqwlProgramTest, MissingAppIdEndsAtOnceWithTheRegistryError)
{
    ASSERT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "AppID"), ERROR_SUCCESS);
    TqwlProcess tqwl(Root());
    tqwl.Start();
    EXPECT_EQ(tqwl.Wait(5000), static_cast<int>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(tqwl.Output(), "");
}

// The seed names the folder under which the console makes the folders of new
// virtual servers (the storage folder's parent), and keeps a value set by hand.
TEST_F(TqwlProgramTest, SeedWritesThePathOfNewServersAndKeepsOneSetAlready)
{
    auto readPath = [] {
        char buffer[300] = {};
        DWORD type = 0, size = sizeof buffer;
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return std::string("<no key>");
        LONG rc = RegQueryValueExA(key, tq::kPathValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(key);
        return rc == ERROR_SUCCESS && type == REG_SZ ? std::string(buffer) : std::string("<no value>");
    };
    EXPECT_EQ(readPath(), Root());

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    const std::string mine = "/srv/elsewhere";
    RegSetValueExA(key, tq::kPathValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(mine.c_str()),
                   static_cast<DWORD>(mine.size() + 1));
    RegCloseKey(key);
    ASSERT_EQ(RunProgram({TQWL_SETUP, "seed", storage_ + "/"}), 0);
    EXPECT_EQ(readPath(), mine);

    // install replaces it; a trailing slash on the storage folder changes nothing.
    ASSERT_EQ(RunProgram({TQWL_SETUP, "install", TQWL_PROGRAM, storage_ + "/"}), 0);
    EXPECT_EQ(readPath(), Root());
}
