#include "server/storage/attributes/Attribute.h"

#include "server/storage/attributes/AttributeDirectory.h"
#include "server/storage/attributes/AttributeGuard.h"
#include "server/storage/attributes/AttributeRecordHeader.h"
#include "server/storage/attributes/OemCodePage.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

namespace {

// The string protocol shared by GetName and GetString; length is the stored
// byte length of the text.
HRESULT CopyText(const std::u16string& text, DWORD length, char* buffer, LONG* count)
{
    if (count == nullptr)
        return E_POINTER;
    const LONG needed = length == 0 ? 0 : static_cast<LONG>(length / 2 + 1);
    if (buffer == nullptr && *count > 0) {
        *count = needed;
        return S_OK;
    }
    if (length == 0) {
        *count = 0;
        return E_FAIL;
    }
    if (*count < needed) {
        *count = needed;
        return E_OUTOFMEMORY;
    }
    std::memset(buffer, 0, static_cast<std::size_t>(*count));
    const std::string oem = WideToOem(text);
    std::memcpy(buffer, oem.data(), std::min<std::size_t>(oem.size(), static_cast<std::size_t>(*count) - 1));
    *count = static_cast<LONG>(length / 2);
    return S_OK;
}

} // namespace

CAttribute::CAttribute() = default;

CAttribute::~CAttribute() = default;

ULONG CAttribute::AddRef()
{
    return ++refs_;
}

ULONG CAttribute::Release()
{
    const ULONG n = --refs_;
    if (n == 0)
        delete this;
    return n;
}

HRESULT CAttribute::Changed()
{
    if (directory_ != nullptr)
        directory_->SetModified(1);
    return S_OK;
}

template <typename F>
HRESULT CAttribute::Change(F&& edit)
{
    return attrib::Guarded([&]() -> HRESULT {
        if (record_ == nullptr)
            return E_UNEXPECTED;
        edit(*record_);
        return Changed();
    });
}

template <typename T>
HRESULT CAttribute::Read(T* out, T value, HRESULT invalid) const
{
    if (out == nullptr)
        return invalid;
    *out = value;
    return S_OK;
}

void CAttribute::ApplyFlagBits(DWORD mask, DWORD values, bool raw)
{
    if (!raw) {
        mask &= ATTRIBUTE_FLAG_BITS;
        values &= ATTRIBUTE_FLAG_BITS;
    }
    record_->flagMask |= mask;
    record_->flags = (record_->flags & ~mask) | (values & mask);
}

// The flag word is replaced by 28 bits; the binary bit and the mark go, but
// a removed record stays removed and a sub-directory entry stays one.
void CAttribute::ReplaceFlagWord(DWORD values)
{
    record_->flags = (values & ATTRIBUTE_FLAG_BITS) | (record_->flags & RECORD_PLACEMENT_BITS);
}

HRESULT CAttribute::SetName(const char* name)
{
    if (name == nullptr)
        return E_INVALIDARG;
    return attrib::Guarded([&]() -> HRESULT {
        if (record_ == nullptr)
            return E_UNEXPECTED;
        CAttributeDirectory* sub = nullptr;
        if (directory_ != nullptr && SUCCEEDED(directory_->GetDirectory(name, &sub))) {
            sub->Release();
            return E_FAIL;
        }
        attrib::AssignNameText(*record_, OemToWide(name));
        return Changed();
    });
}

HRESULT CAttribute::GetName(char* buffer, LONG* count)
{
    return attrib::Guarded([&]() -> HRESULT {
        if (record_ == nullptr)
            return E_UNEXPECTED;
        return CopyText(attrib::NameText(*record_), record_->nameLength, buffer, count);
    });
}

HRESULT CAttribute::SetId(LONG id)
{
    return Change([&](AttributeRecord& r) { r.id = id; });
}

HRESULT CAttribute::GetId(LONG* id)
{
    return record_ == nullptr ? E_UNEXPECTED : Read(id, record_->id, E_INVALIDARG);
}

HRESULT CAttribute::SetAppId(LONG appId)
{
    return Change([&](AttributeRecord& r) { r.appId = appId; });
}

HRESULT CAttribute::GetAppId(LONG* appId)
{
    return record_ == nullptr ? E_UNEXPECTED : Read(appId, record_->appId, E_INVALIDARG);
}

HRESULT CAttribute::SetParam(LONG param)
{
    return Change([&](AttributeRecord& r) { r.param = param; });
}

HRESULT CAttribute::GetParam(LONG* param)
{
    return record_ == nullptr ? E_UNEXPECTED : Read(param, record_->param, E_INVALIDARG);
}

HRESULT CAttribute::SetFlags(DWORD mask, DWORD values)
{
    return Change([&](AttributeRecord& r) {
        r.flagMask = mask & ATTRIBUTE_FLAG_BITS;
        ReplaceFlagWord(values);
    });
}

