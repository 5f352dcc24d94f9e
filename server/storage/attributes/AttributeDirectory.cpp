#include "server/storage/attributes/AttributeDirectory.h"

#include "server/storage/attributes/Attribute.h"
#include "server/storage/attributes/AttributeGuard.h"
#include "server/storage/attributes/AttributeList.h"
#include "server/storage/attributes/AttributeMatch.h"
#include "server/storage/attributes/AttributeQuery.h"
#include "server/storage/attributes/AttributeRecordHeader.h"
#include "server/storage/attributes/AttributeSnapshot.h"
#include "server/storage/attributes/OemCodePage.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

namespace {

// A record carrying just a name, for the lookups and inserts that start from one.
struct NamedRecord {
    std::u16string text;
    AttributeRecord record;

    explicit NamedRecord(const char* name) : text(OemToWide(name))
    {
        record.name = text.data();
        record.nameLength = static_cast<DWORD>(text.size() * 2);
        record.nameSize = record.nameLength + 2;
    }
};

bool IsVisible(const AttributeRecord* r)
{
    return IsVisibleAttribute(*r);
}

} // namespace

CAttributeDirectory::CAttributeDirectory() : cursor_(records_.end()) {}

CAttributeDirectory::~CAttributeDirectory()
{
    ReleaseChildren();
    for (AttributeRecord* r : records_)
        attrib::DeleteRecord(r);
}

ULONG CAttributeDirectory::AddRef()
{
    return static_cast<ULONG>(++refs_);
}

ULONG CAttributeDirectory::Release()
{
    const LONG n = --refs_;
    if (n == 0)
        delete this;
    return static_cast<ULONG>(n);
}

AttributeRecordSequence CAttributeDirectory::VisibleRecords() const
{
    AttributeRecordSequence visible;
    for (AttributeRecord* r : records_) {
        if (IsVisibleAttribute(*r))
            visible.push_back(r);
    }
    return visible;
}

HRESULT CAttributeDirectory::GetAllAttributes(CAttributeList** list)
{
    if (list == nullptr)
        return E_POINTER;
    return attrib::Guarded([&] { return CAttributeList::CreateResult(VisibleRecords(), this, list, nullptr); });
}

HRESULT CAttributeDirectory::FindAttributes(AttributeFilter filter, std::uintptr_t userData, CAttributeList** list,
                                            CAttribute** first)
{
    if (filter == nullptr)
        return E_INVALIDARG;
    if (list == nullptr)
        return E_POINTER;
    *list = nullptr;
    if (first != nullptr)
        *first = nullptr;
    return attrib::Guarded(
        [&] { return FilterRecords(VisibleRecords(), this, filter, userData, list, first); });
}

HRESULT CAttributeDirectory::QueryAttributes(CAttributeQuery* query, CAttributeList** list, CAttribute** first)
{
    if (query == nullptr)
        return E_INVALIDARG;
    if (list == nullptr)
        return E_POINTER;
    *list = nullptr;
    if (first != nullptr)
        *first = nullptr;
    return attrib::Guarded([&]() -> HRESULT {
        const auto find = [this](AttributeFilter filter, std::uintptr_t data, CAttributeList** l, CAttribute** f) {
            return FindAttributes(filter, data, l, f);
        };
        return queries_.Run(*query, records_, this, find, nullptr, list, first);
    });
}

HRESULT CAttributeDirectory::CreateAttribute(const char* name, LONG appId, LONG id, CAttribute** attribute,
                                             BYTE unique)
{
    if (name == nullptr)
        return E_INVALIDARG;
    if (attribute != nullptr)
        *attribute = nullptr;
    return attrib::Guarded([&]() -> HRESULT {
        NamedRecord r(name);
        if (FindDirectoryRecord(r.text) != nullptr)
            return E_FAIL;
        r.record.appId = appId;
        r.record.id = id;
        return InsertAndHand(r.record, attribute, unique);
    });
}

