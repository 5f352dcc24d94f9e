#pragma once
// An LDAP entry as a directory object. Its objectClass values decide its
// facets: groups are group, groupOfNames, groupOfUniqueNames, groupOfMembers
// and posixGroup; users are user, computer and posixAccount; containers are
// organizationalUnit, organization, container, domain, domainDNS, dcObject,
// builtinDomain, country and locality, and every group, whose path may be
// opened as a container to reach its members. Its class is its structural
// object class (the last objectClass value when the server gives none).

#include "platform/directory/DirectoryObject.h"
#include "platform/directory/LdapEntry.h"
#include "platform/directory/LdapSession.h"

#include <memory>

class CLdapObject : public IDirectoryObject {
public:
    CLdapObject(std::shared_ptr<CLdapSession> session, LdapEntry entry);

    bool Answers(DirectoryFacet facet) const override;
    HRESULT GetName(std::u16string& name) const override;
    HRESULT GetClass(std::u16string& className) const override;
    HRESULT GetPath(std::u16string& path) const override;
    HRESULT Get(std::u16string_view property, std::u16string& value) const override;
    HRESULT ReadAttributes(std::vector<DirectoryAttribute>& attributes) const override;
    HRESULT EnumerateChildren(std::unique_ptr<IDirectoryEnumerator>& children) const override;
    HRESULT EnumerateMembers(std::unique_ptr<IDirectoryEnumerator>& members) const override;

private:
    bool HasClassIn(std::initializer_list<std::string_view> classes) const;

    std::shared_ptr<CLdapSession> session_;
    LdapEntry entry_;
    bool group_;
    bool user_;
    bool container_;
};