HRESULT CAttribute::GetFlags(DWORD* mask, DWORD* values)
{
    if (record_ == nullptr)
        return E_UNEXPECTED;
    if (mask == nullptr || values == nullptr)
        return E_INVALIDARG;
    *mask = record_->flagMask & ATTRIBUTE_FLAG_BITS;
    *values = record_->flags & ATTRIBUTE_FLAG_BITS;
    return S_OK;
}

HRESULT CAttribute::SetFlag(DWORD bits, LONG on)
{
    return Change([&](AttributeRecord&) { ApplyFlagBits(bits, on == 1 ? bits : 0, false); });
}

HRESULT CAttribute::ClearFlags(DWORD bits)
{
    return Change([&](AttributeRecord& r) {
        bits &= ATTRIBUTE_FLAG_BITS;
        r.flagMask &= ~bits;
        r.flags &= ~bits;
    });
}

HRESULT CAttribute::GetFlag(DWORD bits, LONG* state)
{
    if (record_ == nullptr)
        return E_UNEXPECTED;
    if (state == nullptr)
        return E_INVALIDARG;
    if ((record_->flagMask & bits) == 0)
        *state = -1;
    else
        *state = (record_->flags & bits) != 0 ? 1 : 0;
    return S_OK;
}

HRESULT CAttribute::SetBinary(const BYTE* bytes, LONG count)
{
    if (count < 0 || (bytes == nullptr && count > 0))
        return E_INVALIDARG;
    return Change([&](AttributeRecord& r) {
        const auto n = static_cast<DWORD>(count);
        attrib::AssignValue(r, bytes, n, n);
        r.flags |= RECORD_BINARY;
    });
}

HRESULT CAttribute::GetBinary(BYTE* buffer, DWORD* count)
{
    if (record_ == nullptr)
        return E_UNEXPECTED;
    if (count == nullptr)
        return E_POINTER;
    const DWORD length = std::min(record_->valueLength, record_->valueSize);
    if (buffer == nullptr && *count > 0) {
        *count = length;
        return E_POINTER;
    }
    if (*count < length) {
        *count = length;
        return E_OUTOFMEMORY;
    }
    if (length != 0)
        std::memcpy(buffer, record_->value, length);
    return S_OK;
}

HRESULT CAttribute::SetString(const char* text)
{
    if (text == nullptr)
        return E_INVALIDARG;
    return Change([&](AttributeRecord& r) {
        const std::size_t bytes = std::strlen(text);
        if (bytes > (UINT_MAX - 2) / 2)
            throw std::bad_alloc();
        std::u16string wide = OemToWide(text);
        wide.resize(bytes + 1); // zero-filled, one UTF-16 unit per OEM byte
        const auto length = static_cast<DWORD>(bytes * 2);
        attrib::AssignValue(r, wide.data(), length, length + 2);
        r.flags &= ~RECORD_BINARY;
    });
}

HRESULT CAttribute::GetString(char* buffer, LONG* count)
{
    return attrib::Guarded([&]() -> HRESULT {
        if (record_ == nullptr)
            return E_UNEXPECTED;
        return CopyText(attrib::ValueText(*record_), record_->valueLength, buffer, count);
    });
}

HRESULT CAttribute::SetUserWord(DWORD word)
{
    return Change([&](AttributeRecord& r) { r.userWord = word; });
}

HRESULT CAttribute::GetUserWord(DWORD* word)
{
    return record_ == nullptr ? E_UNEXPECTED : Read(word, record_->userWord, E_INVALIDARG);
}

HRESULT CAttribute::SetTime(const SYSTEMTIME* time)
{
    if (time == nullptr)
        return E_INVALIDARG;
    if (record_ == nullptr)
        return E_UNEXPECTED;
    FILETIME ft{};
    if (!SystemTimeToFileTime(time, &ft))
        return S_OK;
    return Change([&](AttributeRecord& r) { r.time = ft; });
}

HRESULT CAttribute::SetFileTime(const FILETIME* time)
{
    if (time == nullptr)
        return E_INVALIDARG;
    return Change([&](AttributeRecord& r) { r.time = *time; });
}

HRESULT CAttribute::GetTime(SYSTEMTIME* time)
{
    if (record_ == nullptr)
        return E_UNEXPECTED;
    if (time == nullptr)
        return E_INVALIDARG;
    FileTimeToSystemTime(&record_->time, time);
    return S_OK;
}

HRESULT CAttribute::GetFileTime(FILETIME* time)
{
    return record_ == nullptr ? E_UNEXPECTED : Read(time, record_->time, E_INVALIDARG);
}

HRESULT CAttribute::SetParamNumber(LONG param)
{
    return SetParam(param);
}

HRESULT CAttribute::GetParamNumber(LONG* param)
{
    return record_ == nullptr ? E_UNEXPECTED : Read(param, record_->param, E_POINTER);
}

HRESULT CAttribute::SetMaskNumber(DWORD mask)
{
    return Change([&](AttributeRecord& r) { r.flagMask = mask & ATTRIBUTE_FLAG_BITS; });
}

HRESULT CAttribute::GetMaskNumber(DWORD* mask)
{
    return record_ == nullptr ? E_UNEXPECTED : Read(mask, record_->flagMask, E_POINTER);
}