HRESULT CAttributeDirectory::CreateDirectory(const char* name, CAttributeDirectory** directory)
{
    if (name == nullptr)
        return E_INVALIDARG;
    if (directory == nullptr)
        return E_POINTER;
    *directory = nullptr;
    return attrib::Guarded([&]() -> HRESULT {
        if (depth_ + 1 > kMaxDepth)
            return E_FAIL;
        NamedRecord r(name);
        if (FindDirectoryRecord(r.text) != nullptr)
            return E_FAIL;
        auto* child = new CAttributeDirectory;
        child->depth_ = depth_ + 1;
        AttributeRecord* inserted = nullptr;
        HRESULT hr = E_FAIL;
        try {
            hr = InsertRecord(r.record, 1, false, &inserted);
            if (SUCCEEDED(hr)) {
                inserted->flags |= RECORD_DIRECTORY;
                EnterChild(inserted, child);
            }
        } catch (...) {
            if (inserted != nullptr)
                inserted->flags |= RECORD_REMOVED;
            child->Release();
            throw;
        }
        if (FAILED(hr)) {
            child->Release();
            return hr;
        }
        child->AddRef();
        *directory = child;
        return S_OK;
    });
}

HRESULT CAttributeDirectory::GetDirectory(const char* name, CAttributeDirectory** directory)
{
    if (name == nullptr)
        return E_INVALIDARG;
    if (directory == nullptr)
        return E_POINTER;
    *directory = nullptr;
    return attrib::Guarded([&]() -> HRESULT {
        const auto it = names_.find(name);
        if (it == names_.end())
            return E_FAIL;
        it->second->AddRef();
        *directory = it->second;
        return S_OK;
    });
}

HRESULT CAttributeDirectory::AddRecord(const AttributeRecord* record, CAttribute** attribute, BYTE unique)
{
    if (record == nullptr)
        return E_INVALIDARG;
    if (attribute != nullptr)
        *attribute = nullptr;
    return attrib::Guarded([&] { return InsertAndHand(*record, attribute, unique); });
}

HRESULT CAttributeDirectory::AddAttributeCopy(CAttribute* source, CAttribute** attribute, BYTE unique)
{
    if (source == nullptr)
        return E_INVALIDARG;
    if (attribute != nullptr)
        *attribute = nullptr;
    return attrib::Guarded([&]() -> HRESULT {
        LONG size = 0;
        if (FAILED(source->GetSerializedSize(&size)) || size < static_cast<LONG>(AttributeRecordHeader::kSize))
            return E_FAIL;
        std::vector<BYTE> bytes(static_cast<std::size_t>(size));
        if (FAILED(source->Serialize(bytes.data(), &size)))
            return E_FAIL;
        const AttributeRecord r = AttributeRecordHeader::RecordAt(bytes.data());
        return InsertAndHand(r, attribute, unique);
    });
}

HRESULT CAttributeDirectory::CopyDirectory(const char* name, CAttributeDirectory* source,
                                           CAttributeDirectory** directory)
{
    if (name == nullptr || source == nullptr)
        return E_INVALIDARG;
    if (directory == nullptr)
        return E_POINTER;
    *directory = nullptr;
    CAttributeDirectory* child = nullptr;
    HRESULT hr = CreateDirectory(name, &child);
    if (FAILED(hr))
        return hr;
    hr = attrib::Guarded([&]() -> HRESULT {
        // Copying reads the source without marking it saved.
        const unsigned long long n = source->StreamBytes();
        if (n > static_cast<unsigned long long>(INT32_MAX))
            return E_OUTOFMEMORY;
        std::vector<BYTE> stream(static_cast<std::size_t>(n));
        std::size_t written = 0;
        const HRESULT write = source->WriteStream(stream.data(), stream.size(), written);
        if (FAILED(write))
            return write;
        return child->LoadFromBuffer(stream.data(), static_cast<LONG>(written));
    });
    if (FAILED(hr)) {
        child->Release();
        RemoveDirectory(name);
        return hr;
    }
    *directory = child;
    return S_OK;
}

HRESULT CAttributeDirectory::AddFromDirectory(CAttributeDirectory* source, BYTE unique)
{
    return attrib::CopyAttributes(*this, source, unique);
}

HRESULT CAttributeDirectory::AddFromList(CAttributeList* source, BYTE unique)
{
    return attrib::CopyAttributes(*this, source, unique);
}

HRESULT CAttributeDirectory::RemoveRecord(const AttributeRecord* record)
{
    if (record == nullptr)
        return E_INVALIDARG;
    return attrib::Guarded([&] { return MarkRecordRemoved(*record); });
}

