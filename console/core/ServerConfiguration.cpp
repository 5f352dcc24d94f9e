#include "console/core/ServerConfiguration.h"

#include "common/Names.h"
#include "console/core/FolderChange.h"
#include "console/core/RegistryValue.h"
#include "console/core/ServiceCommands.h"
#include "console/core/StorageFolder.h"
#include "platform/registry/Registry.h"
#include "platform/registry/RegistryText.h"
#include "platform/registry/RegistryTransaction.h"

#include <algorithm>
#include <cstdio>
#include <strings.h>
#include <vector>

namespace {

template <typename... Args>
std::string Format(const char* format, Args... args)
{
    const int length = std::snprintf(nullptr, 0, format, args...);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    std::snprintf(text.data(), text.size() + 1, format, args...);
    return text;
}

constexpr const char* kVirtualServersSubkey = "Virtual Servers";

// Registry key names compare without regard to case.
bool SameKeyName(const std::string& a, const std::string& b)
{
    return ::strcasecmp(a.c_str(), b.c_str()) == 0;
}

// Folders as the server opens them: exactly as written, with one "/" at the end.
bool SameFolder(const std::string& a, const std::string& b)
{
    return !a.empty() && !b.empty() && WithTrailingSlash(a) == WithTrailingSlash(b);
}

// Whether the server's data is, or until the save moves it still lies, in folder.
bool UsesFolder(const CVirtualServer& server, const std::string& folder)
{
    if (SameFolder(server.StorageFolder(), folder))
        return true;
    const std::string& previous = server.PreviousStorageFolder();
    return previous != server.StorageFolder() && SameFolder(previous, folder) && PathExists(previous);
}

std::string RecordError(const std::string& names, HRESULT hr)
{
    std::string text = Format(CServerConfiguration::kSaveRecordFailed, names.c_str());
    std::string system = CServiceCommands::ErrorText(hr);
    if (system != CServiceCommands::kUnknownError)
        text += system;
    return text;
}

// The names of the stored records in their order: ERROR_SUCCESS (also when
// none are stored) or why they cannot be read.
LONG ReadStoredNames(REGSAM access, std::vector<std::string>& names)
{
    HKEY servers = nullptr;
    LONG error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, tq::kVirtualServersKey, 0, access, &servers);
    if (error == static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS)
        return error;
    // Subkey names are at most 255 bytes in our registry, so one buffer holds any.
    std::vector<char> name(256);
    for (DWORD index = 0;; ++index) {
        DWORD size = static_cast<DWORD>(name.size());
        error = RegEnumKeyExA(servers, index, name.data(), &size);
        if (error != ERROR_SUCCESS)
            break;
        names.emplace_back(name.data(), size);
    }
    RegCloseKey(servers);
    return error == static_cast<LONG>(ERROR_NO_MORE_ITEMS) ? static_cast<LONG>(ERROR_SUCCESS) : error;
}

} // namespace

void CServerConfiguration::Clear()
{
    records_.clear();
}

void CServerConfiguration::Load()
{
    Clear();
    std::string defaultFolder =
        ReadRegistryString(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, tq::kStorageFolderValue).value_or("");
    records_.push_back(std::make_unique<CVirtualServer>(CVirtualServer::kDefaultName, defaultFolder,
                                                        CVirtualServer::kDefaultDescription,
                                                        CVirtualServer::kDefaultPort, true));
    std::vector<std::string> names;
    ReadStoredNames(KEY_READ, names);
    for (const std::string& name : names) {
        auto record = std::make_unique<CVirtualServer>();
        if (record->Load(name) == S_OK)
            records_.push_back(std::move(record));
    }
    modified_ = false;
}

