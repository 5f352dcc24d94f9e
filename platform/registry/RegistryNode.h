#pragma once
// One key of the in-memory registry tree: its values and subkeys, each kept in
// creation order. Names compare without regard to ASCII case and keep the case
// they were created with.

#include "platform/win/WinTypes.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct RegistryValue {
    std::string name; // "" is the key's default value
    DWORD type = 0;
    std::vector<BYTE> data;
};

class CRegistryNode {
public:
    explicit CRegistryNode(std::string name = {}) : name_(std::move(name)) {}

    const std::string& Name() const { return name_; }

    const std::vector<std::unique_ptr<CRegistryNode>>& Subkeys() const { return subkeys_; }
    const std::vector<RegistryValue>& Values() const { return values_; }

    CRegistryNode* FindSubkey(std::string_view name) const;
    // The existing subkey of that name, or a new one appended at the end.
    CRegistryNode* AddSubkey(std::string_view name, bool* created = nullptr);
    // False when there is no such subkey.
    bool RemoveSubkey(std::string_view name);
    void Clear();

    const RegistryValue* FindValue(std::string_view name) const;
    // Replaces the data of an existing value (keeping its place and the case of
    // its name) or appends a new one.
    void SetValue(std::string_view name, DWORD type, std::vector<BYTE> data);
    bool RemoveValue(std::string_view name);

    // Follows a path of subkey names; null when a step is missing.
    CRegistryNode* Find(const std::vector<std::string>& path);

    bool operator==(const CRegistryNode& other) const;

private:
    std::string name_;
    std::vector<RegistryValue> values_;
    std::vector<std::unique_ptr<CRegistryNode>> subkeys_;
};

// ASCII-case-insensitive equality of registry names.
bool RegistryNamesEqual(std::string_view a, std::string_view b);
