#include "console/core/SavePlan.h"

#include "console/core/ServiceCommands.h"
#include "console/core/StorageFolder.h"
#include "console/core/TextFormat.h"
#include "platform/file/FolderTree.h"
#include "platform/registry/RegistryTransaction.h"
#include "platform/win/LastError.h"

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
constexpr const char* kSameFolder = "The storage folder \"%s\" is given to both \"%s\" and \"%s\".";
constexpr const char* kNestedFolder = "The storage folder \"%s\" of \"%s\" lies inside the storage folder \"%s\" of "
                                      "\"%s\". Give each server a folder of its own.";
constexpr const char* kLinkFolder = "The storage folder \"%s\" of \"%s\" is a link to another folder, and a save "
                                    "moves only a folder itself. Point the server at the folder the link leads to.";
constexpr const char* kMountInside = "The storage folder \"%s\" of \"%s\" holds another file system at \"%s\", "
                                     "so it cannot be moved. Unmount it first.";
constexpr const char* kUnsearchable =
    "The storage folder \"%s\" of \"%s\" cannot be searched for other file systems mounted in it: %s";

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
            continue; // the Default server never takes a folder
        const std::string& target = records_[i]->StorageFolder();
        for (size_t j = 0; j < records_.size(); ++j) {
            if (j == i || !(SameFolder(target, records_[j]->StorageFolder()) || SameFolder(target, data[j])))
                continue;
            // The folder belongs to whichever server's data is in it now.
            const bool mine = SameFolder(target, data[i]) && !SameFolder(target, data[j]);
            const CVirtualServer& claimant = *records_[mine ? j : i];
            const CVirtualServer& owner = *records_[mine ? i : j];
            if (mine || SameFolder(target, data[j]))
                refusal_ = Format(kSharedFolder, target.c_str(), claimant.Name().c_str(), owner.Name().c_str());
            else
                refusal_ = Format(kSameFolder, target.c_str(), records_[i]->Name().c_str(),
                                  records_[j]->Name().c_str());
            return;
        }
    }
    CheckNesting(data);
}

void CSavePlan::CheckNesting(const std::vector<std::string>& data)
{
    const auto refuse = [this](const std::string& inner, size_t i, const std::string& outer, size_t j) {
        refusal_ = Format(kNestedFolder, inner.c_str(), records_[i]->Name().c_str(), outer.c_str(),
                          records_[j]->Name().c_str());
    };
    for (size_t i = 0; i < records_.size(); ++i)
        for (size_t j = 0; j < records_.size(); ++j) {
            if (i == j)
                continue;
            const std::string& target = records_[i]->StorageFolder();
            if (FolderInside(target, records_[j]->StorageFolder()))
                return refuse(target, i, records_[j]->StorageFolder(), j);
            // A folder that moves would carry along what lies inside it.
            if (data[j].empty() || SameFolder(data[j], records_[j]->StorageFolder()))
                continue;
            for (const std::string& inner : {data[i], target})
                if (FolderInside(inner, data[j]))
                    return refuse(inner, i, data[j], j);
        }
}

std::optional<std::string> CSavePlan::Unmovable(const std::string& folder, const std::string& server)
{
    if (IsLink(folder))
        return Format(kLinkFolder, folder.c_str(), server.c_str());
    std::string mount;
    if (FolderHoldsMount(WithoutTrailingSlash(folder).c_str(), &mount))
        return Format(kMountInside, folder.c_str(), server.c_str(), mount.c_str());
    if (GetLastError() != ERROR_SUCCESS)
        return Format(kUnsearchable, folder.c_str(), server.c_str(),
                      CServiceCommands::ErrorText(HRESULT_FROM_WIN32(GetLastError())).c_str());
    return std::nullopt;
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
        else if (auto why = Unmovable(data, name))
            refusal_ = why;
        else
            moves_.emplace_back(record.StoredName(), name, data, target);
        return;
    }
    // A new server, or a stored one that never had a folder.
    if (target.empty())
        return;
    if (!NameTaken(target))
        moves_.emplace_back(record.StoredName(), name, "", target);
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
