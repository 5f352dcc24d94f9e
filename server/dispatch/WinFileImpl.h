#pragma once
// File access within a virtual server's storage folder, and the handlers of
// the file codes 1001 to 1012.
//
// A name a client gives addresses a file directly inside the folder: all
// before its last '\' or '/' is dropped, and what remains may not be empty,
// "." or "..". Handles are numbers of the process's CFileHandleTable.
//
// Find patterns follow the rules clients know from the platform: '*' stands
// for any run of characters, '?' for exactly one; letters match without
// regard to case (ASCII); a pattern ending in ".*" or "." also matches names
// without a dot, so "*.*" matches every name. A search lists "." and ".."
// first, then the other names in case-blind order. The short-name field is
// always empty: the file system keeps no 8.3 names.

#include "platform/file/FileInfo.h"
#include "server/shared/FileIO.h"
#include "common/callrecord/InvokeData.h"
#include "server/shared/TQLog.h"

#include <string>

struct stat;

class CWinFileImpl : public IFileIO2 {
public:
    // Keeps the folder, with a '/' added when it does not end in one. Until
    // a folder is set, name operations fail with the path-not-found result.
    HRESULT SetFolder(ITQLog* log, const char* folder);
    // Whole files from this size on are read as their reply is sent, a piece
    // at a time; smaller ones are read by the call into a block the
    // allocator hands round warm.
    static constexpr DWORD kReadAsSentFrom = 1 << 20;

    // Codes 1001 to 1012; any other sets the result E_NOTIMPL and returns it.
    HRESULT Dispatch(CInvokeData* record);

    HRESULT OpenFile(const char* name, DWORD access, LONG* handle) override;
    HRESULT ReadFile(LONG handle, void* buffer, DWORD size, DWORD* bytesRead) override;
    HRESULT WriteFile(LONG handle, const void* data, DWORD size) override;
    HRESULT CloseFile(LONG handle) override;
    HRESULT DeleteFile(const char* name) override;
    HRESULT GetFileDate(const char* name, SYSTEMTIME* lastWrite) override;
    HRESULT GetFileSize(const char* name, LONG* size) override;
    HRESULT FindFirstFile(const char* pattern, LONG* findHandle, FileFindRecord* record) override;
    HRESULT FindNextFile(LONG findHandle, FileFindRecord* record) override;
    HRESULT FindClose(LONG findHandle) override;
    HRESULT ReadWholeFile(const char* name, BYTE** buffer, LONG* size) override;
    // Replaces the file as a whole: a reader, or the program after a crash,
    // finds the old content or the new one.
    HRESULT WriteWholeFile(const char* name, const void* data, LONG size) override;
    // E_OUTOFMEMORY, with an empty text, when the buffer cannot hold the folder.
    HRESULT GetFolder(char* buffer, DWORD size) override;
    HRESULT FreeBuffer(BYTE* buffer) override;

private:
    HRESULT OnOpenFile(CInvokeData* record);
    HRESULT OnReadFile(CInvokeData* record);
    HRESULT OnWriteFile(CInvokeData* record);
    HRESULT OnCloseFile(CInvokeData* record);
    HRESULT OnDeleteFile(CInvokeData* record);
    HRESULT OnGetFileDate(CInvokeData* record);
    HRESULT OnGetFileSize(CInvokeData* record);
    HRESULT OnFindFirstFile(CInvokeData* record);
    HRESULT OnFindNextFile(CInvokeData* record);
    HRESULT OnFindClose(CInvokeData* record);
    HRESULT OnWriteWholeFile(CInvokeData* record);
    HRESULT OnReadWholeFile(CInvokeData* record);

    // Opens a client's file for a whole read under a handle of the table,
    // with its size at this moment; the failures of ReadWholeFile.
    HRESULT OpenWhole(const char* name, LONG* handle, DWORD* length);
    // Reads up to length bytes of the handle's file into a new buffer and
    // closes the handle.
    HRESULT ReadWholeAndClose(LONG handle, DWORD length, BYTE** buffer, LONG* size);
    // The path of a client's name inside the folder, or E_INVALIDARG.
    HRESULT Resolve(const char* name, std::string* path) const;
    // The status of a regular file named by a client.
    HRESULT StatRegular(const char* name, FileInfo* info) const;
    // Writes the bytes to a new file and renames it over path: the file is
    // whole, old or new, whenever the process ends.
    HRESULT ReplaceFile(const std::string& path, const BYTE* data, size_t size) const;
    // How many of `wanted` bytes a read at the handle's position can return.
    static DWORD ReadableBytes(LONG handle, DWORD wanted);

    // Runs body with the call's log; an exception becomes an exception
    // record at exceptionLine and E_UNEXPECTED.
    template <class Body>
    HRESULT Logged(CInvokeData* record, const char* operation, int exceptionLine, Body body);

    std::string folder_;
    ITQLog* log_ = nullptr;
};
