#pragma once
// File access within a virtual server's storage folder, and the file codes
// 1001 to 1012. Not built yet: every operation answers E_NOTIMPL.

#include "server/dispatch/FileIO.h"
#include "server/dispatch/InvokeData.h"
#include "server/dispatch/TQLog.h"

#include <string>

class CWinFileImpl : public IFileIO2 {
public:
    HRESULT SetFolder(ITQLog* log, const char* folder);
    HRESULT Dispatch(CInvokeData* record);

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
    HRESULT GetFolder(char* buffer, DWORD size) override;
    HRESULT FreeBuffer(BYTE* buffer) override;

private:
    std::string folder_;
    ITQLog* log_ = nullptr;
};
