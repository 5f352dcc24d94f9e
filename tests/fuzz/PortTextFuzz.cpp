// Reads arbitrary typed text as a port number; the value must be what
// strtol reads from the same text, held within the 32-bit range.
#include "console/core/AtoiText.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    const int32_t value = AtoiText(text);
    // strtoll stops at the first NUL, AtoiText at the first non-digit; cut there for both.
    text = text.c_str();
    errno = 0;
    long long expected = std::strtoll(text.c_str(), nullptr, 10);
    if (expected > std::numeric_limits<int32_t>::max())
        expected = std::numeric_limits<int32_t>::max();
    if (expected < std::numeric_limits<int32_t>::min())
        expected = std::numeric_limits<int32_t>::min();
    if (value != expected)
        std::abort();
    return 0;
}
