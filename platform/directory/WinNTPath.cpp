#include "platform/directory/WinNTPath.h"

#include "platform/directory/DirectoryErrors.h"
#include "platform/directory/Utf.h"

namespace {

constexpr std::u16string_view kPrefix = u"WinNT://";

// Splits "text,word" when word is one of the class words; kind stays Any
// when there is no such suffix.
std::u16string_view SplitClass(std::u16string_view text, CWinNTPath::Kind& kind)
{
    kind = CWinNTPath::Kind::Any;
    size_t comma = text.rfind(u',');
    if (comma == std::u16string_view::npos)
        return text;
    std::u16string_view word = text.substr(comma + 1);
    if (EqualsNoCase(word, u"user"))
        kind = CWinNTPath::Kind::User;
    else if (EqualsNoCase(word, u"group"))
        kind = CWinNTPath::Kind::Group;
    else if (EqualsNoCase(word, u"computer"))
        kind = CWinNTPath::Kind::Computer;
    else
        return text;
    return text.substr(0, comma);
}

} // namespace

HRESULT CWinNTPath::Parse(std::u16string_view path, CWinNTPath& out)
{
    std::u16string_view rest;
    if (!PathAfterPrefix(path, kPrefix, rest))
        return E_ADS_BAD_PATHNAME;
    size_t slash = rest.find(u'/');
    CWinNTPath parsed;
    if (slash == std::u16string_view::npos) {
        std::u16string_view computer = SplitClass(rest, parsed.kind_);
        if (computer.empty() || (parsed.kind_ != Kind::Any && parsed.kind_ != Kind::Computer))
            return E_ADS_BAD_PATHNAME;
        parsed.computer_ = computer;
        parsed.kind_ = Kind::Computer;
    } else {
        std::u16string_view computer = rest.substr(0, slash);
        std::u16string_view name = SplitClass(rest.substr(slash + 1), parsed.kind_);
        if (computer.empty() || computer.find(u',') != std::u16string_view::npos || name.empty() ||
            name.find(u'/') != std::u16string_view::npos || parsed.kind_ == Kind::Computer)
            return E_ADS_BAD_PATHNAME;
        parsed.computer_ = computer;
        parsed.name_ = name;
    }
    out = std::move(parsed);
    return S_OK;
}

std::u16string CWinNTPath::Format(std::u16string_view computer, std::u16string_view name, Kind kind)
{
    std::u16string path(kPrefix);
    path += computer;
    if (!name.empty()) {
        path.push_back(u'/');
        path += name;
        if (kind == Kind::User)
            path += u",user";
        else if (kind == Kind::Group)
            path += u",group";
    }
    return path;
}
