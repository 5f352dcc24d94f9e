#pragma once
// A storage folder held in memory, for container tests and fuzz targets:
// named files, handles with a position, and failures to inject per
// operation. Names are used as given.

#include "server/shared/FileIO.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace tqtest {

class MemoryFileIO : public IFileIO2 {
public:
    using Bytes = std::vector<BYTE>;

    // Failures the next calls of an operation give (S_OK: none).
    HRESULT failOpen = S_OK;
    HRESULT failRead = S_OK;
    HRESULT failWrite = S_OK;
    HRESULT failClose = S_OK;
    HRESULT failSize = S_OK;
    // A write that fails still stores this many of its bytes.
    DWORD partialWrite = 0;
    // What GetFileSize reports instead of the true size (when set).
    bool fakeSize = false;
    LONG reportedSize = 0;

    std::map<std::string, Bytes> files;
    int opens = 0;
    int closes = 0;
    int writes = 0;

    bool Has(const std::string& name) const { return files.count(name) != 0; }
    size_t OpenHandles() const { return handles_.size(); }

    HRESULT OpenFile(const char* name, DWORD access, LONG* handle) override
    {
        *handle = -1;
        if (FAILED(failOpen))
            return failOpen;
        const bool writing = access == GENERIC_WRITE;
        if (writing)
            files[name].clear();
        else if (!Has(name))
            return static_cast<HRESULT>(0x80070002u);
        ++opens;
        *handle = nextHandle_++;
        handles_[*handle] = {name, writing, 0};
        return S_OK;
    }

    HRESULT ReadFile(LONG handle, void* buffer, DWORD size, DWORD* bytesRead) override
    {
        *bytesRead = 0;
        auto it = handles_.find(handle);
        if (it == handles_.end() || it->second.writing)
            return E_HANDLE;
        if (FAILED(failRead))
            return failRead;
        const Bytes& data = files[it->second.name];
        const size_t left = data.size() - std::min(data.size(), it->second.position);
        const size_t n = std::min<size_t>(size, left);
        if (n > 0)
            std::memcpy(buffer, data.data() + it->second.position, n);
        it->second.position += n;
        *bytesRead = static_cast<DWORD>(n);
        return S_OK;
    }

    HRESULT WriteFile(LONG handle, const void* data, DWORD size) override
    {
        auto it = handles_.find(handle);
        if (it == handles_.end() || !it->second.writing)
            return E_HANDLE;
        ++writes;
        const auto* in = static_cast<const BYTE*>(data);
        Bytes& file = files[it->second.name];
        if (FAILED(failWrite)) {
            file.insert(file.end(), in, in + std::min(size, partialWrite));
            return failWrite;
        }
        file.insert(file.end(), in, in + size);
        return S_OK;
    }

    HRESULT CloseFile(LONG handle) override
    {
        if (handles_.erase(handle) == 0)
            return E_HANDLE;
        ++closes;
        return failClose;
    }

    HRESULT DeleteFile(const char* name) override
    {
        return files.erase(name) != 0 ? S_OK : static_cast<HRESULT>(0x80070002u);
    }

    HRESULT GetFileDate(const char*, SYSTEMTIME* lastWrite) override
    {
        *lastWrite = {};
        return E_NOTIMPL;
    }

    HRESULT GetFileSize(const char* name, LONG* size) override
    {
        *size = 0;
        if (FAILED(failSize))
            return failSize;
        if (!Has(name))
            return static_cast<HRESULT>(0x80070002u);
        *size = fakeSize ? reportedSize : static_cast<LONG>(files[name].size());
        return S_OK;
    }

    HRESULT FindFirstFile(const char*, LONG* findHandle, FileFindRecord* record) override
    {
        *findHandle = -1;
        *record = {};
        return E_FAIL;
    }
    HRESULT FindNextFile(LONG, FileFindRecord* record) override
    {
        *record = {};
        return E_FAIL;
    }
    HRESULT FindClose(LONG) override { return E_FAIL; }
    HRESULT ReadWholeFile(const char*, BYTE** buffer, LONG* size) override
    {
        *buffer = nullptr;
        *size = 0;
        return E_NOTIMPL;
    }
    // All or nothing, as the server's file layer: a failure at any step
    // leaves the file as it was.
    HRESULT WriteWholeFile(const char* name, const void* data, LONG size) override
    {
        if (FAILED(failOpen))
            return failOpen;
        ++opens;
        ++writes;
        ++closes;
        if (FAILED(failWrite))
            return failWrite;
        if (FAILED(failClose))
            return failClose;
        const auto* in = static_cast<const BYTE*>(data);
        files[name].assign(in, in + size);
        return S_OK;
    }
    HRESULT GetFolder(char* buffer, DWORD size) override
    {
        static const char folder[] = "/memory/";
        if (size < sizeof folder)
            return E_OUTOFMEMORY;
        std::memcpy(buffer, folder, sizeof folder);
        return S_OK;
    }
    HRESULT FreeBuffer(BYTE* buffer) override
    {
        delete[] buffer;
        return S_OK;
    }

private:
    struct Open {
        std::string name;
        bool writing;
        size_t position;
    };
    std::map<LONG, Open> handles_;
    LONG nextHandle_ = 3;
};

} // namespace tqtest
