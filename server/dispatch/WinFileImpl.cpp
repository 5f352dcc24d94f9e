#include "server/dispatch/WinFileImpl.h"

#include <cstring>

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

HRESULT CWinFileImpl::Dispatch(CInvokeData* record)
{
    record->result = E_NOTIMPL;
    return E_NOTIMPL;
}

HRESULT CWinFileImpl::GetFolder(char* buffer, DWORD size)
{
    if (buffer == nullptr || size == 0)
        return E_INVALIDARG;
    std::strncpy(buffer, folder_.c_str(), size - 1);
    buffer[size - 1] = '\0';
    return S_OK;
}

HRESULT CWinFileImpl::FreeBuffer(BYTE* buffer)
{
    delete[] buffer;
    return S_OK;
}
