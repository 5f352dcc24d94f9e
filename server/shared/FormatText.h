#pragma once
// printf into a string of whatever length the text needs; "" when the format
// cannot be applied.

#include <string>

__attribute__((format(printf, 1, 2))) std::string FormatText(const char* format, ...);
