#include "server/dispatch/BaseWLImpl.h"

HRESULT CBaseWLImpl::SetUp(ITQLog*, IFileIO2*)
{
    return S_OK;
}

HRESULT CBaseWLImpl::Dispatch(CInvokeData* record)
{
    record->result = E_NOTIMPL;
    return E_NOTIMPL;
}
