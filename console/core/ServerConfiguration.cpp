#include "console/core/ServerConfiguration.h"

#include "common/Names.h"
#include "console/core/RegistryValue.h"
#include "platform/registry/Registry.h"

#include <vector>

void CServerConfiguration::Clear()
{
    records_.clear();
}

void CServerConfiguration::Load()
{
    Clear();
    std::string defaultFolder =
        ReadRegistryString(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, tq::kStorageFolderValue).value_or("");
    records_.push_back(std::make_unique<CVirtualServer>(CVirtualServer::kDefaultName, defaultFolder,
                                                        CVirtualServer::kDefaultDescription,
                                                        CVirtualServer::kDefaultPort, true));
    HKEY servers = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, tq::kVirtualServersKey, 0, KEY_READ, &servers) == ERROR_SUCCESS) {
        // Subkey names are at most 255 bytes in our registry, so one buffer holds any.
        std::vector<char> name(256);
        for (DWORD index = 0;; ++index) {
            DWORD size = static_cast<DWORD>(name.size());
            if (RegEnumKeyExA(servers, index, name.data(), &size) != ERROR_SUCCESS)
                break;
            auto record = std::make_unique<CVirtualServer>();
            if (record->Load(std::string(name.data(), size)) == S_OK)
                records_.push_back(std::move(record));
        }
        RegCloseKey(servers);
    }
    modified_ = false;
}

void CServerConfiguration::SetModified()
{
    modified_ = true;
}

std::string CServerConfiguration::Title() const
{
    return modified_ ? std::string(kTitle) + kModifiedSuffix : std::string(kTitle);
}
