#include "platform/registry/RegistryText.h"

#include "platform/registry/Registry.h"

#include <cstdio>

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr size_t kHexLineWidth = 77;

bool IsSpace(char c)
{
    return c == ' ' || c == '\t';
}

bool IsControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string_view TrimLeft(std::string_view s)
{
    while (!s.empty() && IsSpace(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view TrimRight(std::string_view s)
{
    while (!s.empty() && IsSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && RegistryNamesEqual(s.substr(0, prefix.size()), prefix);
}

// Length of the well-formed UTF-8 sequence at s[0], or 0.
size_t Utf8SequenceLength(std::string_view s)
{
    auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char c = b(0);
    size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || s.size() < n)
        return 0;
    for (size_t i = 1; i < n; ++i)
        if ((b(i) & 0xC0) != 0x80)
            return 0;
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((c == 0xE0 && b(1) < 0xA0) || (c == 0xED && b(1) >= 0xA0) || (c == 0xF0 && b(1) < 0x90) ||
        (c == 0xF4 && b(1) >= 0x90))
        return 0;
    return n;
}

void AppendQuoted(std::string& out, std::string_view text)
{
    out += '"';
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '\\': out += "\\\\"; continue;
        case '"': out += "\\\""; continue;
        case '\n': out += "\\n"; continue;
        case '\r': out += "\\r"; continue;
        case '\t': out += "\\t"; continue;
        case 0: out += "\\0"; continue;
        default: break;
        }
        if (c >= 0x80) {
            size_t n = Utf8SequenceLength(text.substr(i));
            if (n > 0) {
                out.append(text.substr(i, n));
                i += n - 1;
                continue;
            }
        }
        if (IsControl(c) || c >= 0x80) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
            continue;
        }
        out += static_cast<char>(c);
    }
    out += '"';
}

void AppendHexList(std::string& out, size_t lineStart, const std::vector<BYTE>& data)
{
    size_t column = out.size() - lineStart;
    for (size_t i = 0; i < data.size(); ++i) {
        char token[4];
        std::snprintf(token, sizeof token, "%02x", data[i]);
        size_t width = i + 1 < data.size() ? 3 : 2;
        if (column + width > kHexLineWidth && i > 0) {
            out += "\\\n  ";
            column = 2;
        }
        out += token;
        if (i + 1 < data.size())
            out += ',';
        column += width;
    }
}

bool EndsWithNul(const std::vector<BYTE>& data)
{
    return !data.empty() && data.back() == 0;
}

void AppendValue(std::string& out, const RegistryValue& v)
{
    size_t lineStart = out.size();
    if (v.name.empty())
        out += '@';
    else
        AppendQuoted(out, v.name);
    out += '=';
    auto text = [&] { return std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1); };
    char prefix[32];
    if (v.type == REG_SZ && EndsWithNul(v.data)) {
        AppendQuoted(out, text());
    } else if (v.type == REG_EXPAND_SZ && EndsWithNul(v.data)) {
        out += "str(2):";
        AppendQuoted(out, text());
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        DWORD d = DWORD(v.data[0]) | DWORD(v.data[1]) << 8 | DWORD(v.data[2]) << 16 | DWORD(v.data[3]) << 24;
        std::snprintf(prefix, sizeof prefix, "dword:%08x", d);
        out += prefix;
    } else {
        if (v.type == REG_BINARY)
            out += "hex:";
        else {
            std::snprintf(prefix, sizeof prefix, "hex(%x):", v.type);
            out += prefix;
        }
        AppendHexList(out, lineStart, v.data);
    }
    out += '\n';
}

void AppendKey(std::string& out, const std::string& path, const CRegistryNode& key, bool always)
{
    if (always || !key.Values().empty()) {
        out += '[';
        out += path;
        out += "]\n";
        for (const auto& v : key.Values())
            AppendValue(out, v);
        out += '\n';
    }
    for (const auto& sub : key.Subkeys())
        AppendKey(out, path + "\\" + sub->Name(), *sub, true);
}

class Parser {
public:
    Parser(std::string_view text, RegistryHives& hives, RegistryParseError& error)
        : text_(text), hives_(hives), error_(error)
    {
    }

