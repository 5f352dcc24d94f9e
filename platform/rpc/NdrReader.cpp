#include "platform/rpc/NdrReader.h"

#include "platform/rpc/NdrByteOrder.h"

void CNdrReader::Seek(size_t pos)
{
    if (!ok_ || pos > data_.size())
        ok_ = false;
    else
        pos_ = pos;
}

void CNdrReader::Skip(size_t n)
{
    Take(n);
}

void CNdrReader::Align(size_t n)
{
    size_t pad = (n - (pos_ & (n - 1))) & (n - 1);
    Take(pad);
}

const BYTE* CNdrReader::Take(size_t n)
{
    if (!ok_ || n > data_.size() - pos_) {
        ok_ = false;
        return nullptr;
    }
    const BYTE* p = data_.data() + pos_;
    pos_ += n;
    return p;
}

BYTE CNdrReader::U8()
{
    const BYTE* p = Take(1);
    return p ? *p : 0;
}

USHORT CNdrReader::U16()
{
    const BYTE* p = Take(2);
    return p ? ndr::Load16(p, bigEndian_) : 0;
}

ULONG CNdrReader::U32()
{
    const BYTE* p = Take(4);
    return p ? ndr::Load32(p, bigEndian_) : 0;
}

GUID CNdrReader::Uuid()
{
    GUID g{};
    g.Data1 = U32();
    g.Data2 = U16();
    g.Data3 = U16();
    if (const BYTE* p = Take(8))
        for (int i = 0; i < 8; ++i)
            g.Data4[i] = p[i];
    return g;
}

rpc::SyntaxId CNdrReader::Syntax()
{
    rpc::SyntaxId s;
    s.uuid = Uuid();
    ULONG version = U32();
    s.major = USHORT(version & 0xFFFF);
    s.minor = USHORT(version >> 16);
    return s;
}

std::span<const BYTE> CNdrReader::Bytes(size_t n)
{
    const BYTE* p = Take(n);
    return p ? std::span<const BYTE>(p, n) : std::span<const BYTE>();
}
