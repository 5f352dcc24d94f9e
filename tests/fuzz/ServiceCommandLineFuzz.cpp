// Splits arbitrary text as a service command line ("ImagePath" comes from the
// registry file, which anyone with access may edit); the parts must survive
// being joined and split again.
#include "platform/scm/ServiceCommandLine.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts = SplitServiceCommandLine(text);
    if (SplitServiceCommandLine(MakeServiceCommandLine(parts)) != parts)
        std::abort();
    return 0;
}
