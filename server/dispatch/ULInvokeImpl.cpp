#include "server/dispatch/ULInvokeImpl.h"

#include "server/dispatch/CallItems.h"
#include "server/dispatch/CallLog.h"
#include "server/dispatch/Finally.h"
#include "server/shared/FlatNameList.h"
#include "server/shared/FlatNameWriter.h"
#include "server/shared/HeapNameList.h"
#include "server/dispatch/LockedDispatch.h"
#include "server/shared/LdapConfigRecord.h"
#include "server/shared/SecurityEquivKind.h"
#include "server/shared/UserList.h"

#include <stdexcept>
#include <type_traits>

namespace {

constexpr const char* kSourceFile = "ULInvokeImpl";
// In the log, in the password's place.
constexpr const char* kMaskedPassword = "*****";
// Every handler's exception record comes five lines after its end record.
constexpr int kExceptionAfterEnd = 5;
// A plain handler's end record comes five lines after its begin record.
constexpr int kPlainEndAfterBegin = 5;
constexpr DWORD kBrowseCode = 2031;

// "Operation(a,b)"; the bare operation name when there are no arguments and
// no parentheses are asked for.
std::string CallText(const char* operation, const std::vector<std::string>& arguments, bool parentheses)
{
    std::string text = operation;
    if (arguments.empty() && !parentheses)
        return text;
    text += '(';
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i != 0)
            text += ',';
        text += arguments[i];
    }
    return text + ')';
}

// The directory-server settings as the log shows them: server, container,
// account, and never the password.
std::string SettingsText(const char* operation, const LdapConfigRecord& settings)
{
    return CallText(operation,
                    {LdapConfigRecord::FieldText(settings.server), LdapConfigRecord::FieldText(settings.container),
                     LdapConfigRecord::FieldText(settings.account), kMaskedPassword},
                    true);
}

// The flat form of an enumeration's list, handed over for the reply.
HRESULT Flatten(const HeapNameList& list, BYTE** flat, DWORD* length)
{
    return FlattenNameList(list, flat, length);
}

HRESULT Flatten(FlatNameWriter& list, BYTE** flat, DWORD* length)
{
    return list.Release(flat, length);
}

template <class List>
List NewList(const size_t* flatSize)
{
    if constexpr (std::is_same_v<List, FlatNameWriter>) {
        // A little more than the last list took, so that one grown by a few
        // entries since fits its first block: nothing is copied as it grows,
        // and no block of twice its size is made (one that large would get
        // fresh pages of its own on every call).
        const size_t last = flatSize != nullptr ? *flatSize : 0;
        return FlatNameWriter(last + last / 8);
    } else {
        return List();
    }
}

} // namespace

CULInvokeImpl::CULInvokeImpl(std::chrono::milliseconds lockWait) : lockWait_(lockWait) {}

CULInvokeImpl::~CULInvokeImpl()
{
    ReleaseUserListStore(store_);
}

HRESULT CULInvokeImpl::SetUp(ITQLog* log, IFileIO2* files, DWORD flags)
{
    log_ = log;
    files_ = files;
    ReleaseUserListStore(store_);
    store_ = nullptr;
    CreateUserListStore(&store_, files, flags);
    return S_OK;
}

IUserList& CULInvokeImpl::Store()
{
    if (store_ == nullptr)
        throw std::logic_error("user list store not created");
    return *store_;
}

