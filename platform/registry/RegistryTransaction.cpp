#include "platform/registry/RegistryTransaction.h"

#include "platform/registry/RegistryHiveAccess.h"

#include <algorithm>
#include <utility>

namespace {

CRegistryNode* ParentOf(CRegistryNode& hive, const std::vector<std::string>& path)
{
    return path.empty() ? nullptr : hive.Find({path.begin(), path.end() - 1});
}

} // namespace

void CRegistryTransaction::Add(HKEY root, const std::string& subKey, bool deletes,
                               std::function<LONG(CRegistryNode&, const std::vector<std::string>&)> apply)
{
    changes_.push_back({root, SplitRegistryPath(subKey.c_str()), std::move(apply), deletes});
}

void CRegistryTransaction::CreateKey(HKEY root, const std::string& subKey)
{
    Add(root, subKey, false, [](CRegistryNode& hive, const std::vector<std::string>& path) {
        if (!std::all_of(path.begin(), path.end(), [](const std::string& part) { return IsValidRegistryKeyName(part); }))
            return static_cast<LONG>(ERROR_INVALID_PARAMETER);
        CRegistryNode* at = &hive;
        for (const std::string& part : path)
            at = at->AddSubkey(part);
        return static_cast<LONG>(ERROR_SUCCESS);
    });
}

void CRegistryTransaction::SetValue(HKEY root, const std::string& subKey, const std::string& name, DWORD type,
                                    const BYTE* data, DWORD size)
{
    std::vector<BYTE> bytes(data, data + size);
    Add(root, subKey, false,
        [name, type, bytes = std::move(bytes)](CRegistryNode& hive, const std::vector<std::string>& path) {
            if (name.size() > kMaxValueNameLength)
                return static_cast<LONG>(ERROR_INVALID_PARAMETER);
            CRegistryNode* key = hive.Find(path);
            if (key == nullptr)
                return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
            key->SetValue(name, type, bytes);
            return static_cast<LONG>(ERROR_SUCCESS);
        });
}

void CRegistryTransaction::SetText(HKEY root, const std::string& subKey, const std::string& name,
                                   const std::string& text)
{
    SetValue(root, subKey, name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
             static_cast<DWORD>(text.size() + 1));
}

void CRegistryTransaction::DeleteTree(HKEY root, const std::string& subKey)
{
    Add(root, subKey, true, [](CRegistryNode& hive, const std::vector<std::string>& path) {
        if (path.empty())
            return static_cast<LONG>(ERROR_ACCESS_DENIED); // a hive cannot go
        if (CRegistryNode* parent = ParentOf(hive, path))
            parent->RemoveSubkey(path.back());
        return static_cast<LONG>(ERROR_SUCCESS);
    });
}

LONG CRegistryTransaction::Commit()
{
    std::vector<Change> changes = std::move(changes_);
    changes_.clear();
    if (changes.empty())
        return ERROR_SUCCESS;
    return ChangeRegistryHives([&](RegistryHives& hives, bool& changed, std::vector<RegistryKeyPath>& deleted) {
        for (const Change& change : changes) {
            const int hive = RegistryHiveOf(change.root);
            if (hive < 0)
                return static_cast<LONG>(ERROR_INVALID_HANDLE);
            // Reported before it is made: a later failure must still have the tree read again.
            changed = true;
            if (LONG e = change.apply(hives[static_cast<size_t>(hive)], change.path); e != ERROR_SUCCESS)
                return e;
            if (change.deletes)
                deleted.push_back({hive, change.path});
        }
        return static_cast<LONG>(ERROR_SUCCESS);
    });
}
