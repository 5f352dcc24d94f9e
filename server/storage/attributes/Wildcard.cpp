#include "server/storage/attributes/Wildcard.h"

namespace {

template <typename C>
int MatchFrom(const C* p, const C* t);

// Matches a '*' at p against the text from t. Leaves p after the run of
// wildcards and t where the rest of the pattern matched; the caller goes on
// matching from there with its own backslash rule.
template <typename C>
int Star(const C*& p, const C*& t, bool cross)
{
    ++p;
    while (*t != 0 && (*p == '?' || *p == '*')) {
        if (*p == '?')
            ++t;
        ++p;
    }
    while (*p == '*')
        ++p;
    if (*t == 0)
        return *p == 0 ? 1 : 0;

    bool success = MatchFrom(p, t) == 1;
    while (!success) {
        if (*t == '\\' && !cross)
            return 0;
        ++t;
        while (*t != *p && *t != 0) {
            if (*t == '\\' && !cross)
                return 0;
            ++t;
        }
        if (*t == 0)
            break;
        success = MatchFrom(p, t) == 1;
    }
    if (*t == 0 && *p == 0)
        return 1;
    return success ? 1 : 0;
}

template <typename C>
int MatchFrom(const C* p, const C* t)
{
    int r = 1;
    bool cross = true; // may a '*' run over a backslash
    while (*p != 0 && r == 1 && *t != 0) {
        if (*p == '*') {
            r = Star(p, t, cross);
        } else if (*p == '?') {
            ++t;
            ++p;
        } else {
            if (*t == '\\' && !cross)
                r = 0;
            else
                r = *t == *p ? 1 : 0;
            if (*p == '\\' && p[1] == '*')
                cross = false;
            ++t;
            ++p;
        }
    }
    if (r == 1) {
        while (*p == '*')
            ++p;
    }
    return r == 1 && *t == 0 && *p == 0 ? 1 : 0;
}

} // namespace

int MatchWildcard(const char* pattern, const char* text)
{
    return MatchFrom(pattern != nullptr ? pattern : "", text != nullptr ? text : "");
}

int MatchWildcardW(const char16_t* pattern, const char16_t* text)
{
    if (pattern == nullptr || text == nullptr)
        return 1;
    const char16_t* a = pattern;
    const char16_t* b = text;
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    if (*a == *b)
        return 1;
    return MatchFrom(pattern, text);
}
