#pragma once
// Comparison of narrow texts with letter case ignored.

#include <cstddef>

// Below, equal to or above zero as a sorts before, with or after b.
int StrCmpIA(const char* a, const char* b);
// The same over at most count characters.
int StrCmpNIA(const char* a, const char* b, std::size_t count);
