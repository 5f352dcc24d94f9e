#include "server/dispatch/CLInvokeImpl.h"

HRESULT CCLInvokeImpl::SetUp(ITQLog*, IFileIO2*)
{
    return S_OK;
}

HRESULT CCLInvokeImpl::Dispatch(CInvokeData* record)
{
    record->result = E_NOTIMPL;
    return E_NOTIMPL;
}
