#include "platform/directory/LdapChildEnumerator.h"

#include "platform/directory/LdapError.h"
#include "platform/directory/LdapObject.h"

#include <ldap.h>

CLdapChildEnumerator::CLdapChildEnumerator(std::shared_ptr<CLdapSession> session, std::string base)
    : session_(std::move(session)), base_(std::move(base))
{
}

HRESULT CLdapChildEnumerator::Next(std::unique_ptr<IDirectoryObject>& object)
{
    object.reset();
    while (next_ >= page_.size()) {
        if (started_ && cookie_.empty())
            return S_FALSE;
        started_ = true;
        page_.clear();
        next_ = 0;
        int rc = session_->ReadChildren(base_, cookie_, page_);
        if (rc != LDAP_SUCCESS) {
            cookie_.clear();
            return LdapResultToHResult(rc);
        }
    }
    object = std::make_unique<CLdapObject>(session_, std::move(page_[next_++]));
    return S_OK;
}