HRESULT CULInvokeImpl::Dispatch(CInvokeData* record)
{
    struct Route {
        DWORD code;
        HRESULT (CULInvokeImpl::*handler)(CInvokeData*);
    };
    static const Route routes[] = {
        {2001, &CULInvokeImpl::OnLoad},
        {2002, &CULInvokeImpl::OnSave},
        {2003, &CULInvokeImpl::OnClose},
        {2004, &CULInvokeImpl::OnCreateUser},
        {2005, &CULInvokeImpl::OnDeleteUser},
        {2006, &CULInvokeImpl::OnCreateComputer},
        {2007, &CULInvokeImpl::OnDeleteComputer},
        {2012, &CULInvokeImpl::OnCreateTessaryGroup},
        {2013, &CULInvokeImpl::OnDeleteTessaryGroup},
        {2014, &CULInvokeImpl::OnAddUserToTessaryGroup},
        {2015, &CULInvokeImpl::OnRemoveUserFromTessaryGroup},
        {2016, &CULInvokeImpl::OnAddComputerToTessaryGroup},
        {2017, &CULInvokeImpl::OnRemoveComputerFromTessaryGroup},
        {2018, &CULInvokeImpl::OnRenameTessaryGroup},
        {2019, &CULInvokeImpl::OnEnumerateUsers},
        {2020, &CULInvokeImpl::OnEnumerateComputers},
        {2022, &CULInvokeImpl::OnEnumerateTessaryGroups},
        {2024, &CULInvokeImpl::OnEnumerateTessaryGroupMembers},
        {2025, &CULInvokeImpl::OnGetSecurityEquiv},
        {2026, &CULInvokeImpl::OnGetDefaultGroup},
        {2027, &CULInvokeImpl::OnSetDefaultGroup},
        {2028, &CULInvokeImpl::OnRevertChanges},
        {2029, &CULInvokeImpl::OnIsComputerInTessaryGroup},
        {2030, &CULInvokeImpl::OnIsUserInTessaryGroup},
        {2032, &CULInvokeImpl::OnGetLDAPConfig},
        {2033, &CULInvokeImpl::OnSetLDAPConfig},
    };
    // Browsing waits on a directory server a client chose: it takes the
    // store's settings under the store's own lock and holds none of the
    // user list's while it waits.
    if (record != nullptr && record->functionCode == kBrowseCode) {
        try {
            return OnEnumerateNetworkContainerObjects(record);
        } catch (...) {
            return E_UNEXPECTED;
        }
    }
    return DispatchLocked(record, mutex_, lockWait_, routes,
                          [&](const Route& route) { return (this->*route.handler)(record); });
}

template <class Body>
HRESULT CULInvokeImpl::Logged(CInvokeData* r, const char* operation, int exceptionLine, Body body)
{
    return CCallLog::Run(log_, *r, kSourceFile, "CULInvokeImpl", operation, exceptionLine, body);
}

template <class Call>
HRESULT CULInvokeImpl::Plain(CInvokeData* r, const char* operation, int names, int beginLine, Call call)
{
    const int endLine = beginLine + kPlainEndAfterBegin;
    return Logged(r, operation, endLine + kExceptionAfterEnd, [&](CCallLog& log) {
        std::vector<std::string> arguments;
        for (int i = 0; i < names; ++i)
            arguments.push_back(PopName(r));
        const std::string text = CallText(operation, arguments, false);
        log.Begin(text, beginLine);
        r->result = call(arguments);
        log.End(text, r->result, endLine);
    });
}

template <class List, class Call>
HRESULT CULInvokeImpl::Enumeration(CInvokeData* r, const char* operation, bool withName, const char* noun,
                                   int beginLine, int endLine, Call call, size_t* flatSize)
{
    return Logged(r, operation, endLine + kExceptionAfterEnd, [&](CCallLog& log) {
        std::vector<std::string> arguments;
        if (withName)
            arguments.push_back(PopName(r));
        const std::string text = CallText(operation, arguments, true);
        log.Begin(text, beginLine);
        List list = NewList<List>(flatSize);
        HRESULT hr = call(arguments, list);
        const DWORD count = list.Count();
        BYTE* flat = nullptr;
        DWORD length = 0;
        const HRESULT flattened = Flatten(list, &flat, &length);
        if (FAILED(flattened)) {
            // A list that could not be sent is no success.
            flat = nullptr;
            length = 0;
            if (SUCCEEDED(hr))
                hr = flattened;
        }
        if (flatSize != nullptr)
            *flatSize = length;
        // The reply takes the flat list over (it is freed the same way).
        r->AdoptOutBytes(flat, length);
        r->result = hr;
        log.End(text + " = " + std::to_string(count) + " " + noun, r->result, endLine);
    });
}

HRESULT CULInvokeImpl::OnLoad(CInvokeData* r)
{
    return Plain(r, "Load", 1, 191, [&](auto& a) { return Store().Load(a[0].c_str()); });
}

HRESULT CULInvokeImpl::OnSave(CInvokeData* r)
{
    return Plain(r, "Save", 1, 216, [&](auto& a) { return Store().Save(a[0].c_str()); });
}

HRESULT CULInvokeImpl::OnClose(CInvokeData* r)
{
    return Plain(r, "Close", 0, 258, [&](auto&) { return Store().Close(); });
}

HRESULT CULInvokeImpl::OnRevertChanges(CInvokeData* r)
{
    return Plain(r, "RevertChanges", 0, 237, [&](auto&) { return Store().RevertChanges(); });
}

HRESULT CULInvokeImpl::OnCreateUser(CInvokeData* r)
{
    return Plain(r, "CreateUser", 1, 285,
                 [&](auto& a) { return Store().CreateUser(a[0].c_str()); });
}

