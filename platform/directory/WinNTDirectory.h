#pragma once
// Opens objects of "WinNT://" paths over the local account database. Only
// the local computer is served: its name (any case) or "localhost".

#include "platform/directory/ComputerName.h"
#include "platform/directory/DirectoryObject.h"
#include "platform/directory/LocalAccountDatabase.h"

#include <memory>
#include <string>
#include <string_view>

class CWinNTDirectory {
public:
    explicit CWinNTDirectory(CLocalAccountDatabase accounts = CLocalAccountDatabase(),
                            std::string computer = LocalComputerName());

    // E_ADS_BAD_PATHNAME for a malformed path; HRESULT_FROM_WIN32 of
    // ERROR_BAD_NETPATH for another computer, NERR_UserNotFound or
    // NERR_GroupNotFound for an unknown account; E_NOINTERFACE when the
    // object does not answer facet. A name that is both a group and a user
    // opens the group unless the path says ",user".
    HRESULT Open(std::u16string_view path, DirectoryFacet facet, std::unique_ptr<IDirectoryObject>& object) const;

private:
    std::shared_ptr<const CLocalAccountDatabase> accounts_;
    std::u16string computer_;
};
