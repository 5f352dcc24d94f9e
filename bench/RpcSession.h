#pragma once
// One client connection to a virtual server, bound to its interface, with
// the two procedures it answers. Requests can be marshalled ahead of time,
// so that a timed call does only what the wire and the server do.

#include "platform/rpc/RpcBuffer.h"
#include "platform/rpc/RpcClient.h"
#include "common/callrecord/InvokeData.h"

namespace tqbench {

class RpcSession {
public:
    static constexpr USHORT kGetVersion = 0;
    static constexpr USHORT kRemoteInvoke = 1;
    // A reply that takes longer counts as lost (RPC_S_CALL_CANCELLED).
    static constexpr DWORD kCallTimeoutMs = 120000;

    // Connections are made from the numeric local address given (any when
    // empty).
    explicit RpcSession(const std::string& sourceAddress = {});

    // Connects to the loopback port and binds; RPC_S_OK or why not.
    RPC_STATUS Connect(int port);
    void Close() { client_.Close(); }
    bool IsConnected() const { return client_.IsConnected(); }

    // The request stub of RemoteInvoke for the record.
    static void MarshalInvoke(const CInvokeData& request, CRpcBuffer& stub);

    // One call with a prepared stub (empty for GetVersion); the reply's stub
    // stays in Reply() until the next call.
    RPC_STATUS Call(USHORT opnum, const CRpcBuffer& stub);
    const CRpcBuffer& Reply() const { return reply_; }

    // The last reply as GetVersion's value; false when it does not read so.
    bool ReadVersion(LONG* version) const;
    // The last reply as RemoteInvoke's: the procedure's value and the reply
    // record; false when the stub or the record does not read.
    bool ReadInvoke(LONG* value, CInvokeData& reply) const;

    // Marshal, call and read in one; false for any failure on the way.
    bool Invoke(const CInvokeData& request, CInvokeData& reply, LONG* value);

private:
    CRpcClient client_;
    USHORT context_ = 0;
    CRpcBuffer stub_;
    CRpcBuffer reply_;
    rpc::DataRep rep_{};
};

} // namespace tqbench