    bool Run()
    {
        if (text_.substr(0, 2) == "\xFF\xFE" || text_.substr(0, 2) == "\xFE\xFF")
            return Fail("the file is UTF-16 text; it must be UTF-8");
        if (text_.substr(0, 3) == "\xEF\xBB\xBF")
            text_.remove_prefix(3);
        std::string_view line;
        if (!NextLine(line) || TrimRight(line) != kHeader)
            return Fail("the first line is not \"Windows Registry Editor Version 5.00\"");
        while (NextLine(line)) {
            line = TrimLeft(line);
            if (line.empty() || line.front() == ';')
                continue;
            bool ok = line.front() == '[' ? Section(TrimRight(line))
                      : line.front() == '"' || line.front() == '@' ? Value(line)
                                                                  : Fail("unexpected text outside a key or value");
            if (!ok)
                return false;
        }
        return true;
    }

private:
    bool Fail(std::string reason)
    {
        error_.line = line_ == 0 ? 1 : line_;
        error_.reason = std::move(reason);
        return false;
    }

    bool NextLine(std::string_view& line)
    {
        if (pos_ >= text_.size())
            return false;
        size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos)
            end = text_.size();
        line = text_.substr(pos_, end - pos_);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        pos_ = end + 1;
        ++line_;
        return true;
    }

    bool Section(std::string_view line)
    {
        if (line.size() < 2 || line.back() != ']')
            return Fail("a key line must end with ']'");
        std::string_view path = line.substr(1, line.size() - 2);
        if (!path.empty() && path.front() == '-')
            return Fail("key deletion lines ([-...]) cannot stand in the registry file");
        size_t slash = path.find('\\');
        std::string_view hive = path.substr(0, slash);
        key_ = nullptr;
        for (int h = 0; h < kHiveCount; ++h)
            if (RegistryNamesEqual(hive, RegistryHiveName(h)))
                key_ = &hives_[h];
        if (key_ == nullptr)
            return Fail("unknown root key \"" + std::string(hive) + "\"");
        while (slash != std::string_view::npos) {
            path.remove_prefix(slash + 1);
            slash = path.find('\\');
            std::string_view name = path.substr(0, slash);
            if (!IsValidRegistryKeyName(name))
                return Fail("invalid key name \"" + std::string(name) + "\"");
            key_ = key_->AddSubkey(name);
        }
        return true;
    }

    // Reads a quoted text at s (which starts with '"'); s is left after it.
    bool Quoted(std::string_view& s, std::string& out)
    {
        for (size_t i = 1; i < s.size(); ++i) {
            char c = s[i];
            if (c == '"') {
                s.remove_prefix(i + 1);
                return true;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (++i == s.size())
                break;
            switch (s[i]) {
            case '\\': out += '\\'; break;
            case '"': out += '"'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case '0': out += '\0'; break;
            case 'x': {
                int hi = i + 2 < s.size() ? HexDigit(s[i + 1]) : -1;
                int lo = hi >= 0 ? HexDigit(s[i + 2]) : -1;
                if (lo < 0)
                    return Fail("\\x must be followed by two hex digits");
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default: return Fail(std::string("unknown escape \\") + s[i]);
            }
        }
        return Fail("unterminated quoted text");
    }

    bool Value(std::string_view s)
    {
        if (key_ == nullptr)
            return Fail("a value before the first key line");
        std::string name;
        if (s.front() == '@')
            s.remove_prefix(1);
        else if (!Quoted(s, name))
            return false;
        s = TrimLeft(s);
        if (s.empty() || s.front() != '=')
            return Fail("expected '=' after the value name");
        s = TrimLeft(s.substr(1));
        DWORD type = 0;
        std::vector<BYTE> data;
        if (!ValueData(s, type, data))
            return false;
        key_->SetValue(name, type, std::move(data));
        return true;
    }

    bool ValueData(std::string_view s, DWORD& type, std::vector<BYTE>& data)
    {
        if (!s.empty() && s.front() == '"') {
            type = REG_SZ;
            return Text(s, data);
        }
        if (StartsWithNoCase(s, "str(")) {
            s.remove_prefix(4);
            if (!TypeNumber(s, type))
                return false;
            if (s.empty() || s.front() != '"')
                return Fail("expected quoted text after str(N):");
            return Text(s, data);
        }
        if (StartsWithNoCase(s, "dword:")) {
            s.remove_prefix(6);
            DWORD d = 0;
            size_t n = 0;
            for (; n < s.size() && HexDigit(s[n]) >= 0; ++n)
                d = d * 16 + DWORD(HexDigit(s[n]));
            if (n == 0 || n > 8 || !TrimLeft(s.substr(n)).empty())
                return Fail("dword: needs 1 to 8 hex digits");
            type = REG_DWORD;
            data = {BYTE(d), BYTE(d >> 8), BYTE(d >> 16), BYTE(d >> 24)};
            return true;
        }
        if (StartsWithNoCase(s, "hex:")) {
            type = REG_BINARY;
            return HexList(s.substr(4), data);
        }
        if (StartsWithNoCase(s, "hex(")) {
            s.remove_prefix(4);
            return TypeNumber(s, type) && HexList(s, data);
        }
        if (s == "-")
            return Fail("value deletion lines (=-) cannot stand in the registry file");
        return Fail("unknown value form");
    }

    // Reads "N):" of hex(N): or str(N):.
    bool TypeNumber(std::string_view& s, DWORD& type)
    {
        size_t n = 0;
        type = 0;
        for (; n < s.size() && HexDigit(s[n]) >= 0; ++n)
            type = type * 16 + DWORD(HexDigit(s[n]));
        if (n == 0 || n > 8 || s.substr(n, 2) != "):")
            return Fail("a value type must be 1 to 8 hex digits followed by \"):\"");
        s.remove_prefix(n + 2);
        return true;
    }

    bool Text(std::string_view s, std::vector<BYTE>& data)
    {
        std::string text;
        if (!Quoted(s, text))
            return false;
        if (!TrimLeft(s).empty())
            return Fail("unexpected text after the closing quote");
        data.assign(text.begin(), text.end());
        data.push_back(0);
        return true;
    }

    bool HexList(std::string_view s, std::vector<BYTE>& data)
    {
        bool needByte = false; // after a comma
        for (;;) {
            s = TrimLeft(s);
            if (s.empty())
                return true;
            if (s.front() == '\\') {
                if (!TrimLeft(s.substr(1)).empty())
                    return Fail("unexpected text after '\\' in a byte list");
                if (!NextLine(s))
                    return Fail("the byte list continues past the end of the file");
                continue;
            }
            if (HexDigit(s.front()) < 0)
                return Fail(needByte || data.empty() ? "expected a hex byte" : "expected ',' between bytes");
            int v = HexDigit(s.front());
            s.remove_prefix(1);
            if (!s.empty() && HexDigit(s.front()) >= 0) {
                v = v * 16 + HexDigit(s.front());
                s.remove_prefix(1);
            }
            if (!needByte && !data.empty())
                return Fail("expected ',' between bytes");
            data.push_back(static_cast<BYTE>(v));
            s = TrimLeft(s);
            needByte = !s.empty() && s.front() == ',';
            if (needByte)
                s.remove_prefix(1);
        }
    }

    std::string_view text_;
    RegistryHives& hives_;
    RegistryParseError& error_;
    size_t pos_ = 0;
    size_t line_ = 0;
    CRegistryNode* key_ = nullptr;
};

} // namespace

const char* RegistryHiveName(int hive)
{
    return hive == kHiveLocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CLASSES_ROOT";
}

bool IsValidRegistryKeyName(std::string_view name)
{
    if (name.empty() || name.size() > kMaxKeyNameLength)
        return false;
    for (char c : name)
        if (c == '\\' || IsControl(static_cast<unsigned char>(c)))
            return false;
    return true;
}

bool ParseRegistryText(std::string_view text, RegistryHives& hives, RegistryParseError& error)
{
    return Parser(text, hives, error).Run();
}

std::string FormatRegistryText(const RegistryHives& hives)
{
    std::string out(kHeader);
    out += "\n\n";
    for (int h = 0; h < kHiveCount; ++h)
        AppendKey(out, RegistryHiveName(h), hives[h], false);
    return out;
}
