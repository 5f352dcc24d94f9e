#pragma once
// The text form of the registry file: the .reg export syntax, UTF-8.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Tessary Quorle\Wardlake]
//   "StorageFolder"="/srv/wardlake/"
//   "Port"=dword:0000862b
//   @=hex:49,c6,81,54
//   "Folder"=str(2):"%HOME%/data"
//
// One section per key, parents before children, keys and values in creation
// order. Value forms:
//   "text"          REG_SZ (the data is the text and its NUL)
//   str(N):"text"   type N with text data and its NUL; written for REG_EXPAND_SZ
//                   (N = 2), where export files use UTF-16 hex(2) bytes
//   dword:0000002a  REG_DWORD of four bytes
//   hex:01,02       REG_BINARY
//   hex(N):01,02    type N (hex digits) with exactly these bytes, as returned by
//                   RegQueryValueExA; written for REG_NONE, for other types, and
//                   for strings that do not end with their NUL
// Inside quotes \\ \" \n \r \t \0 and \xNN stand for bytes; the writer escapes
// control bytes and bytes that are not UTF-8. Byte lists may continue on the
// next line after a trailing backslash. Lines starting with ';' are comments
// and are not kept. Key names cannot hold '\' or control characters.

#include "platform/registry/RegistryNode.h"

#include <array>
#include <string>
#include <string_view>

enum RegistryHive { kHiveLocalMachine = 0, kHiveClassesRoot = 1, kHiveCount = 2 };
using RegistryHives = std::array<CRegistryNode, kHiveCount>;

const char* RegistryHiveName(int hive);

// Limits that both the file and the registry calls hold to.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;

// A key name is valid when it is 1 to 255 bytes without '\' and control bytes.
bool IsValidRegistryKeyName(std::string_view name);

struct RegistryParseError {
    size_t line = 0; // 1-based
    std::string reason;
};

// Parses a whole file into hives (which start empty). False, with the line and
// the reason, when the text is not a well-formed registry file.
bool ParseRegistryText(std::string_view text, RegistryHives& hives, RegistryParseError& error);

std::string FormatRegistryText(const RegistryHives& hives);
