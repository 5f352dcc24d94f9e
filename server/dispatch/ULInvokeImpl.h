#pragma once
// The user-list handlers of one virtual server (codes 2001 to 2033): one call
// at a time behind the handlers' lock, a begin and an end record in the log
// for each (or an exception record), and the store's answer in the record.
// The directory-server password never reaches the log.

#include "server/shared/FileIO.h"
#include "common/callrecord/InvokeData.h"
#include "server/shared/TQLog.h"

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

class IUserList;

class CULInvokeImpl {
public:
    static constexpr std::chrono::milliseconds kLockWait{50000};

    // lockWait: how long a call waits for the one before it.
    explicit CULInvokeImpl(std::chrono::milliseconds lockWait = kLockWait);
    // Closes and deletes the store.
    virtual ~CULInvokeImpl();
    CULInvokeImpl(const CULInvokeImpl&) = delete;
    CULInvokeImpl& operator=(const CULInvokeImpl&) = delete;

    // Keeps both interfaces and creates the store with the flags; S_OK
    // whatever the store's factory answered (without a store every handler
    // takes its exception path).
    HRESULT SetUp(ITQLog* log, IFileIO2* files, DWORD flags);

    // E_ABORT when the lock is not had in time (nothing logged, the record
    // untouched); E_NOTIMPL, also in the record, for a code without a
    // handler; E_UNEXPECTED when a handler ended in an exception; else S_OK.
    HRESULT Dispatch(CInvokeData* record);

private:
    HRESULT OnLoad(CInvokeData* r);
    HRESULT OnSave(CInvokeData* r);
    HRESULT OnClose(CInvokeData* r);
    HRESULT OnRevertChanges(CInvokeData* r);
    HRESULT OnCreateUser(CInvokeData* r);
    HRESULT OnDeleteUser(CInvokeData* r);
    HRESULT OnCreateComputer(CInvokeData* r);
    HRESULT OnDeleteComputer(CInvokeData* r);
    HRESULT OnCreateTessaryGroup(CInvokeData* r);
    HRESULT OnDeleteTessaryGroup(CInvokeData* r);
    HRESULT OnAddUserToTessaryGroup(CInvokeData* r);
    HRESULT OnRemoveUserFromTessaryGroup(CInvokeData* r);
    HRESULT OnAddComputerToTessaryGroup(CInvokeData* r);
    HRESULT OnRemoveComputerFromTessaryGroup(CInvokeData* r);
    HRESULT OnRenameTessaryGroup(CInvokeData* r);
    HRESULT OnEnumerateUsers(CInvokeData* r);
    HRESULT OnEnumerateComputers(CInvokeData* r);
    HRESULT OnEnumerateTessaryGroups(CInvokeData* r);
    HRESULT OnEnumerateTessaryGroupMembers(CInvokeData* r);
    HRESULT OnGetSecurityEquiv(CInvokeData* r);
    HRESULT OnGetDefaultGroup(CInvokeData* r);
    HRESULT OnSetDefaultGroup(CInvokeData* r);
    HRESULT OnIsComputerInTessaryGroup(CInvokeData* r);
    HRESULT OnIsUserInTessaryGroup(CInvokeData* r);
    HRESULT OnEnumerateNetworkContainerObjects(CInvokeData* r);
    HRESULT OnGetLDAPConfig(CInvokeData* r);
    HRESULT OnSetLDAPConfig(CInvokeData* r);

    // Runs body with the call's log; an exception becomes an exception
    // record at exceptionLine and E_UNEXPECTED.
    template <class Body>
    HRESULT Logged(CInvokeData* r, const char* operation, int exceptionLine, Body body);
    // The handlers whose end text is their begin text: the names popped in
    // order, the begin text, the store's call with them, the end record.
    template <class Call>
    HRESULT Plain(CInvokeData* r, const char* operation, int names, int beginLine, Call call);
    // The handlers that send one name list, gathered in a List (a
    // HeapNameList, or a FlatNameWriter when the store writes the flat form
    // itself); end text "<begin> = %u <noun>". *flatSize, when given, holds
    // the size of the last such list sent, to make room for the next at once.
    template <class List, class Call>
    HRESULT Enumeration(CInvokeData* r, const char* operation, bool withName, const char* noun, int beginLine,
                        int endLine, Call call, size_t* flatSize = nullptr);
    IUserList& Store();

    ITQLog* log_ = nullptr;
    IUserList* store_ = nullptr;
    IFileIO2* files_ = nullptr;
    std::timed_mutex mutex_;
    // Flat sizes of the last user, computer and group lists sent.
    size_t usersSize_ = 0;
    size_t computersSize_ = 0;
    size_t groupsSize_ = 0;
    std::chrono::milliseconds lockWait_;
};
