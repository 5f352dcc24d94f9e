#include "platform/transport/TransportBinding.h"

#include <arpa/inet.h>

#include <algorithm>

namespace {

bool IsNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_';
}

bool IsName(std::string_view host)
{
    return !host.empty() && host.size() <= TransportBinding::kMaxHostLength &&
           std::all_of(host.begin(), host.end(), IsNameCharacter);
}

bool IsIpv6Character(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
}

bool IsIpv6(std::string_view host)
{
    // Checked by hand first: the system's reader stops at a NUL.
    if (host.empty() || host.size() > INET6_ADDRSTRLEN || !std::all_of(host.begin(), host.end(), IsIpv6Character))
        return false;
    const std::string text(host);
    in6_addr address{};
    return ::inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

// Decimal 1..65535, digits only: no sign, no blanks.
bool ParsePort(std::string_view text, int* port)
{
    if (text.empty() || text.size() > 5)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535)
        return false;
    *port = value;
    return true;
}

} // namespace

HRESULT TransportBinding::Parse(std::string_view text, TransportBinding* out)
{
    const HRESULT badBinding = HRESULT_FROM_WIN32(RPC_S_INVALID_STRING_BINDING);
    const HRESULT badHost = HRESULT_FROM_WIN32(RPC_S_INVALID_NET_ADDR);
    const HRESULT badPort = HRESULT_FROM_WIN32(RPC_S_INVALID_ENDPOINT_FORMAT);
    if (out == nullptr)
        return E_POINTER;
    if (!text.starts_with(kPrefix))
        return badBinding;
    std::string_view rest = text.substr(kPrefix.size());
    if (rest.empty())
        return badBinding;

    std::string_view host;
    std::string_view port;
    bool hasPort = false;
    if (rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string_view::npos)
            return badBinding;
        host = rest.substr(1, close - 1);
        std::string_view after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return badBinding;
            port = after.substr(1);
            hasPort = true;
        }
        if (host.empty())
            return badBinding;
        if (!IsIpv6(host))
            return badHost;
    } else {
        const size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos) {
            host = rest;
        } else {
            host = rest.substr(0, colon);
            port = rest.substr(colon + 1);
            hasPort = true;
        }
        if (host.empty())
            return badBinding;
        const bool bareIpv6 = host.find(':') != std::string_view::npos;
        if (bareIpv6 ? !IsIpv6(host) : !IsName(host))
            return badHost;
    }

    int number = kClientComputerPort;
    if (hasPort && !ParsePort(port, &number))
        return badPort;
    out->host.assign(host);
    out->port = number;
    return S_OK;
}
