#pragma once
// printf into a string of whatever length the text needs, for the console's
// messages.

#include <cstdio>
#include <string>

template <typename... Args>
std::string Format(const char* format, Args... args)
{
    const int length = std::snprintf(nullptr, 0, format, args...);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    std::snprintf(text.data(), text.size() + 1, format, args...);
    return text;
}

// Adds a paragraph to a message, a blank line after what it said before.
inline void AppendParagraph(std::string& text, const std::string& more)
{
    if (!more.empty())
        text += (text.empty() ? "" : "\n\n") + more;
}
