#include "console/core/RegistryValue.h"

#include <vector>

std::optional<std::string> ReadRegistryString(HKEY key, const char* valueName)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return std::nullopt;
    std::vector<BYTE> data(size);
    // The value may change between the two reads: read until it fits.
    for (;;) {
        DWORD got = static_cast<DWORD>(data.size());
        LONG rc = RegQueryValueExA(key, valueName, nullptr, &type, data.data(), &got);
        if (rc == ERROR_MORE_DATA) {
            data.resize(got);
            continue;
        }
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
            return std::nullopt;
        std::string text(reinterpret_cast<const char*>(data.data()), got);
        if (auto nul = text.find('\0'); nul != std::string::npos)
            text.resize(nul);
        return text;
    }
}

std::optional<std::string> ReadRegistryString(HKEY root, const char* keyPath, const char* valueName)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    auto text = ReadRegistryString(key, valueName);
    RegCloseKey(key);
    return text;
}

std::optional<DWORD> ReadRegistryDword(HKEY key, const char* valueName)
{
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS
        || type != REG_DWORD || size != sizeof value)
        return std::nullopt;
    return value;
}
