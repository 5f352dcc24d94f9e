#include "console/core/VirtualServer.h"

#include "common/Names.h"
#include "console/core/FolderChange.h"
#include "console/core/RegistryValue.h"
#include "console/core/StorageFolder.h"
#include "platform/registry/RegistryTransaction.h"

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
    // Only a folder that is on disk has anything to move at the next save.
    if (PathExists(storageFolder_))
        previousStorageFolder_ = storageFolder_;
    storageFolder_ = folder;
    return S_OK;
}

HRESULT CVirtualServer::Save(const CVirtualServer& defaultServer, CRegistryTransaction& registry,
                             CFolderChange& folder)
{
    HRESULT hr = S_OK;
    // Exact comparison: folders that differ only in letter case are different folders here.
    if (storageFolder_ != previousStorageFolder_ && PathExists(previousStorageFolder_))
        hr = folder.Move(previousStorageFolder_, storageFolder_);
    else if (!PathExists(storageFolder_))
        hr = folder.Create(storageFolder_, defaultServer.StorageFolder());
    if (FAILED(hr))
        return hr;
    const std::string key = KeyPath(name_);
    // A subkey stored under this name for another record (or in another
    // letter case) starts anew; the record's own keeps what else it holds.
    if (storedName_ != name_)
        registry.DeleteTree(HKEY_LOCAL_MACHINE, key);
    registry.CreateKey(HKEY_LOCAL_MACHINE, key);
    registry.SetValue(HKEY_LOCAL_MACHINE, key, tq::kPortValue, REG_DWORD, reinterpret_cast<const BYTE*>(&port_),
                      sizeof port_);
    registry.SetText(HKEY_LOCAL_MACHINE, key, tq::kDescriptionValue, description_);
    registry.SetText(HKEY_LOCAL_MACHINE, key, tq::kStorageFolderValue, storageFolder_);
    return S_OK;
}

void CVirtualServer::MarkSaved()
{
    storedName_ = name_;
    // Nothing is left to move: a folder that appears at the old path later is another server's.
    previousStorageFolder_ = storageFolder_;
}
