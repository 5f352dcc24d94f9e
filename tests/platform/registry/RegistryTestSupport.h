#pragma once
// Shared helpers of the registry tests: short forms of the calls, and running
// code in a second process.

#include "platform/registry/Registry.h"
#include "tests/support/TestSupport.h"

#include <functional>
#include <string>
#include <vector>

class RegistryTest : public tqtest::StateRootTest {
protected:
    // Creates (or opens) a key and fails the test when that does not work.
    HKEY Create(HKEY parent, const char* path, REGSAM access = KEY_ALL_ACCESS);
    HKEY Open(HKEY parent, const char* path, REGSAM access = KEY_READ);

    LONG SetText(HKEY key, const char* name, const std::string& text, DWORD type = REG_SZ);
    LONG SetDword(HKEY key, const char* name, DWORD value);
    // Text of a string value without its NUL; "<error N>" when it cannot be read.
    std::string GetText(HKEY key, const char* name);
    std::vector<BYTE> GetBytes(HKEY key, const char* name, DWORD* type = nullptr);
    std::vector<std::string> SubkeyNames(HKEY key);
    std::vector<std::string> ValueNames(HKEY key);

    std::string FileText() const;
    // Puts new content in place the way another writer does: a new file renamed over the old.
    void ReplaceFile(const std::string& text) const;

    // Runs body in a forked child; its return value is the child's exit code.
    static int InChild(const std::function<int()>& body);
};
