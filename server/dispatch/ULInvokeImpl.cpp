#include "server/dispatch/ULInvokeImpl.h"

HRESULT CULInvokeImpl::SetUp(ITQLog*, IFileIO2*, DWORD)
{
    return S_OK;
}

HRESULT CULInvokeImpl::Dispatch(CInvokeData* record)
{
    record->result = E_NOTIMPL;
    return E_NOTIMPL;
}
