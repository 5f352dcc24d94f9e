#pragma once
// The user-list store of one virtual server: users, computers and the
// Tessary groups they belong to (each member in exactly one group, one group
// the default that new members join), and the directory-server settings whose
// containers can be browsed. Every operation answers an HRESULT; the slot
// order is fixed.

#include "platform/win/WinTypes.h"
#include "server/shared/FileIO.h"
#include "server/shared/FlatNameWriter.h"
#include "server/shared/HeapNameList.h"
#include "server/shared/LdapConfigRecord.h"

// Tags of name-list entries.
enum UserListTag : DWORD {
    UserListTagComputer = 1,
    UserListTagUser = 2,
    UserListTagDirectoryGroup = 3,
    UserListTagGroup = 4,
    UserListTagContainer = 5,
};

// Flags of a store.
constexpr DWORD kUserListNoDirectory = 0x1; // no directory-server settings
constexpr DWORD kUserListKeepOpen = 0x2;    // Close leaves the database open

class IUserList {
public:
    virtual ~IUserList() = default;
    // Opens the database file of that name in the storage folder.
    virtual HRESULT Load(const char* fileName) = 0;
    virtual HRESULT Save(const char* fileName) = 0;
    virtual HRESULT RevertChanges() = 0;
    virtual HRESULT Close() = 0;
    virtual HRESULT CreateUser(const char* user) = 0;
    virtual HRESULT DeleteUser(const char* user) = 0;
    virtual HRESULT CreateComputer(const char* computer) = 0;
    virtual HRESULT DeleteComputer(const char* computer) = 0;
    virtual HRESULT CreateTessaryGroup(const char* group) = 0;
    // Deletes the group's users and computers with it.
    virtual HRESULT DeleteTessaryGroup(const char* group) = 0;
    virtual HRESULT AddUserToTessaryGroup(const char* group, const char* user) = 0;
    // Removes the user from the list altogether.
    virtual HRESULT RemoveUserFromTessaryGroup(const char* group, const char* user) = 0;
    virtual HRESULT AddComputerToTessaryGroup(const char* group, const char* computer) = 0;
    virtual HRESULT RemoveComputerFromTessaryGroup(const char* group, const char* computer) = 0;
    virtual HRESULT RenameTessaryGroup(const char* oldName, const char* newName) = 0;
    // *found false and an empty group for a member that is not listed.
    virtual HRESULT IsUserInTessaryGroup(const char* user, bool* found, char* group, int groupSize) = 0;
    virtual HRESULT IsComputerInTessaryGroup(const char* computer, bool* found, char* group, int groupSize) = 0;
    // The list is emptied first.
    virtual HRESULT EnumerateUsers(HeapNameList& list) = 0;
    virtual HRESULT EnumerateComputers(HeapNameList& list) = 0;
    virtual HRESULT EnumerateTessaryGroups(HeapNameList& list) = 0;
    virtual HRESULT EnumerateTessaryGroupMembers(const char* group, HeapNameList& list) = 0;
    // The computer's group decides, then the user's, then the default group;
    // *kind tells which (SecurityEquivKind).
    virtual HRESULT GetSecurityEquiv(const char* user, const char* computer, char* group, int groupSize,
                                     DWORD* kind) = 0;
    virtual HRESULT GetDefaultGroup(char* group, int groupSize) = 0;
    virtual HRESULT SetDefaultGroup(const char* group) = 0;
    virtual HRESULT FreeEnumeration(HeapNameList& list) = 0;
    // Appends the users, computers, groups and containers of a directory
    // container (the configured one for an empty path) to the list.
    virtual HRESULT EnumerateNetworkContainerObjects(const char* containerPath, HeapNameList& list) = 0;
    virtual HRESULT GetLDAPConfig(LdapConfigRecord* settings) = 0;
    virtual HRESULT SetLDAPConfig(const LdapConfigRecord* settings) = 0;
    // The first three enumerations again, written in their flat form as the
    // rows come, for a reply; the writer is emptied first, and left empty on
    // failure.
    virtual HRESULT EnumerateUsersFlat(FlatNameWriter& out) = 0;
    virtual HRESULT EnumerateComputersFlat(FlatNameWriter& out) = 0;
    virtual HRESULT EnumerateTessaryGroupsFlat(FlatNameWriter& out) = 0;
};

// Makes the store of a virtual server over its file interface; *out is left
// as it was on failure.
HRESULT CreateUserListStore(IUserList** out, IFileIO2* files, DWORD flags);
// Closes and deletes a store made by CreateUserListStore; nothing for null.
HRESULT ReleaseUserListStore(IUserList* store);
