#include "server/host/WindowsServerModule.h"

#include "common/Names.h"
#include "platform/file/FolderLock.h"
#include "platform/rpc/RemoteInvokeNdr.h"
#include "platform/rpc/RpcCall.h"
#include "platform/rpc/RpcPdu.h"
#include "server/dispatch/FileHandleTable.h"
#include "server/dispatch/WinFileImpl.h"
#include "server/host/RemoteInvokeStub.h"
#include "platform/registry/Registry.h"
#include "platform/win/LastError.h"
#include "platform/win/Process.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sys/uio.h>
#include <thread>
#include <unistd.h>

namespace {

class VirtualServersTest : public tqtest::StateRootTest {
protected:
    void SetUp() override
    {
        StateRootTest::SetUp();
        // The default server's folder is relative to the current directory.
        oldCwd_ = std::filesystem::current_path();
        std::filesystem::current_path(work_.Path());
    }
    void TearDown() override
    {
        module_.ShutdownServers();
        std::filesystem::current_path(oldCwd_);
        StateRootTest::TearDown();
    }

    static HKEY Key(const std::string& path)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        return key;
    }
    static void SetText(HKEY key, const char* name, const std::string& text, DWORD type = REG_SZ)
    {
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
    }
    static void SetDword(HKEY key, const char* name, DWORD value)
    {
        ASSERT_EQ(RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4), ERROR_SUCCESS);
    }
    void AddVirtualServer(const std::string& name, const std::string& folder, DWORD port, bool withPort = true)
    {
        HKEY key = Key(std::string(tq::kVirtualServersKey) + "\\" + name);
        SetText(key, tq::kStorageFolderValue, folder);
        if (withPort)
            SetDword(key, tq::kPortValue, port);
        RegCloseKey(key);
    }

    // Encodes a request, runs it through the module as RemoteInvoke does, decodes the reply.
    LONG Invoke(LONG port, CInvokeData& request, CInvokeData& reply, std::vector<BYTE>* raw = nullptr)
    {
        std::vector<BYTE> blob(request.GetEncodedSize(InvokeModeRequest));
        request.Encode(blob.data(), static_cast<LONG>(blob.size()), InvokeModeRequest);
        std::vector<BYTE> out;
        bool allocated = false;
        LONG rc = InvokeCallRecord(module_, port, blob.data(), static_cast<DWORD>(blob.size()), [&](DWORD size) {
            allocated = true;
            out.assign(size, 0);
            return out.data();
        });
        if (allocated) {
            EXPECT_TRUE(reply.Decode(out.data(), out.size()));
        }
        if (raw != nullptr)
            *raw = out;
        return rc;
    }

    tqtest::TempFolder work_;
    std::filesystem::path oldCwd_;
    CWindowsServerModule module_;
};

} // namespace

TEST_F(VirtualServersTest, WithoutRegistryOneServerUsesTheProgramName)
{
    module_.CreateVirtualServers();
    ASSERT_EQ(module_.Ports(), std::vector<LONG>{34347});
    std::string program = GetModuleFileName();
    EXPECT_EQ(module_.Server(34347)->StorageFolder(), program.substr(program.rfind('/') + 1));
}

TEST_F(VirtualServersTest, StorageFolderOfTheMainKeyServesTheDefaultPort)
{
    HKEY key = Key(tq::kWardlakeKey);
    // REG_EXPAND_SZ is taken as it stands, not expanded.
    SetText(key, tq::kStorageFolderValue, work_.Path() + "/$HOME", REG_EXPAND_SZ);
    RegCloseKey(key);
    module_.CreateVirtualServers();
    EXPECT_EQ(module_.Server(34347)->StorageFolder(), work_.Path() + "/$HOME");
}

