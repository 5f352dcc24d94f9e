#pragma once
// Hand-built packets for the tests, including ones no client should send.

#include "platform/rpc/RpcPdu.h"

class CRpcSocket;

#include <vector>

namespace rpctest {

using Bytes = std::vector<BYTE>;

rpc::PduHeader Header(rpc::PduType type, ULONG callId, BYTE flags = rpc::PFC_FIRST_FRAG | rpc::PFC_LAST_FRAG,
                      const rpc::DataRep& rep = {});

// A bind (or alter_context) for the given contexts.
Bytes BindBytes(const std::vector<rpc::PresentationContext>& contexts, ULONG callId = 1,
                rpc::PduType type = rpc::PduType::Bind, USHORT maxXmit = 5840, USHORT maxRecv = 5840,
                const rpc::DataRep& rep = {});
// One context asking for the interface in NDR 2.0.
Bytes SimpleBind(const GUID& id, USHORT major, USHORT minor, ULONG callId = 1, USHORT contextId = 0);

// One request fragment.
Bytes RequestBytes(ULONG callId, USHORT contextId, USHORT opnum, const Bytes& stub,
                   BYTE flags = rpc::PFC_FIRST_FRAG | rpc::PFC_LAST_FRAG, ULONG allocHint = 0,
                   const rpc::DataRep& rep = {});

// Appends an auth verifier (sec_trailer and auth_length bytes) and fixes the
// header's lengths.
void AddAuthVerifier(Bytes& pdu, USHORT authLength = 16);

// A header-only packet (orphaned, co_cancel, shutdown).
Bytes HeaderOnly(rpc::PduType type, ULONG callId);

// The server side of a scripted exchange: reads the client's bind, accepts it
// (NDR 2.0, 5840-byte fragments), then reads its first request; false when
// any of it fails within 5 s. callId is the request's.
bool AcceptBoundCall(CRpcSocket& socket, ULONG* callId);

// Splits a stream of packets at their frag_length.
std::vector<Bytes> SplitPdus(const Bytes& stream);

} // namespace rpctest