HRESULT CAttribute::SetNumber(DWORD number)
{
    return Change([&](AttributeRecord&) { ReplaceFlagWord(number); });
}

HRESULT CAttribute::GetNumber(DWORD* number)
{
    return record_ == nullptr ? E_UNEXPECTED : Read(number, record_->flags, E_POINTER);
}

HRESULT CAttribute::SetTimeLow(DWORD low)
{
    return Change([&](AttributeRecord& r) { r.time.dwLowDateTime = low; });
}

HRESULT CAttribute::GetTimeLow(DWORD* low)
{
    return record_ == nullptr ? E_UNEXPECTED : Read(low, record_->time.dwLowDateTime, E_POINTER);
}

HRESULT CAttribute::SetTimeHigh(DWORD high)
{
    return Change([&](AttributeRecord& r) { r.time.dwHighDateTime = high; });
}

HRESULT CAttribute::GetTimeHigh(DWORD* high)
{
    return record_ == nullptr ? E_UNEXPECTED : Read(high, record_->time.dwHighDateTime, E_POINTER);
}

HRESULT CAttribute::ClearMark()
{
    return Change([&](AttributeRecord& r) {
        r.flagMask &= ~ATTRIBUTE_MARK;
        r.flags &= ~ATTRIBUTE_MARK;
    });
}

HRESULT CAttribute::SetMark()
{
    return Change([&](AttributeRecord&) { ApplyFlagBits(ATTRIBUTE_MARK, ATTRIBUTE_MARK, true); });
}

HRESULT CAttribute::IsUnmarked(BYTE* unmarked)
{
    LONG state = 0;
    const HRESULT hr = GetFlag(ATTRIBUTE_MARK, &state);
    if (FAILED(hr))
        return hr;
    if (unmarked == nullptr)
        return E_INVALIDARG;
    *unmarked = state == 1 ? 0 : 1;
    return S_OK;
}

HRESULT CAttribute::GetDirectory(CAttributeDirectory** directory)
{
    return Read(directory, directory_, E_INVALIDARG);
}

HRESULT CAttribute::GetSerializedSize(LONG* size)
{
    if (size == nullptr)
        return E_INVALIDARG;
    if (record_ == nullptr)
        return E_UNEXPECTED;
    return attrib::SizeResult(AttributeRecordHeader::FromRecord(*record_).RecordBytes(), size);
}

HRESULT CAttribute::Serialize(BYTE* buffer, LONG* size)
{
    if (size == nullptr)
        return E_INVALIDARG;
    LONG needed = 0;
    const HRESULT hr = GetSerializedSize(&needed);
    if (FAILED(hr))
        return hr;
    if (buffer == nullptr && *size > 0) {
        *size = needed;
        return E_INVALIDARG;
    }
    if (*size < needed) {
        *size = needed;
        return E_OUTOFMEMORY;
    }
    AttributeRecordHeader::WriteRecord(*record_, buffer);
    return S_OK;
}

HRESULT CAttribute::Load(const BYTE* buffer, LONG size)
{
    if (buffer == nullptr || size < static_cast<LONG>(AttributeRecordHeader::kSize))
        return E_INVALIDARG;
    const AttributeRecordHeader h = AttributeRecordHeader::Read(buffer);
    if (h.RecordBytes() > static_cast<unsigned long long>(size))
        return E_INVALIDARG;
    if (!h.IsConsistent())
        return E_INVALIDARG;
    if (record_ == nullptr)
        return E_UNEXPECTED;
    return Change([&](AttributeRecord& r) {
        // The new buffers are made first, so a failed allocation leaves the record whole.
        AttributeRecord fresh = h.ToRecord();
        const BYTE* name = buffer + AttributeRecordHeader::kSize;
        attrib::AssignName(fresh, name, h.nameLength, h.nameSize);
        try {
            attrib::AssignValue(fresh, name + h.nameSize, h.valueLength, h.valueSize);
        } catch (...) {
            attrib::FreeBuffers(fresh);
            throw;
        }
        fresh.flags = (h.flags & ~RECORD_PLACEMENT_BITS) | (r.flags & RECORD_PLACEMENT_BITS);
        attrib::FreeBuffers(r);
        r = fresh;
    });
}

HRESULT CAttribute::Attach(AttributeRecord* record, CAttributeDirectory* directory)
{
    if (record == nullptr || directory == nullptr)
        return E_INVALIDARG;
    record_ = record;
    directory_ = directory;
    return S_OK;
}

HRESULT CAttribute::GetRecord(AttributeRecord** record)
{
    return Read(record, record_, E_INVALIDARG);
}

HRESULT CAttribute::CreateAttached(AttributeRecord* record, CAttributeDirectory* directory, CAttribute** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    auto* handle = new (std::nothrow) CAttribute;
    if (handle == nullptr)
        return E_OUTOFMEMORY;
    const HRESULT hr = handle->Attach(record, directory);
    if (FAILED(hr)) {
        handle->Release();
        return hr;
    }
    *out = handle;
    return S_OK;
}
