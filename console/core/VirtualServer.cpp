#include "console/core/VirtualServer.h"

#include "common/Names.h"
#include "console/core/RegistryValue.h"
#include "platform/registry/Registry.h"

#include <utility>

CVirtualServer::CVirtualServer(std::string name, std::string storageFolder, std::string description, DWORD port,
                               bool readOnly)
    : name_(std::move(name)), storageFolder_(std::move(storageFolder)), previousStorageFolder_(storageFolder_),
      description_(std::move(description)), port_(port), readOnly_(readOnly)
{
}

const std::string& CVirtualServer::FormatPortText()
{
    portText_ = std::to_string(port_);
    return portText_;
}

HRESULT CVirtualServer::Load(const std::string& name)
{
    const std::string path = std::string(tq::kVirtualServersKey) + "\\" + name;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return E_FAIL;
    name_ = name;
    if (auto folder = ReadRegistryString(key, tq::kStorageFolderValue))
        storageFolder_ = *folder;
    if (auto description = ReadRegistryString(key, tq::kDescriptionValue))
        description_ = *description;
    if (auto port = ReadRegistryDword(key, tq::kPortValue))
        port_ = *port;
    RegCloseKey(key);
    return S_OK;
}
