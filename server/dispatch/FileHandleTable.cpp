#include "server/dispatch/FileHandleTable.h"

#include <algorithm>
#include <sys/resource.h>
#include <unistd.h>

CFileHandleTable::File::~File()
{
    if (fd >= 0)
        ::close(fd);
}

CFileHandleTable::CFileHandleTable(size_t capacity) : capacity_(capacity) {}

CFileHandleTable& CFileHandleTable::Process()
{
    static CFileHandleTable table([] {
        constexpr size_t kMost = 65536;
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
            return kMost;
        return std::clamp<size_t>(limit.rlim_cur / 2, 16, kMost);
    }());
    return table;
}

LONG CFileHandleTable::Add(Slot slot)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (slots_.size() >= capacity_)
        return -1;
    // Numbers are not reused until the counter comes round, so a stale
    // handle finds nothing rather than somebody else's file.
    while (slots_.count(next_) != 0)
        next_ = next_ >= kLastHandle ? kFirstHandle : next_ + 4;
    DWORD handle = next_;
    next_ = next_ >= kLastHandle ? kFirstHandle : next_ + 4;
    slots_.emplace(handle, std::move(slot));
    return static_cast<LONG>(handle);
}

LONG CFileHandleTable::AddFile(std::shared_ptr<File> file)
{
    return Add(Slot{std::move(file), nullptr});
}

LONG CFileHandleTable::AddSearch(std::shared_ptr<Search> search)
{
    return Add(Slot{nullptr, std::move(search)});
}

template <class T>
std::shared_ptr<T> CFileHandleTable::Find(LONG handle, std::shared_ptr<T> Slot::*kind, bool take)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = slots_.find(static_cast<DWORD>(handle));
    if (it == slots_.end() || it->second.*kind == nullptr)
        return nullptr;
    std::shared_ptr<T> found = it->second.*kind;
    if (take)
        slots_.erase(it);
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
