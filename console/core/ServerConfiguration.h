#pragma once
// The list of virtual servers the console edits, as it stands in memory: the
// Default record first, then the stored ones, then new ones; and whether it
// differs from what is stored.

#include "console/core/VirtualServer.h"

#include <memory>
#include <string>
#include <vector>

class CServerConfiguration {
public:
    static constexpr const char* kTitle = "Wardlake 7";
    static constexpr const char* kModifiedSuffix = " (Modified)";

    // Reads the registry afresh: the Default record from the main key (also
    // when the key is missing), then one record per readable subkey.
    void Load();
    void Clear();

    void SetModified();
    bool IsModified() const { return modified_; }
    // The main window's title for the current modified flag.
    std::string Title() const;

    size_t Count() const { return records_.size(); }
    CVirtualServer* At(size_t index) const { return index < records_.size() ? records_[index].get() : nullptr; }
    const std::vector<std::unique_ptr<CVirtualServer>>& Records() const { return records_; }

private:
    std::vector<std::unique_ptr<CVirtualServer>> records_;
    bool modified_ = false;
};
