#include "console/core/HttpFetch.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace {

void InitCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Body {
    std::string text;
    size_t limit = 0;
    bool tooLong = false;
};

size_t Collect(char* data, size_t size, size_t count, void* user)
{
    auto* body = static_cast<Body*>(user);
    size_t n = size * count;
    if (body->text.size() + n > body->limit) {
        body->tooLong = true;
        return 0; // ends the transfer with an error
    }
    body->text.append(data, n);
    return n;
}

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct UrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};

} // namespace

bool IsWebAddress(const std::string& text)
{
    std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK)
        return false;
    char* scheme = nullptr;
    char* host = nullptr;
    bool ok = curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK
              && curl_url_get(url.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK && host && *host;
    if (ok) {
        std::string s = scheme;
        ok = s == "http" || s == "https";
    }
    curl_free(scheme);
    curl_free(host);
    return ok;
}

std::optional<std::string> FetchHttp(const std::string& url, const HttpLimits& limits)
{
    if (!IsWebAddress(url))
        return std::nullopt;
    InitCurlOnce();
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl)
        return std::nullopt;
    Body body;
    body.limit = limits.maxBytes;
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, limits.transferTimeoutMs);
    // Timeouts must not raise signals in a program with threads.
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    if (curl_easy_perform(c) != CURLE_OK || body.tooLong)
        return std::nullopt;
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299)
        return std::nullopt;
    return std::move(body.text);
}
