#include "platform/scm/ServiceCommandLine.h"

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

void AppendQuoted(std::string& out, const std::string& part)
{
    bool plain = !part.empty();
    for (char c : part) {
        if (IsBlank(c) || c == '"') {
            plain = false;
            break;
        }
    }
    if (plain) {
        out += part;
        return;
    }
    out += '"';
    size_t backslashes = 0;
    for (char c : part) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            backslashes = backslashes * 2 + 1;
        out.append(backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    // Backslashes before the closing quote must not escape it.
    out.append(backslashes * 2, '\\');
    out += '"';
}

} // namespace

std::vector<std::string> SplitServiceCommandLine(const std::string& commandLine)
{
    std::vector<std::string> parts;
    size_t i = 0;
    const size_t n = commandLine.size();
    while (true) {
        while (i < n && IsBlank(commandLine[i]))
            ++i;
        if (i >= n)
            break;
        std::string part;
        bool quoted = false;
        while (i < n && (quoted || !IsBlank(commandLine[i]))) {
            char c = commandLine[i];
            if (c == '\\') {
                size_t run = 0;
                while (i < n && commandLine[i] == '\\') {
                    ++run;
                    ++i;
                }
                if (i < n && commandLine[i] == '"') {
                    part.append(run / 2, '\\');
                    if (run % 2 == 1) {
                        part += '"';
                        ++i;
                    }
                } else {
                    part.append(run, '\\');
                }
                continue;
            }
            if (c == '"')
                quoted = !quoted;
            else
                part += c;
            ++i;
        }
        parts.push_back(std::move(part));
    }
    return parts;
}

std::string MakeServiceCommandLine(const std::vector<std::string>& parts)
{
    std::string out;
    for (const std::string& part : parts) {
        if (!out.empty())
            out += ' ';
        AppendQuoted(out, part);
    }
    return out;
}
