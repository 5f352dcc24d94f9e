#pragma once
// The registry file behind the registry calls. Reads use the tree parsed from
// the file, parsed again whenever the file is no longer the one parsed last,
// and take no lock. Changes are made to the latest content under a hold
// (taken for the change, or across several by Hold), and the whole file is
// then replaced by rename from the writer's own "<file>.tmp.<pid>", so
// readers in any process see either the old or the new file.
//
// A hold is an exclusive flock on "<file>.lock" (which scripts take too),
// then one on the file itself, waiting for whichever file the name leads to
// once locked. A writer locks its new file before renaming it into place and
// only then lets go of the old one, so the next writer is sent on to the new
// file and waits there: writers never overlap, even when the lock file is
// removed under them. The first writer makes an empty registry to lock.
//
// The file that was parsed is kept open: its inode cannot be reused, so a
// different inode (or size or time stamps) always means a different file.
//
// Not thread-safe; the registry calls serialise their use.

#include "platform/registry/RegistryText.h"

#include <functional>
#include <string>
#include <sys/stat.h>

class CRegistryStore {
public:
    CRegistryStore() = default;
    ~CRegistryStore();
    CRegistryStore(const CRegistryStore&) = delete;
    CRegistryStore& operator=(const CRegistryStore&) = delete;

    // Runs read on the current content; its result, or the error that kept
    // the file from being read (ERROR_REGISTRY_CORRUPT for a damaged file).
    LONG Read(const std::function<LONG(RegistryHives&)>& read);

    // Runs change on the latest content under the file lock. When it returns
    // ERROR_SUCCESS with changed set, the file is rewritten; an error leaves
    // the file as it was (and a tree it changed is read again). change must
    // report every change it makes.
    LONG Change(const std::function<LONG(RegistryHives&, bool& changed)>& change);

    // Holds the file locks until as many Release calls, nesting; changes made
    // meanwhile take no lock of their own. Per process: a forked child does
    // not inherit it. Makes an empty registry file when there is none.
    LONG Hold();
    void Release();

    // Why the file could not be used the last time it was read ("" when it could).
    const std::string& LastError() const { return lastError_; }

private:
    LONG ChangeHeld(const std::string& path, const std::function<LONG(RegistryHives&, bool& changed)>& change);
    void ForgetInheritedHold();
    LONG Refresh(const std::string& path);
    LONG Load(const std::string& path, int fd, const struct stat& st);
    LONG Save(const std::string& path);
    // Gives the new file the owner, group and permission bits of the one it replaces.
    bool KeepOwnerAndMode(int fd) const;
    void Forget();

    std::string path_;
    bool loaded_ = false;
    int fd_ = -1;             // the file parsed last, -1 when it was missing
    struct stat identity_ {}; // its fstat at parse time
    LONG loadResult_ = 0;
    std::string lastError_;
    RegistryHives hives_;
    int lockFd_ = -1;     // "<file>.lock", flocked while held
    int fileLockFd_ = -1; // the registry file, flocked while held
    int holds_ = 0;
    pid_t holder_ = 0; // the process that took the hold
};
