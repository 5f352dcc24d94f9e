#pragma once
// One remote call as a dispatch function sees it: the request's stub data,
// the data representation it is written in, the buffer for the reply's stub
// data, and where the call came in.

#include "platform/rpc/RpcBuffer.h"
#include "platform/rpc/RpcFragments.h"
#include "platform/rpc/RpcProtocol.h"

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

// Where a connection was accepted: filled once per connection.
struct RpcConnectionInfo {
    int localPort = 0;
    std::string localAddress;     // "127.0.0.1", "::1"
    std::string clientAddress;    // the peer's address
    int clientPort = 0;
    std::string serverBinding;    // "ncacn_ip_tcp:127.0.0.1[34347]"
};

// Parts of a reply sent from blocks of their own, and those blocks, kept
// until the reply has gone out; sourced parts own their sources.
struct RpcReplySplices {
    std::vector<rpc::StubSplice> pieces;
    std::vector<std::unique_ptr<BYTE[]>> blocks;

    void Clear()
    {
        pieces.clear();
        blocks.clear();
    }
};

class CRpcCall {
public:
    // Without splices, spliced bytes are copied into the reply.
    CRpcCall(const RpcConnectionInfo& connection, const rpc::SyntaxId& interfaceId, USHORT opnum, ULONG callId,
             const rpc::DataRep& rep, std::span<const BYTE> request, CRpcBuffer& reply,
             RpcReplySplices* splices = nullptr)
        : connection_(connection), interface_(interfaceId), opnum_(opnum), callId_(callId), rep_(rep),
          request_(request), reply_(reply), splices_(splices)
    {
    }
    CRpcCall(const CRpcCall&) = delete;
    CRpcCall& operator=(const CRpcCall&) = delete;

    // The request's NDR stub data, valid for the life of the call.
    std::span<const BYTE> Request() const { return request_; }
    // The representation the request is written in (byte order etc.).
    const rpc::DataRep& DataRep() const { return rep_; }
    // The reply's NDR stub data, to be written little-endian (the reply's
    // label says so). Empty on entry.
    CRpcBuffer& Reply() { return reply_; }
    // The reply's bytes [offset, offset + length) are sent from data (array
    // new, kept until the reply has gone out) and never read from the reply
    // buffer: a large result is not copied into it. The range must already
    // lie within the reply, after any range spliced before; false (data is
    // freed, nothing changes) when it does not.
    bool SpliceReply(size_t offset, std::unique_ptr<BYTE[]> data, size_t length);
    // The same for bytes the source gives as the reply is sent, kept until
    // then. Without splices they are read into the reply now, and false
    // (nothing usable in the range) when the source fails.
    bool SpliceReply(size_t offset, rpc::StubSource source, size_t length);
    // Empties the reply, its splices too.
    void DiscardReply();

    USHORT Opnum() const { return opnum_; }
    ULONG CallId() const { return callId_; }
    const rpc::SyntaxId& Interface() const { return interface_; }

    // The local TCP port the connection arrived on.
    int LocalPort() const { return connection_.localPort; }
    // The server side's string binding, "ncacn_ip_tcp:<address>[<port>]".
    const std::string& ServerStringBinding() const { return connection_.serverBinding; }
    const std::string& ClientAddress() const { return connection_.clientAddress; }

private:
    const RpcConnectionInfo& connection_;
    rpc::SyntaxId interface_;
    USHORT opnum_;
    ULONG callId_;
    rpc::DataRep rep_;
    std::span<const BYTE> request_;
    CRpcBuffer& reply_;
    RpcReplySplices* splices_;

    bool SpliceFits(size_t offset, size_t length) const;
};

// The server routine of one procedure. RPC_S_OK sends the reply's stub data;
// any other status is sent as a fault (RPC_X_BAD_STUB_DATA for stub data that
// does not unmarshal, for example) and the reply is discarded.
using RpcDispatchFunction = std::function<RPC_STATUS(CRpcCall& call)>;
