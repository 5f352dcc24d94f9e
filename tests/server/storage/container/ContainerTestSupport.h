#pragma once
// Helpers for the container tests and the settings handler tests.

#include "server/storage/attributes/Attribute.h"
#include "server/storage/attributes/AttributeDirectory.h"
#include "server/storage/attributes/AttributeRecordHeader.h"
#include "server/storage/container/DynIO.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace tqtest {

using Bytes = std::vector<BYTE>;

// Adds a text attribute; returns whether it went in.
inline bool AddText(CAttributeDirectory& dir, const char* name, LONG appId, LONG id, const char* value)
{
    CAttribute* a = nullptr;
    if (FAILED(dir.CreateAttribute(name, appId, id, &a, 0)))
        return false;
    const bool ok = SUCCEEDED(a->SetString(value));
    a->Release();
    return ok;
}

inline bool AddBinary(CAttributeDirectory& dir, const char* name, LONG appId, LONG id, const Bytes& value)
{
    CAttribute* a = nullptr;
    if (FAILED(dir.CreateAttribute(name, appId, id, &a, 0)))
        return false;
    const bool ok = SUCCEEDED(a->SetBinary(value.data(), static_cast<LONG>(value.size())));
    a->Release();
    return ok;
}

// The directory's record stream (serialising clears its modified flag).
inline Bytes StreamOf(CAttributeDirectory& dir)
{
    LONG size = 0;
    EXPECT_TRUE(SUCCEEDED(dir.GetSerializedSize(&size)));
    Bytes bytes(static_cast<size_t>(size));
    EXPECT_EQ(dir.Serialize(bytes.data(), &size), S_OK);
    return bytes;
}

inline LONG CountOf(CAttributeDirectory& dir)
{
    LONG count = -1;
    dir.GetCount(&count);
    return count;
}

inline Bytes RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    Bytes bytes(n);
    for (BYTE& b : bytes)
        b = static_cast<BYTE>(gen());
    return bytes;
}

inline DWORD WordAt(const Bytes& file, size_t offset)
{
    return static_cast<DWORD>(file[offset]) | static_cast<DWORD>(file[offset + 1]) << 8 |
           static_cast<DWORD>(file[offset + 2]) << 16 | static_cast<DWORD>(file[offset + 3]) << 24;
}

inline void PutWord(Bytes& file, size_t offset, DWORD value)
{
    for (int i = 0; i < 4; ++i)
        file[offset + i] = static_cast<BYTE>(value >> (8 * i));
}

} // namespace tqtest
