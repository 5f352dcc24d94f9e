#pragma once
// The computer-list handlers of one virtual server (codes 4001 to 4037).
// Not built yet: every code answers E_NOTIMPL.

#include "server/dispatch/FileIO.h"
#include "server/dispatch/InvokeData.h"
#include "server/dispatch/TQLog.h"

class CCLInvokeImpl {
public:
    CCLInvokeImpl() = default;
    virtual ~CCLInvokeImpl() = default;
    CCLInvokeImpl(const CCLInvokeImpl&) = delete;
    CCLInvokeImpl& operator=(const CCLInvokeImpl&) = delete;

    HRESULT SetUp(ITQLog* log, IFileIO2* files);
    HRESULT Dispatch(CInvokeData* record);
};
