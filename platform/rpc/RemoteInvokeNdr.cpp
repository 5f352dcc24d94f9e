#include "platform/rpc/RemoteInvokeNdr.h"

#include "platform/rpc/NdrByteOrder.h"
#include "platform/rpc/NdrReader.h"
#include "platform/rpc/NdrWriter.h"

#include <cstring>

namespace {

// The first referent id a stub hands out.
constexpr ULONG kReferentId = 0x00020000;

bool ReadBlob(CNdrReader& r, InvokeBlobView& blob)
{
    r.Align(4);
    ULONG size = r.U32();
    ULONG referent = r.U32();
    blob = {};
    if (!r.Ok())
        return false;
    if (referent == 0)
        return size == 0;
    ULONG count = r.U32();
    if (!r.Ok() || count != size)
        return false;
    std::span<const BYTE> bytes = r.Bytes(size);
    if (!r.Ok())
        return false;
    blob.data = bytes.data();
    blob.size = size;
    return true;
}

BYTE* WriteBlob(CRpcBuffer& out, CNdrWriter& w, ULONG size, bool nullPointer, bool bigEndian)
{
    // Room for the blob and a return value after it, at once.
    out.Reserve(out.Size() + 3 + 12 + size_t(size) + 3 + 4);
    w.Align(4);
    if (nullPointer) {
        w.U32(0);
        w.U32(0);
        return nullptr;
    }
    // Size, referent and count written in place: this runs on every call.
    BYTE* at = w.Space(12 + size_t(size));
    ndr::Store32(at, size, bigEndian);
    ndr::Store32(at + 4, kReferentId, bigEndian);
    ndr::Store32(at + 8, size, bigEndian);
    return at + 12;
}

} // namespace

RPC_STATUS NdrUnmarshalInvokeRequest(std::span<const BYTE> stub, const rpc::DataRep& rep, InvokeBlobView& request)
{
    // Read in place, as ReadBlob would: this runs on every call, and the
    // blob opens the stub data, so it needs no alignment.
    const bool big = rep.BigEndian();
    const BYTE* p = stub.data();
    request = {};
    if (stub.size() < 8)
        return RPC_X_BAD_STUB_DATA;
    const ULONG size = ndr::Load32(p, big);
    if (ndr::Load32(p + 4, big) == 0)
        return size == 0 ? RPC_S_OK : RPC_X_BAD_STUB_DATA;
    if (stub.size() < 12 || ndr::Load32(p + 8, big) != size || size > stub.size() - 12)
        return RPC_X_BAD_STUB_DATA;
    request = {p + 12, size};
    return RPC_S_OK;
}

BYTE* NdrBeginInvokeReply(CRpcBuffer& reply, ULONG size, bool nullPointer)
{
    CNdrWriter w(reply);
    return WriteBlob(reply, w, size, nullPointer && size == 0, false);
}

void NdrFinishInvokeReply(CRpcBuffer& reply, LONG result)
{
    // Alignment counts from the start of the stub data, which is the start
    // of the reply buffer.
    const size_t pad = (4 - (reply.Size() & 3)) & 3;
    BYTE* at = reply.Grow(pad + 4);
    std::memset(at, 0, pad);
    ndr::Store32(at + pad, ULONG(result), false);
}

void NdrMarshalInvokeReply(CRpcBuffer& reply, const BYTE* data, ULONG size, LONG result)
{
    if (data == nullptr)
        size = 0;
    BYTE* at = NdrBeginInvokeReply(reply, size, data == nullptr);
    if (at != nullptr && size != 0)
        std::memcpy(at, data, size);
    NdrFinishInvokeReply(reply, result);
}

void NdrMarshalGetVersionReply(CRpcBuffer& reply, LONG version)
{
    CNdrWriter w(reply);
    w.Long(version);
}

void NdrMarshalInvokeRequest(CRpcBuffer& request, const BYTE* data, ULONG size, bool bigEndian)
{
    CNdrWriter w(request, bigEndian);
    if (data == nullptr)
        size = 0;
    BYTE* at = WriteBlob(request, w, size, data == nullptr, bigEndian);
    if (at != nullptr && size != 0)
        std::memcpy(at, data, size);
}

RPC_STATUS NdrUnmarshalInvokeReply(std::span<const BYTE> stub, const rpc::DataRep& rep, InvokeBlobView& reply,
                                   LONG& result)
{
    CNdrReader r(stub, rep);
    if (!ReadBlob(r, reply))
        return RPC_X_BAD_STUB_DATA;
    r.Align(4);
    result = r.Long();
    return r.Ok() ? RPC_S_OK : RPC_X_BAD_STUB_DATA;
}

RPC_STATUS NdrUnmarshalGetVersionReply(std::span<const BYTE> stub, const rpc::DataRep& rep, LONG& version)
{
    CNdrReader r(stub, rep);
    version = r.Long();
    return r.Ok() ? RPC_S_OK : RPC_X_BAD_STUB_DATA;
}