TEST_F(VirtualServersTest, SubkeysWithoutFolderOrPortAreNotStartedAndNamed)
{
    tqtest::TempFolder a, b;
    AddVirtualServer("Good", a.Path(), 40001);
    AddVirtualServer("NoFolder", a.Path() + "/missing", 40002);
    AddVirtualServer("PortZero", b.Path(), 0);
    AddVirtualServer("NoPort", b.Path(), 0, false);
    module_.CreateVirtualServers();
    EXPECT_EQ(module_.Ports(), (std::vector<LONG>{34347, 40001}));
    EXPECT_EQ(module_.Server(40001)->StorageFolder(), a.Path());

    std::string log = EventLogText();
    for (const char* name : {"NoFolder", "PortZero", "NoPort"}) {
        std::string text = std::string("Not starting ") + name + ": Storage folder doesn't exist";
        auto at = log.find(text);
        ASSERT_NE(at, std::string::npos) << name;
        EXPECT_EQ(log.find(text, at + 1), std::string::npos) << "one event each";
        std::string line = log.substr(log.rfind('\n', at) + 1, at - log.rfind('\n', at));
        EXPECT_NE(line.find("TQWL"), std::string::npos);
        EXPECT_NE(line.find("Error"), std::string::npos);
        EXPECT_NE(line.find("0x69200002"), std::string::npos);
    }
    EXPECT_EQ(log.find("Not starting Good"), std::string::npos);
}

TEST_F(VirtualServersTest, LaterSubkeyOfTheSamePortWins)
{
    tqtest::TempFolder a, b, c;
    AddVirtualServer("First", a.Path(), 40010);
    AddVirtualServer("Second", b.Path(), 40010);
    AddVirtualServer("Default", c.Path(), 34347);
    module_.CreateVirtualServers();
    EXPECT_EQ(module_.Ports(), (std::vector<LONG>{34347, 40010}));
    EXPECT_EQ(module_.Server(40010)->StorageFolder(), b.Path());
    EXPECT_EQ(module_.Server(34347)->StorageFolder(), c.Path());
    // The replaced server lets its folder go at the shutdown too.
    module_.ShutdownServers();
    CFolderLock save;
    EXPECT_TRUE(save.TryLock(a.Path().c_str(), CFolderLock::Mode::Exclusive));
}

