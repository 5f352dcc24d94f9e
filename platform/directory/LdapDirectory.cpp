#include "platform/directory/LdapDirectory.h"

#include "platform/directory/LdapError.h"
#include "platform/directory/LdapObject.h"
#include "platform/directory/LdapPath.h"
#include "platform/directory/LdapSession.h"
#include "platform/directory/Utf.h"

#include <ldap.h>

HRESULT CLdapDirectory::Open(std::u16string_view path, std::u16string_view user, std::u16string_view password,
                            DirectoryFacet facet, std::unique_ptr<IDirectoryObject>& object)
{
    CLdapPath where;
    HRESULT hr = CLdapPath::Parse(path, where);
    if (FAILED(hr))
        return hr;
    std::shared_ptr<CLdapSession> session;
    int rc = CLdapSession::Open(where, Utf16ToUtf8(user), Utf16ToUtf8(password), session);
    if (rc != LDAP_SUCCESS)
        return LdapResultToHResult(rc);
    std::string dn = where.Dn();
    if (dn.empty()) {
        std::vector<std::string> contexts;
        rc = session->NamingContexts(contexts);
        if (rc != LDAP_SUCCESS)
            return LdapResultToHResult(rc);
        if (contexts.empty())
            return LdapResultToHResult(LDAP_NO_SUCH_OBJECT);
        dn = contexts.front();
    }
    LdapEntry entry;
    rc = session->Read(dn, entry);
    if (rc != LDAP_SUCCESS)
        return LdapResultToHResult(rc);
    auto made = std::make_unique<CLdapObject>(std::move(session), std::move(entry));
    if (!made->Answers(facet))
        return E_NOINTERFACE;
    object = std::move(made);
    return S_OK;
}
