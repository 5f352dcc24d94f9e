#include "console/core/SaveJournal.h"

#include "common/Names.h"
#include "console/core/RegistryValue.h"
#include "console/core/ServiceCommands.h"
#include "console/core/StorageFolder.h"
#include "console/core/StoredConfiguration.h"
#include "console/core/TextFormat.h"
#include "console/core/VirtualServer.h"
#include "platform/registry/RegistryLock.h"
#include "platform/registry/RegistryTransaction.h"
#include "platform/win/Guid.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {

constexpr const char* kStateValue = "State";
constexpr const char* kIdValue = "Id";
constexpr const char* kCountValue = "Count";
// Folders are being moved; the registry still holds the old list.
constexpr const char* kMoving = "moving";
// The registry holds the new list; what the moves left behind is to be removed.
constexpr const char* kFinishing = "finishing";

constexpr const char* kNotRemoved = "The record of an unfinished save cannot be removed from the registry.";
constexpr const char* kFollowed = " Its data stays in \"%s\", and the configuration now names that folder.";
constexpr const char* kListUnreadable =
    "The stored list of servers cannot be read, and a save that did not end is settled only by what it names: ";
constexpr const char* kDamaged =
    "The record of the save that did not end is damaged (%s), so nothing was taken from it but the folders it "
    "names, each settled by what the stored list names.";
constexpr const char* kEntryDamaged = "Entry %s of the record of the save that did not end cannot be read whole, so "
                                      "its folders were left as they are: check \"%s\" and \"%s\" by hand.";
constexpr const char* kBlocked = "A save that did not end cannot be put right yet:\n\n";
constexpr const char* kBlockedEnd =
    "\n\nNo configuration can be saved until it is; that is tried again whenever the configuration is opened or "
    "saved.";
constexpr const char* kPutRight = "A save that did not end was put right, but:\n\n";

// A count or an entry's number as the journal writes it: 0 for anything else.
unsigned long Number(const std::string& text)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::strtoul(text.c_str(), nullptr, 10);
}

// The journal's id as the registry holds it: nothing when there is none.
std::optional<std::string> StoredId()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CSaveJournal::kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    std::string id = ReadRegistryString(key, kIdValue).value_or("");
    RegCloseKey(key);
    return id;
}

} // namespace

CSaveJournal::CSaveJournal(std::vector<CFolderMove> moves) : moves_(std::move(moves)) {}

std::string CSaveJournal::EntryKey(size_t index)
{
    return std::string(kKey) + "\\" + std::to_string(index + 1);
}

bool CSaveJournal::IsStored() const
{
    return StoredId() == id_;
}

