#include "server/storage/attributes/AttributeList.h"

#include "server/storage/attributes/Attribute.h"
#include "server/storage/attributes/AttributeDirectory.h"
#include "server/storage/attributes/AttributeGuard.h"
#include "server/storage/attributes/AttributeMatch.h"
#include "server/storage/attributes/AttributeQuery.h"
#include "server/storage/attributes/AttributeRecordHeader.h"
#include "server/storage/attributes/AttributeSnapshot.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

bool IsLive(const AttributeRecord* r)
{
    return (r->flags & RECORD_REMOVED) == 0;
}

} // namespace

CAttributeList::CAttributeList() : cursor_(records_.end()) {}

CAttributeList::~CAttributeList() = default;

ULONG CAttributeList::AddRef()
{
    return static_cast<ULONG>(++refs_);
}

ULONG CAttributeList::Release()
{
    const LONG n = --refs_;
    if (n == 0)
        delete this;
    return static_cast<ULONG>(n);
}

HRESULT CAttributeList::CreateResult(const AttributeRecordSequence& records, CAttributeDirectory* directory,
                                     CAttributeList** list, CAttribute** first)
{
    if (list == nullptr)
        return E_POINTER;
    *list = nullptr;
    if (first != nullptr)
        *first = nullptr;
    auto* fresh = new (std::nothrow) CAttributeList;
    if (fresh == nullptr)
        return E_OUTOFMEMORY;
    HRESULT hr = fresh->FillFromDirectory(records, directory);
    if (SUCCEEDED(hr) && first != nullptr)
        hr = fresh->GetFirst(first);
    if (FAILED(hr)) {
        fresh->Release();
        if (first != nullptr)
            *first = nullptr;
        return hr;
    }
    *list = fresh;
    return S_OK;
}

template <typename F>
HRESULT CAttributeList::ForwardAndAppend(F&& create, CAttribute** attribute)
{
    if (attribute != nullptr)
        *attribute = nullptr;
    if (directory_ == nullptr)
        return E_FAIL;
    return attrib::Guarded([&]() -> HRESULT {
        CAttribute* handle = nullptr;
        const HRESULT hr = create(&handle);
        if (handle == nullptr)
            return hr;
        AttributeRecord* r = nullptr;
        try {
            if (SUCCEEDED(hr) && SUCCEEDED(handle->GetRecord(&r)))
                records_.push_back(r);
        } catch (...) {
            handle->Release();
            throw;
        }
        if (attribute != nullptr)
            *attribute = handle;
        else
            handle->Release();
        return hr;
    });
}

HRESULT CAttributeList::CreateAttribute(const char* name, LONG appId, LONG id, CAttribute** attribute, BYTE unique)
{
    return ForwardAndAppend([&](CAttribute** h) { return directory_->CreateAttribute(name, appId, id, h, unique); },
                            attribute);
}

HRESULT CAttributeList::AddRecord(const AttributeRecord* record, CAttribute** attribute, BYTE unique)
{
    return ForwardAndAppend([&](CAttribute** h) { return directory_->AddRecord(record, h, unique); }, attribute);
}

HRESULT CAttributeList::AddAttributeCopy(CAttribute* source, CAttribute** attribute, BYTE unique)
{
    return ForwardAndAppend([&](CAttribute** h) { return directory_->AddAttributeCopy(source, h, unique); },
                            attribute);
}

HRESULT CAttributeList::HandleAtCursor(CAttribute** attribute)
{
    return CAttribute::CreateAttached(*cursor_, directory_, attribute);
}

HRESULT CAttributeList::GetFirst(CAttribute** attribute)
{
    if (attribute == nullptr)
        return E_INVALIDARG;
    *attribute = nullptr;
    cursor_ = std::find_if(records_.begin(), records_.end(), IsLive);
    if (cursor_ == records_.end())
        return E_OUTOFMEMORY;
    return HandleAtCursor(attribute);
}

