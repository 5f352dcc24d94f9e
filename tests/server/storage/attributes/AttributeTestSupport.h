#pragma once
// Helpers for the attribute store's tests.

#include "server/storage/attributes/Attribute.h"
#include "server/storage/attributes/AttributeDirectory.h"
#include "server/storage/attributes/AttributeList.h"
#include "server/storage/attributes/AttributeQuery.h"
#include "server/storage/attributes/AttributeRecordHeader.h"
#include "server/storage/attributes/ClassReferenceCount.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace attrtest {

// Owns one reference; releases it when it goes or is reused as an out pointer.
template <typename T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* p) : p_(p) {}
    ~Ref() { Reset(); }
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept
    {
        if (this != &o) {
            Reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;

    T** Out()
    {
        Reset();
        return &p_;
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void Reset()
    {
        if (p_ != nullptr)
            p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

// Every test ends with no attribute object alive: whatever it was handed, it gave back.
class AttributeStoreTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (AttributeClass c : {AttributeClass::Directory, AttributeClass::Query, AttributeClass::Attribute,
                                 AttributeClass::List})
            EXPECT_EQ(LiveAttributeObjects(c), 0) << LiveAttributeObjectsReport();
    }
};

struct Criterion {
    DWORD selector;
    DWORD op;
    std::uintptr_t value;
    DWORD length;
};

inline Criterion Text(DWORD selector, DWORD op, const char* text)
{
    return Criterion{selector, op, reinterpret_cast<std::uintptr_t>(text), static_cast<DWORD>(std::strlen(text))};
}

inline Criterion Number(DWORD selector, DWORD op, LONG value)
{
    return Criterion{selector, op, static_cast<std::uintptr_t>(static_cast<DWORD>(value)), 0};
}

inline Ref<CAttributeQuery> MakeQuery(std::initializer_list<Criterion> criteria)
{
    Ref<CAttributeQuery> q(new CAttributeQuery);
    for (const Criterion& c : criteria)
        EXPECT_EQ(q->AddCriterion(c.selector, c.op, c.value, c.length), S_OK);
    return q;
}

inline std::string NameOf(CAttribute* a)
{
    char buffer[300] = {};
    LONG count = sizeof buffer;
    return SUCCEEDED(a->GetName(buffer, &count)) ? std::string(buffer) : std::string();
}

inline std::string StringOf(CAttribute* a)
{
    char buffer[300] = {};
    LONG count = sizeof buffer;
    return SUCCEEDED(a->GetString(buffer, &count)) ? std::string(buffer) : std::string();
}

// The names of a list's attributes in cursor order.
inline std::vector<std::string> Names(CAttributeList* list)
{
    std::vector<std::string> names;
    Ref<CAttribute> a;
    for (HRESULT hr = list->GetFirst(a.Out()); hr == S_OK; hr = list->GetNext(a.Out()))
        names.push_back(NameOf(a.Get()));
    return names;
}

// The names of a directory's attributes in cursor order.
inline std::vector<std::string> Names(CAttributeDirectory& dir)
{
    std::vector<std::string> names;
    Ref<CAttribute> a;
    for (HRESULT hr = dir.GetFirstAttribute(a.Out()); hr == S_OK; hr = dir.GetNextAttribute(a.Out()))
        names.push_back(NameOf(a.Get()));
    return names;
}

inline std::vector<BYTE> Bytes(CAttributeDirectory& dir)
{
    LONG size = 0;
    EXPECT_EQ(dir.GetSerializedSize(&size), S_OK);
    std::vector<BYTE> bytes(static_cast<std::size_t>(size));
    EXPECT_EQ(dir.Serialize(bytes.data(), &size), S_OK);
    return bytes;
}

inline BYTE Modified(CAttributeDirectory& dir)
{
    BYTE m = 0xEE;
    EXPECT_EQ(dir.IsModified(&m), S_OK);
    return m;
}

inline LONG Count(CAttributeDirectory& dir)
{
    LONG n = -1;
    EXPECT_EQ(dir.GetCount(&n), S_OK);
    return n;
}

// One record of a stream, written byte by byte so that the tests do not
// depend on the header code they check.
struct RawRecord {
    DWORD nameLength = 0;
    DWORD nameSize = 0;
    LONG id = 0;
    LONG appId = 0;
    LONG param = 0;
    DWORD flagMask = 0;
    DWORD flags = 0;
    DWORD valueLength = 0;
    DWORD valueSize = 0;
    DWORD userWord = 0;
    ULONGLONG time = 0;
    std::vector<BYTE> name;  // nameSize bytes normally
    std::vector<BYTE> value; // valueSize bytes normally

    static RawRecord Named(const std::u16string& text)
    {
        RawRecord r;
        r.nameLength = static_cast<DWORD>(text.size() * 2);
        r.nameSize = r.nameLength + 2;
        for (char16_t c : text) {
            r.name.push_back(static_cast<BYTE>(c));
            r.name.push_back(static_cast<BYTE>(c >> 8));
        }
        r.name.push_back(0);
        r.name.push_back(0);
        return r;
    }
    RawRecord& Value(const std::vector<BYTE>& bytes)
    {
        value = bytes;
        valueLength = valueSize = static_cast<DWORD>(bytes.size());
        return *this;
    }
};

inline void PutWord(std::vector<BYTE>& out, DWORD v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<BYTE>(v >> (8 * i)));
}

inline void Append(std::vector<BYTE>& out, const RawRecord& r)
{
    for (DWORD w : {r.nameLength, r.nameSize, 0u, static_cast<DWORD>(r.id), static_cast<DWORD>(r.appId),
                    static_cast<DWORD>(r.param), r.flagMask, r.flags, r.valueLength, r.valueSize, 0u, r.userWord,
                    static_cast<DWORD>(r.time), static_cast<DWORD>(r.time >> 32)})
        PutWord(out, w);
    out.insert(out.end(), r.name.begin(), r.name.end());
    out.insert(out.end(), r.value.begin(), r.value.end());
}

inline std::vector<BYTE> Stream(std::initializer_list<RawRecord> records)
{
    std::vector<BYTE> out;
    for (const RawRecord& r : records)
        Append(out, r);
    return out;
}

inline DWORD WordAt(const std::vector<BYTE>& b, std::size_t offset)
{
    return static_cast<DWORD>(b.at(offset)) | static_cast<DWORD>(b.at(offset + 1)) << 8 |
           static_cast<DWORD>(b.at(offset + 2)) << 16 | static_cast<DWORD>(b.at(offset + 3)) << 24;
}

inline HRESULT Load(CAttributeDirectory& dir, const std::vector<BYTE>& bytes)
{
    return dir.LoadFromBuffer(bytes.data(), static_cast<LONG>(bytes.size()));
}

} // namespace attrtest