HRESULT CAttributeDirectory::RemoveAttribute(CAttribute* attribute)
{
    if (attribute == nullptr)
        return E_INVALIDARG;
    return attrib::Guarded([&]() -> HRESULT {
        AttributeRecord* r = nullptr;
        if (FAILED(attribute->GetRecord(&r)) || r == nullptr)
            return E_FAIL;
        return FAILED(MarkRecordRemoved(*r)) ? E_FAIL : S_OK;
    });
}

HRESULT CAttributeDirectory::RemoveDirectory(const char* name)
{
    if (name == nullptr)
        return E_INVALIDARG;
    return attrib::Guarded([&]() -> HRESULT {
        const auto named = names_.find(name);
        if (named == names_.end())
            return E_FAIL;
        CAttributeDirectory* child = named->second;
        const std::string key = named->first;
        names_.erase(named);
        const auto entry = std::find_if(subdirectories_.begin(), subdirectories_.end(),
                                        [&](const SubDirectory& s) { return s.child == child; });
        if (entry != subdirectories_.end()) {
            entry->record->flags |= RECORD_REMOVED;
            const auto index = static_cast<std::size_t>(entry - subdirectories_.begin());
            subdirectories_.erase(entry);
            if (subdirectoryCursor_ != kNoPosition && subdirectoryCursor_ > index)
                --subdirectoryCursor_;
        }
        // A second sub-directory of the same name (a stream may hold two) takes its place.
        ReindexName(key);
        child->Release();
        SetModified(1);
        return S_OK;
    });
}

HRESULT CAttributeDirectory::GetCount(LONG* count)
{
    if (count == nullptr)
        return E_POINTER;
    *count = static_cast<LONG>(std::count_if(records_.begin(), records_.end(), [](const AttributeRecord* r) {
        return (r->flags & RECORD_REMOVED) == 0;
    }));
    return S_OK;
}

HRESULT CAttributeDirectory::Clear()
{
    return attrib::Guarded([&]() -> HRESULT {
        loadCharge_.reset();
        ReleaseChildren();
        for (AttributeRecord* r : records_)
            attrib::DeleteRecord(r);
        records_.clear();
        cursor_ = records_.end();
        queries_.Clear();
        return SetModified(1);
    });
}

AttributeRecordSequence::iterator CAttributeDirectory::LastVisibleBefore(AttributeRecordSequence::iterator end)
{
    for (auto it = end; it != records_.begin();) {
        --it;
        if (IsVisible(*it))
            return it;
    }
    return records_.end();
}

HRESULT CAttributeDirectory::HandAt(AttributeRecordSequence::iterator it, CAttribute** attribute)
{
    if (it == records_.end())
        return E_OUTOFMEMORY;
    cursor_ = it;
    return CAttribute::CreateAttached(*it, this, attribute);
}

HRESULT CAttributeDirectory::GetFirstAttribute(CAttribute** attribute)
{
    if (attribute == nullptr)
        return E_POINTER;
    *attribute = nullptr;
    cursor_ = std::find_if(records_.begin(), records_.end(), IsVisible);
    return HandAt(cursor_, attribute);
}

HRESULT CAttributeDirectory::GetNextAttribute(CAttribute** attribute)
{
    if (attribute == nullptr)
        return E_POINTER;
    *attribute = nullptr;
    if (cursor_ == records_.end())
        return E_OUTOFMEMORY;
    cursor_ = std::find_if(std::next(cursor_), records_.end(), IsVisible);
    return HandAt(cursor_, attribute);
}

HRESULT CAttributeDirectory::GetPreviousAttribute(CAttribute** attribute)
{
    if (attribute == nullptr)
        return E_POINTER;
    *attribute = nullptr;
    // Without one the cursor stays where it is.
    return HandAt(LastVisibleBefore(cursor_), attribute);
}

HRESULT CAttributeDirectory::GetLastAttribute(CAttribute** attribute)
{
    if (attribute == nullptr)
        return E_POINTER;
    *attribute = nullptr;
    cursor_ = LastVisibleBefore(records_.end());
    return HandAt(cursor_, attribute);
}

HRESULT CAttributeDirectory::DirectoryAt(std::size_t index, CAttributeDirectory** directory, char* name, LONG size)
{
    subdirectoryCursor_ = index;
    if (index >= subdirectories_.size())
        return E_OUTOFMEMORY;
    const SubDirectory& s = subdirectories_[index];
    if (size > 0) {
        const std::string oem = WideToOem(attrib::NameText(*s.record));
        const std::size_t n = std::min<std::size_t>(oem.size(), static_cast<std::size_t>(size) - 1);
        std::memcpy(name, oem.data(), n);
        name[n] = '\0';
    }
    if (directory != nullptr) {
        s.child->AddRef();
        *directory = s.child;
    }
    return S_OK;
}

