#pragma once
// The direct children of an LDAP entry, fetched a page at a time.

#include "platform/directory/DirectoryEnumerator.h"
#include "platform/directory/LdapEntry.h"
#include "platform/directory/LdapSession.h"

#include <memory>
#include <string>
#include <vector>

class LdapChildEnumerator : public DirectoryEnumerator {
public:
    LdapChildEnumerator(std::shared_ptr<LdapSession> session, std::string base);

    HRESULT Next(std::unique_ptr<DirectoryObject>& object) override;

private:
    std::shared_ptr<LdapSession> session_;
    std::string base_;
    std::string cookie_;
    std::vector<LdapEntry> page_;
    size_t next_ = 0;
    bool started_ = false;
};
