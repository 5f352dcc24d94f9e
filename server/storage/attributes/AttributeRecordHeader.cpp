#include "server/storage/attributes/AttributeRecordHeader.h"

#include <cstring>

namespace {

DWORD ReadWord(const BYTE* p)
{
    return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
           static_cast<DWORD>(p[3]) << 24;
}

void WriteWord(BYTE* p, DWORD v)
{
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
    p[2] = static_cast<BYTE>(v >> 16);
    p[3] = static_cast<BYTE>(v >> 24);
}

} // namespace

AttributeRecordHeader AttributeRecordHeader::Read(const BYTE* p)
{
    AttributeRecordHeader h;
    h.nameLength = ReadWord(p);
    h.nameSize = ReadWord(p + 4);
    h.reserved8 = ReadWord(p + 8);
    h.id = static_cast<LONG>(ReadWord(p + 12));
    h.appId = static_cast<LONG>(ReadWord(p + 16));
    h.param = static_cast<LONG>(ReadWord(p + 20));
    h.flagMask = ReadWord(p + 24);
    h.flags = ReadWord(p + 28);
    h.valueLength = ReadWord(p + 32);
    h.valueSize = ReadWord(p + 36);
    h.reserved40 = ReadWord(p + 40);
    h.userWord = ReadWord(p + 44);
    h.time.dwLowDateTime = ReadWord(p + 48);
    h.time.dwHighDateTime = ReadWord(p + 52);
    return h;
}

void AttributeRecordHeader::Write(BYTE* p) const
{
    WriteWord(p, nameLength);
    WriteWord(p + 4, nameSize);
    WriteWord(p + 8, reserved8);
    WriteWord(p + 12, static_cast<DWORD>(id));
    WriteWord(p + 16, static_cast<DWORD>(appId));
    WriteWord(p + 20, static_cast<DWORD>(param));
    WriteWord(p + 24, flagMask);
    WriteWord(p + 28, flags);
    WriteWord(p + 32, valueLength);
    WriteWord(p + 36, valueSize);
    WriteWord(p + 40, reserved40);
    WriteWord(p + 44, userWord);
    WriteWord(p + 48, time.dwLowDateTime);
    WriteWord(p + 52, time.dwHighDateTime);
}

AttributeRecordHeader AttributeRecordHeader::FromRecord(const AttributeRecord& r)
{
    AttributeRecordHeader h;
    h.nameLength = r.nameLength;
    h.nameSize = r.nameSize;
    h.id = r.id;
    h.appId = r.appId;
    h.param = r.param;
    h.flagMask = r.flagMask;
    h.flags = r.flags;
    h.valueLength = r.valueLength;
    h.valueSize = r.valueSize;
    h.userWord = r.userWord;
    h.time = r.time;
    return h;
}

AttributeRecord AttributeRecordHeader::ToRecord() const
{
    AttributeRecord r;
    r.nameLength = nameLength;
    r.nameSize = nameSize;
    r.id = id;
    r.appId = appId;
    r.param = param;
    r.flagMask = flagMask;
    r.flags = flags;
    r.valueLength = valueLength;
    r.valueSize = valueSize;
    r.userWord = userWord;
    r.time = time;
    return r;
}

AttributeRecord AttributeRecordHeader::RecordAt(const BYTE* bytes)
{
    const AttributeRecordHeader h = Read(bytes);
    AttributeRecord r = h.ToRecord();
    // The record only borrows the bytes: they are copied when it is inserted.
    BYTE* name = const_cast<BYTE*>(bytes) + kSize;
    if (h.nameSize != 0)
        r.name = reinterpret_cast<char16_t*>(name);
    if (h.valueSize != 0)
        r.value = name + h.nameSize;
    return r;
}

std::size_t AttributeRecordHeader::WriteRecord(const AttributeRecord& r, BYTE* out)
{
    FromRecord(r).Write(out);
    std::size_t pos = kSize;
    if (r.nameSize != 0)
        std::memcpy(out + pos, r.name, r.nameSize);
    pos += r.nameSize;
    if (r.valueSize != 0)
        std::memcpy(out + pos, r.value, r.valueSize);
    return pos + r.valueSize;
}
