#pragma once
// Opens objects of "LDAP://" paths: connect, simple bind with the account
// and password, read the entry. A path without a dn opens the server's
// default naming context (its first naming context when it names no default).

#include "platform/directory/DirectoryObject.h"

#include <memory>
#include <string_view>

class CLdapDirectory {
public:
    // E_ADS_BAD_PATHNAME for a malformed path, E_NOINTERFACE when the object
    // does not answer facet, else the bind's or the read's failure
    // (LdapResultToHResult).
    static HRESULT Open(std::u16string_view path, std::u16string_view user, std::u16string_view password,
                        DirectoryFacet facet, std::unique_ptr<IDirectoryObject>& object);
};
