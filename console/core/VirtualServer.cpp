#include "console/core/VirtualServer.h"

#include "common/Names.h"
#include "console/core/RegistryValue.h"
#include "platform/registry/RegistryTransaction.h"

#include <utility>

CVirtualServer::CVirtualServer(std::string name, std::string storageFolder, std::string description, DWORD port,
                               bool readOnly)
    : name_(std::move(name)), storageFolder_(std::move(storageFolder)), description_(std::move(description)), port_(port), readOnly_(readOnly)
{
}

const std::string& CVirtualServer::FormatPortText()
{
    portText_ = std::to_string(port_);
    return portText_;
}

std::string CVirtualServer::KeyPath(const std::string& name)
{
    return std::string(tq::kVirtualServersKey) + "\\" + name;
}

HRESULT CVirtualServer::Load(const std::string& name)
{
    const std::string path = KeyPath(name);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return E_FAIL;
    name_ = name;
    storedName_ = name;
    if (auto folder = ReadRegistryString(key, tq::kStorageFolderValue))
        storageFolder_ = *folder;
    if (auto description = ReadRegistryString(key, tq::kDescriptionValue))
        description_ = *description;
    if (auto port = ReadRegistryDword(key, tq::kPortValue))
        port_ = *port;
    RegCloseKey(key);
    return S_OK;
}

HRESULT CVirtualServer::SetName(const std::string& name)
{
    if (readOnly_)
        return E_ACCESSDENIED;
    name_ = name;
    return S_OK;
}

HRESULT CVirtualServer::SetDescription(const std::string& description)
{
    if (readOnly_)
        return E_ACCESSDENIED;
    description_ = description;
    return S_OK;
}

HRESULT CVirtualServer::SetPort(DWORD port)
{
    if (readOnly_)
        return E_ACCESSDENIED;
    if (port < kMinPort || port > kMaxPort)
        return E_INVALIDARG;
    port_ = port;
    return S_OK;
}

HRESULT CVirtualServer::SetStorageFolder(const std::string& folder)
{
    if (readOnly_)
        return E_ACCESSDENIED;
    storageFolder_ = folder;
    return S_OK;
}

void CVirtualServer::Save(CRegistryTransaction& registry, const CVirtualServer* stored) const
{
    const std::string key = KeyPath(name_);
    const bool kept = stored != nullptr && stored->name_ == name_;
    if (!kept)
        registry.CreateKey(HKEY_LOCAL_MACHINE, key);
    if (!kept || stored->port_ != port_)
        registry.SetValue(HKEY_LOCAL_MACHINE, key, tq::kPortValue, REG_DWORD, reinterpret_cast<const BYTE*>(&port_),
                          sizeof port_);
    if (!kept || stored->description_ != description_)
        registry.SetText(HKEY_LOCAL_MACHINE, key, tq::kDescriptionValue, description_);
    // A stored record without a folder keeps none until it is given one.
    if (!kept || stored->storageFolder_ != storageFolder_)
        registry.SetText(HKEY_LOCAL_MACHINE, key, tq::kStorageFolderValue, storageFolder_);
}

void CVirtualServer::MarkSaved()
{
    storedName_ = name_;
}
