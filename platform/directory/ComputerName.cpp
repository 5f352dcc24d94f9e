#include "platform/directory/ComputerName.h"

#include "platform/win/LastError.h"

#include <climits>
#include <cstring>
#include <unistd.h>

std::string LocalComputerName()
{
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) != 0)
        return "localhost";
    std::string name(host);
    size_t dot = name.find('.');
    if (dot != std::string::npos)
        name.resize(dot);
    return name.empty() ? "localhost" : name;
}

BOOL GetComputerNameA(char* buffer, DWORD* size)
{
    if (size == nullptr || (buffer == nullptr && *size != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string name = LocalComputerName();
    if (*size < name.size() + 1) {
        *size = static_cast<DWORD>(name.size() + 1);
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *size = static_cast<DWORD>(name.size());
    return TRUE;
}
