#pragma once
// The server settings handlers of one virtual server (codes 2 to 6).
// Not built yet: every code answers E_NOTIMPL.

#include "server/dispatch/FileIO.h"
#include "server/dispatch/InvokeData.h"
#include "server/dispatch/TQLog.h"

class CBaseWLImpl {
public:
    HRESULT SetUp(ITQLog* log, IFileIO2* files);
    HRESULT Dispatch(CInvokeData* record);
};
