#pragma once
// What the registry calls share with changes that span keys
// (CRegistryTransaction) and holds of the file lock (CRegistryLock); not for
// other callers.

#include "platform/registry/Registry.h"
#include "platform/registry/RegistryText.h"

#include <functional>
#include <string>
#include <vector>

// The hive behind a predefined root; -1 for any other handle.
int RegistryHiveOf(HKEY root);

// Splits a subkey path at '\', skipping empty parts.
std::vector<std::string> SplitRegistryPath(const char* subKey);

struct RegistryKeyPath {
    int hive;
    std::vector<std::string> path;
};

// Runs change on the latest content of every hive under the file lock; the
// file is written once when it reports a change, never when it fails. The
// handles of the keys it lists in deleted answer ERROR_KEY_DELETED afterwards.
LONG ChangeRegistryHives(
    const std::function<LONG(RegistryHives& hives, bool& changed, std::vector<RegistryKeyPath>& deleted)>& change);

// Takes the registry file's lock for this process, or one more hold of it;
// each hold taken ends with one release.
LONG HoldRegistryFile();
void ReleaseRegistryFile();
