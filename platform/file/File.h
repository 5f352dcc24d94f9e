#pragma once
// One open file. Every failure returns false with the last error set.

#include "platform/file/FileInfo.h"
#include "platform/win/WinTypes.h"

#include <cstddef>

class CFile {
public:
    CFile() = default;
    // Takes over an open descriptor (-1: none).
    explicit CFile(int descriptor) : fd_(descriptor) {}
    ~CFile();
    CFile(CFile&& other) noexcept;
    CFile& operator=(CFile&& other) noexcept;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // A plain file only: opening never blocks on a pipe or device left
    // under the name, and anything but a plain file is ERROR_ACCESS_DENIED.
    // For writing, the file is created or emptied.
    bool OpenRegular(const char* path, bool forWriting);
    // A new, empty file for writing under a name that is no link, created
    // with the given permission bits (an existing one is emptied).
    bool Create(const char* path, unsigned permissions);

    bool IsOpen() const { return fd_ >= 0; }
    // Reads until size bytes or the file's end.
    bool Read(void* buffer, size_t size, size_t* done);
    // The same from offset, leaving the position where it was: a reader
    // that shares the file with others does not move theirs.
    bool ReadAt(ULONGLONG offset, void* buffer, size_t size, size_t* done);
    // Writes all of it.
    bool Write(const void* data, size_t size);
    // The content reaches the disk.
    bool Flush();
    bool Close();
    bool GetInfo(FileInfo* info) const;
    bool GetPosition(ULONGLONG* position) const;
    // The permission bits as given, whatever the creation mask said.
    bool SetPermissions(unsigned permissions);

private:
    int fd_ = -1;
};
