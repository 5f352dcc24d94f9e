#pragma once
// Registry set-up and reading for the console's core tests, each in its own
// state root.

#include "common/Names.h"
#include "console/core/RegistryValue.h"
#include "platform/registry/Registry.h"

#include <optional>
#include <string>

namespace consoletest {

inline void SetText(const std::string& keyPath, const char* name, const std::string& text)
{
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_ALL_ACCESS, &key);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
}

inline void SetMainText(const char* name, const std::string& text)
{
    SetText(tq::kWardlakeKey, name, text);
}

inline void StoreServer(const std::string& name, DWORD port, const std::string& folder,
                        const std::string& description = "")
{
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(tq::kVirtualServersKey) + "\\" + name).c_str(), KEY_ALL_ACCESS,
                    &key);
    RegSetValueExA(key, tq::kPortValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port), sizeof port);
    RegSetValueExA(key, tq::kStorageFolderValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>(folder.size() + 1));
    RegSetValueExA(key, tq::kDescriptionValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(description.c_str()),
                   static_cast<DWORD>(description.size() + 1));
    RegCloseKey(key);
}

inline std::string ServerKey(const std::string& name)
{
    return std::string(tq::kVirtualServersKey) + "\\" + name;
}

inline std::optional<std::string> StoredText(const std::string& name, const char* value)
{
    return ReadRegistryString(HKEY_LOCAL_MACHINE, ServerKey(name).c_str(), value);
}

inline std::optional<DWORD> StoredPort(const std::string& name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ServerKey(name).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    auto port = ReadRegistryDword(key, tq::kPortValue);
    RegCloseKey(key);
    return port;
}

inline DWORD StoredServerCount()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, tq::kVirtualServersKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD subKeys = 0, values = 0;
    RegQueryInfoKeyA(key, &subKeys, &values);
    RegCloseKey(key);
    return subKeys;
}

inline bool KeyExists(const char* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

} // namespace consoletest
