#pragma once
// Holds the registry file's lock for its lifetime, so that a process can read
// the registry and change it with nothing written by another process in
// between. Other processes' changes wait until it ends; this process's own
// registry calls and transaction commits go on under it, and reads see the
// latest content. Holds nest within a process.
//
// The hold is the process's, not the thread's: other threads' registry calls
// go on under it too. A child forked during it does not share it.

#include "platform/win/WinTypes.h"

class CRegistryLock {
public:
    CRegistryLock(); // waits until the lock is had
    ~CRegistryLock();
    CRegistryLock(const CRegistryLock&) = delete;
    CRegistryLock& operator=(const CRegistryLock&) = delete;

    // ERROR_SUCCESS, or why the lock could not be taken (then nothing is held).
    LONG Error() const { return error_; }

private:
    LONG error_;
};
