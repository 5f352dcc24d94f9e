#pragma once
// The computer-list handlers of one virtual server (codes 4001 to 4037): one
// call at a time behind the handlers' lock, a begin and an end record in the
// log for each, and a save of the list after every code that changes it.

#include "server/shared/FileIO.h"
#include "common/callrecord/InvokeData.h"
#include "server/shared/TQLog.h"

#include <mutex>
#include <string>

class IComputerList2;

class CCLInvokeImpl {
public:
    static constexpr DWORD kLockWaitMs = 5000;

    CCLInvokeImpl();
    virtual ~CCLInvokeImpl();
    CCLInvokeImpl(const CCLInvokeImpl&) = delete;
    CCLInvokeImpl& operator=(const CCLInvokeImpl&) = delete;

    // Keeps both interfaces and creates the store; S_OK whatever the store's
    // factory answered (without a store every handler fails).
    HRESULT SetUp(ITQLog* log, IFileIO2* files);

    // E_ABORT when the lock is not had within kLockWaitMs (nothing logged,
    // the record untouched); E_NOTIMPL for a code without a handler;
    // E_UNEXPECTED when a handler ended in an exception; else S_OK.
    HRESULT Dispatch(CInvokeData* record);

private:
    HRESULT OnLoadComputerList(CInvokeData* r);
    HRESULT OnSaveComputerList(CInvokeData* r);
    HRESULT OnAddSchemaNode(CInvokeData* r);
    HRESULT OnDeleteSchemaNode(CInvokeData* r);
    HRESULT OnAddComputer(CInvokeData* r);
    HRESULT OnDeleteComputer(CInvokeData* r);
    HRESULT OnSetComputerInformation(CInvokeData* r);
    HRESULT OnGetComputerInformation(CInvokeData* r);
    HRESULT OnClearAllPendingOps(CInvokeData* r);
    HRESULT OnAddPendingOp(CInvokeData* r);
    HRESULT OnDeletePendingOp(CInvokeData* r);
    HRESULT OnUpdatePendingOp(CInvokeData* r);
    HRESULT OnGetCompleteSchemaNodeList(CInvokeData* r);
    HRESULT OnGetCompleteComputerList(CInvokeData* r);
    HRESULT OnGetCompletePendingOpsList(CInvokeData* r);
    HRESULT OnGetPendingOp(CInvokeData* r);
    HRESULT OnAddDowntimeSchedule(CInvokeData* r);
    HRESULT OnDeleteDowntimeSchedule(CInvokeData* r);
    HRESULT OnClearAllDowntimeSchedules(CInvokeData* r);
    HRESULT OnGetCompleteDowntimeList(CInvokeData* r);

    // Runs body with the call's log; an exception becomes an exception
    // record and E_UNEXPECTED.
    template <class Body>
    HRESULT Logged(CInvokeData* r, const char* operation, int exceptionLine, Body body);
    IComputerList2& Store();

    ITQLog* log_ = nullptr;
    IComputerList2* store_ = nullptr;
    IFileIO2* files_ = nullptr;
    std::timed_mutex mutex_;
};
