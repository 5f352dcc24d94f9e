#pragma once
// The user list of one virtual server in an SQLite database in its storage
// folder ("userlist.fdb"), and its directory-server settings in the attribute
// container "LDAPConfig.ad" beside it.
//
// The store takes no lock: its one caller, the user-list handlers, runs one
// call at a time. Names reach SQLite only as bound values, and every name
// comparison is case-blind through the NOCASE collation of the name columns.

#include "server/storage/lists/ADsBrowser.h"
#include "server/shared/UserList.h"

#include <initializer_list>
#include <sqlite3.h>
#include <mutex>
#include <string>

class CAttributeDirectory;

class CSqlLiteUL : public IUserList {
public:
    static constexpr const char* kSettingsFile = "LDAPConfig.ad";
    // Attribute ids of the four settings in the container (app id 4).
    static constexpr LONG kSettingsAppId = 4;
    static constexpr LONG kAccountId = 1;
    static constexpr LONG kContainerId = 2;
    static constexpr LONG kPasswordId = 3;
    static constexpr LONG kServerId = 4;

    // Reads the directory-server settings and hands them to the browser.
    CSqlLiteUL(IFileIO2* files, DWORD flags);
    CSqlLiteUL(IFileIO2* files, DWORD flags, const DirectoryEntryPoints& directory);
    // Closes the database whatever the flags.
    ~CSqlLiteUL() override;
    CSqlLiteUL(const CSqlLiteUL&) = delete;
    CSqlLiteUL& operator=(const CSqlLiteUL&) = delete;

    // S_OK, or the (positive) SQLite result when the file does not open or
    // is no database; the store then has no database.
    HRESULT Load(const char* fileName) override;
    // Every change is in the file already: S_OK when open, else E_FAIL.
    HRESULT Save(const char* fileName) override;
    HRESULT RevertChanges() override;
    HRESULT Close() override;
    HRESULT CreateUser(const char* user) override;
    HRESULT DeleteUser(const char* user) override;
    HRESULT CreateComputer(const char* computer) override;
    HRESULT DeleteComputer(const char* computer) override;
    HRESULT CreateTessaryGroup(const char* group) override;
    HRESULT DeleteTessaryGroup(const char* group) override;
    HRESULT AddUserToTessaryGroup(const char* group, const char* user) override;
    HRESULT RemoveUserFromTessaryGroup(const char* group, const char* user) override;
    HRESULT AddComputerToTessaryGroup(const char* group, const char* computer) override;
    HRESULT RemoveComputerFromTessaryGroup(const char* group, const char* computer) override;
    HRESULT RenameTessaryGroup(const char* oldName, const char* newName) override;
    HRESULT IsUserInTessaryGroup(const char* user, bool* found, char* group, int groupSize) override;
    HRESULT IsComputerInTessaryGroup(const char* computer, bool* found, char* group, int groupSize) override;
    HRESULT EnumerateUsers(HeapNameList& list) override;
    HRESULT EnumerateComputers(HeapNameList& list) override;
    HRESULT EnumerateTessaryGroups(HeapNameList& list) override;
    HRESULT EnumerateTessaryGroupMembers(const char* group, HeapNameList& list) override;
    HRESULT GetSecurityEquiv(const char* user, const char* computer, char* group, int groupSize,
                             DWORD* kind) override;
    HRESULT GetDefaultGroup(char* group, int groupSize) override;
    HRESULT SetDefaultGroup(const char* group) override;
    HRESULT FreeEnumeration(HeapNameList& list) override;
    // Safe beside any other call: it touches neither the database nor the
    // settings file.
    HRESULT EnumerateNetworkContainerObjects(const char* containerPath, HeapNameList& list) override;
    HRESULT GetLDAPConfig(LdapConfigRecord* settings) override;
    HRESULT SetLDAPConfig(const LdapConfigRecord* settings) override;
    HRESULT EnumerateUsersFlat(FlatNameWriter& out) override;
    HRESULT EnumerateComputersFlat(FlatNameWriter& out) override;
    HRESULT EnumerateTessaryGroupsFlat(FlatNameWriter& out) override;

    // The database file's full path ("" until a load succeeded).
    const std::string& DatabasePath() const { return path_; }

private:
    using Texts = std::initializer_list<const char*>;

    // SQLITE_OK, or the first failure.
    int CreateTables();
    // Opens the file (a copy of the path: it may be pending_) and makes its tables: SQLITE_OK, or the failure, with
    // the store then without a database (reported in the event log when
    // report is set). A file another process holds locked is tried again by
    // the next call.
    int Open(std::string path, bool report);
    // Whether the store has its database, opening a file that was locked.
    bool Ready();
    // Runs a statement with its texts bound in order: SQLITE_OK or the error.
    int Run(const char* sql, Texts texts);
    // Whether the query gives a row; *rc its SQLite result.
    bool HasRow(const char* sql, Texts texts, int* rc);
    // The first column of the query's last row into *text; false without a
    // row or with an empty text. *rc its SQLite result.
    bool LastText(const char* sql, Texts texts, std::string* text, int* rc);
    // Appends the first column of every row, with the tag, to a
    // HeapNameList or a FlatNameWriter.
    template <class List>
    int AppendNames(const char* sql, Texts texts, DWORD tag, List& list);
    // The shared shape of the three creations.
    HRESULT CreateNamed(const char* findSql, const char* insertSql, const char* name);
    // The shared shape of the two membership questions.
    HRESULT GroupOf(const char* sql, const char* member, bool* found, char* group, int groupSize);
    template <class List>
    HRESULT EnumerateTable(const char* sql, DWORD tag, List& list);
    // Runs body inside a transaction that is rolled back when it fails.
    template <class Body>
    int InTransaction(Body body);

    HRESULT LoadSettings(CAttributeDirectory* directory);
    // WriteSettings, keeping the old file when it fails.
    HRESULT SaveSettings(CAttributeDirectory* directory);
    HRESULT WriteSettings(CAttributeDirectory* directory);
    void ConfigureBrowser();
    void SetDirectorySettings(std::string server, std::string account, std::string password, std::string container);

    // The directory settings browsing uses. A browse reads them under their
    // own lock and waits for the directory server on a browser of its own,
    // so it needs none of the user list's locking.
    struct DirectorySettings {
        std::string server, account, password, container;
    };

    DWORD flags_;
    IFileIO2* files_;
    std::string path_;
    std::string pending_; // a file that was locked when it was to be opened
    DirectoryEntryPoints directory_;
    std::mutex directoryLock_;
    DirectorySettings directorySettings_;
    sqlite3* db_ = nullptr;
};
