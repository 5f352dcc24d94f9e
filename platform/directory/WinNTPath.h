#pragma once
// "WinNT://computer[,computer]" names a computer, "WinNT://computer/name"
// one of its accounts, with ",user" or ",group" after the name to say which
// when a user and a group share it. The prefix and the class words ignore case.

#include "platform/win/WinTypes.h"

#include <string>
#include <string_view>

class CWinNTPath {
public:
    enum class Kind { Any, Computer, User, Group };

    // S_OK, or E_ADS_BAD_PATHNAME.
    static HRESULT Parse(std::u16string_view path, CWinNTPath& out);
    // The path of the computer (empty name) or of one of its accounts
    // (kind User or Group, which the path then names).
    static std::u16string Format(std::u16string_view computer, std::u16string_view name = {}, Kind kind = Kind::Any);

    const std::u16string& Computer() const { return computer_; }
    // Empty for the computer itself.
    const std::u16string& Name() const { return name_; }
    Kind ClassHint() const { return kind_; }

private:
    std::u16string computer_;
    std::u16string name_;
    Kind kind_ = Kind::Any;
};
