#include "server/dispatch/WinFileImpl.h"

#include "platform/file/FileSystem.h"
#include "platform/win/LastError.h"
#include "platform/win/Time.h"
#include "server/dispatch/CallLog.h"
#include "server/dispatch/CallOrigin.h"
#include "server/dispatch/FileHandleTable.h"
#include "server/dispatch/WholeFileSource.h"
#include "server/shared/FormatText.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

namespace {

constexpr const char* kSourceFile = "WinFileImpl";
constexpr size_t kNameBuffer = 260;
// Beside a file being replaced, its new content until it is complete.
constexpr const char* kPartialSuffix = ".partial";

// Clients that announce more than the file holds get what it holds; a
// write pads with zeros from this block, so neither needs a buffer of the
// announced size.
constexpr size_t kZeroBlock = 64 * 1024;
const BYTE kZeros[kZeroBlock] = {};

HRESULT LastErrorResult()
{
    return HRESULT_FROM_WIN32(GetLastError());
}

HRESULT Win32Result(DWORD error)
{
    SetLastError(error);
    return HRESULT_FROM_WIN32(error);
}

char Fold(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// '*' and '?' over the whole name, letters folded; '*' backtracks to its
// latest position only, which is enough for a matcher without classes.
bool WildcardMatch(const char* pattern, const char* name)
{
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || (*pattern != '\0' && Fold(*pattern) == Fold(*name))) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

bool MatchesFindPattern(const std::string& pattern, const std::string& name)
{
    if (WildcardMatch(pattern.c_str(), name.c_str()))
        return true;
    // "x.*" and "x." also take the names without an extension.
    if (name.find('.') != std::string::npos)
        return false;
    if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0)
        return WildcardMatch(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str());
    if (pattern.size() >= 2 && pattern.back() == '.')
        return WildcardMatch(pattern.substr(0, pattern.size() - 1).c_str(), name.c_str());
    return false;
}

bool FoldedLess(const std::string& a, const std::string& b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char x = Fold(a[i]), y = Fold(b[i]);
        if (x != y)
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

void CopyCut(char* target, size_t capacity, const std::string& text)
{
    size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(target, text.data(), n);
    target[n] = '\0';
}

// Fills the record for one entry; false when it vanished since the listing.
bool FillFindRecord(const std::string& folder, const std::string& name, FileFindRecord* record)
{
    FileInfo info;
    if (!GetPathInfo((folder + name).c_str(), &info))
        return false;
    std::memset(record, 0, sizeof *record);
    record->attributes = info.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!info.ownerCanWrite)
        record->attributes |= FILE_ATTRIBUTE_READONLY;
    record->creationTime = SystemTimeFromTimespec(info.creationTime);
    record->lastAccessTime = SystemTimeFromTimespec(info.lastAccessTime);
    record->lastWriteTime = SystemTimeFromTimespec(info.lastWriteTime);
    ULONGLONG size = info.directory ? 0 : info.size;
    record->sizeHigh = static_cast<DWORD>(size >> 32);
    record->sizeLow = static_cast<DWORD>(size);
    CopyCut(record->fileName, sizeof record->fileName, name);
    return true;
}

// The handle's file, locked in *guard, when it is open for the direction
// asked; else the failure, with the last error set.
HRESULT LockedFile(LONG handle, bool forWriting, std::shared_ptr<CFileHandleTable::File>* file,
                   std::unique_lock<std::mutex>* guard)
{
    *file = CFileHandleTable::Process().GetFile(handle);
    if (*file == nullptr)
        return Win32Result(ERROR_INVALID_HANDLE);
    *guard = std::unique_lock<std::mutex>((*file)->lock);
    if (!(*file)->file.IsOpen())
        return Win32Result(ERROR_INVALID_HANDLE);
    if ((*file)->writable != forWriting)
        return Win32Result(ERROR_ACCESS_DENIED);
    return S_OK;
}

// Advances the search to its next entry that still exists.
bool NextFound(CFileHandleTable::Search& search, FileFindRecord* record)
{
    while (search.next < search.names.size()) {
        const std::string& name = search.names[search.next++];
        if (FillFindRecord(search.folder, name, record))
            return true;
    }
    return false;
}

// Frees an array-new block (a popped item's copy, a read buffer) when the
// handler leaves, however it leaves.
struct ArrayDelete {
    void operator()(BYTE* p) const { delete[] p; }
};
using ByteArray = std::unique_ptr<BYTE, ArrayDelete>;

} // namespace

