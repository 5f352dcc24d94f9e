#pragma once
// The direct children of an LDAP entry, fetched a page at a time.

#include "platform/directory/DirectoryEnumerator.h"
#include "platform/directory/LdapEntry.h"
#include "platform/directory/LdapSession.h"

#include <memory>
#include <string>
#include <vector>

class CLdapChildEnumerator : public IDirectoryEnumerator {
public:
    CLdapChildEnumerator(std::shared_ptr<CLdapSession> session, std::string base);

    HRESULT Next(std::unique_ptr<IDirectoryObject>& object) override;

private:
    std::shared_ptr<CLdapSession> session_;
    std::string base_;
    std::string cookie_;
    std::vector<LdapEntry> page_;
    size_t next_ = 0;
    bool started_ = false;
};
