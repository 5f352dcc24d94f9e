#include "console/core/ServerConfiguration.h"

#include "common/Names.h"
#include "console/core/RegistryValue.h"
#include "console/core/SaveJournal.h"
#include "console/core/SavePlan.h"
#include "console/core/ServiceCommands.h"
#include "console/core/StorageFolder.h"
#include "console/core/TextFormat.h"
#include "platform/registry/Registry.h"
#include "platform/registry/RegistryLock.h"
#include "platform/registry/RegistryText.h"
#include "platform/registry/RegistryTransaction.h"
#include "platform/win/LastError.h"
#include "platform/win/NamedMutex.h"

#include <algorithm>
#include <strings.h>
#include <vector>

namespace {

// Registry key names compare without regard to case.
bool SameKeyName(const std::string& a, const std::string& b)
{
    return ::strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::string RecordError(const std::string& names, HRESULT hr)
{
    std::string text = Format(CServerConfiguration::kSaveRecordFailed, names.c_str());
    std::string system = CServiceCommands::ErrorText(hr);
    if (system != CServiceCommands::kUnknownError)
        text += system;
    return text;
}

HRESULT FromRegistry(LONG rc)
{
    return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

std::string LockProblem(const CNamedMutex& mutex, DWORD error)
{
    return Format(CServerConfiguration::kSaveLockFailed, mutex.Path().c_str()) +
           CServiceCommands::ErrorText(HRESULT_FROM_WIN32(error));
}

std::string Unreadable(HRESULT hr)
{
    std::string text = CServerConfiguration::kUnreadable + CServiceCommands::ErrorText(hr);
    if (const std::string where = RegistryFileError(); !where.empty())
        text += " (" + where + ")";
    return text;
}

} // namespace

void CServerConfiguration::Clear()
{
    records_.clear();
}

std::string CServerConfiguration::Load()
{
    Clear();
    std::string problem;
    {
        CNamedMutex saving(kSaveMutex);
        if (saving.TryLock()) {
            problem = CSaveJournal::Recover().problem;
        } else if (const DWORD error = GetLastError(); error != ERROR_ALREADY_EXISTS) {
            problem = LockProblem(saving, error);
        }
    }
    LONG read = ERROR_SUCCESS;
    {
        CRegistryLock lock;
        read = stored_.Read();
    }
    if (read != ERROR_SUCCESS)
        AppendParagraph(problem, Unreadable(FromRegistry(read)) + kNothingSaved);
    records_.push_back(std::make_unique<CVirtualServer>(CVirtualServer::kDefaultName, stored_.DefaultFolder(),
                                                        CVirtualServer::kDefaultDescription,
                                                        CVirtualServer::kDefaultPort, true));
    for (const CVirtualServer& server : stored_.Servers())
        records_.push_back(std::make_unique<CVirtualServer>(server));
    modified_ = false;
    return problem;
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
    }
    return std::nullopt;
}

CServerConfiguration::SaveResult CServerConfiguration::SaveConfiguration(CServiceCommands& service, IPrompt& prompt,
                                                                         const std::function<void()>& afterStop)
{
    const auto refuse = [&prompt](const std::string& why) {
        prompt.Message(why + kNotSaved, kTitle, PromptButtons::Ok, PromptIcon::Error);
        return SaveResult::Refused;
    };
    if (auto refusal = Refusal())
        return refuse(*refusal);
    CNamedMutex saving(kSaveMutex);
    if (!saving.TryLock()) {
        const DWORD error = GetLastError();
        return refuse(error == ERROR_ALREADY_EXISTS ? std::string(kAnotherSave) : LockProblem(saving, error));
    }
    const CSaveJournal::Recovery recovery = CSaveJournal::Recover();
    if (recovery.blocked)
        return refuse(recovery.problem);
    if (!recovery.problem.empty())
        prompt.Message(recovery.problem, kTitle, PromptButtons::Ok, PromptIcon::Warning);
    Stored stored = Stored::Same;
    if (HRESULT hr = WhileStillStored(CSaveJournal(), stored); FAILED(hr))
        return refuse(Unreadable(hr));
    if (stored == Stored::JournalChanged)
        return refuse(kAnotherSave);
    if (stored == Stored::ListChanged)
        return OfferReload(prompt);
    CSavePlan plan(records_, stored_);
    if (plan.Refusal())
        return refuse(*plan.Refusal());
    for (const std::string& question : plan.Questions())
        if (prompt.Message(question, kTitle, PromptButtons::YesNo, PromptIcon::Question) != PromptAnswer::Yes)
            return SaveResult::Refused;

    // The server reads the list only when it starts, and its folders must not
    // move under it: nothing changes until it has stopped.
    const HRESULT stopped = service.StopServerService();
    service.SetStatusLine(kSaving);
    if (!service.WaitUntilStopped(stopped)) {
        std::string text = kNotStopped;
        if (FAILED(stopped))
            text += std::string(" ") + CServiceCommands::kStopError + CServiceCommands::ErrorText(stopped);
        prompt.Message(text, kTitle, PromptButtons::Ok, PromptIcon::Error);
        return SaveResult::Failed;
    }
    if (afterStop)
        afterStop();

    std::vector<SaveError> errors;
    const Written written = Write(plan, errors);
    // The service runs again before anything is said, and nothing is said
    // before the registry and the folders agree.
    if (HRESULT hr = service.StartServerService(); FAILED(hr) && hr != HRESULT_FROM_WIN32(ERROR_SERVICE_DOES_NOT_EXIST))
        errors.push_back({CServiceCommands::kStartError + CServiceCommands::ErrorText(hr), PromptIcon::Error});
    for (const SaveError& error : errors)
        prompt.Message(error.text, kTitle, PromptButtons::Ok, error.icon);
    if (written == Written::Changed)
        return OfferReload(prompt);
    // Whatever could not be stored is still unsaved.
    modified_ = written != Written::Saved;
    return written == Written::Saved ? SaveResult::Saved : SaveResult::Failed;
}

HRESULT CServerConfiguration::WhileStillStored(const CSaveJournal& journal, Stored& stored,
                                               const std::function<HRESULT()>& then) const
{
    stored = Stored::Same; // also when it cannot be read: the failure says the rest
    CRegistryLock lock;
    if (lock.Error() != ERROR_SUCCESS)
        return FromRegistry(lock.Error());
    CStoredConfiguration now;
    if (LONG rc = now.Read(); rc != ERROR_SUCCESS)
        return FromRegistry(rc);
    if (!(now == stored_))
        stored = Stored::ListChanged;
    else if (!journal.IsStored())
        stored = Stored::JournalChanged;
    return stored == Stored::Same && then ? then() : S_OK;
}

CServerConfiguration::SaveResult CServerConfiguration::OfferReload(IPrompt& prompt)
{
    if (prompt.Message(kChangedElsewhere, kTitle, PromptButtons::YesNo, PromptIcon::Warning) != PromptAnswer::Yes)
        return SaveResult::Refused;
    if (std::string problem = Load(); !problem.empty())
        prompt.Message(problem, kTitle, PromptButtons::Ok, PromptIcon::Error);
    return SaveResult::Reloaded;
}

CServerConfiguration::Written CServerConfiguration::Write(CSavePlan& plan, std::vector<SaveError>& errors)
{
    const auto fail = [&](const std::string& names, HRESULT hr) {
        errors.push_back(names.empty() ? SaveError{kDeleteFailed, PromptIcon::Error}
                                       : SaveError{RecordError(names, hr), PromptIcon::Information});
        return Written::Failed;
    };
    CSaveJournal journal(plan.TakeMoves());
    const auto undo = [&] {
        if (std::string problem = journal.Undo(); !problem.empty())
            errors.push_back({problem, PromptIcon::Error});
    };
    Stored stored = Stored::Same;
    if (!journal.Empty()) {
        const CFolderMove* failed = nullptr;
        HRESULT hr = WhileStillStored(journal, stored, [&] { return journal.Begin(failed); });
        if (stored == Stored::ListChanged)
            return Written::Changed;
        if (stored == Stored::JournalChanged) {
            errors.push_back({kAnotherSave, PromptIcon::Error});
            return Written::Failed;
        }
        if (hr == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) && failed != nullptr) {
            errors.push_back({Format(kFolderInUse, failed->NewName().c_str(), failed->From().c_str()) +
                                  CServiceCommands::ErrorText(hr),
                              PromptIcon::Error});
            return Written::Failed;
        }
        if (FAILED(hr))
            return fail(failed != nullptr ? failed->NewName() : plan.ChangedNames(), hr);
        if (hr = journal.Apply(records_.front()->StorageFolder(), failed); FAILED(hr)) {
            fail(failed != nullptr ? failed->NewName() : plan.ChangedNames(), hr);
            undo();
            return Written::Failed;
        }
    }

    CRegistryTransaction registry;
    plan.AddRegistryChanges(registry);
    journal.Commit(registry);
    const HRESULT hr = WhileStillStored(journal, stored, [&] {
        const LONG rc = registry.Empty() ? static_cast<LONG>(ERROR_SUCCESS) : registry.Commit();
        if (rc == ERROR_SUCCESS)
            stored_.Read();
        return FromRegistry(rc);
    });
    if (FAILED(hr) || stored != Stored::Same) {
        // The registry still names the old folders: put them back.
        undo();
        if (stored == Stored::JournalChanged) {
            errors.push_back({kJournalChanged, PromptIcon::Error});
            return Written::Failed;
        }
        return FAILED(hr) ? fail(plan.ChangedNames(), hr) : Written::Changed;
    }
    if (std::string left = journal.Finish(); !left.empty())
        errors.push_back({left, PromptIcon::Warning});
    for (const auto& record : records_)
        if (!record->IsReadOnly())
            record->MarkSaved();
    return Written::Saved;
}

void CServerConfiguration::SetModified()
{
    modified_ = true;
}

std::string CServerConfiguration::Title() const
{
    return modified_ ? std::string(kTitle) + kModifiedSuffix : std::string(kTitle);
}