HRESULT CAttributeList::GetNext(CAttribute** attribute)
{
    if (attribute == nullptr)
        return E_INVALIDARG;
    if (cursor_ == records_.end())
        return E_OUTOFMEMORY;
    *attribute = nullptr;
    cursor_ = std::find_if(std::next(cursor_), records_.end(), IsLive);
    if (cursor_ == records_.end())
        return E_OUTOFMEMORY;
    return HandleAtCursor(attribute);
}

HRESULT CAttributeList::GetPrevious(CAttribute** attribute)
{
    if (attribute == nullptr)
        return E_INVALIDARG;
    *attribute = nullptr;
    if (cursor_ == records_.begin())
        return E_OUTOFMEMORY;
    for (auto it = cursor_; it != records_.begin();) {
        --it;
        if (IsLive(*it)) {
            cursor_ = it;
            return HandleAtCursor(attribute);
        }
    }
    cursor_ = records_.begin();
    return E_OUTOFMEMORY;
}

HRESULT CAttributeList::GetLast(CAttribute** attribute)
{
    if (attribute == nullptr)
        return E_INVALIDARG;
    *attribute = nullptr;
    for (auto it = records_.end(); it != records_.begin();) {
        --it;
        if (IsLive(*it)) {
            cursor_ = it;
            return HandleAtCursor(attribute);
        }
    }
    cursor_ = records_.end();
    return E_OUTOFMEMORY;
}

HRESULT CAttributeList::RemoveRecord(const AttributeRecord* record)
{
    return directory_ == nullptr ? E_FAIL : directory_->RemoveRecord(record);
}

HRESULT CAttributeList::RemoveAttribute(CAttribute* attribute)
{
    return directory_ == nullptr ? E_FAIL : directory_->RemoveAttribute(attribute);
}

HRESULT CAttributeList::GetCount(LONG* count)
{
    if (count == nullptr)
        return E_INVALIDARG;
    *count = static_cast<LONG>(std::count_if(records_.begin(), records_.end(), IsLive));
    return S_OK;
}

HRESULT CAttributeList::RemoveAll()
{
    if (directory_ != nullptr) {
        for (AttributeRecord* r : records_)
            directory_->RemoveRecord(r);
    }
    records_.clear();
    cursor_ = records_.end();
    return S_OK;
}

HRESULT CAttributeList::AddFromDirectory(CAttributeDirectory* source, BYTE unique)
{
    return attrib::CopyAttributes(*this, source, unique);
}

HRESULT CAttributeList::AddFromList(CAttributeList* source, BYTE unique)
{
    return attrib::CopyAttributes(*this, source, unique);
}

template <typename F>
HRESULT CAttributeList::ForEachLive(F&& edit)
{
    for (AttributeRecord* r : records_) {
        if (IsLive(r))
            edit(*r);
    }
    if (directory_ != nullptr)
        directory_->SetModified(1);
    return S_OK;
}

HRESULT CAttributeList::SetAppIdAll(LONG appId)
{
    return ForEachLive([&](AttributeRecord& r) { r.appId = appId; });
}

HRESULT CAttributeList::SetMarkAll()
{
    return ForEachLive([](AttributeRecord& r) {
        r.flagMask |= ATTRIBUTE_MARK;
        r.flags |= ATTRIBUTE_MARK;
    });
}

HRESULT CAttributeList::ClearMarkAll()
{
    return ForEachLive([](AttributeRecord& r) {
        r.flagMask &= ~ATTRIBUTE_MARK;
        r.flags &= ~ATTRIBUTE_MARK;
    });
}

HRESULT CAttributeList::SetUserWordAll(DWORD word)
{
    return ForEachLive([&](AttributeRecord& r) { r.userWord = word; });
}

HRESULT CAttributeList::SetFlagsAll(DWORD mask, DWORD values)
{
    return ForEachLive([&](AttributeRecord& r) {
        r.flagMask = mask & ATTRIBUTE_FLAG_BITS;
        r.flags = (values & ATTRIBUTE_FLAG_BITS) | (r.flags & RECORD_PLACEMENT_BITS);
    });
}