HRESULT CULInvokeImpl::OnDeleteUser(CInvokeData* r)
{
    return Plain(r, "DeleteUser", 1, 310,
                 [&](auto& a) { return Store().DeleteUser(a[0].c_str()); });
}

HRESULT CULInvokeImpl::OnCreateComputer(CInvokeData* r)
{
    return Plain(r, "CreateComputer", 1, 337,
                 [&](auto& a) { return Store().CreateComputer(a[0].c_str()); });
}

HRESULT CULInvokeImpl::OnDeleteComputer(CInvokeData* r)
{
    return Plain(r, "DeleteComputer", 1, 362,
                 [&](auto& a) { return Store().DeleteComputer(a[0].c_str()); });
}

HRESULT CULInvokeImpl::OnCreateTessaryGroup(CInvokeData* r)
{
    return Plain(r, "CreateTessaryGroup", 1, 389,
                 [&](auto& a) { return Store().CreateTessaryGroup(a[0].c_str()); });
}

HRESULT CULInvokeImpl::OnDeleteTessaryGroup(CInvokeData* r)
{
    return Plain(r, "DeleteTessaryGroup", 1, 414,
                 [&](auto& a) { return Store().DeleteTessaryGroup(a[0].c_str()); });
}

HRESULT CULInvokeImpl::OnAddUserToTessaryGroup(CInvokeData* r)
{
    return Plain(r, "AddUserToTessaryGroup", 2, 442,
                 [&](auto& a) { return Store().AddUserToTessaryGroup(a[0].c_str(), a[1].c_str()); });
}

HRESULT CULInvokeImpl::OnRemoveUserFromTessaryGroup(CInvokeData* r)
{
    return Plain(r, "RemoveUserFromTessaryGroup", 2, 470,
                 [&](auto& a) { return Store().RemoveUserFromTessaryGroup(a[0].c_str(), a[1].c_str()); });
}

HRESULT CULInvokeImpl::OnAddComputerToTessaryGroup(CInvokeData* r)
{
    return Plain(r, "AddComputerToTessaryGroup", 2, 498,
                 [&](auto& a) { return Store().AddComputerToTessaryGroup(a[0].c_str(), a[1].c_str()); });
}

HRESULT CULInvokeImpl::OnRemoveComputerFromTessaryGroup(CInvokeData* r)
{
    return Plain(r, "RemoveComputerFromTessaryGroup", 2, 526,
                 [&](auto& a) { return Store().RemoveComputerFromTessaryGroup(a[0].c_str(), a[1].c_str()); });
}

HRESULT CULInvokeImpl::OnRenameTessaryGroup(CInvokeData* r)
{
    return Plain(r, "RenameTessaryGroup", 2, 554,
                 [&](auto& a) { return Store().RenameTessaryGroup(a[0].c_str(), a[1].c_str()); });
}

HRESULT CULInvokeImpl::OnSetDefaultGroup(CInvokeData* r)
{
    return Plain(r, "SetDefaultGroup", 1, 858,
                 [&](auto& a) { return Store().SetDefaultGroup(a[0].c_str()); });
}

HRESULT CULInvokeImpl::OnEnumerateUsers(CInvokeData* r)
{
    return Enumeration<FlatNameWriter>(
        r, "EnumerateUsers", false, "users", 641, 662,
        [&](auto&, FlatNameWriter& out) { return Store().EnumerateUsersFlat(out); }, &usersSize_);
}

HRESULT CULInvokeImpl::OnEnumerateComputers(CInvokeData* r)
{
    return Enumeration<FlatNameWriter>(
        r, "EnumerateComputers", false, "computers", 678, 699,
        [&](auto&, FlatNameWriter& out) { return Store().EnumerateComputersFlat(out); }, &computersSize_);
}

HRESULT CULInvokeImpl::OnEnumerateTessaryGroups(CInvokeData* r)
{
    return Enumeration<FlatNameWriter>(
        r, "EnumerateTessaryGroups", false, "groups", 716, 737,
        [&](auto&, FlatNameWriter& out) { return Store().EnumerateTessaryGroupsFlat(out); }, &groupsSize_);
}

HRESULT CULInvokeImpl::OnEnumerateTessaryGroupMembers(CInvokeData* r)
{
    return Enumeration<HeapNameList>(r, "EnumerateTessaryGroupMembers", true, "members", 757, 778,
                                     [&](auto& a, HeapNameList& list) {
                                         return Store().EnumerateTessaryGroupMembers(a[0].c_str(), list);
                                     });
}

