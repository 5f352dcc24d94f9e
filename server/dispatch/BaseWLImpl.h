#pragma once
// The server settings handlers of one virtual server (codes 2 to 6). Two
// settings live in "settings.ad" of the storage folder, as attributes of
// application 4: ReplStatus (id 11005, flag bit 1, 1 when absent) and
// UpdateInterval (id 11004, a 28-bit number, 300000 when absent). Every
// request loads the file afresh; a change saves it whole.
//
// Requests of one server are taken one at a time, so that two changes
// cannot each write back a file without the other's setting. A change over
// a file that is missing or damaged starts a new one; a change over a file
// that could not be read for another reason (access, I/O) fails with that
// reason and leaves the file as it is.

#include "server/shared/FileIO.h"
#include "common/callrecord/InvokeData.h"
#include "server/shared/TQLog.h"

#include <mutex>

class CAttribute;

enum SettingsCode : DWORD {
    SettingsGetReplStatus = 2,
    SettingsSetReplStatus = 3,
    SettingsGetUpdateInterval = 4,
    SettingsSetUpdateInterval = 5,
    SettingsReserved = 6,
};

class CBaseWLImpl {
public:
    CBaseWLImpl() = default;
    virtual ~CBaseWLImpl() = default;
    CBaseWLImpl(const CBaseWLImpl&) = delete;
    CBaseWLImpl& operator=(const CBaseWLImpl&) = delete;

    // Keeps both (neither is owned); S_OK.
    HRESULT SetUp(ITQLog* log, IFileIO2* files);
    // Codes 2 to 5: S_OK, the outcome in the record's result. Code 6:
    // E_NOTIMPL, the record untouched. Others: the result and the return
    // E_NOTIMPL. An exception: E_UNEXPECTED.
    HRESULT Dispatch(CInvokeData* record);

private:
    using ReadValue = LONG (*)(CAttribute* attribute);
    using ApplyValue = HRESULT (*)(CAttribute* attribute, DWORD value);

    HRESULT OnGetReplStatus(CInvokeData* record);
    HRESULT OnSetReplStatus(CInvokeData* record);
    HRESULT OnGetUpdateInterval(CInvokeData* record);
    HRESULT OnSetUpdateInterval(CInvokeData* record);
    enum class SettingState { Unloadable, Absent, Found };

    // Loads the file and looks the setting up; *value is set when found,
    // *queryResult to the lookup's result.
    SettingState ReadSetting(LONG id, ReadValue read, LONG* value, HRESULT* queryResult);
    HRESULT ChangeSetting(CInvokeData* record, const char* name, LONG id, ApplyValue apply);

    ITQLog* log_ = nullptr; // kept for the server's other parts; these handlers log nothing
    IFileIO2* files_ = nullptr;
    std::mutex lock_;
};
