// Parses arbitrary bytes as a registry file. A file that parses must write out
// to a text that parses back to the same keys and values and writes out the
// same again.
#include "platform/registry/RegistryText.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RegistryHives hives;
    RegistryParseError error;
    if (!ParseRegistryText(std::string_view(reinterpret_cast<const char*>(data), size), hives, error)) {
        if (error.line == 0 || error.reason.empty())
            std::abort();
        return 0;
    }
    std::string text = FormatRegistryText(hives);
    RegistryHives again;
    if (!ParseRegistryText(text, again, error))
        std::abort();
    for (int h = 0; h < kHiveCount; ++h)
        if (!(hives[h] == again[h]))
            std::abort();
    if (FormatRegistryText(again) != text)
        std::abort();
    return 0;
}