HRESULT CWinFileImpl::SetFolder(ITQLog* log, const char* folder)
{
    if (folder == nullptr || *folder == '\0')
        return E_UNEXPECTED;
    folder_ = folder;
    if (folder_.back() != '/')
        folder_ += '/';
    log_ = log;
    return S_OK;
}

HRESULT CWinFileImpl::Resolve(const char* name, std::string* path) const
{
    const char* rest = name;
    for (const char* p = name; *p != '\0'; ++p)
        if (*p == '\\' || *p == '/')
            rest = p + 1;
    if (*rest == '\0' || std::strcmp(rest, ".") == 0 || std::strcmp(rest, "..") == 0)
        return E_INVALIDARG;
    if (folder_.empty())
        return Win32Result(ERROR_PATH_NOT_FOUND);
    *path = folder_ + rest;
    return S_OK;
}

HRESULT CWinFileImpl::StatRegular(const char* name, FileInfo* info) const
{
    std::string path;
    HRESULT hr = Resolve(name, &path);
    if (FAILED(hr))
        return hr;
    CFile file;
    if (!file.OpenRegular(path.c_str(), false) || !file.GetInfo(info))
        return LastErrorResult();
    return S_OK;
}

HRESULT CWinFileImpl::OpenFile(const char* name, DWORD access, LONG* handle)
{
    if (name == nullptr || handle == nullptr)
        return E_INVALIDARG;
    *handle = -1;
    std::string path;
    HRESULT hr = Resolve(name, &path);
    if (FAILED(hr))
        return hr;
    // Only the exact write access creates; everything else reads.
    bool forWriting = access == GENERIC_WRITE;
    CFile file;
    if (!file.OpenRegular(path.c_str(), forWriting))
        return LastErrorResult();
    LONG h = CFileHandleTable::Process().AddFile(
        std::make_shared<CFileHandleTable::File>(std::move(file), forWriting), CCallOrigin::Address());
    if (h == -1) // the File's destructor has closed the file
        return Win32Result(ERROR_TOO_MANY_OPEN_FILES);
    *handle = h;
    return S_OK;
}

HRESULT CWinFileImpl::ReadFile(LONG handle, void* buffer, DWORD size, DWORD* bytesRead)
{
    if (bytesRead == nullptr || (buffer == nullptr && size > 0))
        return E_INVALIDARG;
    *bytesRead = 0;
    std::shared_ptr<CFileHandleTable::File> file;
    std::unique_lock<std::mutex> guard;
    HRESULT hr = LockedFile(handle, false, &file, &guard);
    if (FAILED(hr))
        return hr;
    size_t total = 0;
    if (!file->file.Read(buffer, size, &total))
        return LastErrorResult();
    *bytesRead = static_cast<DWORD>(total);
    return S_OK;
}

HRESULT CWinFileImpl::WriteFile(LONG handle, const void* data, DWORD size)
{
    if (data == nullptr && size > 0)
        return E_INVALIDARG;
    std::shared_ptr<CFileHandleTable::File> file;
    std::unique_lock<std::mutex> guard;
    HRESULT hr = LockedFile(handle, true, &file, &guard);
    if (FAILED(hr))
        return hr;
    return file->file.Write(data, size) ? S_OK : LastErrorResult();
}

HRESULT CWinFileImpl::CloseFile(LONG handle)
{
    auto file = CFileHandleTable::Process().TakeFile(handle);
    if (file == nullptr)
        return Win32Result(ERROR_INVALID_HANDLE);
    std::lock_guard<std::mutex> guard(file->lock);
    if (!file->file.IsOpen())
        return Win32Result(ERROR_INVALID_HANDLE);
    if (file->writable)
        file->file.Flush();
    return file->file.Close() ? S_OK : LastErrorResult();
}

HRESULT CWinFileImpl::DeleteFile(const char* name)
{
    if (name == nullptr)
        return E_INVALIDARG;
    std::string path;
    HRESULT hr = Resolve(name, &path);
    if (FAILED(hr))
        return hr;
    return DeletePath(path.c_str()) ? S_OK : LastErrorResult();
}