HRESULT CAttributeDirectory::GetFirstDirectoryName(CAttributeDirectory** directory, char* name, LONG size)
{
    if (name == nullptr && size > 0)
        return E_INVALIDARG;
    if (directory != nullptr)
        *directory = nullptr;
    return attrib::Guarded([&] { return DirectoryAt(0, directory, name, size); });
}

HRESULT CAttributeDirectory::GetNextDirectoryName(CAttributeDirectory** directory, char* name, LONG size)
{
    if (name == nullptr && size > 0)
        return E_INVALIDARG;
    if (directory != nullptr)
        *directory = nullptr;
    if (subdirectoryCursor_ == kNoPosition || subdirectoryCursor_ >= subdirectories_.size())
        return E_OUTOFMEMORY;
    return attrib::Guarded([&] { return DirectoryAt(subdirectoryCursor_ + 1, directory, name, size); });
}

HRESULT CAttributeDirectory::GetPreviousDirectoryName(CAttributeDirectory** directory, char* name, LONG size)
{
    if (directory == nullptr)
        return E_POINTER;
    if (name == nullptr && size > 0)
        return E_INVALIDARG;
    *directory = nullptr;
    if (subdirectoryCursor_ == kNoPosition || subdirectoryCursor_ == 0 || subdirectories_.empty())
        return E_OUTOFMEMORY;
    const std::size_t from = std::min(subdirectoryCursor_, subdirectories_.size());
    return attrib::Guarded([&] { return DirectoryAt(from - 1, directory, name, size); });
}

HRESULT CAttributeDirectory::GetLastDirectoryName(CAttributeDirectory** directory, char* name, LONG size)
{
    if (directory == nullptr)
        return E_POINTER;
    if (name == nullptr && size > 0)
        return E_INVALIDARG;
    *directory = nullptr;
    if (subdirectories_.empty())
        return E_OUTOFMEMORY;
    return attrib::Guarded([&] { return DirectoryAt(subdirectories_.size() - 1, directory, name, size); });
}

bool CAttributeDirectory::AnyModified() const
{
    if (modified_ != 0)
        return true;
    return std::any_of(subdirectories_.begin(), subdirectories_.end(),
                       [](const SubDirectory& s) { return s.child->AnyModified(); });
}

HRESULT CAttributeDirectory::IsModified(BYTE* modified)
{
    if (modified == nullptr)
        return E_POINTER;
    *modified = AnyModified() ? 1 : 0;
    return S_OK;
}

HRESULT CAttributeDirectory::SetModified(BYTE modified)
{
    modified_ = modified;
    if (modified != 0) {
        queries_.MarkStale();
        ++changeCount_;
    }
    return S_OK;
}

unsigned long long CAttributeDirectory::StreamBytes() const
{
    unsigned long long n = 0;
    for (const AttributeRecord* r : records_) {
        if ((r->flags & RECORD_REMOVED) != 0)
            continue;
        n += AttributeRecordHeader::kSize + r->nameSize;
        const CAttributeDirectory* child = nullptr;
        if ((r->flags & RECORD_DIRECTORY) != 0) {
            for (const SubDirectory& s : subdirectories_) {
                if (s.record == r)
                    child = s.child;
            }
        }
        n += child != nullptr ? child->StreamBytes() : r->valueSize;
    }
    return n;
}

HRESULT CAttributeDirectory::GetSerializedSize(LONG* size)
{
    if (size == nullptr)
        return E_POINTER;
    return attrib::SizeResult(StreamBytes(), size);
}

