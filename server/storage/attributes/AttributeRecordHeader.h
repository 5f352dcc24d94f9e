#pragma once
// The 56-byte little-endian header that leads every record of a record
// stream, and that also heads an attribute container file. In a stream the
// words carry the record's fields; a container file puts its own values in
// the same places (digest lengths at 0 and 4, version at 12, container flags
// at 28, payload and stored lengths at 32 and 36, 1 at 44, save time at 48).

#include "server/storage/attributes/AttributeRecord.h"

#include <cstddef>

struct AttributeRecordHeader {
    static constexpr std::size_t kSize = 56;

    DWORD nameLength = 0;  // 0
    DWORD nameSize = 0;    // 4: name bytes that follow the header
    DWORD reserved8 = 0;   // 8
    LONG id = 0;           // 12
    LONG appId = 0;        // 16
    LONG param = 0;        // 20
    DWORD flagMask = 0;    // 24
    DWORD flags = 0;       // 28
    DWORD valueLength = 0; // 32
    DWORD valueSize = 0;   // 36: value bytes that follow the name
    DWORD reserved40 = 0;  // 40
    DWORD userWord = 0;    // 44
    FILETIME time{};       // 48, low half first

    // Reads kSize bytes.
    static AttributeRecordHeader Read(const BYTE* bytes);
    // Writes kSize bytes.
    void Write(BYTE* bytes) const;

    // The record form: the record's fields, 0 in the reserved words.
    static AttributeRecordHeader FromRecord(const AttributeRecord& r);
    // The record's fields; name and value pointers null.
    AttributeRecord ToRecord() const;

    // 56 + nameSize + valueSize, without overflow.
    unsigned long long RecordBytes() const { return kSize + static_cast<unsigned long long>(nameSize) + valueSize; }
    // The name has room for its terminator and the value length stays within the value.
    bool IsConsistent() const
    {
        return (nameSize == 0 || nameSize >= nameLength + 2ULL) && valueLength <= valueSize;
    }

    // The record whose header starts at bytes, its name and value pointing
    // into the bytes that follow (the caller has checked that they are there).
    static AttributeRecord RecordAt(const BYTE* bytes);
    // Writes the record in stream form; returns the bytes written.
    static std::size_t WriteRecord(const AttributeRecord& r, BYTE* out);
};
