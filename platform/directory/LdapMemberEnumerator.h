#pragma once
// The members of an LDAP group: the entries its member and uniqueMember
// values name, then the accounts its memberUid values name (posixAccount
// entries with that uid under the group's naming context). Members that do
// not resolve to an entry are left out; a failure of the connection ends
// the walk with that failure.

#include "platform/directory/DirectoryEnumerator.h"
#include "platform/directory/LdapSession.h"

#include <memory>
#include <string>
#include <vector>

class CLdapMemberEnumerator : public IDirectoryEnumerator {
public:
    CLdapMemberEnumerator(std::shared_ptr<CLdapSession> session, std::string groupDn, std::vector<std::string> dns,
                         std::vector<std::string> uids);

    HRESULT Next(std::unique_ptr<IDirectoryObject>& object) override;

private:
    int UidBase(std::string& base);

    std::shared_ptr<CLdapSession> session_;
    std::string groupDn_;
    std::vector<std::string> dns_;
    std::vector<std::string> uids_;
    size_t next_ = 0;
    std::string uidBase_;
    bool haveUidBase_ = false;
};