HRESULT CWinFileImpl::GetFileDate(const char* name, SYSTEMTIME* lastWrite)
{
    if (name == nullptr || lastWrite == nullptr)
        return E_INVALIDARG;
    std::memset(lastWrite, 0, sizeof *lastWrite);
    FileInfo info;
    HRESULT hr = StatRegular(name, &info);
    if (SUCCEEDED(hr))
        *lastWrite = SystemTimeFromTimespec(info.lastWriteTime);
    return hr;
}

HRESULT CWinFileImpl::GetFileSize(const char* name, LONG* size)
{
    if (name == nullptr || size == nullptr)
        return E_INVALIDARG;
    *size = 0;
    FileInfo info;
    HRESULT hr = StatRegular(name, &info);
    if (SUCCEEDED(hr)) // the low 32 bits, as the interface has always given
        *size = static_cast<LONG>(static_cast<DWORD>(info.size));
    return hr;
}

HRESULT CWinFileImpl::FindFirstFile(const char* pattern, LONG* findHandle, FileFindRecord* record)
{
    if (pattern == nullptr || findHandle == nullptr || record == nullptr)
        return E_INVALIDARG;
    *findHandle = -1;
    std::memset(record, 0, sizeof *record);
    std::string path;
    HRESULT hr = Resolve(pattern, &path);
    if (FAILED(hr))
        return hr;
    const std::string match = path.substr(folder_.size());

    auto search = std::make_shared<CFileHandleTable::Search>();
    search->folder = folder_;
    std::vector<std::string> names;
    if (!ListFolder(folder_.c_str(), &names))
        return LastErrorResult();
    std::vector<std::string> dots;
    for (std::string& name : names) {
        if (!MatchesFindPattern(match, name))
            continue;
        (name == "." || name == ".." ? dots : search->names).push_back(std::move(name));
    }
    std::sort(dots.begin(), dots.end());
    std::sort(search->names.begin(), search->names.end(), FoldedLess);
    search->names.insert(search->names.begin(), dots.begin(), dots.end());

    if (!NextFound(*search, record)) {
        std::memset(record, 0, sizeof *record);
        return Win32Result(ERROR_FILE_NOT_FOUND);
    }
    LONG h = CFileHandleTable::Process().AddSearch(search, CCallOrigin::Address());
    if (h == -1) {
        std::memset(record, 0, sizeof *record);
        return Win32Result(ERROR_TOO_MANY_OPEN_FILES);
    }
    *findHandle = h;
    return S_OK;
}

HRESULT CWinFileImpl::FindNextFile(LONG findHandle, FileFindRecord* record)
{
    if (record == nullptr)
        return E_INVALIDARG;
    std::memset(record, 0, sizeof *record);
    auto search = CFileHandleTable::Process().GetSearch(findHandle);
    if (search == nullptr)
        return E_FAIL;
    std::lock_guard<std::mutex> guard(search->lock);
    if (search->closed)
        return E_FAIL;
    if (NextFound(*search, record))
        return S_OK;
    std::memset(record, 0, sizeof *record);
    // The out-of-memory code, not the platform's no-more-files code: what
    // clients have always been told at the end of a search.
    return E_OUTOFMEMORY;
}

HRESULT CWinFileImpl::FindClose(LONG findHandle)
{
    auto search = CFileHandleTable::Process().TakeSearch(findHandle);
    if (search == nullptr)
        return Win32Result(ERROR_INVALID_HANDLE);
    std::lock_guard<std::mutex> guard(search->lock);
    search->closed = true;
    return S_OK;
}

HRESULT CWinFileImpl::OpenWhole(const char* name, LONG* handle, DWORD* length)
{
    *handle = -1;
    *length = 0;
    HRESULT hr = OpenFile(name, GENERIC_READ, handle);
    if (FAILED(hr))
        return hr;
    // The whole size, where the interface's size gives only 32 bits: a file
    // of 2 GiB or more cannot be handed back in one piece.
    FileInfo info;
    bool known = false;
    if (auto file = CFileHandleTable::Process().GetFile(*handle)) {
        std::lock_guard<std::mutex> guard(file->lock);
        known = file->file.IsOpen() && file->file.GetInfo(&info);
    }
    if (!known || info.size > 0x7FFFFFFF) {
        CloseFile(std::exchange(*handle, -1));
        return !known ? Win32Result(ERROR_INVALID_HANDLE) : E_OUTOFMEMORY;
    }
    *length = static_cast<DWORD>(info.size);
    return S_OK;
}

