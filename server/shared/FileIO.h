#pragma once
// File access within one storage folder. The slot order is part of the
// snap-in contract. Handles are 32-bit numbers handed out by the implementation.

#include "SnapinTypes.h"

// Attribute bits of a find record.
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01u;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10u;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20u;

// The 344-byte record of FindFirstFile and FindNextFile, as clients receive it.
#pragma pack(push, 1)
struct FileFindRecord {
    DWORD attributes;
    SYSTEMTIME creationTime;   // UTC
    SYSTEMTIME lastAccessTime; // UTC
    SYSTEMTIME lastWriteTime;  // UTC
    DWORD sizeHigh;
    DWORD sizeLow;
    DWORD reserved0;
    DWORD reserved1;
    char fileName[260];
    char shortName[14];
    BYTE padding[2];
};
#pragma pack(pop)
static_assert(sizeof(FileFindRecord) == 344);

class IFileIO {
public:
    virtual ~IFileIO() = default;
    virtual HRESULT OpenFile(const char* name, DWORD access, LONG* handle) = 0;
    virtual HRESULT ReadFile(LONG handle, void* buffer, DWORD size, DWORD* bytesRead) = 0;
    virtual HRESULT WriteFile(LONG handle, const void* data, DWORD size) = 0;
    virtual HRESULT CloseFile(LONG handle) = 0;
    virtual HRESULT DeleteFile(const char* name) = 0;
    virtual HRESULT GetFileDate(const char* name, SYSTEMTIME* lastWrite) = 0;
    virtual HRESULT GetFileSize(const char* name, LONG* size) = 0;
    virtual HRESULT FindFirstFile(const char* pattern, LONG* findHandle, FileFindRecord* record) = 0;
    virtual HRESULT FindNextFile(LONG findHandle, FileFindRecord* record) = 0;
    virtual HRESULT FindClose(LONG findHandle) = 0;
    // *buffer is released with IFileIO2::FreeBuffer.
    virtual HRESULT ReadWholeFile(const char* name, BYTE** buffer, LONG* size) = 0;
    virtual HRESULT WriteWholeFile(const char* name, const void* data, LONG size) = 0;
};

class IFileIO2 : public IFileIO {
public:
    // The folder with its trailing separator.
    virtual HRESULT GetFolder(char* buffer, DWORD size) = 0;
    virtual HRESULT FreeBuffer(BYTE* buffer) = 0;
};
