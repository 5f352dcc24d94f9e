#pragma once
// The directory service's two ways in: open an object by path with an
// account and password, or get one without. "LDAP://" paths go to the LDAP
// server the path names (get binds anonymously); "WinNT://" paths go to the
// local account database and need no account. Other paths:
// E_ADS_BAD_PATHNAME.

#include "platform/directory/DirectoryObject.h"

#include <memory>
#include <string_view>

HRESULT OpenDirectoryObject(std::u16string_view path, std::u16string_view user, std::u16string_view password,
                            DirectoryFacet facet, std::unique_ptr<IDirectoryObject>& object);
HRESULT GetDirectoryObject(std::u16string_view path, DirectoryFacet facet, std::unique_ptr<IDirectoryObject>& object);

using DirectoryOpenFunction = HRESULT (*)(std::u16string_view path, std::u16string_view user,
                                          std::u16string_view password, DirectoryFacet facet,
                                          std::unique_ptr<IDirectoryObject>& object);
using DirectoryGetFunction = HRESULT (*)(std::u16string_view path, DirectoryFacet facet,
                                         std::unique_ptr<IDirectoryObject>& object);

// The two entries a directory client calls; a null entry means the service
// is not there.
struct DirectoryEntryPoints {
    DirectoryOpenFunction openObject = OpenDirectoryObject;
    DirectoryGetFunction getObject = GetDirectoryObject;
};
