#include "server/storage/attributes/AttributeRecordHeader.h"

#include "platform/win/LittleEndian.h"

#include <cstring>

AttributeRecordHeader AttributeRecordHeader::Read(const BYTE* p)
{
    AttributeRecordHeader h;
    h.nameLength = ReadLittleEndian32(p);
    h.nameSize = ReadLittleEndian32(p + 4);
    h.reserved8 = ReadLittleEndian32(p + 8);
    h.id = static_cast<LONG>(ReadLittleEndian32(p + 12));
    h.appId = static_cast<LONG>(ReadLittleEndian32(p + 16));
    h.param = static_cast<LONG>(ReadLittleEndian32(p + 20));
    h.flagMask = ReadLittleEndian32(p + 24);
    h.flags = ReadLittleEndian32(p + 28);
    h.valueLength = ReadLittleEndian32(p + 32);
    h.valueSize = ReadLittleEndian32(p + 36);
    h.reserved40 = ReadLittleEndian32(p + 40);
    h.userWord = ReadLittleEndian32(p + 44);
    h.time.dwLowDateTime = ReadLittleEndian32(p + 48);
    h.time.dwHighDateTime = ReadLittleEndian32(p + 52);
    return h;
}

void AttributeRecordHeader::Write(BYTE* p) const
{
    WriteLittleEndian32(p, nameLength);
    WriteLittleEndian32(p + 4, nameSize);
    WriteLittleEndian32(p + 8, reserved8);
    WriteLittleEndian32(p + 12, static_cast<DWORD>(id));
    WriteLittleEndian32(p + 16, static_cast<DWORD>(appId));
    WriteLittleEndian32(p + 20, static_cast<DWORD>(param));
    WriteLittleEndian32(p + 24, flagMask);
    WriteLittleEndian32(p + 28, flags);
    WriteLittleEndian32(p + 32, valueLength);
    WriteLittleEndian32(p + 36, valueSize);
    WriteLittleEndian32(p + 40, reserved40);
    WriteLittleEndian32(p + 44, userWord);
    WriteLittleEndian32(p + 48, time.dwLowDateTime);
    WriteLittleEndian32(p + 52, time.dwHighDateTime);
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
