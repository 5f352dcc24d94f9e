#pragma once
// Appends NDR data (and packet bodies) to a buffer in the chosen byte order,
// aligned relative to where the writer started.

#include "platform/rpc/RpcBuffer.h"
#include "platform/rpc/RpcProtocol.h"

#include <cstddef>

class CNdrWriter {
public:
    explicit CNdrWriter(CRpcBuffer& out, bool bigEndian = false) : out_(out), base_(out.Size()), bigEndian_(bigEndian) {}
    CNdrWriter(CRpcBuffer& out, const rpc::DataRep& rep) : CNdrWriter(out, rep.BigEndian()) {}

    // Bytes written since the writer started.
    size_t Position() const { return out_.Size() - base_; }

    // Pads with zeros to the next multiple of n (a power of two).
    void Align(size_t n);
    void U8(BYTE v);
    void U16(USHORT v);
    void U32(ULONG v);
    void Long(LONG v) { U32(static_cast<ULONG>(v)); }
    void Uuid(const GUID& g);
    void Syntax(const rpc::SyntaxId& s);
    void Bytes(const void* p, size_t n);
    // Room for n bytes, to be filled by the caller.
    BYTE* Space(size_t n) { return out_.Grow(n); }

private:
    CRpcBuffer& out_;
    size_t base_;
    bool bigEndian_;
};
