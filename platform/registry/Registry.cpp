#include "platform/registry/Registry.h"

#include "platform/registry/RegistryHiveAccess.h"
#include "platform/registry/RegistryStore.h"
#include "platform/win/StateRoot.h"

#include <cstring>
#include <functional>
#include <mutex>
#include <unordered_set>

// A handle names its key by hive and path, so it stays valid across re-reads
// of the file. It is marked deleted when this process deletes its key; a key
// that another process deletes is found missing, which reads the same.
struct RegistryKey {
    int hive;
    std::vector<std::string> path;
    REGSAM access;
    bool deleted;
};

namespace {

RegistryKey g_machine{kHiveLocalMachine, {}, KEY_ALL_ACCESS, false};
RegistryKey g_classes{kHiveClassesRoot, {}, KEY_ALL_ACCESS, false};

constexpr LONG kSuccess = static_cast<LONG>(ERROR_SUCCESS);

LONG Err(DWORD e)
{
    return static_cast<LONG>(e);
}

struct State {
    std::mutex mutex;
    CRegistryStore store;
    std::unordered_set<RegistryKey*> handles;
};

State& Global()
{
    static State* state = new State; // never destroyed: handles may be closed during exit
    return *state;
}

bool IsPredefined(HKEY key)
{
    return key == &g_machine || key == &g_classes;
}

bool IsValid(State& s, HKEY key)
{
    return IsPredefined(key) || (key != nullptr && s.handles.count(key) != 0);
}

bool CanSetValues(HKEY key)
{
    return (key->access & KEY_SET_VALUE) != 0;
}

bool CanCreateSubkeys(HKEY key)
{
    return (key->access & KEY_CREATE_SUB_KEY) != 0;
}

bool CanChangeKeys(HKEY key)
{
    return (key->access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0;
}

// Splits a subkey path at '\'. Empty parts (from a leading, doubled or
// trailing '\') are skipped, as the platform tolerates them.
std::vector<std::string> SplitPath(const char* subKey)
{
    std::vector<std::string> parts;
    if (subKey == nullptr)
        return parts;
    std::string_view rest(subKey);
    while (!rest.empty()) {
        size_t slash = rest.find('\\');
        std::string_view part = rest.substr(0, slash);
        if (!part.empty())
            parts.emplace_back(part);
        if (slash == std::string_view::npos)
            break;
        rest.remove_prefix(slash + 1);
    }
    return parts;
}

bool AllValidNames(const std::vector<std::string>& parts)
{
    for (const auto& p : parts)
        if (!IsValidRegistryKeyName(p))
            return false;
    return true;
}

LONG Resolve(RegistryHives& hives, HKEY key, CRegistryNode** node)
{
    if (key->deleted)
        return Err(ERROR_KEY_DELETED);
    *node = hives[key->hive].Find(key->path);
    return *node == nullptr ? Err(ERROR_KEY_DELETED) : kSuccess;
}

HKEY NewHandle(State& s, HKEY parent, const std::vector<std::string>& parts, REGSAM access)
{
    auto* key = new RegistryKey{parent->hive, parent->path, access, false};
    key->path.insert(key->path.end(), parts.begin(), parts.end());
    s.handles.insert(key);
    return key;
}

bool HasPrefix(const std::vector<std::string>& path, const std::vector<std::string>& prefix)
{
    if (path.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (!RegistryNamesEqual(path[i], prefix[i]))
            return false;
    return true;
}

// Marks the handles of a deleted key (when includeKey) and of everything under
// it; done once the file holds the deletion.
void MarkDeleted(int hive, const std::vector<std::string>& path, bool includeKey)
{
    State& s = Global();
    std::lock_guard<std::mutex> guard(s.mutex);
    for (RegistryKey* k : s.handles)
        if (k->hive == hive && HasPrefix(k->path, path) && (includeKey || k->path.size() > path.size()))
            k->deleted = true;
}

using KeyReader = std::function<LONG(State& s, CRegistryNode& node)>;
// Gets the registry's state, the node's hive, the node, and what to report as changed.
using KeyChanger = std::function<LONG(State& s, CRegistryNode& hive, CRegistryNode& node, bool& changed)>;

// Runs read on the node of a handle, holding the registry's lock.
LONG ReadKey(HKEY key, const KeyReader& read)
{
    State& s = Global();
    std::lock_guard<std::mutex> guard(s.mutex);
    if (!IsValid(s, key))
        return Err(ERROR_INVALID_HANDLE);
    return s.store.Read([&](RegistryHives& hives) {
        CRegistryNode* node = nullptr;
        LONG e = Resolve(hives, key, &node);
        return e == kSuccess ? read(s, *node) : e;
    });
}

// Runs change on the node of a handle when allowed(handle), holding the lock.
LONG ChangeKey(HKEY key, bool (*allowed)(HKEY), const KeyChanger& change)
{
    State& s = Global();
    std::lock_guard<std::mutex> guard(s.mutex);
    if (!IsValid(s, key))
        return Err(ERROR_INVALID_HANDLE);
    if (!allowed(key))
        return Err(ERROR_ACCESS_DENIED);
    return s.store.Change([&](RegistryHives& hives, bool& changed) {
        CRegistryNode* node = nullptr;
        LONG e = Resolve(hives, key, &node);
        return e == kSuccess ? change(s, hives[key->hive], *node, changed) : e;
    });
}

// Deletes the key at the handle's path + subKey ("" is the key itself); a
// key with subkeys only when tree.
LONG DeleteKey(HKEY key, const char* subKey, bool tree)
{
    std::vector<std::string> target = SplitPath(subKey);
    int hiveIndex = 0;
    LONG e = ChangeKey(key, CanChangeKeys, [&](State&, CRegistryNode& hive, CRegistryNode&, bool& changed) {
        target.insert(target.begin(), key->path.begin(), key->path.end());
        if (target.empty())
            return Err(ERROR_ACCESS_DENIED); // a hive cannot go
        CRegistryNode* parent = hive.Find({target.begin(), target.end() - 1});
        CRegistryNode* victim = parent == nullptr ? nullptr : parent->FindSubkey(target.back());
        if (victim == nullptr)
            return Err(ERROR_FILE_NOT_FOUND);
        if (!tree && !victim->Subkeys().empty())
            return Err(ERROR_ACCESS_DENIED);
        parent->RemoveSubkey(target.back());
        changed = true;
        hiveIndex = key->hive;
        return kSuccess;
    });
    if (e == kSuccess)
        MarkDeleted(hiveIndex, target, true);
    return e;
}

LONG CopyOut(const std::vector<BYTE>& data, DWORD* type, DWORD valueType, BYTE* out, DWORD* size)
{
    if (type != nullptr)
        *type = valueType;
    DWORD needed = static_cast<DWORD>(data.size());
    if (out != nullptr) {
        if (*size < needed) {
            *size = needed;
            return Err(ERROR_MORE_DATA);
        }
        if (needed > 0)
            std::memcpy(out, data.data(), needed);
    }
    if (size != nullptr)
        *size = needed;
    return kSuccess;
}

// Copies a name with its NUL into a buffer of *size bytes; *size becomes the
// name's length (without NUL), also when it does not fit.
LONG CopyName(const std::string& name, char* out, DWORD* size)
{
    DWORD capacity = *size;
    *size = static_cast<DWORD>(name.size());
    if (name.size() + 1 > capacity)
        return Err(ERROR_MORE_DATA);
    std::memcpy(out, name.c_str(), name.size() + 1);
    return kSuccess;
}

} // namespace

const HKEY HKEY_CLASSES_ROOT = &g_classes;
const HKEY HKEY_LOCAL_MACHINE = &g_machine;

int RegistryHiveOf(HKEY root)
{
    return IsPredefined(root) ? root->hive : -1;
}

std::vector<std::string> SplitRegistryPath(const char* subKey)
{
    return SplitPath(subKey);
}

LONG ChangeRegistryHives(
    const std::function<LONG(RegistryHives& hives, bool& changed, std::vector<RegistryKeyPath>& deleted)>& change)
{
    std::vector<RegistryKeyPath> deleted;
    LONG e = [&] {
        State& s = Global();
        std::lock_guard<std::mutex> guard(s.mutex);
        return s.store.Change([&](RegistryHives& hives, bool& changed) { return change(hives, changed, deleted); });
    }();
    if (e == kSuccess)
        for (const RegistryKeyPath& key : deleted)
            MarkDeleted(key.hive, key.path, true);
    return e;
}

LONG HoldRegistryFile()
{
    State& s = Global();
    std::lock_guard<std::mutex> guard(s.mutex);
    return s.store.Hold();
}

void ReleaseRegistryFile()
{
    State& s = Global();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.store.Release();
}

std::string RegistryFilePath()
{
    return StateRoot() + "/registry.reg";
}

std::string RegistryFileError()
{
    State& s = Global();
    std::lock_guard<std::mutex> guard(s.mutex);
    return s.store.LastError();
}

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD /*options*/, REGSAM access, HKEY* result)
{
    if (result == nullptr)
        return Err(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    std::vector<std::string> parts = SplitPath(subKey);
    return ReadKey(key, [&](State& s, CRegistryNode& node) {
        if (node.Find(parts) == nullptr)
            return Err(ERROR_FILE_NOT_FOUND);
        *result = NewHandle(s, key, parts, access);
        return kSuccess;
    });
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, REGSAM access, HKEY* result, DWORD* disposition)
{
    if (result == nullptr)
        return Err(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    std::vector<std::string> parts = SplitPath(subKey);
    if (!AllValidNames(parts))
        return Err(ERROR_INVALID_PARAMETER);
    // Opening an existing key needs no right to create, and no file lock.
    bool created = false;
    LONG e = ReadKey(key, [&](State& s, CRegistryNode& node) {
        if (node.Find(parts) != nullptr)
            *result = NewHandle(s, key, parts, access);
        return kSuccess;
    });
    if (e != kSuccess || *result != nullptr) {
        if (disposition != nullptr && *result != nullptr)
            *disposition = REG_OPENED_EXISTING_KEY;
        return e;
    }
    e = ChangeKey(key, CanCreateSubkeys, [&](State& s, CRegistryNode&, CRegistryNode& node, bool& changed) {
        CRegistryNode* at = &node;
        for (const auto& part : parts) {
            bool made = false;
            at = at->AddSubkey(part, &made);
            created = created || made;
        }
        changed = created;
        *result = NewHandle(s, key, parts, access);
        return kSuccess;
    });
    if (e != kSuccess) {
        if (*result != nullptr)
            RegCloseKey(*result);
        *result = nullptr;
        return e;
    }
    if (disposition != nullptr)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return kSuccess;
}

LONG RegCloseKey(HKEY key)
{
    if (IsPredefined(key))
        return kSuccess;
    State& s = Global();
    std::lock_guard<std::mutex> guard(s.mutex);
    if (key == nullptr || s.handles.erase(key) == 0)
        return Err(ERROR_INVALID_HANDLE);
    delete key;
    return kSuccess;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size)
{
    if (reserved != nullptr || (data != nullptr && size == nullptr))
        return Err(ERROR_INVALID_PARAMETER);
    return ReadKey(key, [&](State&, CRegistryNode& node) {
        const RegistryValue* v = node.FindValue(valueName == nullptr ? "" : valueName);
        return v == nullptr ? Err(ERROR_FILE_NOT_FOUND) : CopyOut(v->data, type, v->type, data, size);
    });
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size)
{
    if (reserved != 0)
        return Err(ERROR_INVALID_PARAMETER);
    if (data == nullptr && size > 0)
        return Err(ERROR_NOACCESS);
    std::string name = valueName == nullptr ? "" : valueName;
    if (name.size() > kMaxValueNameLength)
        return Err(ERROR_INVALID_PARAMETER);
    std::vector<BYTE> bytes(data, data + size);
    return ChangeKey(key, CanSetValues, [&](State&, CRegistryNode&, CRegistryNode& node, bool& changed) {
        const RegistryValue* old = node.FindValue(name);
        changed = old == nullptr || old->type != type || old->data != bytes;
        if (changed)
            node.SetValue(name, type, std::move(bytes));
        return kSuccess;
    });
}

LONG RegDeleteValueA(HKEY key, const char* valueName)
{
    return ChangeKey(key, CanSetValues, [&](State&, CRegistryNode&, CRegistryNode& node, bool& changed) {
        changed = node.RemoveValue(valueName == nullptr ? "" : valueName);
        return changed ? kSuccess : Err(ERROR_FILE_NOT_FOUND);
    });
}

LONG RegDeleteKeyA(HKEY key, const char* subKey)
{
    if (subKey == nullptr)
        return Err(ERROR_INVALID_PARAMETER);
    return DeleteKey(key, subKey, false);
}

LONG RegDeleteTreeA(HKEY key, const char* subKey)
{
    if (!SplitPath(subKey).empty())
        return DeleteKey(key, subKey, true);
    // No subkey: empty the key itself of subkeys and values.
    int hive = 0;
    std::vector<std::string> path;
    LONG e = ChangeKey(key, CanChangeKeys, [&](State&, CRegistryNode&, CRegistryNode& node, bool& changed) {
        changed = !node.Subkeys().empty() || !node.Values().empty();
        node.Clear();
        hive = key->hive;
        path = key->path;
        return kSuccess;
    });
    if (e == kSuccess)
        MarkDeleted(hive, path, false);
    return e;
}

LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize)
{
    if (name == nullptr || nameSize == nullptr)
        return Err(ERROR_INVALID_PARAMETER);
    return ReadKey(key, [&](State&, CRegistryNode& node) {
        if (index >= node.Subkeys().size())
            return Err(ERROR_NO_MORE_ITEMS);
        return CopyName(node.Subkeys()[index]->Name(), name, nameSize);
    });
}

LONG RegEnumValueA(HKEY key, DWORD index, char* valueName, DWORD* valueNameSize, DWORD* reserved, DWORD* type,
                   BYTE* data, DWORD* dataSize)
{
    if (valueName == nullptr || valueNameSize == nullptr || reserved != nullptr ||
        (data != nullptr && dataSize == nullptr))
        return Err(ERROR_INVALID_PARAMETER);
    return ReadKey(key, [&](State&, CRegistryNode& node) {
        if (index >= node.Values().size())
            return Err(ERROR_NO_MORE_ITEMS);
        const RegistryValue& v = node.Values()[index];
        LONG e = CopyName(v.name, valueName, valueNameSize);
        return e == kSuccess ? CopyOut(v.data, type, v.type, data, dataSize) : e;
    });
}

LONG RegQueryInfoKeyA(HKEY key, DWORD* subKeys, DWORD* values)
{
    return ReadKey(key, [&](State&, CRegistryNode& node) {
        if (subKeys != nullptr)
            *subKeys = static_cast<DWORD>(node.Subkeys().size());
        if (values != nullptr)
            *values = static_cast<DWORD>(node.Values().size());
        return kSuccess;
    });
}