HRESULT CWinFileImpl::ReadWholeFile(const char* name, BYTE** buffer, LONG* size)
{
    if (name == nullptr || buffer == nullptr || size == nullptr)
        return E_INVALIDARG;
    *buffer = nullptr;
    *size = 0;
    LONG handle = -1;
    DWORD length = 0;
    HRESULT hr = OpenWhole(name, &handle, &length);
    if (FAILED(hr))
        return hr;
    return ReadWholeAndClose(handle, length, buffer, size);
}

HRESULT CWinFileImpl::ReadWholeAndClose(LONG handle, DWORD length, BYTE** buffer, LONG* size)
{
    // Not zeroed first: only the bytes read are ever handed out.
    BYTE* data = new (std::nothrow) BYTE[length == 0 ? 1 : length];
    if (data == nullptr) {
        CloseFile(handle);
        return E_OUTOFMEMORY;
    }
    DWORD got = 0;
    HRESULT hr = ReadFile(handle, data, length, &got);
    CloseFile(handle);
    if (FAILED(hr)) {
        delete[] data;
        return hr;
    }
    *buffer = data;
    *size = static_cast<LONG>(got);
    return hr;
}

HRESULT CWinFileImpl::WriteWholeFile(const char* name, const void* data, LONG size)
{
    if (name == nullptr || size < 0 || (data == nullptr && size > 0))
        return E_INVALIDARG;
    std::string path;
    HRESULT hr = Resolve(name, &path);
    if (FAILED(hr))
        return hr;
    return ReplaceFile(path, static_cast<const BYTE*>(data), static_cast<size_t>(size));
}

HRESULT CWinFileImpl::ReplaceFile(const std::string& path, const BYTE* data, size_t size) const
{
    // Only a plain file is replaced, and one that could be written in place.
    FileInfo old;
    const bool existed = GetPathInfo(path.c_str(), &old);
    if (existed && !old.regular)
        return Win32Result(ERROR_ACCESS_DENIED);
    if (existed && !PathIsWritable(path.c_str()))
        return LastErrorResult();

    // Two writers of one file must not share its temporary file.
    static std::mutex stripes[16];
    std::lock_guard<std::mutex> guard(stripes[std::hash<std::string>()(path) % std::size(stripes)]);

    // The new content goes to a file beside the old one, reaches the disk,
    // and only then takes the name: whenever the process dies, the name
    // holds the old content or the new, never a part of either.
    const std::string temp = path + kPartialSuffix;
    const unsigned mode = existed ? old.permissions : 0666;
    CFile file;
    if (!file.Create(temp.c_str(), mode))
        return LastErrorResult();
    HRESULT hr = S_OK;
    // The old file's mode as it was, whatever the umask says.
    if (existed && !file.SetPermissions(mode))
        hr = LastErrorResult();
    if (SUCCEEDED(hr) && !file.Write(data, size))
        hr = LastErrorResult();
    if (SUCCEEDED(hr) && !file.Flush())
        hr = LastErrorResult();
    if (!file.Close() && SUCCEEDED(hr))
        hr = LastErrorResult();
    if (SUCCEEDED(hr) && !RenamePath(temp.c_str(), path.c_str()))
        hr = LastErrorResult();
    if (FAILED(hr)) {
        const DWORD error = GetLastError();
        DeletePath(temp.c_str());
        SetLastError(error);
        return hr;
    }
    // The rename itself is made durable with the folder.
    FlushFolder(folder_.c_str());
    return S_OK;
}

HRESULT CWinFileImpl::GetFolder(char* buffer, DWORD size)
{
    if (buffer == nullptr || size == 0)
        return E_INVALIDARG;
    if (folder_.size() >= size) {
        buffer[0] = '\0';
        return E_OUTOFMEMORY;
    }
    std::memcpy(buffer, folder_.c_str(), folder_.size() + 1);
    return S_OK;
}

HRESULT CWinFileImpl::FreeBuffer(BYTE* buffer)
{
    delete[] buffer;
    return S_OK;
}

DWORD CWinFileImpl::ReadableBytes(LONG handle, DWORD wanted)
{
    auto file = CFileHandleTable::Process().GetFile(handle);
    if (file == nullptr)
        return 0;
    std::lock_guard<std::mutex> guard(file->lock);
    FileInfo info;
    ULONGLONG at = 0;
    if (!file->file.IsOpen() || !file->file.GetPosition(&at) || !file->file.GetInfo(&info) || info.size <= at)
        return 0;
    ULONGLONG left = info.size - at;
    return left < wanted ? static_cast<DWORD>(left) : wanted;
}