HRESULT CAttributeList::FindAttributes(AttributeFilter filter, std::uintptr_t userData, CAttributeList** list,
                                       CAttribute** first)
{
    if (filter == nullptr || list == nullptr)
        return E_INVALIDARG;
    *list = nullptr;
    if (first != nullptr)
        *first = nullptr;
    return attrib::Guarded([&] {
        // A copy: a filter that adds attributes through this list does not see them.
        const AttributeRecordSequence offered = records_;
        return FilterRecords(offered, directory_, filter, userData, list, first);
    });
}

HRESULT CAttributeList::QueryAttributes(CAttributeQuery* query, CAttributeList** list, CAttribute** first)
{
    if (query == nullptr || list == nullptr)
        return E_INVALIDARG;
    *list = nullptr;
    if (first != nullptr)
        *first = nullptr;
    return attrib::Guarded([&]() -> HRESULT {
        const auto find = [this](AttributeFilter filter, std::uintptr_t data, CAttributeList** l, CAttribute** f) {
            return FindAttributes(filter, data, l, f);
        };
        // The list's records are the directory's: a change there counts too,
        // and the change count also catches changes a save has since marked clean.
        const auto changed = [this] {
            BYTE modified = 0;
            if (directory_ != nullptr)
                directory_->IsModified(&modified);
            const unsigned long long changes = directory_ != nullptr ? directory_->ChangeCount() : 0;
            const bool outdated = modified != 0 || changes != indexedChangeCount_;
            indexedChangeCount_ = changes;
            return outdated;
        };
        return queries_.Run(*query, records_, directory_, find, changed, list, first);
    });
}

HRESULT CAttributeList::GetSerializedSize(LONG* size)
{
    if (size == nullptr)
        return E_INVALIDARG;
    unsigned long long n = 0;
    for (const AttributeRecord* r : records_) {
        if (IsLive(r))
            n += AttributeRecordHeader::FromRecord(*r).RecordBytes();
    }
    return attrib::SizeResult(n, size);
}

HRESULT CAttributeList::Serialize(BYTE* buffer, LONG* size)
{
    if (size == nullptr)
        return E_POINTER;
    LONG needed = 0;
    if (FAILED(GetSerializedSize(&needed)))
        return E_FAIL;
    if (buffer == nullptr && *size > 0) {
        *size = needed;
        return E_POINTER;
    }
    if (*size < needed) {
        *size = needed;
        return E_OUTOFMEMORY;
    }
    std::size_t pos = 0;
    for (const AttributeRecord* r : records_) {
        if (IsLive(r))
            pos += AttributeRecordHeader::WriteRecord(*r, buffer + pos);
    }
    *size = needed;
    return S_OK;
}

HRESULT CAttributeList::LoadFromBuffer(const BYTE* buffer, LONG length)
{
    if (length < 0 || (buffer == nullptr && length > 0))
        return E_POINTER;
    std::size_t pos = 0;
    const auto end = static_cast<std::size_t>(length);
    while (pos < end) {
        const std::size_t left = end - pos;
        if (left < AttributeRecordHeader::kSize)
            return E_FAIL;
        const AttributeRecordHeader h = AttributeRecordHeader::Read(buffer + pos);
        if (h.RecordBytes() > left || !h.IsConsistent())
            return E_FAIL;
        const AttributeRecord r = AttributeRecordHeader::RecordAt(buffer + pos);
        if (FAILED(AddRecord(&r, nullptr, 1)))
            return E_FAIL;
        pos += static_cast<std::size_t>(h.RecordBytes());
    }
    return S_OK;
}

HRESULT CAttributeList::FillFromDirectory(const AttributeRecordSequence& records, CAttributeDirectory* directory)
{
    if (directory == nullptr)
        return E_INVALIDARG;
    return attrib::Guarded([&]() -> HRESULT {
        directory_ = directory;
        if (&records != &records_)
            records_ = records;
        cursor_ = records_.begin();
        queries_.MarkStale();
        return S_OK;
    });
}
