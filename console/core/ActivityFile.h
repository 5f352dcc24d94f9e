#pragma once
// The saved form of an activity list: tab-separated text, one line per row
// after a header line, every line ending in "\r\n". Tabs, line breaks and
// other control characters inside a cell are saved as spaces.

#include "platform/win/WinTypes.h"

#include <functional>
#include <string>
#include <vector>

// Writes the file (replacing one that is there). ERROR_SUCCESS, or the
// error that kept it from being created or fully written.
DWORD SaveActivityFile(const std::string& path, const std::vector<std::string>& headers,
                       const std::function<size_t()>& rowCount,
                       const std::function<std::string(size_t row, size_t column)>& cell);

// "LogExtraInfo" under HKLM "SOFTWARE\Tessary Quorle" is 1: the list shows the source columns.
bool ReadLogExtraInfo();