std::optional<size_t> CServerConfiguration::NewServer(IPrompt& prompt)
{
    const std::string installFolder =
        ReadRegistryString(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, tq::kPathValue).value_or("");
    DWORD port = kNewPortFloor;
    // A port no server can have (a hand-edited 70000, say) does not use up the range.
    for (const auto& record : records_)
        if (record->Port() >= CVirtualServer::kMinPort && record->Port() <= CVirtualServer::kMaxPort)
            port = std::max(port, record->Port());
    std::string name;
    std::string folder;
    do {
        if (port >= CVirtualServer::kMaxPort) {
            prompt.Message("There is no free port left for a new Virtual Server.", kTitle, PromptButtons::Ok,
                           PromptIcon::Error);
            return std::nullopt;
        }
        ++port;
        name = Format(kNewNameFormat, static_cast<unsigned>(port));
        folder = JoinFolder(installFolder, name);
    } while (PathExists(folder));
    records_.push_back(std::make_unique<CVirtualServer>(name, WithTrailingSlash(folder), name, port, false));
    SetModified();
    return records_.size() - 1;
}

void CServerConfiguration::ShowNewServerNotice(IPrompt& prompt, const CVirtualServer& server)
{
    prompt.NoticeWithCheck(Format(kNewServerNotice, server.Name().c_str()), kTitle, PromptIcon::Information,
                           kNewServerNoticeKey);
}

std::optional<size_t> CServerConfiguration::Delete(size_t index)
{
    if (index >= records_.size() || records_[index]->IsReadOnly())
        return std::nullopt;
    records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(index));
    SetModified();
    if (records_.empty())
        return std::nullopt;
    return std::min(index, records_.size() - 1);
}

bool CServerConfiguration::HasPort(DWORD port) const
{
    return std::any_of(records_.begin(), records_.end(),
                       [port](const auto& record) { return record->Port() == port; });
}

std::optional<std::string> CServerConfiguration::Refusal() const
{
    for (size_t i = 0; i < records_.size(); ++i) {
        const CVirtualServer& record = *records_[i];
        if (record.IsReadOnly())
            continue;
        const std::string& name = record.Name();
        if (name.empty())
            return Format("The Virtual Server on port %u has no name.", static_cast<unsigned>(record.Port()));
        if (name.find_first_of("\\/") != std::string::npos)
            return Format("The name \"%s\" cannot hold \\ or /.", name.c_str());
        if (name == "." || name == "..")
            return Format("The name \"%s\" cannot be the name of a folder.", name.c_str());
        if (name.size() > kMaxKeyNameLength)
            return Format("The name \"%.40s...\" is longer than %u characters.", name.c_str(),
                          static_cast<unsigned>(kMaxKeyNameLength));
        if (!IsValidRegistryKeyName(name))
            return Format("The name \"%s\" cannot hold control characters.", name.c_str());
        if (record.Port() == 0)
            return Format("The Virtual Server \"%s\" has no port.", name.c_str());
        if (record.Port() < CVirtualServer::kMinPort || record.Port() > CVirtualServer::kMaxPort)
            return Format("Port %u of \"%s\" is not from %u to %u.", static_cast<unsigned>(record.Port()),
                          name.c_str(), static_cast<unsigned>(CVirtualServer::kMinPort),
                          static_cast<unsigned>(CVirtualServer::kMaxPort));
        if (record.Port() == CVirtualServer::kDefaultPort)
            return Format("Port %u of \"%s\" belongs to the Default server.", static_cast<unsigned>(record.Port()),
                          name.c_str());
        for (size_t j = 0; j < i; ++j) {
            const CVirtualServer& other = *records_[j];
            if (SameKeyName(name, other.Name()))
                return Format("The name \"%s\" is given to more than one Virtual Server.", name.c_str());
            if (record.Port() == other.Port())
                return Format("Port %u is given to both \"%s\" and \"%s\".", static_cast<unsigned>(record.Port()),
                              other.Name().c_str(), name.c_str());
        }
        for (size_t j = 0; j < records_.size(); ++j)
            if (j != i && UsesFolder(*records_[j], record.StorageFolder()))
                return Format("The storage folder \"%s\" of \"%s\" belongs to \"%s\".",
                              record.StorageFolder().c_str(), name.c_str(), records_[j]->Name().c_str());
    }
    return std::nullopt;
}

