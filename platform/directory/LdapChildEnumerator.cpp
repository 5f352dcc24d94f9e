#include "platform/directory/LdapChildEnumerator.h"

#include "platform/directory/LdapError.h"
#include "platform/directory/LdapObject.h"

#include <ldap.h>

LdapChildEnumerator::LdapChildEnumerator(std::shared_ptr<LdapSession> session, std::string base)
    : session_(std::move(session)), base_(std::move(base))
{
}

HRESULT LdapChildEnumerator::Next(std::unique_ptr<DirectoryObject>& object)
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
    object = std::make_unique<LdapObject>(session_, std::move(page_[next_++]));
    return S_OK;
}
