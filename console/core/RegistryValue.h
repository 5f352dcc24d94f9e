#pragma once
// Reading registry values whole, whatever their length.

#include "platform/registry/Registry.h"

#include <optional>
#include <string>

// A REG_SZ or REG_EXPAND_SZ value as text (not expanded; one stored with its
// NUL loses it, a size of 0 gives ""); nothing when missing or of another type.
std::optional<std::string> ReadRegistryString(HKEY key, const char* valueName);

// Opens keyPath under root for reading and reads one text value.
std::optional<std::string> ReadRegistryString(HKEY root, const char* keyPath, const char* valueName);

// A 4-byte REG_DWORD value; nothing when missing or of another type or size.
std::optional<DWORD> ReadRegistryDword(HKEY key, const char* valueName);
