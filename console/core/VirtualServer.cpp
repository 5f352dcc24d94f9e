#include "console/core/VirtualServer.h"

#include "common/Names.h"
#include "console/core/RegistryValue.h"
#include "console/core/StorageFolder.h"
#include "platform/registry/Registry.h"
#include "platform/win/LastError.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
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

namespace {

LONG SetText(HKEY key, const char* name, const std::string& text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

DWORD ErrorOf(const std::error_code& ec)
{
    return ec.category() == std::generic_category() || ec.category() == std::system_category()
               ? Win32ErrorFromErrno(ec.value())
               : ERROR_GEN_FAILURE;
}

} // namespace

HRESULT CVirtualServer::Save(const CVirtualServer& defaultServer)
{
    const std::string path = std::string(tq::kVirtualServersKey) + "\\" + name_;
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ | KEY_WRITE, &key);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
    RegSetValueExA(key, tq::kPortValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port_), sizeof port_);
    SetText(key, tq::kDescriptionValue, description_);
    SetText(key, tq::kStorageFolderValue, storageFolder_);
    RegCloseKey(key);

    namespace fs = std::filesystem;
    std::error_code ec;
    // Exact comparison: folders that differ only in letter case are different folders here.
    if (storageFolder_ != previousStorageFolder_ && PathExists(previousStorageFolder_)) {
        // Like a move of a folder on the platform, never onto something that exists.
        if (PathExists(storageFolder_))
            return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        if (std::rename(previousStorageFolder_.c_str(), storageFolder_.c_str()) != 0)
            return HRESULT_FROM_WIN32(Win32ErrorFromErrno(errno));
        return S_OK;
    }
    if (PathExists(storageFolder_))
        return S_OK;
    fs::create_directories(storageFolder_, ec);
    if (ec || !PathExists(storageFolder_))
        return HRESULT_FROM_WIN32(ec ? ErrorOf(ec) : ERROR_PATH_NOT_FOUND);
    // The administrative settings (the password among them) come from the Default server.
    fs::copy_file(JoinFolder(defaultServer.StorageFolder(), kAdminSettingsFile),
                  JoinFolder(storageFolder_, kAdminSettingsFile), fs::copy_options::overwrite_existing, ec);
    return S_OK;
}
