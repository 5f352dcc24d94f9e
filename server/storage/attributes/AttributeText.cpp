#include "server/storage/attributes/AttributeText.h"

#include "server/storage/attributes/Wildcard.h"

#include <algorithm>

namespace attrib {

namespace {

template <typename C>
C Fold(C c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<C>(c - 'A' + 'a') : c;
}

template <typename C>
int CompareNoCase(const C* a, std::size_t na, const C* b, std::size_t nb)
{
    const std::size_t n = std::min(na, nb);
    for (std::size_t i = 0; i < n; ++i) {
        // Unsigned comparison, so OEM bytes above 0x7F sort after ASCII.
        const auto ca = static_cast<unsigned>(static_cast<std::make_unsigned_t<C>>(Fold(a[i])));
        const auto cb = static_cast<unsigned>(static_cast<std::make_unsigned_t<C>>(Fold(b[i])));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return na == nb ? 0 : (na < nb ? -1 : 1);
}

} // namespace

bool TextKeyLess::operator()(const TextKey& a, const TextKey& b) const
{
    if (a.present != b.present)
        return a.present;
    if (!a.present)
        return false;
    return CompareNoCase(a.text.data(), a.text.size(), b.text.data(), b.text.size()) < 0;
}

bool TextKeyEquals(const TextKey& a, const TextKey& b)
{
    return CompareNoCase(a.text.data(), a.text.size(), b.text.data(), b.text.size()) == 0;
}

bool TextKeyMatches(const TextKey& pattern, const TextKey& key)
{
    if (pattern.text.empty() && key.text.empty())
        return true;
    if (!pattern.present)
        return !key.present;
    if (!key.present)
        return false;
    return MatchWildcardW(pattern.text.c_str(), key.text.c_str()) == 1;
}

bool NamesEqual(const std::u16string& a, const std::u16string& b)
{
    return CompareNoCase(a.data(), a.size(), b.data(), b.size()) == 0;
}

bool NarrowEqualNoCase(const char* a, const char* b)
{
    const std::string sa = a != nullptr ? a : "";
    const std::string sb = b != nullptr ? b : "";
    return CompareNoCase(sa.data(), sa.size(), sb.data(), sb.size()) == 0;
}

bool OemNameLess::operator()(const std::string& a, const std::string& b) const
{
    return CompareNoCase(a.data(), a.size(), b.data(), b.size()) < 0;
}

} // namespace attrib
