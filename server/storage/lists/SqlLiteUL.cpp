#include "server/storage/lists/SqlLiteUL.h"

#include "server/shared/SecurityEquivKind.h"
#include "server/storage/attributes/Attribute.h"
#include "server/storage/attributes/AttributeDirectory.h"
#include "server/storage/container/DynIO.h"
#include "server/storage/lists/SqlLiteDatabase.h"
#include "server/storage/lists/SqlLiteStatement.h"

#include <cstring>
#include <new>
#include <string_view>
#include <vector>

namespace {

constexpr DWORD kSettingsContainerFlags = CONTAINER_SHA1 | CONTAINER_LZO1X;
constexpr const char* kDefaultGroup = "Default";

struct TableSpec {
    const char* name;
    const char* create;
    const char* index; // null: none
};

const TableSpec kTables[] = {
    {"wl_groups",
     "create table main.wl_groups(id integer primary key autoincrement,group_name text not null COLLATE "
     "NOCASE,is_default int not null)",
     nullptr},
    {"wl_users",
     "create table main.wl_users(id integer primary key autoincrement,user_name text not null COLLATE "
     "NOCASE,group_id int not null)",
     "CREATE INDEX IF NOT EXISTS main.idxuser_name ON wl_users (user_name COLLATE NOCASE)"},
    {"wl_computers",
     "create table main.wl_computers(id integer primary key autoincrement,cpu_name text not null COLLATE "
     "NOCASE,group_id int not null)",
     "CREATE INDEX IF NOT EXISTS main.idxcpu_name ON wl_computers (cpu_name COLLATE NOCASE)"},
};

constexpr const char* kFindGroup = "SELECT id FROM wl_groups WHERE group_name=?";
constexpr const char* kAllUsers = "SELECT user_name FROM wl_users ORDER BY user_name";
constexpr const char* kAllComputers = "SELECT cpu_name FROM wl_computers ORDER BY cpu_name";
constexpr const char* kAllGroups = "SELECT group_name FROM wl_groups ORDER BY group_name";

bool Empty(const char* text)
{
    return text == nullptr || *text == '\0';
}

// Copies at most size - 1 characters and always terminates; nothing for a
// buffer without room for the terminator.
void CopyOut(std::string_view text, char* buffer, int size)
{
    if (buffer == nullptr || size <= 0)
        return;
    const size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

HRESULT FromSqlite(int rc)
{
    return rc == SQLITE_OK ? S_OK : E_FAIL;
}

// Gives an attribute handle back when the scope ends.
class AttributeHandle {
public:
    AttributeHandle() = default;
    ~AttributeHandle() { Reset(); }
    AttributeHandle(const AttributeHandle&) = delete;
    AttributeHandle& operator=(const AttributeHandle&) = delete;

    CAttribute** Out()
    {
        Reset();
        return &attribute_;
    }
    CAttribute* operator->() const { return attribute_; }
    explicit operator bool() const { return attribute_ != nullptr; }

private:
    void Reset()
    {
        if (attribute_ != nullptr)
            attribute_->Release();
        attribute_ = nullptr;
    }
    CAttribute* attribute_ = nullptr;
};

std::string StringValue(CAttribute* attribute)
{
    LONG count = 0;
    if (attribute->GetString(nullptr, &count) != E_OUTOFMEMORY || count <= 0)
        return {};
    std::vector<char> text(static_cast<size_t>(count) + 1, '\0');
    if (FAILED(attribute->GetString(text.data(), &count)))
        return {};
    return std::string(text.data(), strnlen(text.data(), text.size()));
}

} // namespace

HRESULT CSqlLiteUL::LoadSettings(CAttributeDirectory* directory)
{
    return CDynIO(files_).Load(kSettingsFile, directory);
}

HRESULT CSqlLiteUL::WriteSettings(CAttributeDirectory* directory)
{
    return CDynIO(files_).Save(kSettingsFile, directory, kSettingsContainerFlags);
}

HRESULT CSqlLiteUL::SaveSettings(CAttributeDirectory* directory)
{
    // The file is rewritten in place; when that fails, the old settings are
    // put back (or the remains of the new ones removed), so a failed save
    // never leaves the server without its settings or with a torn file.
    BYTE* old = nullptr;
    LONG oldSize = 0;
    const bool hadOld = SUCCEEDED(files_->ReadWholeFile(kSettingsFile, &old, &oldSize));
    const HRESULT hr = WriteSettings(directory);
    if (FAILED(hr)) {
        if (hadOld)
            files_->WriteWholeFile(kSettingsFile, old, oldSize);
        else
            files_->DeleteFile(kSettingsFile);
    }
    if (old != nullptr)
        files_->FreeBuffer(old);
    return hr;
}

CSqlLiteUL::CSqlLiteUL(IFileIO2* files, DWORD flags) : flags_(flags), files_(files)
{
    ConfigureBrowser();
}

CSqlLiteUL::CSqlLiteUL(IFileIO2* files, DWORD flags, const DirectoryEntryPoints& directory)
    : flags_(flags), files_(files), directory_(directory)
{
    ConfigureBrowser();
}

CSqlLiteUL::~CSqlLiteUL()
{
    CloseDatabase(&db_);
}

void CSqlLiteUL::ConfigureBrowser()
{
    LdapConfigRecord settings;
    GetLDAPConfig(&settings);
    SetDirectorySettings(LdapConfigRecord::FieldText(settings.server), LdapConfigRecord::FieldText(settings.account),
                         LdapConfigRecord::FieldText(settings.password),
                         LdapConfigRecord::FieldText(settings.container));
}

void CSqlLiteUL::SetDirectorySettings(std::string server, std::string account, std::string password,
                                      std::string container)
{
    std::lock_guard<std::mutex> guard(directoryLock_);
    directorySettings_ = {std::move(server), std::move(account), std::move(password), std::move(container)};
}

int CSqlLiteUL::Run(const char* sql, Texts texts)
{
    CSqlLiteStatement s(db_, sql);
    s.BindTexts(texts);
    return s.Run();
}

bool CSqlLiteUL::HasRow(const char* sql, Texts texts, int* rc)
{
    CSqlLiteStatement s(db_, sql);
    s.BindTexts(texts);
    const int step = s.Step();
    *rc = step == SQLITE_ROW || step == SQLITE_DONE ? SQLITE_OK : step;
    return step == SQLITE_ROW;
}

bool CSqlLiteUL::LastText(const char* sql, Texts texts, std::string* text, int* rc)
{
    CSqlLiteStatement s(db_, sql);
    s.BindTexts(texts);
    text->clear();
    int step;
    while ((step = s.Step()) == SQLITE_ROW)
        *text = s.ColumnText(0);
    *rc = step == SQLITE_DONE ? SQLITE_OK : step;
    return *rc == SQLITE_OK && !text->empty();
}

template <class List>
int CSqlLiteUL::AppendNames(const char* sql, Texts texts, DWORD tag, List& list)
{
    CSqlLiteStatement s(db_, sql);
    s.BindTexts(texts);
    int step;
    while ((step = s.Step()) == SQLITE_ROW)
        list.Append(tag, s.ColumnView(0));
    return step == SQLITE_DONE ? SQLITE_OK : step;
}

template <class Body>
int CSqlLiteUL::InTransaction(Body body)
{
    // A savepoint, so that transactions may nest; the outermost one's
    // release is the commit.
    const bool outermost = sqlite3_get_autocommit(db_) != 0;
    int rc = Run("SAVEPOINT userlist", {});
    if (rc != SQLITE_OK)
        return rc;
    rc = body();
    if (rc != SQLITE_OK)
        Run("ROLLBACK TO userlist", {});
    const int released = Run("RELEASE userlist", {});
    if (released != SQLITE_OK) {
        // A commit another process's lock refused leaves the transaction
        // open, and every later change would run inside it unseen.
        if (outermost && sqlite3_get_autocommit(db_) == 0)
            Run("ROLLBACK", {});
        if (rc == SQLITE_OK)
            rc = released;
    }
    return rc;
}

int CSqlLiteUL::CreateTables()
{
    return InTransaction([&] {
        for (const TableSpec& table : kTables) {
            bool exists = false;
            int rc = FindTable(db_, table.name, &exists);
            if (rc == SQLITE_OK && exists)
                continue;
            if (rc != SQLITE_OK || (rc = Run(table.create, {})) != SQLITE_OK)
                return rc;
            if (std::strcmp(table.name, "wl_groups") == 0 &&
                (FAILED(CreateTessaryGroup(kDefaultGroup)) || FAILED(SetDefaultGroup(kDefaultGroup))))
                return SQLITE_ERROR;
            if (table.index != nullptr && (rc = Run(table.index, {})) != SQLITE_OK)
                return rc;
        }
        return SQLITE_OK;
    });
}

int CSqlLiteUL::Open(std::string path, bool report)
{
    path_.clear();
    const int rc = OpenList(&db_, path, "user list", report, [&] { return CreateTables(); }, &pending_);
    if (rc == SQLITE_OK)
        path_ = path;
    return rc;
}

bool CSqlLiteUL::Ready()
{
    return db_ != nullptr || (!pending_.empty() && Open(pending_, false) == SQLITE_OK);
}

HRESULT CSqlLiteUL::Load(const char* fileName)
{
    if (Empty(fileName) || files_ == nullptr)
        return E_INVALIDARG;
    char folder[MAX_PATH] = {};
    HRESULT hr = files_->GetFolder(folder, sizeof folder);
    if (FAILED(hr))
        return hr;
    const int rc = Open(std::string(folder) + fileName, true);
    return rc == SQLITE_OK ? S_OK : rc;
}

HRESULT CSqlLiteUL::Save(const char*)
{
    return Ready() ? S_OK : E_FAIL;
}

HRESULT CSqlLiteUL::RevertChanges()
{
    return E_NOTIMPL;
}

HRESULT CSqlLiteUL::Close()
{
    if ((flags_ & kUserListKeepOpen) != 0)
        return S_OK;
    pending_.clear();
    CloseDatabase(&db_);
    return S_OK;
}

HRESULT CSqlLiteUL::CreateNamed(const char* findSql, const char* insertSql, const char* name)
{
    if (!Ready() || Empty(name))
        return E_INVALIDARG;
    int rc = SQLITE_OK;
    if (HasRow(findSql, {name}, &rc))
        return S_OK;
    if (rc != SQLITE_OK)
        return E_FAIL;
    // Fails also when there is no default group to join.
    return FromSqlite(Run(insertSql, {name}));
}

HRESULT CSqlLiteUL::CreateUser(const char* user)
{
    return CreateNamed("SELECT * FROM wl_users WHERE user_name = ?",
                       "INSERT INTO wl_users (id,user_name,group_id) VALUES(NULL,?, (SELECT id from wl_groups WHERE "
                       "is_default <>0))",
                       user);
}

HRESULT CSqlLiteUL::CreateComputer(const char* computer)
{
    return CreateNamed("SELECT * FROM wl_computers WHERE cpu_name= ?",
                       "INSERT INTO wl_computers (id,cpu_name,group_id) VALUES(NULL,?, (SELECT id from wl_groups "
                       "WHERE is_default <>0))",
                       computer);
}

HRESULT CSqlLiteUL::CreateTessaryGroup(const char* group)
{
    return CreateNamed("SELECT * FROM wl_groups WHERE group_name =?",
                       "INSERT INTO wl_groups (id,group_name,is_default) VALUES(NULL,?,0)", group);
}

HRESULT CSqlLiteUL::DeleteUser(const char* user)
{
    if (!Ready() || Empty(user))
        return E_INVALIDARG;
    return FromSqlite(Run("DELETE FROM wl_users WHERE user_name=?", {user}));
}

HRESULT CSqlLiteUL::DeleteComputer(const char* computer)
{
    if (!Ready() || Empty(computer))
        return E_INVALIDARG;
    return FromSqlite(Run("DELETE FROM wl_computers WHERE cpu_name = ?", {computer}));
}

HRESULT CSqlLiteUL::DeleteTessaryGroup(const char* group)
{
    if (!Ready() || Empty(group))
        return E_INVALIDARG;
    // The default flag goes with the group: deleting the default group
    // leaves the list without one.
    return FromSqlite(InTransaction([&] {
        int rc = Run("DELETE FROM wl_users WHERE group_id=(SELECT id FROM wl_groups WHERE group_name=?)", {group});
        if (rc == SQLITE_OK)
            rc = Run("DELETE FROM wl_computers WHERE group_id=(SELECT id FROM wl_groups WHERE group_name=?)",
                     {group});
        if (rc == SQLITE_OK)
            rc = Run("DELETE FROM wl_groups WHERE group_name=?", {group});
        return rc;
    }));
}

HRESULT CSqlLiteUL::AddUserToTessaryGroup(const char* group, const char* user)
{
    if (!Ready() || Empty(group) || Empty(user))
        return E_INVALIDARG;
    int rc = SQLITE_OK;
    if (!HasRow(kFindGroup, {group}, &rc))
        return rc == SQLITE_OK ? E_INVALIDARG : E_FAIL;
    // A user not yet listed first joins the default group.
    const HRESULT created = CreateUser(user);
    if (FAILED(created))
        return created;
    rc = Run("UPDATE wl_users SET group_id = (SELECT id FROM wl_groups WHERE group_name=?) WHERE user_name=?",
             {group, user});
    return rc == SQLITE_OK ? created : E_FAIL;
}

HRESULT CSqlLiteUL::AddComputerToTessaryGroup(const char* group, const char* computer)
{
    if (!Ready() || Empty(group) || Empty(computer))
        return E_INVALIDARG;
    int rc = SQLITE_OK;
    if (!HasRow(kFindGroup, {group}, &rc))
        return rc == SQLITE_OK ? E_INVALIDARG : E_FAIL;
    const HRESULT created = CreateComputer(computer);
    if (FAILED(created))
        return created;
    return FromSqlite(
        Run("UPDATE wl_computers SET group_id = (SELECT id FROM wl_groups WHERE group_name=?) WHERE cpu_name=?",
            {group, computer}));
}

HRESULT CSqlLiteUL::RemoveUserFromTessaryGroup(const char* group, const char* user)
{
    if (!Ready() || Empty(group) || Empty(user))
        return E_INVALIDARG;
    return FromSqlite(
        Run("DELETE FROM wl_users WHERE group_id=(SELECT id FROM wl_groups WHERE group_name=?) AND user_name =?",
            {group, user}));
}

HRESULT CSqlLiteUL::RemoveComputerFromTessaryGroup(const char* group, const char* computer)
{
    if (!Ready() || Empty(group) || Empty(computer))
        return E_INVALIDARG;
    return FromSqlite(
        Run("DELETE FROM wl_computers WHERE group_id=(SELECT id FROM wl_groups WHERE group_name=?) AND cpu_name=?",
            {group, computer}));
}

HRESULT CSqlLiteUL::RenameTessaryGroup(const char* oldName, const char* newName)
{
    if (!Ready() || Empty(oldName) || Empty(newName))
        return E_INVALIDARG;
    int rc = SQLITE_OK;
    std::string groupId;
    if (!LastText(kFindGroup, {oldName}, &groupId, &rc))
        return rc == SQLITE_OK ? E_INVALIDARG : E_FAIL;
    // The new name may be held by no group, in any letter case: the group's
    // own name counts too.
    CSqlLiteStatement clash(db_, kFindGroup);
    clash.BindText(1, newName);
    const int step = clash.Step();
    if (step == SQLITE_ROW)
        return E_INVALIDARG;
    if (step != SQLITE_DONE)
        return E_FAIL;
    return FromSqlite(Run("UPDATE wl_groups SET group_name=? WHERE group_name=?", {newName, oldName}));
}

HRESULT CSqlLiteUL::GroupOf(const char* sql, const char* member, bool* found, char* group, int groupSize)
{
    if (!Ready() || member == nullptr || found == nullptr || group == nullptr)
        return E_INVALIDARG;
    *found = false;
    int rc = SQLITE_OK;
    std::string name;
    if (LastText(sql, {member}, &name, &rc))
        *found = true;
    CopyOut(name, group, groupSize);
    return FromSqlite(rc);
}

HRESULT CSqlLiteUL::IsUserInTessaryGroup(const char* user, bool* found, char* group, int groupSize)
{
    return GroupOf("SELECT grp.group_name FROM wl_users usr INNER JOIN wl_groups grp ON grp.id = usr.group_id WHERE "
                   "usr.user_name = ?",
                   user, found, group, groupSize);
}

HRESULT CSqlLiteUL::IsComputerInTessaryGroup(const char* computer, bool* found, char* group, int groupSize)
{
    return GroupOf("SELECT grp.group_name FROM wl_computers cpu INNER JOIN wl_groups grp ON grp.id=cpu.group_id "
                   "WHERE cpu.cpu_name=?",
                   computer, found, group, groupSize);
}

template <class List>
HRESULT CSqlLiteUL::EnumerateTable(const char* sql, DWORD tag, List& list)
{
    list.Clear();
    if (!Ready())
        return E_INVALIDARG;
    if (AppendNames(sql, {}, tag, list) == SQLITE_OK)
        return S_OK;
    list.Clear();
    return E_FAIL;
}

HRESULT CSqlLiteUL::EnumerateUsers(HeapNameList& list)
{
    return EnumerateTable(kAllUsers, UserListTagUser, list);
}

HRESULT CSqlLiteUL::EnumerateComputers(HeapNameList& list)
{
    return EnumerateTable(kAllComputers, UserListTagComputer, list);
}

HRESULT CSqlLiteUL::EnumerateTessaryGroups(HeapNameList& list)
{
    return EnumerateTable(kAllGroups, UserListTagGroup, list);
}

HRESULT CSqlLiteUL::EnumerateUsersFlat(FlatNameWriter& out)
{
    return EnumerateTable(kAllUsers, UserListTagUser, out);
}

HRESULT CSqlLiteUL::EnumerateComputersFlat(FlatNameWriter& out)
{
    return EnumerateTable(kAllComputers, UserListTagComputer, out);
}

HRESULT CSqlLiteUL::EnumerateTessaryGroupsFlat(FlatNameWriter& out)
{
    return EnumerateTable(kAllGroups, UserListTagGroup, out);
}

HRESULT CSqlLiteUL::EnumerateTessaryGroupMembers(const char* group, HeapNameList& list)
{
    list.Clear();
    if (!Ready() || group == nullptr)
        return E_INVALIDARG;
    HeapNameList computers;
    HeapNameList users;
    if (AppendNames("SELECT cpu.cpu_name,1 FROM wl_computers cpu INNER JOIN wl_groups grp ON grp.id=cpu.group_id "
                    "WHERE grp.group_name=?",
                    {group}, UserListTagComputer, computers) != SQLITE_OK ||
        AppendNames("SELECT usr.user_name,0 FROM wl_users usr INNER JOIN wl_groups grp ON grp.id=usr.group_id WHERE "
                    "grp.group_name=?",
                    {group}, UserListTagUser, users) != SQLITE_OK)
        return E_FAIL;
    list.Splice(users);
    list.Splice(computers);
    // Byte order, stable: a user stays ahead of a computer of the same name.
    list.Sort([](const HeapNameEntry& a, const HeapNameEntry& b) { return a.name < b.name; });
    return S_OK;
}

HRESULT CSqlLiteUL::GetSecurityEquiv(const char* user, const char* computer, char* group, int groupSize,
                                     DWORD* kind)
{
    if (!Ready() || user == nullptr || computer == nullptr || group == nullptr || kind == nullptr)
        return E_INVALIDARG;
    int rc = SQLITE_OK;
    std::string name;
    if (LastText("SELECT grp.group_name FROM wl_groups grp INNER JOIN wl_computers cpu ON grp.id=cpu.group_id WHERE "
                 "cpu.cpu_name=?",
                 {computer}, &name, &rc)) {
        CopyOut(name, group, groupSize);
        *kind = SecurityEquivComputer;
        return S_OK;
    }
    if (rc != SQLITE_OK)
        return E_FAIL;
    if (LastText("SELECT grp.group_name FROM wl_groups grp INNER JOIN wl_users usr ON grp.id=usr.group_id WHERE "
                 "usr.user_name=?",
                 {user}, &name, &rc)) {
        CopyOut(name, group, groupSize);
        *kind = SecurityEquivUser;
        return S_OK;
    }
    if (rc != SQLITE_OK)
        return E_FAIL;
    *kind = SecurityEquivDefault;
    return GetDefaultGroup(group, groupSize);
}

HRESULT CSqlLiteUL::GetDefaultGroup(char* group, int groupSize)
{
    if (!Ready() || group == nullptr)
        return E_INVALIDARG;
    int rc = SQLITE_OK;
    std::string name;
    const bool found = LastText("SELECT group_name FROM wl_groups WHERE is_default<>0", {}, &name, &rc);
    CopyOut(name, group, groupSize);
    return found ? S_OK : E_FAIL;
}

HRESULT CSqlLiteUL::SetDefaultGroup(const char* group)
{
    if (!Ready() || Empty(group))
        return E_INVALIDARG;
    int rc = SQLITE_OK;
    if (!HasRow("SELECT is_default FROM wl_groups WHERE group_name=?", {group}, &rc))
        return rc == SQLITE_OK ? E_INVALIDARG : E_FAIL;
    // Both or neither: the list never ends up without its default.
    return FromSqlite(InTransaction([&] {
        int step = Run("UPDATE wl_groups SET is_default=0 WHERE is_default<>0", {});
        return step == SQLITE_OK ? Run("UPDATE wl_groups SET is_default=1 WHERE group_name=?", {group}) : step;
    }));
}

HRESULT CSqlLiteUL::FreeEnumeration(HeapNameList& list)
{
    try {
        list.Clear();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT CSqlLiteUL::EnumerateNetworkContainerObjects(const char* containerPath, HeapNameList& list)
{
    if (containerPath == nullptr)
        return E_INVALIDARG;
    try {
        DirectorySettings settings;
        {
            std::lock_guard<std::mutex> guard(directoryLock_);
            settings = directorySettings_;
        }
        CADsBrowser browser(directory_);
        browser.SetConfig(settings.server.c_str(), settings.account.c_str(), settings.password.c_str(),
                          settings.container.c_str());
        std::vector<DirectoryEntry> containers, groups, users, computers;
        HRESULT hr = browser.EnumerateLdapContainer(containerPath, containers, groups, users, computers);
        // The browser tells an empty container by E_OUTOFMEMORY; for the
        // caller that is an empty answer, not a failure.
        if (hr == E_OUTOFMEMORY && containers.empty() && groups.empty() && users.empty() && computers.empty())
            return S_OK;
        if (FAILED(hr))
            return hr;
        HeapNameList found;
        const struct {
            const std::vector<DirectoryEntry>* entries;
            DWORD tag;
        } kinds[] = {{&users, UserListTagUser},
                     {&computers, UserListTagComputer},
                     {&groups, UserListTagDirectoryGroup},
                     {&containers, UserListTagContainer}};
        for (const auto& kind : kinds)
            for (const DirectoryEntry& e : *kind.entries)
                found.Append(kind.tag, CADsBrowser::NarrowText(e.name), CADsBrowser::NarrowText(e.path));
        list.Splice(found);
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT CSqlLiteUL::GetLDAPConfig(LdapConfigRecord* settings)
{
    if (settings == nullptr)
        return E_INVALIDARG;
    try {
        settings->Clear();
        if ((flags_ & kUserListNoDirectory) != 0 || files_ == nullptr)
            return S_OK;
        CAttributeDirectory directory;
        // A missing or damaged file gives an empty record.
        if (FAILED(LoadSettings(&directory)))
            return S_OK;
        AttributeHandle attribute;
        for (HRESULT hr = directory.GetFirstAttribute(attribute.Out()); SUCCEEDED(hr) && attribute;
             hr = directory.GetNextAttribute(attribute.Out())) {
            LONG id = 0;
            attribute->GetId(&id);
            char(*field)[LdapConfigRecord::kFieldSize] = id == kAccountId     ? &settings->account
                                                         : id == kContainerId ? &settings->container
                                                         : id == kPasswordId  ? &settings->password
                                                         : id == kServerId    ? &settings->server
                                                                              : nullptr;
            if (field != nullptr)
                LdapConfigRecord::SetField(*field, StringValue(attribute.operator->()));
        }
        return S_OK;
    } catch (...) {
        settings->Clear();
        return E_UNEXPECTED;
    }
}

HRESULT CSqlLiteUL::SetLDAPConfig(const LdapConfigRecord* settings)
{
    if ((flags_ & kUserListNoDirectory) != 0)
        return E_ACCESSDENIED;
    if (settings == nullptr || files_ == nullptr)
        return E_INVALIDARG;
    try {
        const std::string server = LdapConfigRecord::FieldText(settings->server);
        const std::string account = LdapConfigRecord::FieldText(settings->account);
        const std::string password = LdapConfigRecord::FieldText(settings->password);
        const std::string container = LdapConfigRecord::FieldText(settings->container);
        CAttributeDirectory directory;
        const struct {
            const char* name;
            LONG id;
            const std::string& value;
        } values[] = {{"LDAPAccount", kAccountId, account},
                      {"LDAPContainer", kContainerId, container},
                      {"LDAPPassword", kPasswordId, password},
                      {"LDAPServer", kServerId, server}};
        for (const auto& v : values) {
            AttributeHandle attribute;
            if (SUCCEEDED(directory.CreateAttribute(v.name, kSettingsAppId, v.id, attribute.Out(), 0)) && attribute)
                attribute->SetString(v.value.c_str());
        }
        const HRESULT hr = SaveSettings(&directory);
        // The browser follows the file: settings that were not saved are not used.
        if (SUCCEEDED(hr))
            SetDirectorySettings(server, account, password, container);
        return hr;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT CreateUserListStore(IUserList** out, IFileIO2* files, DWORD flags)
{
    if (out == nullptr)
        return E_POINTER;
    try {
        *out = new CSqlLiteUL(files, flags);
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT ReleaseUserListStore(IUserList* store)
{
    if (store == nullptr)
        return S_OK;
    try {
        store->Close();
        delete store;
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
