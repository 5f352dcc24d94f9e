// Reads arbitrary text as a transport binding (the host part comes from what
// client computers report as their address). A binding that reads must name a
// host and a port in range, and written out again read back the same.
#include "platform/transport/TransportBinding.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    TransportBinding b;
    if (FAILED(TransportBinding::Parse(text, &b)))
        return 0;
    if (b.host.empty() || b.host.size() > TransportBinding::kMaxHostLength || b.port < 1 || b.port > 65535)
        std::abort();
    const bool ipv6 = b.host.find(':') != std::string::npos;
    const std::string again =
        std::string(TransportBinding::kPrefix) + (ipv6 ? "[" + b.host + "]" : b.host) + ":" + std::to_string(b.port);
    TransportBinding back;
    if (TransportBinding::Parse(again, &back) != S_OK || back.host != b.host || back.port != b.port)
        std::abort();
    return 0;
}
