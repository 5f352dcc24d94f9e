#pragma once
// Identities made from a name and from an open descriptor go through one
// conversion, so that they compare alike.

#include "platform/file/FileInfo.h"

// statx(at, path, flags); false with errno set.
bool IdentityAt(int at, const char* path, int flags, PathIdentity* identity);