HRESULT CAttributeDirectory::WriteStream(BYTE* out, std::size_t capacity, std::size_t& written)
{
    std::size_t pos = 0;
    for (AttributeRecord* r : records_) {
        if ((r->flags & RECORD_REMOVED) != 0)
            continue;
        if ((r->flags & RECORD_DIRECTORY) != 0) {
            for (const SubDirectory& s : subdirectories_) {
                if (s.record != r)
                    continue;
                // The record's value becomes the sub-directory's current stream.
                std::vector<BYTE> stream(static_cast<std::size_t>(s.child->StreamBytes()));
                std::size_t n = 0;
                const HRESULT hr = s.child->WriteStream(stream.data(), stream.size(), n);
                if (FAILED(hr))
                    return hr;
                attrib::AssignValue(*r, stream.data(), static_cast<DWORD>(n), static_cast<DWORD>(n));
            }
        }
        if (AttributeRecordHeader::FromRecord(*r).RecordBytes() > capacity - pos)
            return E_FAIL;
        pos += AttributeRecordHeader::WriteRecord(*r, out + pos);
    }
    written = pos;
    return S_OK;
}

HRESULT CAttributeDirectory::Serialize(BYTE* buffer, LONG* size)
{
    if (size == nullptr)
        return E_POINTER;
    return attrib::Guarded([&]() -> HRESULT {
        const unsigned long long needed = StreamBytes();
        if (needed > static_cast<unsigned long long>(INT32_MAX))
            return E_OUTOFMEMORY;
        const auto n = static_cast<LONG>(needed);
        if (buffer == nullptr && *size > 0) {
            *size = n;
            return E_POINTER;
        }
        if (*size < n) {
            *size = n;
            return E_OUTOFMEMORY;
        }
        std::size_t written = 0;
        const HRESULT hr = WriteStream(buffer, static_cast<std::size_t>(n), written);
        if (FAILED(hr))
            return hr;
        *size = n;
        // Every directory of the tree is now as the stream says.
        std::vector<CAttributeDirectory*> pending{this};
        while (!pending.empty()) {
            CAttributeDirectory* d = pending.back();
            pending.pop_back();
            d->modified_ = 0;
            for (const SubDirectory& s : d->subdirectories_)
                pending.push_back(s.child);
        }
        return S_OK;
    });
}

HRESULT CAttributeDirectory::LoadFromBuffer(const BYTE* buffer, LONG length)
{
    if (length < 0 || (buffer == nullptr && length > 0))
        return E_POINTER;
    return attrib::Guarded([&] { return LoadStream(buffer, static_cast<std::size_t>(length)); });
}

namespace {

// What one loaded record costs beyond its bytes: its copy's bookkeeping.
constexpr unsigned long long kRecordOverhead = 128;

unsigned long long StreamCost(const BYTE* buffer, std::size_t length, unsigned depth)
{
    unsigned long long cost = 0;
    std::size_t pos = 0;
    while (pos < length && length - pos >= AttributeRecordHeader::kSize) {
        const AttributeRecordHeader h = AttributeRecordHeader::Read(buffer + pos);
        if (h.RecordBytes() > length - pos || !h.IsConsistent())
            break;
        cost += h.RecordBytes() + kRecordOverhead;
        const bool directory = (h.flags & (RECORD_DIRECTORY | RECORD_REMOVED)) == RECORD_DIRECTORY;
        if (directory && depth < CAttributeDirectory::kMaxDepth) {
            const AttributeRecord r = AttributeRecordHeader::RecordAt(buffer + pos);
            cost += StreamCost(r.value, r.valueLength, depth + 1);
        }
        pos += static_cast<std::size_t>(h.RecordBytes());
    }
    return cost;
}

} // namespace

unsigned long long CAttributeDirectory::LoadCost(const BYTE* buffer, std::size_t length)
{
    return buffer == nullptr ? 0 : StreamCost(buffer, length, 0);
}

HRESULT CAttributeDirectory::LoadStream(const BYTE* buffer, std::size_t length)
{
    std::size_t pos = 0;
    while (pos < length) {
        const std::size_t left = length - pos;
        if (left < AttributeRecordHeader::kSize)
            return STG_E_PROPSETMISMATCHED;
        const AttributeRecordHeader h = AttributeRecordHeader::Read(buffer + pos);
        if (h.RecordBytes() > left || !h.IsConsistent())
            return STG_E_PROPSETMISMATCHED;
        const bool directory = (h.flags & (RECORD_DIRECTORY | RECORD_REMOVED)) == RECORD_DIRECTORY;
        if (directory && depth_ + 1 > kMaxDepth)
            return STG_E_PROPSETMISMATCHED;

        const AttributeRecord r = AttributeRecordHeader::RecordAt(buffer + pos);
        AttributeRecord* inserted = nullptr;
        if (FAILED(InsertRecord(r, 0, true, &inserted)))
            return E_FAIL;
        if (directory) {
            auto* child = new CAttributeDirectory;
            child->depth_ = depth_ + 1;
            try {
                EnterChild(inserted, child);
            } catch (...) {
                inserted->flags |= RECORD_REMOVED;
                child->Release();
                throw;
            }
            // A damaged sub-directory fails the whole load rather than
            // losing its tail silently at the next save.
            const HRESULT hr = child->LoadStream(inserted->value, inserted->valueLength);
            if (FAILED(hr))
                return hr;
        }
        pos += static_cast<std::size_t>(h.RecordBytes());
    }
    modified_ = 0;
    queries_.MarkStale();
    return S_OK;
}

