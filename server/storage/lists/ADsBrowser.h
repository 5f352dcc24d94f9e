#pragma once
// Lists the objects of one directory container for the user list: its
// sub-containers, groups, users and computers, each with name and path.
// With a directory server configured it binds over LDAP with the configured
// account and password; without one it lists the local computer's accounts.
// Lists are appended to, never emptied.

#include "platform/directory/Directory.h"
#include "platform/win/WinTypes.h"
#include "server/storage/lists/DirectoryAttributeValue.h"
#include "server/storage/lists/DirectoryEntry.h"

#include <string>
#include <string_view>
#include <vector>

class CADsBrowser {
public:
    CADsBrowser();
    // Over other directory entries (a null entry: the directory service is
    // missing, and every operation that needs it fails without calling it).
    explicit CADsBrowser(const DirectoryEntryPoints& entries);
    ~CADsBrowser() = default;
    CADsBrowser(const CADsBrowser&) = delete;
    CADsBrowser& operator=(const CADsBrowser&) = delete;

    // Null texts count as empty. Clears the connected flag; answers 0.
    HRESULT SetConfig(const char* server, const char* account, const char* password, const char* container);

    // Binds to the configured server's default path.
    HRESULT Connect();
    // A path given to the two LDAP operations must be on the configured
    // server ("LDAP://" + server, then "/" or nothing), so the account and
    // password never go to a host a caller names: E_ACCESSDENIED otherwise.
    HRESULT ReadObjectAttributes(const char* path, std::vector<DirectoryAttributeValue>& values);
    // Lists an LDAP container (or a group's members); with no server
    // configured, EnumerateWinNTContainer. An empty path is the configured
    // one. E_OUTOFMEMORY when all four lists are empty afterwards.
    HRESULT EnumerateLdapContainer(const char* path, std::vector<DirectoryEntry>& containers,
                                   std::vector<DirectoryEntry>& groups, std::vector<DirectoryEntry>& users,
                                   std::vector<DirectoryEntry>& computers);
    // Lists the local computer (empty path) or one of its groups; only
    // "WinNT://" paths (E_ADS_BAD_PATHNAME for others).
    HRESULT EnumerateWinNTContainer(const char* path, std::vector<DirectoryEntry>& containers,
                                    std::vector<DirectoryEntry>& groups, std::vector<DirectoryEntry>& users,
                                    std::vector<DirectoryEntry>& computers);

    bool IsConnected() const { return connected_; }

    // Narrow texts are Latin-1 here: each byte is the code unit of the same
    // value, and a unit above 0xFF (a surrogate pair counting as one) becomes
    // "?", never a byte that would read as another character or end the text.
    static std::string NarrowText(std::u16string_view text);
    static std::u16string WidenText(std::string_view text);

private:
    std::u16string DefaultLdapPath() const;
    // The widened path, the default one when empty; E_ACCESSDENIED when it
    // is not on the configured server.
    HRESULT LdapPathFor(const char* path, std::u16string& where) const;
    // LdapPathFor, then a bind when there is none yet.
    HRESULT Prepare(const char* path, std::u16string& where);
    HRESULT MissingEntry() const;
    static void AppendAttributes(const IDirectoryObject& object, std::vector<DirectoryAttributeValue>& values,
                                 HRESULT& hr);
    // S_OK, E_OUTOFMEMORY when all four lists are empty after it, or the
    // failure of its first step.
    static HRESULT Walk(IDirectoryEnumerator& items, bool ldap, std::vector<DirectoryEntry>& containers,
                        std::vector<DirectoryEntry>& groups, std::vector<DirectoryEntry>& users,
                        std::vector<DirectoryEntry>& computers);
    static void Classify(const IDirectoryObject& item, bool ldap, std::vector<DirectoryEntry>& containers,
                         std::vector<DirectoryEntry>& groups, std::vector<DirectoryEntry>& users,
                         std::vector<DirectoryEntry>& computers);

    DirectoryEntryPoints entries_;
    bool connected_ = false;
    std::u16string account_;
    std::u16string password_;
    std::u16string server_;
    std::u16string container_;
};
