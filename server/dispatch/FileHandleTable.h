#pragma once
// The files and searches the process opened for clients, under handle
// numbers of its own. A handle is valid only while this table holds it, so a
// client can never reach a descriptor it was not given (the process's
// sockets or databases), nor one that was closed and reused since. One table
// serves every virtual server: a handle opened through one works through any.

#include "platform/file/File.h"
#include "platform/win/WinTypes.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class CFileHandleTable {
public:
    // An open file. Its lock serialises the operations on it, so a close
    // never pulls the file from under a read or write.
    struct File {
        std::mutex lock;
        CFile file; // not open once closed
        bool writable = false;
        File(CFile opened, bool forWriting) : file(std::move(opened)), writable(forWriting) {}
    };

    // A search: the matching names, taken when it started, and how far it got.
    struct Search {
        std::mutex lock;
        std::string folder;
        std::vector<std::string> names;
        size_t next = 0;
        bool closed = false;
    };

    // capacity 0: half of the descriptors the process may open at the time
    // of each add, so the table grows with a limit raised after its first use.
    explicit CFileHandleTable(size_t capacity = 0);
    CFileHandleTable(const CFileHandleTable&) = delete;
    CFileHandleTable& operator=(const CFileHandleTable&) = delete;

    // The table of the process, sized from the descriptor limit.
    static CFileHandleTable& Process();

    // The new handle, or -1 when the table is full or the owner (a peer
    // address) already holds its share, half of the table: one client cannot
    // take every handle. Handles stay valid across connections, so they are
    // kept until closed, not until their connection ends.
    LONG AddFile(std::shared_ptr<File> file, const std::string& owner = {});
    LONG AddSearch(std::shared_ptr<Search> search, const std::string& owner = {});

    // Null for a handle the table does not hold as that kind.
    std::shared_ptr<File> GetFile(LONG handle);
    std::shared_ptr<Search> GetSearch(LONG handle);

    // Removes the handle and returns what it held; null as for Get.
    std::shared_ptr<File> TakeFile(LONG handle);
    std::shared_ptr<Search> TakeSearch(LONG handle);

    size_t Count() const;
    size_t Capacity() const;
    size_t CountOf(const std::string& owner) const;

private:
    struct Slot {
        std::shared_ptr<File> file;
        std::shared_ptr<Search> search;
        std::string owner;
    };

    LONG Add(Slot slot);
    void Forget(const std::string& owner);
    // The slot's member of that kind, removed from the table when take is set.
    template <class T>
    std::shared_ptr<T> Find(LONG handle, std::shared_ptr<T> Slot::*kind, bool take);

    // Handles look like the platform's: multiples of 4, positive, never 0.
    static constexpr DWORD kFirstHandle = 0x104;
    static constexpr DWORD kLastHandle = 0x7FFFFFFC;

    mutable std::mutex lock_;
    std::unordered_map<DWORD, Slot> slots_;
    std::unordered_map<std::string, size_t> byOwner_;
    DWORD next_ = kFirstHandle;
    size_t capacity_;
};
