#include "TestRpcServer.h"

#include "platform/rpc/RemoteInvokeNdr.h"
#include "platform/rpc/RpcClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace rpctest {

const GUID kInterface50{0xA9934395, 0xCC29, 0x4CBA, {0x91, 0x04, 0xF0, 0x1F, 0xC6, 0xBA, 0x6A, 0xA0}};
const GUID kInterface65{0x55D8F461, 0x543B, 0x4019, {0x9D, 0x94, 0x54, 0x58, 0x4C, 0x00, 0xEC, 0xD4}};
const GUID kControl{0x0B1C2D3E, 0x4F50, 0x6172, {0x83, 0x94, 0xA5, 0xB6, 0xC7, 0xD8, 0xE9, 0xFA}};

namespace {

RPC_STATUS GetVersion(CRpcCall& call)
{
    NdrMarshalGetVersionReply(call.Reply(), 5);
    return RPC_S_OK;
}

RPC_STATUS RemoteInvoke(CRpcCall& call)
{
    InvokeBlobView in;
    RPC_STATUS status = NdrUnmarshalInvokeRequest(call.Request(), call.DataRep(), in);
    if (status != RPC_S_OK)
        return status;
    BYTE* out = NdrBeginInvokeReply(call.Reply(), in.size, in.data == nullptr);
    std::reverse_copy(in.data, in.data + in.size, out);
    NdrFinishInvokeReply(call.Reply(), LONG(in.size));
    return RPC_S_OK;
}

} // namespace

CTestRpcServer::CTestRpcServer(const RpcServerLimits& limits, unsigned maxCalls)
{
    server_.SetLimits(limits);
    server_.SetCallThreadStartHook([this] { hookRuns_.fetch_add(1); });
    EXPECT_EQ(server_.RegisterEndpoint(0, 1234, &port_, "127.0.0.1"), RPC_S_OK);
    for (const GUID& id : {kInterface50, kInterface65})
        EXPECT_EQ(server_.RegisterInterface({id, 5, 0, {GetVersion, RemoteInvoke}}), RPC_S_OK);

    RpcInterfaceDefinition control{kControl, 1, 0, {}};
    control.procedures.resize(5);
    control.procedures[kBlock] = [this](CRpcCall& call) {
        int number = calls_.fetch_add(1);
        std::unique_lock lock(mutex_);
        blocked_.fetch_add(1);
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_; });
        blocked_.fetch_sub(1);
        NdrMarshalGetVersionReply(call.Reply(), number);
        return RPC_S_OK;
    };
    control.procedures[kThrow] = [](CRpcCall&) -> RPC_STATUS { throw std::runtime_error("thrown by the stub"); };
    control.procedures[kEcho] = [](CRpcCall& call) {
        call.Reply().Append(call.Request().data(), call.Request().size());
        return RPC_S_OK;
    };
    control.procedures[kWhere] = [](CRpcCall& call) {
        std::string text = std::to_string(call.LocalPort()) + "|" + call.ServerStringBinding() + "|" +
                           (call.DataRep().BigEndian() ? "big" : "little");
        call.Reply().Append(text.data(), text.size());
        return RPC_S_OK;
    };
    control.procedures[kBadStub] = [](CRpcCall&) { return RPC_X_BAD_STUB_DATA; };
    EXPECT_EQ(server_.RegisterInterface(control), RPC_S_OK);
    EXPECT_EQ(server_.Listen(1, maxCalls, true), RPC_S_OK);
}

CTestRpcServer::~CTestRpcServer()
{
    Release();
    server_.StopListening();
    server_.WaitListen();
}

bool CTestRpcServer::WaitBlocked(int n, int timeoutMs)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return blocked_.load() >= n; });
}

std::thread CTestRpcServer::StartBlockedCall(RPC_STATUS* status)
{
    *status = RPC_S_CALL_IN_PROGRESS;
    return std::thread([this, status] {
        CRpcClient client;
        USHORT context = 0;
        RPC_STATUS s = client.Connect("127.0.0.1", port_);
        if (s == RPC_S_OK)
            s = client.Bind(kControl, 1, 0, &context);
        CRpcBuffer reply;
        *status = s != RPC_S_OK ? s : client.Call(context, kBlock, {}, reply);
    });
}

void CTestRpcServer::Release()
{
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

} // namespace rpctest
