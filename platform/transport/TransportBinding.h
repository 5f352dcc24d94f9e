#pragma once
// Where a client transport goes: the binding text "WINSERVER:host:port".
//
// The host is a name or an IPv4 address of letters, digits, '.', '-' and
// '_', or an IPv6 address, bare or in brackets ("[::1]"). The port is
// decimal, 1 to 65535; without it ("WINSERVER:host") the port is the one
// client computers listen on. With a bare IPv6 address the last ':' starts
// the port, which then must be given.

#include "platform/win/WinTypes.h"

#include <string>
#include <string_view>

struct TransportBinding {
    static constexpr std::string_view kPrefix = "WINSERVER:";
    static constexpr int kClientComputerPort = 34348;
    static constexpr size_t kMaxHostLength = 255;

    std::string host;
    int port = 0;

    // S_OK and the binding in *out; otherwise *out is left alone and the
    // result says what is wrong:
    //   HRESULT_FROM_WIN32(RPC_S_INVALID_STRING_BINDING)  not "WINSERVER:...", or no host
    //   HRESULT_FROM_WIN32(RPC_S_INVALID_NET_ADDR)        a host that is no name or address
    //   HRESULT_FROM_WIN32(RPC_S_INVALID_ENDPOINT_FORMAT) a port that is no number in range
    static HRESULT Parse(std::string_view text, TransportBinding* out);
};
