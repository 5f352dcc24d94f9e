#include "server/dispatch/FileHandleTable.h"

#include "platform/file/FileSystem.h"

#include <algorithm>

CFileHandleTable::CFileHandleTable(size_t capacity) : capacity_(capacity) {}

CFileHandleTable& CFileHandleTable::Process()
{
    static CFileHandleTable table;
    return table;
}

size_t CFileHandleTable::Capacity() const
{
    if (capacity_ != 0)
        return capacity_;
    constexpr size_t kMost = 65536;
    const size_t limit = OpenFileLimit();
    if (limit == 0)
        return kMost;
    return std::clamp<size_t>(limit / 2, 16, kMost);
}

LONG CFileHandleTable::Add(Slot slot)
{
    const size_t capacity = Capacity();
    std::lock_guard<std::mutex> guard(lock_);
    if (slots_.size() >= capacity)
        return -1;
    size_t& held = byOwner_[slot.owner];
    if (held >= std::max<size_t>(capacity / 2, 1)) {
        Forget(slot.owner);
        return -1;
    }
    // Numbers are not reused until the counter comes round, so a stale
    // handle finds nothing rather than somebody else's file.
    while (slots_.count(next_) != 0)
        next_ = next_ >= kLastHandle ? kFirstHandle : next_ + 4;
    DWORD handle = next_;
    next_ = next_ >= kLastHandle ? kFirstHandle : next_ + 4;
    ++held;
    slots_.emplace(handle, std::move(slot));
    return static_cast<LONG>(handle);
}

void CFileHandleTable::Forget(const std::string& owner)
{
    auto it = byOwner_.find(owner);
    if (it != byOwner_.end() && it->second == 0)
        byOwner_.erase(it);
}

LONG CFileHandleTable::AddFile(std::shared_ptr<File> file, const std::string& owner)
{
    return Add(Slot{std::move(file), nullptr, owner});
}

LONG CFileHandleTable::AddSearch(std::shared_ptr<Search> search, const std::string& owner)
{
    return Add(Slot{nullptr, std::move(search), owner});
}

template <class T>
std::shared_ptr<T> CFileHandleTable::Find(LONG handle, std::shared_ptr<T> Slot::*kind, bool take)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = slots_.find(static_cast<DWORD>(handle));
    if (it == slots_.end() || it->second.*kind == nullptr)
        return nullptr;
    std::shared_ptr<T> found = it->second.*kind;
    if (take) {
        auto owner = byOwner_.find(it->second.owner);
        if (owner != byOwner_.end() && --owner->second == 0)
            byOwner_.erase(owner);
        slots_.erase(it);
    }
    return found;
}

std::shared_ptr<CFileHandleTable::File> CFileHandleTable::GetFile(LONG handle)
{
    return Find(handle, &Slot::file, false);
}

std::shared_ptr<CFileHandleTable::Search> CFileHandleTable::GetSearch(LONG handle)
{
    return Find(handle, &Slot::search, false);
}

std::shared_ptr<CFileHandleTable::File> CFileHandleTable::TakeFile(LONG handle)
{
    return Find(handle, &Slot::file, true);
}

std::shared_ptr<CFileHandleTable::Search> CFileHandleTable::TakeSearch(LONG handle)
{
    return Find(handle, &Slot::search, true);
}

size_t CFileHandleTable::Count() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return slots_.size();
}

size_t CFileHandleTable::CountOf(const std::string& owner) const
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = byOwner_.find(owner);
    return it == byOwner_.end() ? 0 : it->second;
}
