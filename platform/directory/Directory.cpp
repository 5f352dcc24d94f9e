#include "platform/directory/Directory.h"

#include "platform/directory/DirectoryErrors.h"
#include "platform/directory/LdapDirectory.h"
#include "platform/directory/Utf.h"
#include "platform/directory/WinNTDirectory.h"

HRESULT OpenDirectoryObject(std::u16string_view path, std::u16string_view user, std::u16string_view password,
                            DirectoryFacet facet, std::unique_ptr<IDirectoryObject>& object)
{
    if (StartsWithNoCase(path, u"LDAP://"))
        return CLdapDirectory::Open(path, user, password, facet, object);
    if (StartsWithNoCase(path, u"WinNT://"))
        return CWinNTDirectory().Open(path, facet, object);
    return E_ADS_BAD_PATHNAME;
}

HRESULT GetDirectoryObject(std::u16string_view path, DirectoryFacet facet, std::unique_ptr<IDirectoryObject>& object)
{
    return OpenDirectoryObject(path, {}, {}, facet, object);
}
