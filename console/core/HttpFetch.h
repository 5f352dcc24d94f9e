#pragma once
// Fetching a small document over HTTP with bounded waits, so that a host that
// does not answer never holds the console for long.

#include <optional>
#include <string>

struct HttpLimits {
    long connectTimeoutMs = 5000;    // to reach the host
    long transferTimeoutMs = 15000;  // for the whole exchange, redirects included
    size_t maxBytes = 1 << 20;       // a longer body is refused
};

// The body of a successful (2xx) answer to a GET of url; nothing when the
// address is not http or https, the host cannot be reached, a wait runs out,
// the status is another one or the body is too long. Redirects are followed
// (up to five), to http and https only.
std::optional<std::string> FetchHttp(const std::string& url, const HttpLimits& limits);

// Whether text is an absolute http or https address with a host.
bool IsWebAddress(const std::string& text);
