#include "console/core/ServerIdentity.h"

#include "common/Names.h"
#include "platform/registry/Registry.h"

#include <cstdio>

std::optional<GUID> ReadServerIdentity()
{
    char keyName[MAX_PATH];
    std::snprintf(keyName, sizeof keyName, tq::kClsidKeyFormat, tq::kServerIdentityClass);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    BYTE value[16] = {};
    DWORD size = sizeof value;
    DWORD type = REG_NONE;
    const LONG rc = RegQueryValueExA(key, nullptr, nullptr, &type, value, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_BINARY || size != sizeof value)
        return std::nullopt;
    return GuidFromBytes(value);
}