HRESULT CULInvokeImpl::OnEnumerateNetworkContainerObjects(CInvokeData* r)
{
    return Enumeration<HeapNameList>(r, "EnumerateNetworkContainerObjects", true, "objects", 883, 904,
                                     [&](auto& a, HeapNameList& list) {
                                         return Store().EnumerateNetworkContainerObjects(a[0].c_str(), list);
                                     });
}

HRESULT CULInvokeImpl::OnGetSecurityEquiv(CInvokeData* r)
{
    return Logged(r, "GetSecurityEquiv", 819, [&](CCallLog& log) {
        const std::string user = PopName(r);
        const std::string computer = PopName(r);
        const std::string text = CallText("GetSecurityEquiv", {user, computer}, true);
        log.Begin(text, 803);
        char group[kCallNameSize] = {};
        DWORD kind = 0;
        const HRESULT hr = Store().GetSecurityEquiv(user.c_str(), computer.c_str(), group, sizeof group, &kind);
        r->PushOutString(group);
        r->PushOutBytes(&kind, sizeof kind);
        r->result = hr;
        log.End(text + " = " + group + " (" + SecurityEquivKindText(kind) + ")", r->result, 814);
    });
}

HRESULT CULInvokeImpl::OnGetDefaultGroup(CInvokeData* r)
{
    return Logged(r, "GetDefaultGroup", 843, [&](CCallLog& log) {
        const std::string text = "GetDefaultGroup()";
        log.Begin(text, 830);
        char group[kCallNameSize] = {};
        const HRESULT hr = Store().GetDefaultGroup(group, sizeof group);
        r->PushOutString(group);
        r->result = hr;
        log.End(text + " = " + group, r->result, 838);
    });
}

HRESULT CULInvokeImpl::OnIsComputerInTessaryGroup(CInvokeData* r)
{
    return Logged(r, "IsComputerInTessaryGroup", 628, [&](CCallLog& log) {
        const std::string computer = PopName(r);
        const std::string text = CallText("IsComputerInTessaryGroup", {computer}, true);
        log.Begin(text, 615);
        bool found = false;
        char group[kCallNameSize] = {};
        const HRESULT hr = Store().IsComputerInTessaryGroup(computer.c_str(), &found, group, sizeof group);
        const BYTE membership = found ? 1 : 0;
        r->PushOutBytes(&membership, sizeof membership);
        r->PushOutString(group);
        r->result = hr;
        log.End(text + " = " + (found ? "Yes" : "No") + ": " + group, r->result, 623);
    });
}

HRESULT CULInvokeImpl::OnIsUserInTessaryGroup(CInvokeData* r)
{
    return Logged(r, "IsUserInTessaryGroup", 596, [&](CCallLog& log) {
        const std::string user = PopName(r);
        const std::string text = CallText("IsUserInTessaryGroup", {user}, true);
        log.Begin(text, 583);
        bool found = false;
        char group[kCallNameSize] = {};
        const HRESULT hr = Store().IsUserInTessaryGroup(user.c_str(), &found, group, sizeof group);
        const BYTE membership = found ? 1 : 0;
        r->PushOutBytes(&membership, sizeof membership);
        r->PushOutString(group);
        r->result = hr;
        log.End(text + " = " + (found ? "Yes" : "No") + ": " + group, r->result, 591);
    });
}

HRESULT CULInvokeImpl::OnGetLDAPConfig(CInvokeData* r)
{
    return Logged(r, "GetLDAPConfig", 935, [&](CCallLog& log) {
        log.Begin("GetLDAPConfig()", 923);
        LdapConfigRecord settings;
        settings.Clear();
        const HRESULT hr = Store().GetLDAPConfig(&settings);
        r->PushOutBytes(&settings, sizeof settings);
        r->result = hr;
        log.End(SettingsText("GetLDAPConfig", settings), r->result, 930);
    });
}

HRESULT CULInvokeImpl::OnSetLDAPConfig(CInvokeData* r)
{
    return Logged(r, "SetLDAPConfig", 958, [&](CCallLog& log) {
        LdapConfigRecord settings;
        settings.Clear();
        r->PopBuffer(reinterpret_cast<BYTE*>(&settings), sizeof settings);
        const std::string text = SettingsText("SetLDAPConfig", settings);
        log.Begin(text, 949);
        r->result = Store().SetLDAPConfig(&settings);
        log.End(text, r->result, 953);
    });
}