HRESULT CAttributeDirectory::InsertRecord(const AttributeRecord& r, BYTE unique, bool loading,
                                          AttributeRecord** inserted)
{
    if (!loading) {
        if (FindDirectoryRecord(attrib::NameText(r)) != nullptr)
            return E_FAIL;
        if (unique != 0 && FindEqualRecord(r) != nullptr)
            return E_FAIL;
    }
    AttributeRecord* copy = attrib::CloneRecord(r, loading);
    try {
        records_.push_back(copy);
    } catch (...) {
        attrib::DeleteRecord(copy);
        throw;
    }
    SetModified(1);
    *inserted = copy;
    return S_OK;
}

HRESULT CAttributeDirectory::InsertAndHand(const AttributeRecord& r, CAttribute** attribute, BYTE unique)
{
    AttributeRecord* inserted = nullptr;
    const HRESULT hr = InsertRecord(r, unique, false, &inserted);
    if (FAILED(hr) || attribute == nullptr)
        return hr;
    return CAttribute::CreateAttached(inserted, this, attribute);
}

AttributeRecord* CAttributeDirectory::FindEqualRecord(const AttributeRecord& r) const
{
    const std::u16string name = attrib::NameText(r);
    const DWORD prefix = r.value != nullptr ? std::min(r.valueLength, r.valueSize) : 0;
    for (AttributeRecord* e : records_) {
        if (!IsVisibleAttribute(*e) || e->appId != r.appId || e->id != r.id || e->param != r.param ||
            e->userWord != r.userWord || !attrib::NamesEqual(attrib::NameText(*e), name))
            continue;
        if (prefix == 0)
            return e;
        if (e->value != nullptr && std::min(e->valueLength, e->valueSize) >= prefix &&
            std::memcmp(e->value, r.value, prefix) == 0)
            return e;
    }
    return nullptr;
}

const CAttributeDirectory::SubDirectory* CAttributeDirectory::FindDirectoryRecord(const std::u16string& name) const
{
    for (const SubDirectory& s : subdirectories_) {
        if (attrib::NamesEqual(attrib::NameText(*s.record), name))
            return &s;
    }
    return nullptr;
}

HRESULT CAttributeDirectory::MarkRecordRemoved(const AttributeRecord& r)
{
    // The directory's own record is removed itself, not the first attribute
    // that happens to look like it.
    AttributeRecord* target = nullptr;
    const auto own = std::find(records_.begin(), records_.end(), &r);
    if (own != records_.end())
        target = IsVisibleAttribute(**own) ? *own : nullptr;
    else
        target = FindEqualRecord(r);
    if (target == nullptr)
        return E_FAIL;
    target->flags |= RECORD_REMOVED;
    return SetModified(1);
}

void CAttributeDirectory::EnterChild(AttributeRecord* record, CAttributeDirectory* child)
{
    subdirectories_.push_back(SubDirectory{record, child});
    names_.insert_or_assign(WideToOem(attrib::NameText(*record)), child);
}

void CAttributeDirectory::ReindexName(const std::string& key)
{
    const attrib::OemNameLess less;
    for (auto it = subdirectories_.rbegin(); it != subdirectories_.rend(); ++it) {
        const std::string name = WideToOem(attrib::NameText(*it->record));
        if (!less(name, key) && !less(key, name)) {
            names_.insert_or_assign(name, it->child);
            return;
        }
    }
}

void CAttributeDirectory::ReleaseChildren()
{
    std::vector<SubDirectory> children;
    children.swap(subdirectories_);
    names_.clear();
    subdirectoryCursor_ = kNoPosition;
    for (const SubDirectory& s : children)
        s.child->Release();
}
