#include "server/storage/attributes/AttributeRecord.h"

#include <algorithm>
#include <cstring>

namespace attrib {

namespace {

std::u16string TextOf(const void* bytes, DWORD length, DWORD size)
{
    std::u16string text;
    if (bytes == nullptr)
        return text;
    text.resize(std::min(length, size) / 2);
    std::memcpy(text.data(), bytes, text.size() * sizeof(char16_t));
    const auto end = text.find(u'\0');
    if (end != std::u16string::npos)
        text.resize(end);
    return text;
}

} // namespace

void AssignName(AttributeRecord& r, const void* bytes, DWORD nameLength, DWORD nameSize)
{
    char16_t* fresh = nullptr;
    if (bytes != nullptr && nameSize != 0) {
        fresh = new char16_t[nameSize / 2 + 2]();
        std::memcpy(fresh, bytes, std::min(nameLength, nameSize) / 2 * 2);
    } else {
        nameLength = nameSize = 0;
    }
    delete[] r.name;
    r.name = fresh;
    r.nameLength = nameLength;
    r.nameSize = nameSize;
}

void AssignNameText(AttributeRecord& r, const std::u16string& text)
{
    const auto length = static_cast<DWORD>(text.size() * 2);
    AssignName(r, text.c_str(), length, length + 2);
}

void AssignValue(AttributeRecord& r, const void* bytes, DWORD valueLength, DWORD valueSize)
{
    BYTE* fresh = nullptr;
    if (bytes != nullptr && valueSize != 0) {
        fresh = new BYTE[static_cast<std::size_t>(valueSize) + 2]();
        std::memcpy(fresh, bytes, valueSize);
    } else {
        valueLength = valueSize = 0;
    }
    delete[] r.value;
    r.value = fresh;
    r.valueLength = valueLength;
    r.valueSize = valueSize;
}

void FreeBuffers(AttributeRecord& r)
{
    delete[] r.name;
    delete[] r.value;
    r.name = nullptr;
    r.value = nullptr;
}

AttributeRecord* CloneRecord(const AttributeRecord& r, bool loading)
{
    auto* copy = new AttributeRecord(r);
    copy->name = nullptr;
    copy->value = nullptr;
    DWORD nameLength = r.nameLength;
    DWORD valueLength = r.valueLength;
    if (!loading) {
        if (r.nameSize < 2)
            nameLength = 0;
        else if (nameLength > r.nameSize - 2)
            nameLength = (r.nameSize - 2) & ~1u;
        valueLength = std::min(valueLength, r.valueSize);
        copy->flags &= ~RECORD_PLACEMENT_BITS;
    }
    try {
        AssignName(*copy, r.name, nameLength, r.nameSize);
        AssignValue(*copy, r.value, valueLength, r.valueSize);
    } catch (...) {
        DeleteRecord(copy);
        throw;
    }
    return copy;
}

void DeleteRecord(AttributeRecord* r)
{
    if (r == nullptr)
        return;
    FreeBuffers(*r);
    delete r;
}

std::u16string NameText(const AttributeRecord& r)
{
    return TextOf(r.name, r.nameLength, r.nameSize);
}

std::u16string ValueText(const AttributeRecord& r)
{
    return TextOf(r.value, r.valueLength, r.valueSize);
}

} // namespace attrib
