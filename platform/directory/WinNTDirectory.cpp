#include "platform/directory/WinNTDirectory.h"

#include "platform/directory/DirectoryErrors.h"
#include "platform/directory/Utf.h"
#include "platform/directory/WinNTObject.h"
#include "platform/directory/WinNTPath.h"

CWinNTDirectory::CWinNTDirectory(CLocalAccountDatabase accounts, std::string computer)
    : accounts_(std::make_shared<const CLocalAccountDatabase>(std::move(accounts))), computer_(Utf8ToUtf16(computer))
{
}

HRESULT CWinNTDirectory::Open(std::u16string_view path, DirectoryFacet facet,
                             std::unique_ptr<IDirectoryObject>& object) const
{
    CWinNTPath where;
    HRESULT hr = CWinNTPath::Parse(path, where);
    if (FAILED(hr))
        return hr;
    if (!EqualsNoCase(where.Computer(), computer_) && !EqualsNoCase(where.Computer(), u"localhost"))
        return HRESULT_FROM_WIN32(ERROR_BAD_NETPATH);
    std::unique_ptr<IDirectoryObject> made;
    if (where.Name().empty()) {
        made = std::make_unique<CWinNTObject>(accounts_, computer_, CWinNTObject::Kind::Computer);
    } else {
        std::string name = Utf16ToUtf8(where.Name());
        CWinNTPath::Kind hint = where.ClassHint();
        if (hint != CWinNTPath::Kind::User) {
            std::vector<CLocalAccountDatabase::Group> groups;
            hr = accounts_->ReadGroups(groups);
            if (FAILED(hr))
                return hr;
            for (const auto& g : groups)
                if (g.name == name)
                    made = std::make_unique<CWinNTObject>(accounts_, computer_, CWinNTObject::Kind::Group, name);
        }
        if (made == nullptr && hint != CWinNTPath::Kind::Group) {
            std::vector<CLocalAccountDatabase::User> users;
            hr = accounts_->ReadUsers(users);
            if (FAILED(hr))
                return hr;
            for (const auto& u : users)
                if (u.name == name)
                    made = std::make_unique<CWinNTObject>(accounts_, computer_, CWinNTObject::Kind::User, name);
        }
        if (made == nullptr)
            return HRESULT_FROM_WIN32(hint == CWinNTPath::Kind::Group ? NERR_GroupNotFound : NERR_UserNotFound);
    }
    if (!made->Answers(facet))
        return E_NOINTERFACE;
    object = std::move(made);
    return S_OK;
}
