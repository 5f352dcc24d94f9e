#pragma once
// An flock on the file a name leads to at the moment the lock is had: a file
// removed, renamed or replaced between the open and the lock is opened
// again, since a hold of a file no longer under the name excludes nobody who
// opens the name afresh.

#include "platform/win/WinTypes.h"

#include <functional>
#include <sys/stat.h>

enum class NamedLockWait { No, Yes };

// open opens the name (a descriptor, or -1 with the last error set);
// operation is LOCK_SH or LOCK_EX. The locked descriptor, with its fstat in
// *locked; or -1 with the last error set: busy when another holder's lock is
// in the way (also when the name moves on after every lock, a few times
// over), else the open's, the lock's or the stat's error. Waiting, another
// holder is waited for and a name that moved on is followed however often:
// each move is a holder that finished.
int LockNamedFile(const char* path, const std::function<int()>& open, int operation, DWORD busy,
                  struct stat* locked, NamedLockWait wait = NamedLockWait::No);
