#include "platform/directory/Utf.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one scalar at text[at]; advances at by the bytes used, or by one
// and answers U+FFFD when the sequence is malformed, overlong or a surrogate.
char32_t DecodeUtf8(std::string_view text, size_t& at)
{
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    if (lead < 0x80) {
        ++at;
        return lead;
    }
    size_t length;
    char32_t value;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        ++at;
        return kReplacement;
    }
    if (text.size() - at < length) {
        ++at;
        return kReplacement;
    }
    for (size_t i = 1; i < length; ++i) {
        unsigned char c = byte(at + i);
        if ((c & 0xC0) != 0x80) {
            ++at;
            return kReplacement;
        }
        value = (value << 6) | (c & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++at;
        return kReplacement;
    }
    at += length;
    return value;
}

} // namespace

std::u16string Utf8ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        char32_t c = DecodeUtf8(text, at);
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

bool IsValidUtf8(std::string_view text)
{
    size_t at = 0;
    while (at < text.size()) {
        size_t before = at;
        if (DecodeUtf8(text, at) == kReplacement) {
            // A genuine U+FFFD takes three bytes; a malformed sequence one.
            if (at - before != 3)
                return false;
        }
    }
    return true;
}

namespace {

template <class Char>
bool SameNoCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        Char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<Char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<Char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return SameNoCase(a, b);
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b)
{
    return SameNoCase(a, b);
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix)
{
    return text.size() >= prefix.size() && SameNoCase(text.substr(0, prefix.size()), prefix);
}

bool PathAfterPrefix(std::u16string_view path, std::u16string_view prefix, std::u16string_view& rest)
{
    if (!StartsWithNoCase(path, prefix) || !IsValidUtf16(path) || path.find(u'\0') != std::u16string_view::npos)
        return false;
    rest = path.substr(prefix.size());
    return true;
}

bool IsValidUtf16(std::u16string_view text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}
