#pragma once
// The user-list handlers of one virtual server (codes 2001 to 2033).
// Not built yet: every code answers E_NOTIMPL.

#include "server/dispatch/FileIO.h"
#include "server/dispatch/InvokeData.h"
#include "server/dispatch/TQLog.h"

class CULInvokeImpl {
public:
    CULInvokeImpl() = default;
    virtual ~CULInvokeImpl() = default;
    CULInvokeImpl(const CULInvokeImpl&) = delete;
    CULInvokeImpl& operator=(const CULInvokeImpl&) = delete;

    HRESULT SetUp(ITQLog* log, IFileIO2* files, DWORD flags);
    HRESULT Dispatch(CInvokeData* record);
};
