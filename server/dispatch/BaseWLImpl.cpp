#include "server/dispatch/BaseWLImpl.h"

#include "server/dispatch/CallItems.h"
#include "server/storage/attributes/Attribute.h"
#include "server/storage/attributes/AttributeDirectory.h"
#include "server/storage/attributes/AttributeList.h"
#include "server/storage/attributes/AttributeQuery.h"
#include "server/storage/container/DynIO.h"

namespace {

constexpr char kSettingsFile[] = "settings.ad";
constexpr LONG kSettingsAppId = 4;
constexpr char kReplStatusName[] = "ReplStatus";
constexpr LONG kReplStatusId = 11005;
constexpr DWORD kReplStatusBit = 1;
constexpr LONG kReplStatusDefault = 1;
constexpr char kUpdateIntervalName[] = "UpdateInterval";
constexpr LONG kUpdateIntervalId = 11004;
constexpr LONG kUpdateIntervalDefault = 300000;

// One request's "settings.ad": loaded afresh, and the attribute of one
// setting when the file has it.
struct SettingLookup {
    SettingLookup(IFileIO* files, LONG id)
    {
        CDynIO io(files);
        loaded = io.Load(kSettingsFile, &directory);
        if (FAILED(loaded))
            return;
        CAttributeQuery query;
        found = query.AddCriterion(QUERY_APP_ID, QUERY_EQUAL, kSettingsAppId, 0);
        if (SUCCEEDED(found))
            found = query.AddCriterion(QUERY_ID, QUERY_EQUAL, static_cast<std::uintptr_t>(id), 0);
        if (SUCCEEDED(found))
            found = directory.QueryAttributes(&query, &list, &attribute);
    }
    ~SettingLookup()
    {
        if (attribute != nullptr)
            attribute->Release();
        if (list != nullptr)
            list->Release();
    }
    SettingLookup(const SettingLookup&) = delete;
    SettingLookup& operator=(const SettingLookup&) = delete;

    CAttributeDirectory directory;
    CAttributeList* list = nullptr;
    CAttribute* attribute = nullptr;
    HRESULT loaded = E_FAIL;
    HRESULT found = E_FAIL;
};

// Load failures after which a change may write a new file: the file is
// not there, or what is there cannot be used.
bool MayReplace(HRESULT loadResult)
{
    switch (loadResult) {
    case HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND):
    case HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND):
    case HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE):
    case STG_E_PROPSETMISMATCHED:
    case SEC_E_MESSAGE_ALTERED:
    case E_FAIL:
        return true;
    default:
        return false;
    }
}

// GetFlag gives -1 when the bit is not defined, which reads as off.
LONG ReadReplStatus(CAttribute* attribute)
{
    LONG state = -1;
    attribute->GetFlag(kReplStatusBit, &state);
    return state;
}

LONG ReadUpdateInterval(CAttribute* attribute)
{
    DWORD number = 0;
    attribute->GetNumber(&number);
    return static_cast<LONG>(number);
}

HRESULT ApplyReplStatus(CAttribute* attribute, DWORD value)
{
    return attribute->SetFlag(kReplStatusBit, value == 1 ? 1 : 0);
}

HRESULT ApplyUpdateInterval(CAttribute* attribute, DWORD value)
{
    return attribute->SetNumber(value);
}

} // namespace

HRESULT CBaseWLImpl::SetUp(ITQLog* log, IFileIO2* files)
{
    log_ = log;
    files_ = files;
    return S_OK;
}

HRESULT CBaseWLImpl::Dispatch(CInvokeData* record)
{
    if (record == nullptr)
        return E_INVALIDARG;
    try {
        switch (record->functionCode) {
        case SettingsGetReplStatus:
            return OnGetReplStatus(record);
        case SettingsSetReplStatus:
            return OnSetReplStatus(record);
        case SettingsGetUpdateInterval:
            return OnGetUpdateInterval(record);
        case SettingsSetUpdateInterval:
            return OnSetUpdateInterval(record);
        case SettingsReserved:
            return E_NOTIMPL;
        default:
            record->result = E_NOTIMPL;
            return E_NOTIMPL;
        }
    } catch (...) {
        return E_UNEXPECTED;
    }
}

CBaseWLImpl::SettingState CBaseWLImpl::ReadSetting(LONG id, ReadValue read, LONG* value, HRESULT* queryResult)
{
    std::lock_guard<std::mutex> guard(lock_);
    SettingLookup setting(files_, id);
    *queryResult = setting.found;
    if (FAILED(setting.loaded))
        return SettingState::Unloadable;
    if (setting.attribute == nullptr)
        return SettingState::Absent;
    *value = read(setting.attribute);
    return SettingState::Found;
}

HRESULT CBaseWLImpl::OnGetReplStatus(CInvokeData* record)
{
    LONG value = kReplStatusDefault;
    HRESULT result = E_FAIL;
    switch (ReadSetting(kReplStatusId, ReadReplStatus, &value, &result)) {
    case SettingState::Unloadable:
        result = E_FAIL;
        break;
    case SettingState::Absent:
        result = S_FALSE;
        break;
    case SettingState::Found:
        break;
    }
    record->PushOutLong(value == 1 ? 1 : 0);
    record->result = result;
    return S_OK;
}

HRESULT CBaseWLImpl::OnGetUpdateInterval(CInvokeData* record)
{
    LONG value = kUpdateIntervalDefault;
    HRESULT result = E_FAIL;
    if (ReadSetting(kUpdateIntervalId, ReadUpdateInterval, &value, &result) == SettingState::Unloadable)
        result = E_FAIL;
    record->PushOutLong(value);
    record->result = result;
    return S_OK;
}

HRESULT CBaseWLImpl::OnSetReplStatus(CInvokeData* record)
{
    return ChangeSetting(record, kReplStatusName, kReplStatusId, ApplyReplStatus);
}

HRESULT CBaseWLImpl::OnSetUpdateInterval(CInvokeData* record)
{
    return ChangeSetting(record, kUpdateIntervalName, kUpdateIntervalId, ApplyUpdateInterval);
}

HRESULT CBaseWLImpl::ChangeSetting(CInvokeData* record, const char* name, LONG id, ApplyValue apply)
{
    std::lock_guard<std::mutex> guard(lock_);
    SettingLookup setting(files_, id);
    if (FAILED(setting.loaded)) {
        if (!MayReplace(setting.loaded)) {
            record->result = setting.loaded;
            return S_OK;
        }
        // Whatever a damaged file gave before its damage does not go into the new one.
        setting.directory.Clear();
    }
    HRESULT result = S_OK;
    if (setting.attribute == nullptr) {
        result = setting.directory.CreateAttribute(name, kSettingsAppId, id, &setting.attribute, 0);
        if (FAILED(result)) {
            record->result = result;
            return S_OK;
        }
    }
    result = apply(setting.attribute, PopDword(record));
    if (SUCCEEDED(result)) {
        CDynIO io(files_);
        result = io.Save(kSettingsFile, &setting.directory, CONTAINER_SHA1 | CONTAINER_LZO1X);
    }
    record->result = result;
    return S_OK;
}
