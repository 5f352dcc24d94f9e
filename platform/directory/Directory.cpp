#include "platform/directory/Directory.h"

#include "platform/directory/DirectoryErrors.h"
#include "platform/directory/LdapDirectory.h"
#include "platform/directory/WinNTDirectory.h"

namespace {

bool HasPrefix(std::u16string_view path, std::u16string_view prefix)
{
    if (path.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char16_t a = path[i], b = prefix[i];
        if (a >= u'a' && a <= u'z')
            a = static_cast<char16_t>(a - u'a' + u'A');
        if (b >= u'a' && b <= u'z')
            b = static_cast<char16_t>(b - u'a' + u'A');
        if (a != b)
            return false;
    }
    return true;
}

} // namespace

HRESULT OpenDirectoryObject(std::u16string_view path, std::u16string_view user, std::u16string_view password,
                            DirectoryFacet facet, std::unique_ptr<DirectoryObject>& object)
{
    if (HasPrefix(path, u"LDAP://"))
        return LdapDirectory::Open(path, user, password, facet, object);
    if (HasPrefix(path, u"WinNT://"))
        return WinNTDirectory().Open(path, facet, object);
    return E_ADS_BAD_PATHNAME;
}

HRESULT GetDirectoryObject(std::u16string_view path, DirectoryFacet facet, std::unique_ptr<DirectoryObject>& object)
{
    return OpenDirectoryObject(path, {}, {}, facet, object);
}