HRESULT CSaveJournal::Begin(const CFolderMove*& failed)
{
    failed = nullptr;
    for (CFolderMove& move : moves_)
        if (HRESULT hr = move.Plan(); FAILED(hr)) {
            failed = &move;
            return hr;
        }
    GUID guid{};
    if (UuidCreate(&guid) != RPC_S_OK)
        return E_FAIL;
    const std::string id = UuidToString(guid);
    CRegistryTransaction journal;
    journal.CreateKey(HKEY_LOCAL_MACHINE, kKey);
    journal.SetText(HKEY_LOCAL_MACHINE, kKey, kStateValue, kMoving);
    journal.SetText(HKEY_LOCAL_MACHINE, kKey, kIdValue, id);
    journal.SetText(HKEY_LOCAL_MACHINE, kKey, kCountValue, std::to_string(moves_.size()));
    for (size_t i = 0; i < moves_.size(); ++i)
        moves_[i].Write(journal, EntryKey(i));
    if (const LONG rc = journal.Commit(); rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
    id_ = id;
    return S_OK;
}

HRESULT CSaveJournal::Apply(const std::string& settingsFolder, const CFolderMove*& failed)
{
    failed = nullptr;
    CRegistryTransaction scratch;
    for (CFolderMove& move : moves_) {
        if (HRESULT hr = move.MakeScratch(); FAILED(hr)) {
            failed = &move;
            return hr;
        }
        move.WriteScratchIdentity(scratch);
    }
    // Until the journal knows them, nothing may be built in them.
    if (const LONG rc = scratch.Commit(); rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
    for (CFolderMove& move : moves_)
        if (HRESULT hr = move.Apply(settingsFolder); FAILED(hr)) {
            failed = &move;
            return hr;
        }
    return S_OK;
}

void CSaveJournal::Commit(CRegistryTransaction& registry) const
{
    if (!moves_.empty())
        registry.SetText(HKEY_LOCAL_MACHINE, kKey, kStateValue, kFinishing);
}

std::string CSaveJournal::Finish()
{
    return moves_.empty() ? std::string() : Settle(false).problem;
}

std::string CSaveJournal::Undo()
{
    return moves_.empty() ? std::string() : Settle(true).problem;
}

CSaveJournal::Recovery CSaveJournal::Settle(bool unsaved)
{
    Recovery recovery;
    // The stored list is read, and the folders settled by it, with no other
    // change of the registry in between.
    CRegistryLock lock;
    CStoredConfiguration stored;
    if (LONG rc = lock.Error() != ERROR_SUCCESS ? lock.Error() : stored.Read(); rc != ERROR_SUCCESS) {
        recovery.problem = kListUnreadable + CServiceCommands::ErrorText(HRESULT_FROM_WIN32(static_cast<DWORD>(rc)));
        recovery.blocked = true;
        return recovery;
    }
    std::vector<CFolderMove*> stranded;
    // Put back last first.
    for (auto move = moves_.rbegin(); move != moves_.rend(); ++move) {
        switch (move->Settle(stored, unsaved)) {
        case CFolderMove::Outcome::Done:
            break;
        case CFolderMove::Outcome::Stranded:
            stranded.push_back(&*move);
            break;
        case CFolderMove::Outcome::InUse:
            recovery.blocked = true;
            [[fallthrough]];
        case CFolderMove::Outcome::Left:
            AppendParagraph(recovery.problem, move->Problem());
            break;
        }
    }
    // While anything is in use the journal stays as it is, to be run again.
    if (recovery.blocked)
        return recovery;
    // One registry change: where a folder cannot go back, its stored record
    // follows its data (when it still names the old folder); and the journal goes.
    CRegistryTransaction registry;
    for (const CFolderMove* move : stranded) {
        std::string text = move->Problem();
        const auto named = stored.FolderOf(move->StoredName());
        if (!move->StoredName().empty() && named && WithoutTrailingSlash(*named) == move->From()) {
            const std::string folder = WithTrailingSlash(move->To());
            registry.SetText(HKEY_LOCAL_MACHINE, CVirtualServer::KeyPath(move->StoredName()), tq::kStorageFolderValue,
                             folder);
            stored.Follow(move->StoredName(), folder);
            text += Format(kFollowed, move->To().c_str());
        }
        AppendParagraph(recovery.problem, text);
    }
    if (IsStored())
        registry.DeleteTree(HKEY_LOCAL_MACHINE, kKey);
    if (!registry.Empty() && registry.Commit() != ERROR_SUCCESS) {
        AppendParagraph(recovery.problem, kNotRemoved);
        recovery.blocked = true;
    }
    for (const CFolderMove& move : moves_)
        AppendParagraph(recovery.problem, move.Leftovers(stored));
    moves_.clear(); // and with them the folders' locks
    return recovery;
}

CSaveJournal::Recovery CSaveJournal::Recover()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    const auto state = ReadRegistryString(key, kStateValue);
    const auto id = ReadRegistryString(key, kIdValue);
    const auto count = ReadRegistryString(key, kCountValue);
    CSaveJournal journal;
    journal.id_ = id.value_or("");
    std::vector<std::string> names;
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, index, name, &size) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, size);
    }
    RegCloseKey(key);

    // What is wrong with the journal as a whole; nothing is taken from its state then.
    std::string damage;
    if (!state || (*state != kMoving && *state != kFinishing))
        damage = state ? "its state \"" + *state + "\" is unknown" : "its state is missing";
    else if (!id || id->empty())
        damage = "its id is missing";
    else if (!count || (*count != "0" && Number(*count) == 0) || Number(*count) != names.size())
        damage = Format("it lists %zu entries where it noted %s", names.size(), count ? count->c_str() : "none");
    // In the order they were made.
    std::vector<std::pair<unsigned long, std::string>> entries;
    for (const std::string& entry : names)
        entries.emplace_back(Number(entry), entry);
    std::sort(entries.begin(), entries.end());
    std::string unread;
    for (const auto& [number, entry] : entries) {
        CFolderMove move = CFolderMove::Read(std::string(kKey) + "\\" + entry);
        if (number == 0 || !move.Whole()) {
            AppendParagraph(unread, Format(kEntryDamaged, entry.c_str(), move.From().c_str(), move.To().c_str()));
            continue;
        }
        journal.moves_.push_back(std::move(move));
    }
    Recovery recovery = journal.Settle(damage.empty() && unread.empty() && *state == kMoving);
    if (!damage.empty())
        AppendParagraph(recovery.problem, Format(kDamaged, damage.c_str()));
    AppendParagraph(recovery.problem, unread);
    if (recovery.blocked)
        recovery.problem = kBlocked + recovery.problem + kBlockedEnd;
    else if (!recovery.problem.empty())
        recovery.problem = kPutRight + recovery.problem;
    return recovery;
}
