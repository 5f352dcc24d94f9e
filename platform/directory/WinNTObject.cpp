#include "platform/directory/WinNTObject.h"

#include "platform/directory/DirectoryErrors.h"
#include "platform/directory/Utf.h"
#include "platform/directory/WinNTEnumerator.h"
#include "platform/directory/WinNTPath.h"

CWinNTObject::CWinNTObject(std::shared_ptr<const CLocalAccountDatabase> accounts, std::u16string computer, Kind kind,
                         std::string name)
    : accounts_(std::move(accounts)), computer_(std::move(computer)), kind_(kind), name_(std::move(name))
{
}

bool CWinNTObject::Answers(DirectoryFacet facet) const
{
    switch (facet) {
    case DirectoryFacet::Any:
        return true;
    case DirectoryFacet::Container:
        return kind_ == Kind::Computer;
    case DirectoryFacet::Group:
        return kind_ == Kind::Group;
    case DirectoryFacet::User:
        return kind_ == Kind::User;
    }
    return false;
}

HRESULT CWinNTObject::GetName(std::u16string& name) const
{
    name = kind_ == Kind::Computer ? computer_ : Utf8ToUtf16(name_);
    return S_OK;
}

HRESULT CWinNTObject::GetClass(std::u16string& className) const
{
    className = kind_ == Kind::Computer ? u"Computer" : kind_ == Kind::User ? u"User" : u"Group";
    return S_OK;
}

HRESULT CWinNTObject::GetPath(std::u16string& path) const
{
    if (kind_ == Kind::Computer)
        path = CWinNTPath::Format(computer_);
    else
        path = CWinNTPath::Format(computer_, Utf8ToUtf16(name_),
                                 kind_ == Kind::User ? CWinNTPath::Kind::User : CWinNTPath::Kind::Group);
    return S_OK;
}

HRESULT CWinNTObject::Get(std::u16string_view, std::u16string&) const
{
    return E_ADS_PROPERTY_NOT_FOUND;
}

HRESULT CWinNTObject::ReadAttributes(std::vector<DirectoryAttribute>&) const
{
    return E_NOINTERFACE;
}

template <class Collect>
HRESULT CWinNTObject::EnumerateAccounts(Kind required, std::unique_ptr<IDirectoryEnumerator>& out,
                                       Collect collect) const
{
    if (kind_ != required)
        return E_NOINTERFACE;
    std::vector<CLocalAccountDatabase::User> users;
    std::vector<CLocalAccountDatabase::Group> groups;
    HRESULT hr = accounts_->ReadUsers(users);
    if (SUCCEEDED(hr))
        hr = accounts_->ReadGroups(groups);
    if (FAILED(hr))
        return hr;
    std::vector<std::unique_ptr<IDirectoryObject>> objects;
    collect(users, groups, [&](Kind kind, const std::string& name) {
        objects.push_back(std::make_unique<CWinNTObject>(accounts_, computer_, kind, name));
    });
    out = std::make_unique<CWinNTEnumerator>(std::move(objects));
    return S_OK;
}

HRESULT CWinNTObject::EnumerateChildren(std::unique_ptr<IDirectoryEnumerator>& children) const
{
    return EnumerateAccounts(Kind::Computer, children, [](const auto& users, const auto& groups, auto add) {
        for (const auto& u : users)
            add(Kind::User, u.name);
        for (const auto& g : groups)
            add(Kind::Group, g.name);
    });
}

HRESULT CWinNTObject::EnumerateMembers(std::unique_ptr<IDirectoryEnumerator>& members) const
{
    return EnumerateAccounts(Kind::Group, members, [&](const auto& users, const auto& groups, auto add) {
        for (const auto& g : groups) {
            if (g.name != name_)
                continue;
            for (const std::string& m : CLocalAccountDatabase::MembersOf(g, users))
                add(Kind::User, m);
            break;
        }
    });
}
