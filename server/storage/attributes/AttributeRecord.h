#pragma once
// One attribute (or sub-directory entry) of an attribute directory, and the
// helpers that own its name and value buffers.

#include "platform/win/Time.h"
#include "platform/win/WinTypes.h"

#include <list>
#include <string>

// Top bits of AttributeRecord::flags.
constexpr DWORD RECORD_BINARY = 0x80000000u;    // the value is bytes, not text
constexpr DWORD RECORD_DIRECTORY = 0x40000000u; // the record stands for a sub-directory
constexpr DWORD RECORD_REMOVED = 0x20000000u;   // removed: invisible, never saved
// Bit 28 of flagMask and flags: a mark set and cleared on many records at once.
constexpr DWORD ATTRIBUTE_MARK = 0x10000000u;
// The caller's 28 flag bits (or a 28-bit number kept in their place).
constexpr DWORD ATTRIBUTE_FLAG_BITS = 0x0FFFFFFFu;
// Bits of flags that only the directory sets: a change through a handle or a
// copy never turns an attribute into a sub-directory entry or back to life.
constexpr DWORD RECORD_PLACEMENT_BITS = RECORD_DIRECTORY | RECORD_REMOVED;

struct AttributeRecord {
    DWORD nameLength = 0;     // bytes of the UTF-16 name without its terminator
    DWORD nameSize = 0;       // bytes of the name buffer, terminator included
    char16_t* name = nullptr; // owned by the record's directory
    LONG id = 0;
    LONG appId = 0;
    LONG param = 0;
    DWORD flagMask = 0;
    DWORD flags = 0;
    DWORD valueLength = 0;  // value length in bytes
    DWORD valueSize = 0;    // bytes held in the value buffer
    BYTE* value = nullptr;  // owned by the record's directory
    DWORD userWord = 0;
    FILETIME time{};
};

using AttributeRecordSequence = std::list<AttributeRecord*>;

inline bool IsVisibleAttribute(const AttributeRecord& r)
{
    return (r.flags & (RECORD_REMOVED | RECORD_DIRECTORY)) == 0;
}

// Buffer management. Buffers are always a little larger than their sizes say
// and zero-filled, so a UTF-16 reading of them ends inside the allocation
// whatever a stored file claimed.
namespace attrib {

// Replaces the name by a copy of `nameSize` bytes at `bytes`, of which the
// first `nameLength` are kept (the rest is zero). Null or size 0: no name.
void AssignName(AttributeRecord& r, const void* bytes, DWORD nameLength, DWORD nameSize);
void AssignNameText(AttributeRecord& r, const std::u16string& text);
// Replaces the value by a copy of `valueSize` bytes. Null or size 0: no value.
void AssignValue(AttributeRecord& r, const void* bytes, DWORD valueLength, DWORD valueSize);
void FreeBuffers(AttributeRecord& r);

// A new record owning copies of r's buffers. Outside a load the copy is made
// consistent first: lengths no larger than their buffers, no placement bits.
AttributeRecord* CloneRecord(const AttributeRecord& r, bool loading);
void DeleteRecord(AttributeRecord* r);

// The name and the string value as UTF-16 text, cut at the first zero unit.
std::u16string NameText(const AttributeRecord& r);
std::u16string ValueText(const AttributeRecord& r);

} // namespace attrib
