#pragma once
// One object of a directory service, LDAP or the local account database.
// Texts are UTF-16.

#include "platform/directory/DirectoryAttribute.h"
#include "platform/directory/DirectoryEnumerator.h"
#include "platform/directory/DirectoryFacet.h"
#include "platform/win/WinTypes.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class IDirectoryObject {
public:
    virtual ~IDirectoryObject() = default;

    virtual bool Answers(DirectoryFacet facet) const = 0;

    // The relative name as the provider gives it ("CN=Sales" over LDAP, the
    // bare account name locally), the class name, and the full path that
    // opens the object again.
    virtual HRESULT GetName(std::u16string& name) const = 0;
    virtual HRESULT GetClass(std::u16string& className) const = 0;
    virtual HRESULT GetPath(std::u16string& path) const = 0;

    // The first value of a property as text; E_ADS_PROPERTY_NOT_FOUND when
    // the object has none.
    virtual HRESULT Get(std::u16string_view property, std::u16string& value) const = 0;

    // Every attribute with all its values, appended; E_NOINTERFACE for a
    // provider that cannot list attributes.
    virtual HRESULT ReadAttributes(std::vector<DirectoryAttribute>& attributes) const = 0;

    // The children of a container or the members of a group; E_NOINTERFACE
    // when the object does not answer that facet.
    virtual HRESULT EnumerateChildren(std::unique_ptr<IDirectoryEnumerator>& children) const = 0;
    virtual HRESULT EnumerateMembers(std::unique_ptr<IDirectoryEnumerator>& members) const = 0;
};
