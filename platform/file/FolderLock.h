#pragma once
// A lock on a folder, shared or exclusive, as the system's sharing modes on
// an open folder are: a server holds its storage folder shared for as long as
// it serves it, and a configuration save holds exclusively each folder it
// moves or removes. The lock belongs to the folder, not to its name: it
// follows the folder through a rename, and it ends when its holder ends,
// however it ends (a killed holder too).
//
// The hold is an flock on the open folder, so it goes with the descriptor
// (closed on exec): a child forked without exec shares its parent's hold
// until it ends.

#include "platform/file/FileInfo.h"

class CFolderLock {
public:
    enum class Mode { Shared, Exclusive };

    CFolderLock() = default;
    ~CFolderLock(); // releases it when held
    CFolderLock(CFolderLock&& other) noexcept;
    CFolderLock& operator=(CFolderLock&& other) noexcept;
    CFolderLock(const CFolderLock&) = delete;
    CFolderLock& operator=(const CFolderLock&) = delete;

    // Takes the folder that path names (links followed) without waiting, and
    // releases whatever this object held before. True when held; path then
    // still names the locked folder. False with the last error set:
    // ERROR_SHARING_VIOLATION when another holder's lock is in the way,
    // ERROR_DIRECTORY when path names something that is not a folder, the
    // file system's error otherwise (ERROR_FILE_NOT_FOUND, ...).
    bool TryLock(const char* path, Mode mode);
    void Unlock();
    bool Held() const { return fd_ >= 0; }

    // The locked folder's identity (valid while held).
    const PathIdentity& Identity() const { return identity_; }
    // Whether path names the locked folder now.
    bool At(const char* path) const;

private:
    int fd_ = -1;
    PathIdentity identity_{};
};
