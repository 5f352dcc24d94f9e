// The benchmark's client against a server of the same two procedures, run in
// this process on a free port.

#include "bench/RpcSession.h"
#include "platform/rpc/RemoteInvokeNdr.h"
#include "platform/rpc/RpcServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

using tqbench::RpcSession;

namespace {

constexpr DWORD kFailingCode = 13;

// GetVersion answers 5; RemoteInvoke answers each in-item back as an
// out-item with the code as the result, and fails the call for code 13 as
// the server does for a request it cannot take (no record, 0x8000FFFF).
class EchoServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(server_.RegisterEndpoint(0, 16, &port_, "127.0.0.1"), RPC_S_OK);
        RpcInterfaceDefinition definition;
        UuidFromString("A9934395-CC29-4CBA-9104-F01FC6BA6AA0", &definition.uuid);
        definition.versionMajor = 5;
        definition.procedures = {[](CRpcCall& call) {
                                     NdrMarshalGetVersionReply(call.Reply(), 5);
                                     return RPC_S_OK;
                                 },
                                 [](CRpcCall& call) { return Echo(call); }};
        ASSERT_EQ(server_.RegisterInterface(definition), RPC_S_OK);
        ASSERT_EQ(server_.Listen(1, 16, true), RPC_S_OK);
    }
    void TearDown() override { server_.StopListening(); }

    static RPC_STATUS Echo(CRpcCall& call)
    {
        InvokeBlobView blob;
        RPC_STATUS status = NdrUnmarshalInvokeRequest(call.Request(), call.DataRep(), blob);
        if (status != RPC_S_OK)
            return status;
        CInvokeData request;
        if (!request.Decode(blob.data, blob.size) || request.functionCode == kFailingCode) {
            NdrMarshalInvokeReply(call.Reply(), nullptr, 0, static_cast<LONG>(E_UNEXPECTED));
            return RPC_S_OK;
        }
        CInvokeData reply(request.functionCode);
        reply.result = static_cast<HRESULT>(request.functionCode);
        for (const InvokeItem& item : request.InItems())
            reply.PushOutBytes(item.data, item.length);
        std::vector<BYTE> out(reply.GetEncodedSize(InvokeModeReply));
        reply.Encode(out.data(), static_cast<LONG>(out.size()), InvokeModeReply);
        NdrMarshalInvokeReply(call.Reply(), out.data(), static_cast<ULONG>(out.size()), 0);
        return RPC_S_OK;
    }

    CRpcServer server_;
    int port_ = 0;
};

} // namespace

TEST_F(EchoServer, PreparedCallsAndTheirAnswers)
{
    RpcSession session;
    ASSERT_EQ(session.Connect(port_), RPC_S_OK);
    ASSERT_TRUE(session.IsConnected());

    CRpcBuffer none;
    ASSERT_EQ(session.Call(RpcSession::kGetVersion, none), RPC_S_OK);
    LONG version = 0;
    ASSERT_TRUE(session.ReadVersion(&version));
    EXPECT_EQ(version, 5);

    // One stub, marshalled once, sent many times.
    CInvokeData request(4010);
    request.PushInString("PC1");
    request.PushInBytes("\0\1\2", 3);
    CRpcBuffer stub;
    RpcSession::MarshalInvoke(request, stub);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(session.Call(RpcSession::kRemoteInvoke, stub), RPC_S_OK);
        LONG value = -1;
        CInvokeData reply;
        ASSERT_TRUE(session.ReadInvoke(&value, reply));
        EXPECT_EQ(value, 0);
        EXPECT_EQ(reply.result, 4010);
        ASSERT_EQ(reply.OutCount(), 2u);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(reply.OutItems()[0].data)), "PC1");
        EXPECT_EQ(reply.OutItems()[1].length, 3u);
    }
    // A GetVersion answer does not read as a RemoteInvoke one.
    ASSERT_EQ(session.Call(RpcSession::kGetVersion, none), RPC_S_OK);
    LONG value = -1;
    CInvokeData reply;
    EXPECT_FALSE(session.ReadInvoke(&value, reply));
}

TEST_F(EchoServer, AFailedCallWithoutARecordReadsAsItsValue)
{
    RpcSession session;
    ASSERT_EQ(session.Connect(port_), RPC_S_OK);
    CInvokeData failing(kFailingCode), reply;
    LONG value = 0;
    ASSERT_TRUE(session.Invoke(failing, reply, &value));
    EXPECT_EQ(static_cast<DWORD>(value), static_cast<DWORD>(E_UNEXPECTED));
    EXPECT_EQ(reply.OutCount(), 0u);

    // Large requests travel in many fragments and come back whole.
    CInvokeData large(7);
    std::vector<BYTE> bytes(300000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<BYTE>(i % 251);
    large.PushInBytes(bytes.data(), static_cast<DWORD>(bytes.size()));
    CInvokeData echoed;
    ASSERT_TRUE(session.Invoke(large, echoed, &value));
    EXPECT_EQ(value, 0);
    ASSERT_EQ(echoed.OutCount(), 1u);
    EXPECT_EQ(std::vector<BYTE>(echoed.OutItems()[0].data, echoed.OutItems()[0].data + echoed.OutItems()[0].length),
              bytes);
}

TEST(RpcSessionConnect, NoServerIsAStatusAndLeavesTheSessionClosed)
{
    // A port that was free a moment ago: nobody listens there.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length), 0);
    ::close(fd);
    RpcSession session;
    EXPECT_NE(session.Connect(ntohs(addr.sin_port)), RPC_S_OK);
    EXPECT_FALSE(session.IsConnected());
    CRpcBuffer none;
    EXPECT_NE(session.Call(RpcSession::kGetVersion, none), RPC_S_OK);
}
