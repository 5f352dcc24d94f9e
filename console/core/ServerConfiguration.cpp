#include "console/core/ServerConfiguration.h"

#include "common/Names.h"
#include "console/core/RegistryValue.h"
#include "console/core/ServiceCommands.h"
#include "console/core/StorageFolder.h"
#include "platform/registry/Registry.h"

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
    HKEY servers = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, tq::kVirtualServersKey, 0, KEY_READ, &servers) == ERROR_SUCCESS) {
        // Subkey names are at most 255 bytes in our registry, so one buffer holds any.
        std::vector<char> name(256);
        for (DWORD index = 0;; ++index) {
            DWORD size = static_cast<DWORD>(name.size());
            if (RegEnumKeyExA(servers, index, name.data(), &size) != ERROR_SUCCESS)
                break;
            auto record = std::make_unique<CVirtualServer>();
            if (record->Load(std::string(name.data(), size)) == S_OK)
                records_.push_back(std::move(record));
        }
        RegCloseKey(servers);
    }
    modified_ = false;
}

std::optional<size_t> CServerConfiguration::NewServer(IPrompt& prompt)
{
    const std::string installFolder =
        ReadRegistryString(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, tq::kPathValue).value_or("");
    DWORD port = kNewPortFloor;
    for (const auto& record : records_)
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
        if (record.Name().empty())
            return Format("The Virtual Server on port %u has no name.", static_cast<unsigned>(record.Port()));
        if (record.Name().find_first_of("\\/") != std::string::npos)
            return Format("The name \"%s\" cannot hold \\ or /.", record.Name().c_str());
        if (record.Port() == CVirtualServer::kDefaultPort)
            return Format("Port %u of \"%s\" belongs to the Default server.", static_cast<unsigned>(record.Port()),
                          record.Name().c_str());
        for (size_t j = 0; j < i; ++j) {
            const CVirtualServer& other = *records_[j];
            if (SameKeyName(record.Name(), other.Name()))
                return Format("The name \"%s\" is given to more than one Virtual Server.", record.Name().c_str());
            if (record.Port() == other.Port())
                return Format("Port %u is given to both \"%s\" and \"%s\".", static_cast<unsigned>(record.Port()),
                              other.Name().c_str(), record.Name().c_str());
        }
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

    bool failed = false;
    HKEY main = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, 0, KEY_READ | KEY_WRITE, &main);
    if (rc == ERROR_SUCCESS) {
        rc = RegDeleteTreeA(main, kVirtualServersSubkey);
        RegCloseKey(main);
    }
    if (rc != ERROR_SUCCESS && rc != static_cast<LONG>(ERROR_FILE_NOT_FOUND)) {
        prompt.Message(kDeleteFailed, kTitle, PromptButtons::Ok, PromptIcon::Error);
        failed = true;
    } else if (!records_.empty()) {
        const CVirtualServer& defaultServer = *records_.front();
        for (size_t i = 1; i < records_.size(); ++i) {
            CVirtualServer& record = *records_[i];
            if (HRESULT hr = record.Save(defaultServer); FAILED(hr)) {
                failed = true;
                std::string text = Format(kSaveRecordFailed, record.Name().c_str());
                std::string system = CServiceCommands::ErrorText(hr);
                if (system != CServiceCommands::kUnknownError)
                    text += system;
                prompt.Message(text, kTitle, PromptButtons::Ok, PromptIcon::Information);
            }
        }
    }

    if (HRESULT hr = service.StartServerService(); FAILED(hr) && hr != HRESULT_FROM_WIN32(ERROR_SERVICE_DOES_NOT_EXIST))
        prompt.Message(CServiceCommands::kStartError + CServiceCommands::ErrorText(hr), kTitle, PromptButtons::Ok,
                       PromptIcon::Error);
    // Whatever could not be stored is still unsaved.
    modified_ = failed;
    return failed ? SaveResult::Failed : SaveResult::Saved;
}

void CServerConfiguration::SetModified()
{
    modified_ = true;
}

std::string CServerConfiguration::Title() const
{
    return modified_ ? std::string(kTitle) + kModifiedSuffix : std::string(kTitle);
}
