#pragma once
// Drives one server-side association without a socket and keeps every
// packet it sends.

#include "PduBuilder.h"

#include "platform/rpc/RpcAssociation.h"

#include <cstdint>

namespace rpctest {

class CAssociationHarness {
public:
    explicit CAssociationHarness(const RpcServerLimits& limits = {}, CRpcRequestBudget* budget = nullptr);

    CRpcInterfaceRegistry& Registry() { return registry_; }
    CRpcCallGate& Gate() { return gate_; }
    CRpcAssociation& Association() { return association_; }

    // Feeds one packet (its header checked as the socket does).
    CRpcAssociation::Next Feed(const Bytes& pdu);
    // Packets sent since the last call, each whole.
    std::vector<Bytes> Sent();
    // Makes every later send fail, as a dead connection does.
    void FailSends() { fail_ = true; }
    // Binds the product interface 5.0 as context 0 and forgets the answer.
    void BindProduct();

    // Opnum 5 answers with as many bytes of SourcedByte as its request's
    // first word says, read from a source as they are sent; the source runs
    // short from sourceLimit on, and counts in sourcesReleased when let go.
    static BYTE SourcedByte(size_t i) { return BYTE(i * 7 + i / 4099); }
    size_t sourceLimit = SIZE_MAX;
    int sourcesReleased = 0;

private:
    RpcServerLimits limits_;
    RpcConnectionInfo info_;
    CRpcInterfaceRegistry registry_;
    CRpcCallGate gate_;
    Bytes sent_;
    bool fail_ = false;
    CRpcAssociation association_;
};

} // namespace rpctest
