#pragma once
// The local computer, one of its users or one of its groups, as a directory
// object. The computer is a container of its users and groups; a group's
// members are users. There are no properties to read.

#include "platform/directory/DirectoryObject.h"
#include "platform/directory/LocalAccountDatabase.h"

#include <memory>
#include <string>

class CWinNTObject : public IDirectoryObject {
public:
    enum class Kind { Computer, User, Group };

    // name: the account's name in the files (UTF-8); ignored for the computer.
    CWinNTObject(std::shared_ptr<const CLocalAccountDatabase> accounts, std::u16string computer, Kind kind,
                std::string name = {});

    bool Answers(DirectoryFacet facet) const override;
    HRESULT GetName(std::u16string& name) const override;
    HRESULT GetClass(std::u16string& className) const override;
    HRESULT GetPath(std::u16string& path) const override;
    HRESULT Get(std::u16string_view property, std::u16string& value) const override;
    HRESULT ReadAttributes(std::vector<DirectoryAttribute>& attributes) const override;
    HRESULT EnumerateChildren(std::unique_ptr<IDirectoryEnumerator>& children) const override;
    HRESULT EnumerateMembers(std::unique_ptr<IDirectoryEnumerator>& members) const override;

private:
    // With the object of the required kind: the accounts read, collect(users,
    // groups, add) names the objects to list, and they become the enumerator.
    template <class Collect>
    HRESULT EnumerateAccounts(Kind required, std::unique_ptr<IDirectoryEnumerator>& out, Collect collect) const;

    std::shared_ptr<const CLocalAccountDatabase> accounts_;
    std::u16string computer_;
    Kind kind_;
    std::string name_;
};
