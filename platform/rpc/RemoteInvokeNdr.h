#pragma once
// NDR 2.0 marshalling of the two procedures every virtual server answers:
//
//   long GetVersion(handle);                                   opnum 0
//   long RemoteInvoke(handle, [in, ref] InvokeBlob* request,   opnum 1
//                     [out, ref] InvokeBlob* reply);
//   struct InvokeBlob { unsigned long size; [size_is(size), unique] byte* data; };
//
// On the wire a blob is its size, a referent id (0 for a null pointer) and,
// when the pointer is not null, the deferred conformant array: its maximum
// count (equal to the size) and the bytes. The reply then carries the return
// value, aligned to four. Readers honour the sender's byte order; writers
// write little-endian unless told otherwise.

#include "platform/rpc/RpcBuffer.h"
#include "platform/rpc/RpcProtocol.h"

#include <span>

// A blob as received: data points into the stub data (nullptr when the
// pointer was null, which comes with a size of 0).
struct InvokeBlobView {
    const BYTE* data = nullptr;
    ULONG size = 0;
};

// ---- server side

// RPC_X_BAD_STUB_DATA when the stub data is short, the array's count
// disagrees with the size, or a null pointer comes with a size.
RPC_STATUS NdrUnmarshalInvokeRequest(std::span<const BYTE> stub, const rpc::DataRep& rep, InvokeBlobView& request);

// Writes the reply blob's size and pointer and returns where its size bytes
// go (nullptr for size 0 with a null pointer); the caller fills them, then
// calls NdrFinishInvokeReply. The bytes land in the reply buffer directly.
BYTE* NdrBeginInvokeReply(CRpcBuffer& reply, ULONG size, bool nullPointer = false);
void NdrFinishInvokeReply(CRpcBuffer& reply, LONG result);
// Both steps with bytes copied from data (nullptr: a null pointer and size 0).
void NdrMarshalInvokeReply(CRpcBuffer& reply, const BYTE* data, ULONG size, LONG result);

void NdrMarshalGetVersionReply(CRpcBuffer& reply, LONG version);

// ---- client side

// data nullptr sends a null pointer and size 0.
void NdrMarshalInvokeRequest(CRpcBuffer& request, const BYTE* data, ULONG size, bool bigEndian = false);
RPC_STATUS NdrUnmarshalInvokeReply(std::span<const BYTE> stub, const rpc::DataRep& rep, InvokeBlobView& reply,
                                   LONG& result);
RPC_STATUS NdrUnmarshalGetVersionReply(std::span<const BYTE> stub, const rpc::DataRep& rep, LONG& version);
