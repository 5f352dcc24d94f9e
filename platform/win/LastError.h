#pragma once
// The calling thread's last Win32 error, and the mapping from errno.

#include "platform/win/WinTypes.h"

DWORD GetLastError();
void SetLastError(DWORD error);

// The Win32 error that best matches a POSIX errno value.
DWORD Win32ErrorFromErrno(int err);

// Sets the last error from errno and returns it.
DWORD SetLastErrorFromErrno();
