#pragma once
// "LDAP://server[:port][/dn]": the server is a host name, an IPv4 address or
// a bracketed IPv6 address, the port 1 to 65535 (389 when absent), and a "/"
// inside the dn is written "\/". Paths without a server are refused: there
// is no domain to find one from.

#include "platform/win/WinTypes.h"

#include <string>
#include <string_view>

class CLdapPath {
public:
    static constexpr int kDefaultPort = 389;

    // S_OK, or E_ADS_BAD_PATHNAME for anything else.
    static HRESULT Parse(std::u16string_view path, CLdapPath& out);
    // The path of the object dn on server ("host[:port]" as a parsed path gives it).
    static std::u16string Format(std::string_view server, std::string_view dn);

    // As written in the path, port included.
    const std::string& Server() const { return server_; }
    const std::string& Host() const { return host_; }
    int Port() const { return port_; }
    // UTF-8; empty for the server's own default object.
    const std::string& Dn() const { return dn_; }
    // The URI libldap connects to.
    std::string Uri() const;

private:
    std::string server_;
    std::string host_;
    int port_ = kDefaultPort;
    std::string dn_;
};