HRESULT CWinFileImpl::Dispatch(CInvokeData* record)
{
    if (record == nullptr)
        return E_INVALIDARG;
    try {
        switch (record->functionCode) {
        case 1001: return OnOpenFile(record);
        case 1002: return OnReadFile(record);
        case 1003: return OnWriteFile(record);
        case 1004: return OnCloseFile(record);
        case 1005: return OnDeleteFile(record);
        case 1006: return OnGetFileDate(record);
        case 1007: return OnGetFileSize(record);
        case 1008: return OnFindFirstFile(record);
        case 1009: return OnFindNextFile(record);
        case 1010: return OnFindClose(record);
        case 1011: return OnWriteWholeFile(record);
        case 1012: return OnReadWholeFile(record);
        default:
            record->result = E_NOTIMPL;
            return E_NOTIMPL;
        }
    } catch (...) {
        return E_UNEXPECTED;
    }
}

template <class Body>
HRESULT CWinFileImpl::Logged(CInvokeData* record, const char* operation, int exceptionLine, Body body)
{
    return CCallLog::Run(log_, *record, kSourceFile, "CWinFileImpl", operation, exceptionLine, body);
}

HRESULT CWinFileImpl::OnOpenFile(CInvokeData* record)
{
    return Logged(record, "OpenFile", 464, [&](CCallLog& log) {
        char name[kNameBuffer];
        DWORD access = 0;
        record->PopString(name, sizeof name);
        record->PopDword(&access);
        const char* mode = (access & GENERIC_WRITE) != 0 ? "WRITE" : "READ";
        log.Begin(FormatText("OpenFile(%s,%s)", name, mode), 446);
        LONG handle = -1;
        record->result = OpenFile(name, access, &handle);
        record->PushOutDword(static_cast<DWORD>(handle));
        log.End(FormatText("OpenFile(%s,%s) = %d", name, mode, handle), record->result, 456);
    });
}

HRESULT CWinFileImpl::OnReadFile(CInvokeData* record)
{
    return Logged(record, "ReadFile", 498, [&](CCallLog&) {
        LONG handle = 0, size = 0;
        record->PopInt(&handle);
        record->PopInt(&size);
        if (size < 0) // no buffer of 2 GiB or more is ever made
            throw std::bad_array_new_length();
        // Never more than the file can give back from where it stands.
        DWORD room = ReadableBytes(handle, static_cast<DWORD>(size));
        ByteArray buffer(new (std::nothrow) BYTE[room == 0 ? 1 : room]());
        DWORD got = 0;
        record->result = buffer == nullptr ? E_OUTOFMEMORY : ReadFile(handle, buffer.get(), room, &got);
        record->PushOutBytes(buffer.get(), got);
        record->PushOutDword(got);
    });
}

HRESULT CWinFileImpl::OnWriteFile(CInvokeData* record)
{
    return Logged(record, "WriteFile", 524, [&](CCallLog&) {
        LONG handle = 0, size = 0;
        BYTE* popped = nullptr;
        DWORD length = 0;
        record->PopInt(&handle);
        record->PopInt(&size);
        record->PopBytes(&popped, &length);
        ByteArray data(popped);
        if (size < 0)
            throw std::bad_array_new_length();
        // The block is `size` bytes: the data item's, cut to it, then zeros
        // where the item was shorter.
        DWORD wanted = static_cast<DWORD>(size);
        DWORD fromData = std::min(length, wanted);
        HRESULT hr = WriteFile(handle, data.get(), fromData);
        for (DWORD left = wanted - fromData; SUCCEEDED(hr) && left > 0;) {
            DWORD n = static_cast<DWORD>(std::min<size_t>(left, kZeroBlock));
            hr = WriteFile(handle, kZeros, n);
            left -= n;
        }
        record->result = hr;
    });
}

HRESULT CWinFileImpl::OnCloseFile(CInvokeData* record)
{
    return Logged(record, "CloseFile", 552, [&](CCallLog& log) {
        LONG handle = 0;
        record->PopInt(&handle);
        log.Begin(FormatText("CloseFile(%d)", handle), 539);
        record->result = SUCCEEDED(CloseFile(handle)) ? S_OK : E_FAIL;
        log.End(FormatText("CloseFile(%d)", handle), record->result, 547);
    });
}

