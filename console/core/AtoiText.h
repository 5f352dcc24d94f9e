#pragma once
// Numbers typed by people or carried in texts are read as C's atoi reads them
// (leading blanks, an optional sign, digits up to the first other character,
// no digits give 0), but a value beyond the 32-bit range saturates instead of
// being undefined.

#include <cstdint>
#include <string_view>

int32_t AtoiText(std::string_view text);
