#include "console/core/ActivityFile.h"

#include "common/Names.h"
#include "platform/registry/Registry.h"
#include "platform/win/LastError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// A tab or line break inside a cell would split it into two cells or two
// lines of the file; control characters are written as spaces.
void AppendCell(std::string& line, const std::string& cell)
{
    for (const char c : cell)
        line += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
}

} // namespace

DWORD SaveActivityFile(const std::string& path, const std::vector<std::string>& headers,
                       const std::function<size_t()>& rowCount,
                       const std::function<std::string(size_t row, size_t column)>& cell)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return Win32ErrorFromErrno(errno);
    DWORD error = ERROR_SUCCESS;
    auto put = [&](const std::string& text) {
        if (error == ERROR_SUCCESS && !text.empty() && std::fwrite(text.data(), 1, text.size(), file) != text.size())
            error = Win32ErrorFromErrno(errno != 0 ? errno : EIO);
    };
    std::string line;
    for (size_t c = 0; c < headers.size(); ++c)
        line += (c == 0 ? "" : "\t") + headers[c];
    put(line + "\r\n");
    // The count is read again after each row: rows may come meanwhile.
    for (size_t row = 0; error == ERROR_SUCCESS && row < rowCount(); ++row) {
        line.clear();
        for (size_t c = 0; c < headers.size(); ++c) {
            if (c != 0)
                line += '\t';
            AppendCell(line, cell(row, c));
        }
        put(line + "\r\n");
    }
    if (std::fflush(file) != 0 && error == ERROR_SUCCESS)
        error = Win32ErrorFromErrno(errno != 0 ? errno : EIO);
    if (std::fclose(file) != 0 && error == ERROR_SUCCESS)
        error = Win32ErrorFromErrno(errno != 0 ? errno : EIO);
    return error;
}

bool ReadLogExtraInfo()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, tq::kTessaryQuorleKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    // Whatever the value's type, its four bytes must read 1.
    BYTE value[4] = {};
    DWORD size = sizeof value;
    DWORD type = REG_NONE;
    const LONG rc = RegQueryValueExA(key, tq::kLogExtraInfoValue, nullptr, &type, value, &size);
    RegCloseKey(key);
    DWORD number = 0;
    std::memcpy(&number, value, sizeof number);
    return rc == ERROR_SUCCESS && number == 1;
}