HRESULT CWinFileImpl::OnDeleteFile(CInvokeData* record)
{
    return Logged(record, "DeleteFile", 577, [&](CCallLog& log) {
        char name[kNameBuffer];
        record->PopString(name, sizeof name);
        log.Begin(FormatText("DeleteFile(%s)", name), 567);
        record->result = DeleteFile(name);
        log.End(FormatText("DeleteFile(%s)", name), record->result, 572);
    });
}

HRESULT CWinFileImpl::OnGetFileDate(CInvokeData* record)
{
    return Logged(record, "GetFileDate", 605, [&](CCallLog& log) {
        char name[kNameBuffer];
        record->PopString(name, sizeof name);
        log.Begin(FormatText("GetFileDate(%s)", name), 592);
        SYSTEMTIME st{};
        record->result = GetFileDate(name, &st);
        record->PushOutBytes(&st, sizeof st);
        log.End(FormatText("GetFileDate(%s) = %.2u/%.2u/%.4u %.2u:%.2u:%.2u", name, unsigned{st.wMonth},
                           unsigned{st.wDay}, unsigned{st.wYear}, unsigned{st.wHour}, unsigned{st.wMinute},
                           unsigned{st.wSecond}),
                record->result, 600);
    });
}

HRESULT CWinFileImpl::OnGetFileSize(CInvokeData* record)
{
    return Logged(record, "GetFileSize", 632, [&](CCallLog& log) {
        char name[kNameBuffer];
        record->PopString(name, sizeof name);
        log.Begin(FormatText("GetFileSize(%s)", name), 620);
        LONG size = 0;
        record->result = GetFileSize(name, &size);
        record->PushOutLong(size);
        log.End(FormatText("GetFileSize(%s) = %d", name, size), record->result, 627);
    });
}

// The handlers below write no records; an exception in one ends the call in
// Dispatch with E_UNEXPECTED.

HRESULT CWinFileImpl::OnFindFirstFile(CInvokeData* record)
{
    char pattern[kNameBuffer];
    record->PopString(pattern, sizeof pattern);
    LONG handle = -1;
    FileFindRecord found{};
    FindFirstFile(pattern, &handle, &found);
    record->result = handle != -1 ? S_OK : E_FAIL;
    record->PushOutDword(static_cast<DWORD>(handle));
    record->PushOutBytes(&found, sizeof found);
    return S_OK;
}

HRESULT CWinFileImpl::OnFindNextFile(CInvokeData* record)
{
    LONG handle = 0;
    record->PopInt(&handle);
    FileFindRecord found{};
    record->result = FindNextFile(handle, &found);
    record->PushOutBytes(&found, sizeof found);
    return S_OK;
}

HRESULT CWinFileImpl::OnFindClose(CInvokeData* record)
{
    LONG handle = 0;
    record->PopInt(&handle);
    record->result = FindClose(handle);
    return S_OK;
}

HRESULT CWinFileImpl::OnWriteWholeFile(CInvokeData* record)
{
    char name[kNameBuffer];
    record->PopString(name, sizeof name);
    // Written from where the record holds it: no copy of the content.
    const BYTE* data = nullptr;
    DWORD length = 0;
    record->PeekBytes(&data, &length);
    record->result = WriteWholeFile(name, data, static_cast<LONG>(length));
    record->PopBytes(nullptr, nullptr);
    return S_OK;
}

HRESULT CWinFileImpl::OnReadWholeFile(CInvokeData* record)
{
    char name[kNameBuffer];
    record->PopString(name, sizeof name);
    LONG handle = -1;
    DWORD length = 0;
    record->result = OpenWhole(name, &handle, &length);
    if (SUCCEEDED(record->result) && length >= kReadAsSentFrom) {
        // A large file is read as its reply goes out, in pieces, and never
        // held whole; the source owns the handle from here on.
        std::unique_ptr<CWholeFileSource> source;
        try {
            source = std::make_unique<CWholeFileSource>(handle, length);
        } catch (...) {
            CloseFile(handle);
            throw;
        }
        record->PushOutSource(std::move(source), length);
        return S_OK;
    }
    BYTE* content = nullptr;
    LONG size = 0;
    if (SUCCEEDED(record->result))
        record->result = ReadWholeAndClose(handle, length, &content, &size);
    // The reply takes the buffer over rather than a copy of it.
    record->AdoptOutBytes(content, static_cast<DWORD>(size));
    return S_OK;
}
