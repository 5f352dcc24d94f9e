#pragma once
// Helpers for tests of the list stores and their handlers: a file interface
// that only knows its folder, and raw reads of a database file.

#include "server/shared/FileIO.h"

#include <sqlite3.h>

#include <cstring>
#include <string>

namespace liststest {

class FakeFiles : public IFileIO2 {
public:
    explicit FakeFiles(std::string folder) : folder_(std::move(folder))
    {
        if (folder_.empty() || folder_.back() != '/')
            folder_ += '/';
    }
    HRESULT OpenFile(const char*, DWORD, LONG*) override { return E_NOTIMPL; }
    HRESULT ReadFile(LONG, void*, DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT WriteFile(LONG, const void*, DWORD) override { return E_NOTIMPL; }
    HRESULT CloseFile(LONG) override { return E_NOTIMPL; }
    HRESULT DeleteFile(const char*) override { return E_NOTIMPL; }
    HRESULT GetFileDate(const char*, SYSTEMTIME*) override { return E_NOTIMPL; }
    HRESULT GetFileSize(const char*, LONG*) override { return E_NOTIMPL; }
    HRESULT FindFirstFile(const char*, LONG*, FileFindRecord*) override { return E_NOTIMPL; }
    HRESULT FindNextFile(LONG, FileFindRecord*) override { return E_NOTIMPL; }
    HRESULT FindClose(LONG) override { return E_NOTIMPL; }
    HRESULT ReadWholeFile(const char*, BYTE**, LONG*) override { return E_NOTIMPL; }
    HRESULT WriteWholeFile(const char*, const void*, LONG) override { return E_NOTIMPL; }
    HRESULT GetFolder(char* buffer, DWORD size) override
    {
        std::strncpy(buffer, folder_.c_str(), size - 1);
        buffer[size - 1] = '\0';
        return S_OK;
    }
    HRESULT FreeBuffer(BYTE* buffer) override
    {
        delete[] buffer;
        return S_OK;
    }

private:
    std::string folder_;
};

// The first column of the first row of a query on a database file, as text;
// "<error>" when the query fails, "<none>" without a row.
inline std::string QueryText(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    std::string out = "<error>";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK) {
            int rc = sqlite3_step(s);
            if (rc == SQLITE_ROW) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
                out = text == nullptr ? "<null>" : text;
            } else if (rc == SQLITE_DONE) {
                out = "<none>";
            }
        }
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return out;
}

inline DWORD U32At(const BYTE* p)
{
    return DWORD(p[0]) | (DWORD(p[1]) << 8) | (DWORD(p[2]) << 16) | (DWORD(p[3]) << 24);
}

} // namespace liststest
