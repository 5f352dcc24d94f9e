#include "platform/directory/LdapMemberEnumerator.h"

#include "platform/directory/LdapDn.h"
#include "platform/directory/LdapError.h"
#include "platform/directory/LdapObject.h"

#include <ldap.h>

CLdapMemberEnumerator::CLdapMemberEnumerator(std::shared_ptr<CLdapSession> session, std::string groupDn,
                                           std::vector<std::string> dns, std::vector<std::string> uids)
    : session_(std::move(session)), groupDn_(std::move(groupDn)), dns_(std::move(dns)), uids_(std::move(uids))
{
}

int CLdapMemberEnumerator::UidBase(std::string& base)
{
    if (!haveUidBase_) {
        // The longest naming context that holds the group; without one the
        // group's own container.
        std::vector<std::string> contexts;
        int rc = session_->NamingContexts(contexts);
        if (rc < 0)
            return rc;
        bool found = false;
        for (const std::string& c : contexts) {
            if (CLdapDn::HasSuffix(groupDn_, c) && (!found || c.size() > uidBase_.size())) {
                uidBase_ = c;
                found = true;
            }
        }
        if (!found)
            uidBase_ = std::string(CLdapDn::Parent(groupDn_));
        haveUidBase_ = true;
    }
    base = uidBase_;
    return LDAP_SUCCESS;
}

HRESULT CLdapMemberEnumerator::Next(std::unique_ptr<IDirectoryObject>& object)
{
    object.reset();
    while (next_ < dns_.size() + uids_.size()) {
        size_t at = next_++;
        LdapEntry entry;
        int rc;
        if (at < dns_.size()) {
            const std::string& dn = dns_[at];
            // A dn with a NUL could not be sent whole; it names nothing.
            if (dn.empty() || dn.find('\0') != std::string::npos)
                continue;
            rc = session_->Read(dn, entry);
        } else {
            std::string base;
            rc = UidBase(base);
            if (rc == LDAP_SUCCESS) {
                std::string filter = "(&(objectClass=posixAccount)(uid=" + CLdapDn::EscapeFilterValue(uids_[at - dns_.size()]) + "))";
                rc = session_->FindFirst(base, filter, entry);
            }
        }
        // The server's verdict on one member (no such entry, bad dn, no
        // access) skips that member; a failure of the connection ends the walk.
        if (rc < 0)
            return LdapResultToHResult(rc);
        if (rc != LDAP_SUCCESS)
            continue;
        object = std::make_unique<CLdapObject>(session_, std::move(entry));
        return S_OK;
    }
    return S_FALSE;
}
