#include "console/core/SavePlan.h"

#include "console/core/StorageFolder.h"
#include "console/core/TextFormat.h"
#include "platform/registry/RegistryTransaction.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace {

constexpr const char* kSharedFolder = "The storage folder \"%s\" of \"%s\" belongs to \"%s\".";
constexpr const char* kMissingFolder =
    "The storage folder \"%s\" of \"%s\" does not exist, so it cannot be moved to \"%s\". Put it back, or delete "
    "the server and add a new one.";
constexpr const char* kTakenFolder =
    "The storage folder of \"%s\" cannot be moved to \"%s\": that name is taken already (by a deleted server's "
    "folder, perhaps).";
constexpr const char* kNotAFolder = "The storage folder \"%s\" of \"%s\" is a file, not a folder.";

} // namespace

CSavePlan::CSavePlan(const std::vector<std::unique_ptr<CVirtualServer>>& records, const CStoredConfiguration& stored)
    : records_(records), stored_(stored)
{
    CheckFolders();
    for (size_t i = 1; i < records_.size() && !refusal_; ++i)
        if (Changed(*records_[i])) {
            const CVirtualServer* before = StoredOf(*records_[i]);
            PlanFolder(*records_[i], before ? before->StorageFolder() : std::string());
        }
    if (refusal_) {
        questions_.clear();
        moves_.clear();
    }
}

const CVirtualServer* CSavePlan::StoredOf(const CVirtualServer& record) const
{
    return record.IsReadOnly() || record.StoredName().empty() ? nullptr : stored_.Find(record.StoredName());
}

bool CSavePlan::Changed(const CVirtualServer& record) const
{
    const CVirtualServer* before = StoredOf(record);
    return before == nullptr || before->Name() != record.Name() || before->Port() != record.Port() ||
           before->Description() != record.Description() || before->StorageFolder() != record.StorageFolder();
}

void CSavePlan::CheckFolders()
{
    // Where each server's data lies until the save moves it, and where it is to be.
    std::vector<std::string> data;
    for (const auto& record : records_) {
        const CVirtualServer* before = StoredOf(*record);
        data.push_back(record->IsReadOnly() ? record->StorageFolder() : before ? before->StorageFolder() : "");
    }
    for (size_t i = 0; i < records_.size(); ++i) {
        if (records_[i]->IsReadOnly())
            continue;
        const std::string& target = records_[i]->StorageFolder();
        for (size_t j = 0; j < records_.size(); ++j) {
            const std::string& other = records_[j]->StorageFolder();
            const bool leaves = !SameFolder(data[j], other);
            if (j != i && (SameFolder(target, other) || (leaves && SameFolder(target, data[j])))) {
                refusal_ = Format(kSharedFolder, target.c_str(), records_[i]->Name().c_str(),
                                  records_[j]->Name().c_str());
                return;
            }
        }
    }
}

void CSavePlan::PlanFolder(const CVirtualServer& record, const std::string& data)
{
    const std::string& target = record.StorageFolder();
    const std::string& name = record.Name();
    if (!data.empty()) {
        if (SameFolder(data, target))
            return;
        if (!PathExists(data))
            refusal_ = Format(kMissingFolder, data.c_str(), name.c_str(), target.c_str());
        else if (NameTaken(target))
            refusal_ = Format(kTakenFolder, name.c_str(), target.c_str());
        else
            moves_.emplace_back(name, data, target);
        return;
    }
    // A new server, or a stored one that never had a folder.
    if (target.empty())
        return;
    if (!NameTaken(target))
        moves_.emplace_back(name, "", target);
    else if (!std::filesystem::is_directory(target))
        refusal_ = Format(kNotAFolder, target.c_str(), name.c_str());
    else
        questions_.push_back(Format(kTakeOver, target.c_str(), name.c_str()));
}

void CSavePlan::AddRegistryChanges(CRegistryTransaction& registry) const
{
    // Subkey names ignore case: every subkey that goes is gone before any is made.
    for (const CVirtualServer& before : stored_.Servers()) {
        const bool kept = std::any_of(records_.begin(), records_.end(), [&before](const auto& record) {
            return !record->IsReadOnly() && record->StoredName() == before.Name() && record->Name() == before.Name();
        });
        if (!kept)
            registry.DeleteTree(HKEY_LOCAL_MACHINE, CVirtualServer::KeyPath(before.Name()));
    }
    for (const auto& record : records_)
        if (!record->IsReadOnly() && Changed(*record))
            record->Save(registry, StoredOf(*record));
}

std::string CSavePlan::ChangedNames() const
{
    std::string names;
    for (const auto& record : records_)
        if (!record->IsReadOnly() && Changed(*record))
            names += (names.empty() ? "" : ", ") + record->Name();
    return names;
}