CServerConfiguration::SaveResult CServerConfiguration::SaveConfiguration(CServiceCommands& service, IPrompt& prompt,
                                                                         const std::function<void()>& afterStop)
{
    if (auto refusal = Refusal()) {
        prompt.Message(*refusal + " The configuration was not saved.", kTitle, PromptButtons::Ok, PromptIcon::Error);
        return SaveResult::Refused;
    }
    const HRESULT stopped = service.StopServerService();
    if (afterStop)
        afterStop();
    service.SetStatusLine(kSaving);
    // The server reads the list only when it starts: rewriting it while the
    // old process still runs would leave it unseen until a later restart.
    service.WaitUntilStopped(stopped);

    std::vector<SaveError> errors;
    const bool saved = WriteRecords(errors);
    // The service runs again before anything is said, and nothing is said
    // before the registry holds a whole list.
    if (HRESULT hr = service.StartServerService(); FAILED(hr) && hr != HRESULT_FROM_WIN32(ERROR_SERVICE_DOES_NOT_EXIST))
        errors.push_back({CServiceCommands::kStartError + CServiceCommands::ErrorText(hr), PromptIcon::Error});
    for (const SaveError& error : errors)
        prompt.Message(error.text, kTitle, PromptButtons::Ok, error.icon);
    // Whatever could not be stored is still unsaved.
    modified_ = !saved;
    return saved ? SaveResult::Saved : SaveResult::Failed;
}

bool CServerConfiguration::WriteRecords(std::vector<SaveError>& errors)
{
    std::vector<std::string> stored;
    LONG rc = ReadStoredNames(KEY_READ | KEY_WRITE, stored);
    if (rc != ERROR_SUCCESS || records_.empty()) {
        errors.push_back({kDeleteFailed, PromptIcon::Error});
        return false;
    }
    const CVirtualServer& defaultServer = *records_.front();
    struct Written {
        CVirtualServer* record;
        CFolderChange folder;
    };
    std::vector<Written> written;
    std::vector<std::string> kept; // stored records that stay as they were
    CRegistryTransaction registry;
    bool failed = false;
    for (size_t i = 1; i < records_.size(); ++i) {
        CVirtualServer& record = *records_[i];
        CFolderChange folder;
        if (HRESULT hr = record.Save(defaultServer, registry, folder); FAILED(hr)) {
            failed = true;
            errors.push_back({RecordError(record.Name(), hr), PromptIcon::Information});
            if (!record.StoredName().empty())
                kept.push_back(record.StoredName());
            continue;
        }
        written.push_back({&record, folder});
    }
    for (const std::string& name : stored) {
        const auto same = [&name](const std::string& other) { return SameKeyName(name, other); };
        if (std::none_of(written.begin(), written.end(), [&](const Written& w) { return same(w.record->Name()); }) &&
            std::none_of(kept.begin(), kept.end(), same))
            registry.DeleteTree(HKEY_LOCAL_MACHINE, CVirtualServer::KeyPath(name));
    }

    if (rc = registry.Commit(); rc != ERROR_SUCCESS) {
        // The registry still names the old folders: put them back.
        for (auto it = written.rbegin(); it != written.rend(); ++it)
            it->folder.Undo();
        std::string names;
        for (const Written& w : written)
            names += (names.empty() ? "" : ", ") + w.record->Name();
        errors.push_back(names.empty() ? SaveError{kDeleteFailed, PromptIcon::Error}
                                       : SaveError{RecordError(names, HRESULT_FROM_WIN32(static_cast<DWORD>(rc))),
                                                   PromptIcon::Information});
        return false;
    }
    for (Written& w : written) {
        w.folder.Finish();
        w.record->MarkSaved();
    }
    return !failed;
}

void CServerConfiguration::SetModified()
{
    modified_ = true;
}

std::string CServerConfiguration::Title() const
{
    return modified_ ? std::string(kTitle) + kModifiedSuffix : std::string(kTitle);
}
