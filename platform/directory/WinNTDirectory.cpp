#include "platform/directory/WinNTDirectory.h"

#include "platform/directory/DirectoryErrors.h"
#include "platform/directory/Utf.h"
#include "platform/directory/WinNTObject.h"
#include "platform/directory/WinNTPath.h"

WinNTDirectory::WinNTDirectory(LocalAccountDatabase accounts, std::string computer)
    : accounts_(std::make_shared<const LocalAccountDatabase>(std::move(accounts))), computer_(Utf8ToUtf16(computer))
{
}

HRESULT WinNTDirectory::Open(std::u16string_view path, DirectoryFacet facet,
                             std::unique_ptr<DirectoryObject>& object) const
{
    WinNTPath where;
    HRESULT hr = WinNTPath::Parse(path, where);
    if (FAILED(hr))
        return hr;
    if (!EqualsNoCase(where.Computer(), computer_) && !EqualsNoCase(where.Computer(), u"localhost"))
        return HRESULT_FROM_WIN32(ERROR_BAD_NETPATH);
    std::unique_ptr<DirectoryObject> made;
    if (where.Name().empty()) {
        made = std::make_unique<WinNTObject>(accounts_, computer_, WinNTObject::Kind::Computer);
    } else {
        std::string name = Utf16ToUtf8(where.Name());
        WinNTPath::Kind hint = where.ClassHint();
        if (hint != WinNTPath::Kind::User) {
            std::vector<LocalAccountDatabase::Group> groups;
            hr = accounts_->ReadGroups(groups);
            if (FAILED(hr))
                return hr;
            for (const auto& g : groups)
                if (g.name == name)
                    made = std::make_unique<WinNTObject>(accounts_, computer_, WinNTObject::Kind::Group, name);
        }
        if (made == nullptr && hint != WinNTPath::Kind::Group) {
            std::vector<LocalAccountDatabase::User> users;
            hr = accounts_->ReadUsers(users);
            if (FAILED(hr))
                return hr;
            for (const auto& u : users)
                if (u.name == name)
                    made = std::make_unique<WinNTObject>(accounts_, computer_, WinNTObject::Kind::User, name);
        }
        if (made == nullptr)
            return HRESULT_FROM_WIN32(hint == WinNTPath::Kind::Group ? NERR_GroupNotFound : NERR_UserNotFound);
    }
    if (!made->Answers(facet))
        return E_NOINTERFACE;
    object = std::move(made);
    return S_OK;
}
