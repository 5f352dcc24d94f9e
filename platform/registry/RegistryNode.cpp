#include "platform/registry/RegistryNode.h"

#include <algorithm>

bool RegistryNamesEqual(std::string_view a, std::string_view b)
{
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : char(c); };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

CRegistryNode* CRegistryNode::FindSubkey(std::string_view name) const
{
    for (const auto& k : subkeys_)
        if (RegistryNamesEqual(k->name_, name))
            return k.get();
    return nullptr;
}

CRegistryNode* CRegistryNode::AddSubkey(std::string_view name, bool* created)
{
    CRegistryNode* found = FindSubkey(name);
    if (created != nullptr)
        *created = found == nullptr;
    if (found != nullptr)
        return found;
    subkeys_.push_back(std::make_unique<CRegistryNode>(std::string(name)));
    return subkeys_.back().get();
}

bool CRegistryNode::RemoveSubkey(std::string_view name)
{
    auto it = std::find_if(subkeys_.begin(), subkeys_.end(),
                           [&](const auto& k) { return RegistryNamesEqual(k->name_, name); });
    if (it == subkeys_.end())
        return false;
    subkeys_.erase(it);
    return true;
}

void CRegistryNode::Clear()
{
    values_.clear();
    subkeys_.clear();
}

const RegistryValue* CRegistryNode::FindValue(std::string_view name) const
{
    for (const auto& v : values_)
        if (RegistryNamesEqual(v.name, name))
            return &v;
    return nullptr;
}

void CRegistryNode::SetValue(std::string_view name, DWORD type, std::vector<BYTE> data)
{
    for (auto& v : values_) {
        if (RegistryNamesEqual(v.name, name)) {
            v.type = type;
            v.data = std::move(data);
            return;
        }
    }
    values_.push_back(RegistryValue{std::string(name), type, std::move(data)});
}

bool CRegistryNode::RemoveValue(std::string_view name)
{
    auto it = std::find_if(values_.begin(), values_.end(),
                           [&](const RegistryValue& v) { return RegistryNamesEqual(v.name, name); });
    if (it == values_.end())
        return false;
    values_.erase(it);
    return true;
}

CRegistryNode* CRegistryNode::Find(const std::vector<std::string>& path)
{
    CRegistryNode* node = this;
    for (const auto& part : path) {
        node = node->FindSubkey(part);
        if (node == nullptr)
            return nullptr;
    }
    return node;
}

bool CRegistryNode::operator==(const CRegistryNode& other) const
{
    if (name_ != other.name_ || values_.size() != other.values_.size() || subkeys_.size() != other.subkeys_.size())
        return false;
    for (size_t i = 0; i < values_.size(); ++i) {
        const auto& a = values_[i];
        const auto& b = other.values_[i];
        if (a.name != b.name || a.type != b.type || a.data != b.data)
            return false;
    }
    for (size_t i = 0; i < subkeys_.size(); ++i)
        if (!(*subkeys_[i] == *other.subkeys_[i]))
            return false;
    return true;
}
