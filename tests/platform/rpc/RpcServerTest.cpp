// Our client against our server over loopback TCP.
#include "TestRpcServer.h"

#include "platform/rpc/RemoteInvokeNdr.h"
#include "platform/rpc/RpcClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

using namespace rpctest;

namespace {

std::vector<BYTE> Pattern(size_t n)
{
    std::vector<BYTE> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = BYTE((i * 7 + i / 251) & 0xFF);
    return v;
}

struct Bound {
    CRpcClient client;
    USHORT context = 0;
    explicit Bound(RpcClientOptions options = {}) : client(options) {}
};

void Open(Bound& b, int port, const GUID& id = kInterface50, USHORT major = 5, USHORT minor = 0)
{
    ASSERT_EQ(b.client.Connect("127.0.0.1", port), RPC_S_OK);
    ASSERT_EQ(b.client.Bind(id, major, minor, &b.context), RPC_S_OK);
}

LONG GetVersion(Bound& b, RPC_STATUS* status = nullptr)
{
    CRpcBuffer reply;
    rpc::DataRep rep;
    RPC_STATUS s = b.client.Call(b.context, 0, {}, reply, &rep);
    if (status != nullptr)
        *status = s;
    LONG version = -1;
    if (s == RPC_S_OK) {
        EXPECT_EQ(NdrUnmarshalGetVersionReply(reply.View(), rep, version), RPC_S_OK);
    }
    return version;
}

// RemoteInvoke with blob; checks the reversed reply and the size result.
void InvokeAndCheck(Bound& b, const std::vector<BYTE>& blob, bool bigEndian = false)
{
    CRpcBuffer request;
    NdrMarshalInvokeRequest(request, blob.data(), ULONG(blob.size()), bigEndian);
    CRpcBuffer reply;
    rpc::DataRep rep;
    ASSERT_EQ(b.client.Call(b.context, 1, request.View(), reply, &rep), RPC_S_OK);
    InvokeBlobView out;
    LONG result = 0;
    ASSERT_EQ(NdrUnmarshalInvokeReply(reply.View(), rep, out, result), RPC_S_OK);
    EXPECT_EQ(result, LONG(blob.size()));
    ASSERT_EQ(out.size, blob.size());
    EXPECT_TRUE(std::equal(blob.rbegin(), blob.rend(), out.data));
}

} // namespace

TEST(RpcServerCalls, GetVersionOnBothInterfacesReturnsFive)
{
    CTestRpcServer server;
    for (const GUID& id : {kInterface50, kInterface65}) {
        Bound b;
        Open(b, server.Port(), id);
        EXPECT_EQ(GetVersion(b), 5);
        // The secondary address is the port as text.
        EXPECT_EQ(b.client.SecondaryAddress(), std::to_string(server.Port()));
        EXPECT_EQ(b.client.XmitFragment(), 5840);
        EXPECT_EQ(b.client.Features(), rpc::kFeatureKeepConnectionOnOrphan);
    }
}

TEST(RpcServerCalls, RemoteInvokeRoundTripsSmallAndEmptyBlobs)
{
    CTestRpcServer server;
    Bound b;
    Open(b, server.Port());
    InvokeAndCheck(b, {1, 2, 3, 4, 5});
    InvokeAndCheck(b, {});
    // A null pointer comes back as a null pointer.
    CRpcBuffer request;
    NdrMarshalInvokeRequest(request, nullptr, 0);
    CRpcBuffer reply;
    ASSERT_EQ(b.client.Call(b.context, 1, request.View(), reply), RPC_S_OK);
    InvokeBlobView out;
    LONG result = -1;
    ASSERT_EQ(NdrUnmarshalInvokeReply(reply.View(), rpc::DataRep{}, out, result), RPC_S_OK);
    EXPECT_EQ(out.data, nullptr);
    EXPECT_EQ(result, 0);
}

TEST(RpcServerCalls, LargeBlobsAreFragmentedBothWays)
{
    CTestRpcServer server;
    Bound b;
    Open(b, server.Port());
    // Around fragment boundaries, then a few megabytes.
    for (size_t n : {5816u, 5817u, 5840u, 11632u, 100000u, 4u << 20})
        InvokeAndCheck(b, Pattern(n));
}

TEST(RpcServerCalls, SmallNegotiatedFragmentsAreRespected)
{
    RpcClientOptions options;
    options.maxXmitFragment = 1432;
    options.maxRecvFragment = 2000;
    CTestRpcServer server;
    Bound b(options);
    Open(b, server.Port());
    EXPECT_EQ(b.client.XmitFragment(), 1432);
    EXPECT_EQ(b.client.RecvFragment(), 2000);
    InvokeAndCheck(b, Pattern(70000));
}

