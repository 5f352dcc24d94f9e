#include "platform/rpc/NdrWriter.h"

#include "platform/rpc/NdrByteOrder.h"

#include <cstring>

void CNdrWriter::Align(size_t n)
{
    size_t pad = (n - (Position() & (n - 1))) & (n - 1);
    if (pad != 0)
        std::memset(out_.Grow(pad), 0, pad);
}

void CNdrWriter::U8(BYTE v)
{
    *out_.Grow(1) = v;
}

void CNdrWriter::U16(USHORT v)
{
    ndr::Store16(out_.Grow(2), v, bigEndian_);
}

void CNdrWriter::U32(ULONG v)
{
    ndr::Store32(out_.Grow(4), v, bigEndian_);
}

void CNdrWriter::Uuid(const GUID& g)
{
    U32(g.Data1);
    U16(g.Data2);
    U16(g.Data3);
    Bytes(g.Data4, 8);
}

void CNdrWriter::Syntax(const rpc::SyntaxId& s)
{
    Uuid(s.uuid);
    U32(ULONG(s.major) | (ULONG(s.minor) << 16));
}

void CNdrWriter::Bytes(const void* p, size_t n)
{
    out_.Append(p, n);
}
