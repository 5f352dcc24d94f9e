#pragma once
// The registry: keys under HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT holding
// named values, kept in one human-readable text file, <state root>/registry.reg,
// in the .reg export syntax. Each operation reads the file afresh when it has
// changed and each change rewrites it atomically under a file lock, so several
// processes can use it at once. Key and value names compare case-insensitively
// and keep the case they were created with. Results are Win32 error codes.
//
// A file that cannot be parsed is never replaced: every operation then fails
// with ERROR_REGISTRY_CORRUPT and the reason goes to the debugger output.
// A missing file is an empty registry. The file's syntax is described in
// RegistryText.h.
//
// A handle whose key was deleted (by this process or another) answers
// ERROR_KEY_DELETED; a closed or unknown handle ERROR_INVALID_HANDLE. Key names
// are 1 to 255 bytes without '\' or control characters; empty parts of a
// subkey path (a doubled or trailing '\') are ignored.

#include "platform/win/WinTypes.h"

#include <string>

struct RegistryKey;
using HKEY = RegistryKey*;
using REGSAM = DWORD;

extern const HKEY HKEY_CLASSES_ROOT;
extern const HKEY HKEY_LOCAL_MACHINE;

// Access rights. Only reading versus writing is enforced: a key opened without
// KEY_SET_VALUE / KEY_CREATE_SUB_KEY refuses changes with ERROR_ACCESS_DENIED.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

// Dispositions of RegCreateKeyExA.
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens an existing key; subKey may be null or "" for the key itself.
// ERROR_FILE_NOT_FOUND when it does not exist.
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM access, HKEY* result);

// Opens a key, creating it and its missing parents.
LONG RegCreateKeyExA(HKEY key, const char* subKey, REGSAM access, HKEY* result, DWORD* disposition = nullptr);

LONG RegCloseKey(HKEY key);

// Reads a value; a null or empty name is the key's default value. With data
// null only type and size are given. A buffer too small gives ERROR_MORE_DATA
// with *size set to the size needed. String values count their NUL.
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);

// Writes a value. For REG_SZ and REG_EXPAND_SZ the data is the text with its NUL.
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size);

LONG RegDeleteValueA(HKEY key, const char* valueName);

// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED when it has some);
// subKey "" deletes the key itself. Deletions need a handle opened for writing.
LONG RegDeleteKeyA(HKEY key, const char* subKey);

// Deletes a key with all its subkeys and values; with subKey null, only the
// subkeys and values of the key itself.
LONG RegDeleteTreeA(HKEY key, const char* subKey);

// Subkey names in creation order. *nameSize holds the buffer size in and the
// name length (without NUL) out, also with ERROR_MORE_DATA when the name and
// its NUL do not fit; ERROR_NO_MORE_ITEMS after the last.
LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize);

// Values in creation order; data and dataSize may be null. Names as for
// RegEnumKeyExA; a data buffer too small gives ERROR_MORE_DATA with the name
// copied and *dataSize set to the size needed.
LONG RegEnumValueA(HKEY key, DWORD index, char* valueName, DWORD* valueNameSize, DWORD* reserved, DWORD* type,
                   BYTE* data, DWORD* dataSize);

// Number of subkeys and values.
LONG RegQueryInfoKeyA(HKEY key, DWORD* subKeys, DWORD* values);

// Path of the file behind the registry.
std::string RegistryFilePath();

// Why the registry file could not be used the last time it was read, with the
// line for a damaged file ("" when it could be used).
std::string RegistryFileError();
