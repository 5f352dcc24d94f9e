#include "platform/win/StringCompare.h"

#include <strings.h>

int StrCmpIA(const char* a, const char* b)
{
    return ::strcasecmp(a, b);
}

int StrCmpNIA(const char* a, const char* b, std::size_t count)
{
    return ::strncasecmp(a, b, count);
}
