#include "platform/win/DebugOutput.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void OutputDebugStringA(const char* text)
{
    static const bool enabled = [] {
        const char* v = std::getenv("TQ_DEBUG_OUTPUT");
        return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
    }();
    if (!enabled || text == nullptr)
        return;
    std::fputs(text, stderr);
    std::fflush(stderr);
}