TEST(RpcServerCalls, AlterContextBindsSecondInterfaceOnSameConnection)
{
    CTestRpcServer server;
    Bound b;
    Open(b, server.Port(), kInterface50);
    USHORT second = 0;
    ASSERT_EQ(b.client.Bind(kInterface65, 5, 0, &second), RPC_S_OK);
    EXPECT_NE(second, b.context);
    EXPECT_EQ(GetVersion(b), 5);
    b.context = second;
    EXPECT_EQ(GetVersion(b), 5);
    InvokeAndCheck(b, Pattern(20000));
    // An unknown interface on the same connection is refused, the others stay.
    USHORT third = 0;
    EXPECT_EQ(b.client.Bind(kControl, 2, 0, &third), RPC_S_UNKNOWN_IF);
    EXPECT_EQ(GetVersion(b), 5);
}

TEST(RpcServerCalls, InterfaceVersionRules)
{
    CTestRpcServer server;
    Bound b;
    ASSERT_EQ(b.client.Connect("127.0.0.1", server.Port()), RPC_S_OK);
    USHORT context;
    EXPECT_EQ(b.client.Bind(kInterface50, 4, 0, &context), RPC_S_UNKNOWN_IF);  // major must match
    EXPECT_EQ(b.client.Bind(kInterface50, 5, 1, &context), RPC_S_UNKNOWN_IF);  // server minor below client's
    EXPECT_EQ(b.client.Bind(kControl, 1, 0, &context), RPC_S_OK);
}

TEST(RpcServerCalls, BigEndianClientIsAnsweredCorrectly)
{
    RpcClientOptions options;
    options.dataRep = rpc::DataRep::BigEndianRep();
    CTestRpcServer server;
    Bound b(options);
    Open(b, server.Port());
    EXPECT_EQ(GetVersion(b), 5);
    InvokeAndCheck(b, Pattern(30000), true);
    // The stub sees the client's byte order.
    USHORT control;
    ASSERT_EQ(b.client.Bind(kControl, 1, 0, &control), RPC_S_OK);
    CRpcBuffer reply;
    ASSERT_EQ(b.client.Call(control, kWhere, {}, reply), RPC_S_OK);
    std::string text(reply.Data(), reply.Data() + reply.Size());
    EXPECT_EQ(text.substr(text.rfind('|') + 1), "big");
}

TEST(RpcServerCalls, CallKnowsItsPortAndServerBinding)
{
    CTestRpcServer server;
    Bound b;
    Open(b, server.Port(), kControl, 1, 0);
    CRpcBuffer reply;
    ASSERT_EQ(b.client.Call(b.context, kWhere, {}, reply), RPC_S_OK);
    std::string port = std::to_string(server.Port());
    EXPECT_EQ(std::string(reply.Data(), reply.Data() + reply.Size()),
              port + "|ncacn_ip_tcp:127.0.0.1[" + port + "]|little");
}

TEST(RpcServerFaults, FaultStatusesReachTheClient)
{
    CTestRpcServer server;
    Bound b;
    Open(b, server.Port(), kControl, 1, 0);
    CRpcBuffer reply;
    EXPECT_EQ(b.client.Call(b.context, 99, {}, reply), RPC_S_PROCNUM_OUT_OF_RANGE);
    EXPECT_EQ(b.client.Call(b.context, kBadStub, {}, reply), RPC_X_BAD_STUB_DATA);
    EXPECT_EQ(b.client.Call(b.context, kThrow, {}, reply), RPC_S_CALL_FAILED);
    EXPECT_EQ(b.client.Call(77, kEcho, {}, reply), RPC_S_UNKNOWN_IF);
    // The connection goes on after each fault.
    const BYTE bytes[] = {9, 8, 7};
    ASSERT_EQ(b.client.Call(b.context, kEcho, bytes, reply), RPC_S_OK);
    EXPECT_EQ(reply.Size(), 3u);
}

TEST(RpcServerFaults, RemoteInvokeWithBadStubDataFaultsWithoutHarm)
{
    CTestRpcServer server;
    Bound b;
    Open(b, server.Port());
    CRpcBuffer reply;
    // Ten bytes are not a blob.
    const BYTE ten[10] = {5, 0, 0, 0, 0, 0, 2, 0, 5, 0};
    EXPECT_EQ(b.client.Call(b.context, 1, ten, reply), RPC_X_BAD_STUB_DATA);
    // A count that disagrees with the size.
    CRpcBuffer request;
    NdrMarshalInvokeRequest(request, Pattern(8).data(), 8);
    request.Data()[8] = 9;
    EXPECT_EQ(b.client.Call(b.context, 1, request.View(), reply), RPC_X_BAD_STUB_DATA);
    EXPECT_EQ(GetVersion(b), 5);
}

TEST(RpcServerFaults, ExceptionFilterChoosesTheStatus)
{
    CTestRpcServer server;
    server.Server().SetExceptionFilter([](std::exception_ptr) { return RPC_STATUS(ERROR_ACCESS_DENIED); });
    Bound b;
    Open(b, server.Port(), kControl, 1, 0);
    CRpcBuffer reply;
    EXPECT_EQ(b.client.Call(b.context, kThrow, {}, reply), RPC_STATUS(ERROR_ACCESS_DENIED));
}
