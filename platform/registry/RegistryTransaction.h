#pragma once
// Changes to several keys that reach the registry file together. Nothing is
// applied until Commit, which makes them in order on the latest content under
// the file lock and replaces the file once: every reader, in any process,
// sees all of them or none, also when the writer dies part way.
//
// Keys are named by a predefined root (HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT)
// and a subkey path, as RegCreateKeyExA takes them.

#include "platform/registry/Registry.h"

#include <functional>
#include <string>
#include <vector>

class CRegistryNode;

class CRegistryTransaction {
public:
    // Creates the key and its missing parents.
    void CreateKey(HKEY root, const std::string& subKey);
    // Writes a value of a key that exists by then (ERROR_FILE_NOT_FOUND at
    // commit otherwise). REG_SZ data is the text with its NUL.
    void SetValue(HKEY root, const std::string& subKey, const std::string& name, DWORD type, const BYTE* data,
                  DWORD size);
    void SetText(HKEY root, const std::string& subKey, const std::string& name, const std::string& text);
    // Removes the key with all it holds; a key that is not there is no error.
    void DeleteTree(HKEY root, const std::string& subKey);

    // ERROR_SUCCESS, or the error of the first change that failed (or of the
    // file) with nothing written. The changes are forgotten either way.
    LONG Commit();
    bool Empty() const { return changes_.empty(); }

private:
    struct Change {
        HKEY root;
        std::vector<std::string> path;
        std::function<LONG(CRegistryNode& hive, const std::vector<std::string>& path)> apply;
        bool deletes = false;
    };
    void Add(HKEY root, const std::string& subKey, bool deletes,
             std::function<LONG(CRegistryNode&, const std::vector<std::string>&)> apply);

    std::vector<Change> changes_;
};
