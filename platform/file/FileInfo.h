#pragma once
// What the file system says about one file or folder.

#include "platform/win/WinTypes.h"

#include <ctime>

struct FileInfo {
    bool directory = false;
    bool regular = false;           // a plain file: no folder, pipe, device or socket
    bool ownerCanWrite = false;     // the owner's write permission bit
    unsigned permissions = 0;       // the permission bits, as a file is created with
    ULONGLONG size = 0;
    std::timespec creationTime{};   // the last write's where the file system keeps no birth time
    std::timespec lastAccessTime{};
    std::timespec lastWriteTime{};
};

// Which file or folder a name leads to: two names of one file give the same,
// and a rename keeps it. The birth time sets apart a later file that was
// given a freed inode number again.
struct PathIdentity {
    ULONGLONG device = 0;
    ULONGLONG inode = 0;
    ULONGLONG birth = 0; // nanoseconds since the epoch; 0 where the file system keeps none
    friend bool operator==(const PathIdentity&, const PathIdentity&) = default;
};