// A virtual server holds its folder shared while it serves, so a save cannot
// take it; a folder a save holds at start keeps its server from starting.
TEST_F(VirtualServersTest, ServersHoldTheirFoldersAndAFolderASaveHoldsIsNotServed)
{
    tqtest::TempFolder main, held, free;
    HKEY key = Key(tq::kWardlakeKey);
    SetText(key, tq::kStorageFolderValue, main.Path());
    RegCloseKey(key);
    AddVirtualServer("Held", held.Path(), 40020);
    AddVirtualServer("Free", free.Path(), 40021);
    CFolderLock saveMain, saveHeld, saveFree;
    ASSERT_TRUE(saveMain.TryLock(main.Path().c_str(), CFolderLock::Mode::Exclusive));
    ASSERT_TRUE(saveHeld.TryLock(held.Path().c_str(), CFolderLock::Mode::Exclusive));
    module_.CreateVirtualServers();
    EXPECT_EQ(module_.Ports(), std::vector<LONG>{40021});
    const std::string log = EventLogText();
    for (const char* name : {"Default", "Held"})
        EXPECT_NE(log.find(std::string("Not starting ") + name + ": Storage folder is in use"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(held.Path())); // nothing of the server was made there

    EXPECT_FALSE(saveFree.TryLock(free.Path().c_str(), CFolderLock::Mode::Exclusive));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    module_.ShutdownServers();
    EXPECT_TRUE(saveFree.TryLock(free.Path().c_str(), CFolderLock::Mode::Exclusive));
}

TEST_F(VirtualServersTest, CallRecordRoundAndItsFailures)
{
    module_.CreateVirtualServers();
    // An unknown code: E_NOTIMPL with code, reserved word and GUID echoed.
    CInvokeData request(6000), reply;
    request.reserved = 0x1234;
    UuidCreate(&request.callerGuid);
    request.PushInString("ignored");
    std::vector<BYTE> raw;
    EXPECT_EQ(Invoke(34347, request, reply, &raw), 0);
    EXPECT_EQ(reply.functionCode, 6000u);
    EXPECT_EQ(reply.reserved, 0x1234u);
    EXPECT_EQ(reply.callerGuid, request.callerGuid);
    EXPECT_EQ(reply.result, E_NOTIMPL);
    EXPECT_EQ(reply.OutCount(), 0u);
    EXPECT_EQ(raw.size(), 40u); // mode 1: header and result
    EXPECT_EQ(raw[4], 1);

    // A port without a server answers E_NOINTERFACE.
    CInvokeData lost(6000), lostReply;
    EXPECT_EQ(Invoke(1, lost, lostReply), 0);
    EXPECT_EQ(lostReply.result, E_NOINTERFACE);

    // A 10-byte blob: no reply at all and 0x8000FFFF.
    BYTE tenBytes[10] = {};
    bool allocated = false;
    EXPECT_EQ(InvokeCallRecord(module_, 34347, tenBytes, sizeof tenBytes, [&](DWORD) {
                  allocated = true;
                  return nullptr;
              }),
              E_UNEXPECTED);
    EXPECT_FALSE(allocated);
}

namespace {

// The response packets of a reply's stub data, fragmented as a connection
// sends them; false when the sending stopped.
bool ResponseStream(const CRpcBuffer& reply, USHORT maxFragment, std::span<const rpc::StubSplice> splices,
                    std::vector<BYTE>* stream)
{
    auto header = [](BYTE* out, BYTE flags, USHORT fragLength, ULONG allocHint) {
        rpc::PduHeader h;
        h.type = BYTE(rpc::PduType::Response);
        h.flags = flags;
        h.callId = 7;
        h.fragLength = fragLength;
        rpc::EncodeResponseHeader(out, h, allocHint, 0);
    };
    auto send = [stream](const iovec* pieces, int count) {
        for (int i = 0; i < count; ++i) {
            const BYTE* p = static_cast<const BYTE*>(pieces[i].iov_base);
            stream->insert(stream->end(), p, p + pieces[i].iov_len);
        }
        return true;
    };
    return rpc::SendFragmented(reply.View(), maxFragment, std::ref(header), std::ref(send), splices);
}

} // namespace

// A whole-file read is sent from the file as it is read, in chunks, yet the
// packets are the very ones the reply encoded whole gave, whatever the size
// against chunks and fragments. A file cut between the call and the sending
// stops the stream within the reply; the file's handle is given back either way.
TEST_F(VirtualServersTest, WholeFileReadsAreSentAsReadWithTheBytesOfAWholeReply)
{
    tqtest::TempFolder storage;
    HKEY key = Key(tq::kWardlakeKey);
    SetText(key, tq::kStorageFolderValue, storage.Path());
    RegCloseKey(key);
    module_.CreateVirtualServers();
    const std::string folder = storage.Path() + "/";
    CRemoteInvokeStub stub(module_);
    RpcConnectionInfo info{34347, "127.0.0.1", "127.0.0.1", 50000, "ncacn_ip_tcp:127.0.0.1[34347]"};
    CFileHandleTable& handles = CFileHandleTable::Process();
    const size_t openBefore = handles.Count();

    // Runs ReadWholeFile through the stub into reply and splices.
    auto call = [&](const char* name, CRpcBuffer& reply, RpcReplySplices& splices, CInvokeData& request) {
        request.functionCode = 1012;
        UuidCreate(&request.callerGuid);
        request.PushInString(name);
        std::vector<BYTE> blob(request.GetEncodedSize(InvokeModeRequest));
        request.Encode(blob.data(), static_cast<LONG>(blob.size()), InvokeModeRequest);
        CRpcBuffer requestStub;
        NdrMarshalInvokeRequest(requestStub, blob.data(), static_cast<ULONG>(blob.size()));
        CRpcCall rpcCall(info, {}, 1, 1, {}, requestStub.View(), reply, &splices);
        ASSERT_EQ(stub.OnRemoteInvoke(rpcCall), RPC_S_OK);
    };
    // The reply as it was made before: the content copied into the record.
    auto wholeReply = [](const CInvokeData& request, const std::vector<BYTE>& content, CRpcBuffer& reply) {
        CInvokeData record(1012);
        record.callerGuid = request.callerGuid;
        record.result = S_OK;
        record.PushOutBytes(content.data(), static_cast<DWORD>(content.size()));
        std::vector<BYTE> blob(record.GetEncodedSize(InvokeModeReply));
        record.Encode(blob.data(), static_cast<LONG>(blob.size()), InvokeModeReply);
        NdrMarshalInvokeReply(reply, blob.data(), static_cast<ULONG>(blob.size()), 0);
    };

    const size_t sizes[] = {0,
                            1,
                            CInvokeData::kSeparateFrom - 1,
                            CInvokeData::kSeparateFrom,
                            CWinFileImpl::kReadAsSentFrom - 1,
                            CWinFileImpl::kReadAsSentFrom,
                            rpc::kSourceChunk - 1,
                            rpc::kSourceChunk,
                            rpc::kSourceChunk + 1,
                            (size_t(5) << 20) + 3};
    for (size_t size : sizes) {
        std::vector<BYTE> content(size);
        for (size_t i = 0; i < size; ++i)
            content[i] = BYTE(i * 31 + i / 65521);
        ASSERT_TRUE(tqtest::WriteFileText(folder + "whole.bin", std::string(content.begin(), content.end())));
        CRpcBuffer reply, before;
        RpcReplySplices splices;
        CInvokeData request;
        call("whole.bin", reply, splices, request);
        // Large content goes out from its own block, or from the file as it is read.
        ASSERT_EQ(splices.pieces.size(), size >= CInvokeData::kSeparateFrom ? 1u : 0u) << size;
        if (!splices.pieces.empty()) {
            EXPECT_EQ(splices.pieces[0].source != nullptr, size >= CWinFileImpl::kReadAsSentFrom) << size;
        }
        wholeReply(request, content, before);
        for (USHORT maxFragment : {USHORT(5840), USHORT(0xFFFF)}) {
            std::vector<BYTE> streamed, whole;
            ASSERT_TRUE(ResponseStream(reply, maxFragment, splices.pieces, &streamed));
            ASSERT_TRUE(ResponseStream(before, maxFragment, {}, &whole));
            EXPECT_EQ(streamed, whole) << size << " " << maxFragment;
        }
        splices.Clear();
        EXPECT_EQ(handles.Count(), openBefore) << size;
    }

    // Cut to half after the call: the stream stops short, sends only true
    // bytes, and the handle goes back when the splices do.
    const size_t size = std::max<size_t>(3 * rpc::kSourceChunk, CWinFileImpl::kReadAsSentFrom);
    std::vector<BYTE> content(size, 0x5A);
    ASSERT_TRUE(tqtest::WriteFileText(folder + "cut.bin", std::string(content.begin(), content.end())));
    CRpcBuffer reply, before;
    RpcReplySplices splices;
    CInvokeData request;
    call("cut.bin", reply, splices, request);
    EXPECT_EQ(handles.Count(), openBefore + 1);
    ASSERT_EQ(::truncate((folder + "cut.bin").c_str(), off_t(size / 2)), 0);
    wholeReply(request, content, before);
    std::vector<BYTE> streamed, whole;
    EXPECT_FALSE(ResponseStream(reply, 0xFFFF, splices.pieces, &streamed));
    ASSERT_TRUE(ResponseStream(before, 0xFFFF, {}, &whole));
    EXPECT_LT(streamed.size(), size / 2 + 1024);
    EXPECT_TRUE(std::equal(streamed.begin(), streamed.end(), whole.begin()));
    splices.Clear();
    EXPECT_EQ(handles.Count(), openBefore);
}

TEST(HostHelpers, PortFromStringBinding)
{
    EXPECT_EQ(PortFromStringBinding("ncacn_ip_tcp:127.0.0.1[40001]"), 40001);
    EXPECT_EQ(PortFromStringBinding("ncacn_ip_tcp:host[40001,Security=x]"), 40001);
    EXPECT_EQ(PortFromStringBinding("ncacn_ip_tcp:127.0.0.1"), 34347);
    EXPECT_EQ(PortFromStringBinding("ncacn_ip_tcp:127.0.0.1[]"), 34347);
    EXPECT_EQ(PortFromStringBinding("ncacn_ip_tcp:127.0.0.1[abc]"), 34347);
    EXPECT_EQ(PortFromStringBinding(""), 34347);
    // Read as a number would be: blanks and a sign before it, nothing but a
    // comma after it, and within 1 to 2^31 - 1.
    EXPECT_EQ(PortFromStringBinding("ncacn_ip_tcp:h[ +40002]"), 40002);
    EXPECT_EQ(PortFromStringBinding("ncacn_ip_tcp:h[2147483647]"), 2147483647);
    EXPECT_EQ(PortFromStringBinding("ncacn_ip_tcp:h[2147483648]"), 34347);
    EXPECT_EQ(PortFromStringBinding("ncacn_ip_tcp:h[99999999999999999999999]"), 34347);
    EXPECT_EQ(PortFromStringBinding("ncacn_ip_tcp:h[-40002]"), 34347);
    EXPECT_EQ(PortFromStringBinding("ncacn_ip_tcp:h[0]"), 34347);
    EXPECT_EQ(PortFromStringBinding("ncacn_ip_tcp:h[40002x]"), 34347);
    EXPECT_EQ(PortFromStringBinding("ncacn_ip_tcp:h[+]"), 34347);
}

TEST(HostHelpers, FormatRpcErrorStatusCutsTheLineEnd)
{
    char text[260];
    FormatRpcErrorStatus(RPC_S_DUPLICATE_ENDPOINT, text, sizeof text);
    EXPECT_STREQ(text, "RPC Error 1740 -- The endpoint is a duplicate.");
    // No text for the status: the last error's is used.
    SetLastError(ERROR_ACCESS_DENIED);
    FormatRpcErrorStatus(123456, text, sizeof text);
    EXPECT_STREQ(text, "Last Error 5 -- Access is denied.");
    char small[12];
    FormatRpcErrorStatus(RPC_S_DUPLICATE_ENDPOINT, small, sizeof small);
    EXPECT_STREQ(small, "RPC Error 1");
}

TEST(HostHelpers, RestartSwitchMatching)
{
    EXPECT_TRUE(CommandLineHasSwitch("-restartservice", "RestartService"));
    EXPECT_TRUE(CommandLineHasSwitch("/RestartService", "RestartService"));
    EXPECT_TRUE(CommandLineHasSwitch("x -y\t/RESTARTSERVICE", "RestartService"));
    EXPECT_FALSE(CommandLineHasSwitch("-RestartServiceNow", "RestartService"));
    EXPECT_FALSE(CommandLineHasSwitch("RestartService", "RestartService"));
    EXPECT_FALSE(CommandLineHasSwitch("-Restart Service", "RestartService"));
    EXPECT_FALSE(CommandLineHasSwitch("", "RestartService"));
}

TEST_F(VirtualServersTest, HandlerActsOnStopAloneAndNamesBadRequests)
{
    module_.Handler(2);
    module_.Handler(3);
    module_.Handler(4);
    module_.Handler(5);
    EXPECT_EQ(EventLogText().find("Bad service request"), std::string::npos);
    module_.Handler(200);
    EXPECT_NE(EventLogText().find("Bad service request"), std::string::npos);
}

TEST_F(VirtualServersTest, StopBeforeRunIsKept)
{
    // A stop that comes before the run loop waits is not lost: Run returns by itself.
    module_.Handler(1);
    EXPECT_EQ(module_.Run(), 0);
    EXPECT_NE(EventLogText().find("Virtual server on port 34347 stopped"), std::string::npos);
    EXPECT_TRUE(module_.ReleaseAll());
}

namespace {

// Stops from another thread, as the signal thread sends them, while
// modules come and go: each reaches a whole module or none (ThreadSanitizer
// finds a stop that reaches one being destroyed).
TEST(HostStops, StopsWhileTheModuleIsDestroyedReachNoDestroyedModule)
{
    std::atomic<bool> done{false};
    std::thread signals([&] {
        while (!done)
            CWindowsServerModule::ControlCurrent(SERVICE_CONTROL_STOP);
    });
    for (int i = 0; i < 200; ++i) {
        auto module = std::make_unique<CWindowsServerModule>();
        EXPECT_EQ(CWindowsServerModule::Current(), module.get());
        module.reset();
    }
    done = true;
    signals.join();
    EXPECT_EQ(CWindowsServerModule::Current(), nullptr);
    CWindowsServerModule::ControlCurrent(SERVICE_CONTROL_STOP); // nothing to reach
}

} // namespace
