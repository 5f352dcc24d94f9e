#include "console/core/SaveJournal.h"

#include "common/Names.h"
#include "console/core/RegistryValue.h"
#include "console/core/StorageFolder.h"
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
// Folders are being moved; the registry still holds the old list.
constexpr const char* kMoving = "moving";
// The registry holds the new list; what the moves left behind is to be removed.
constexpr const char* kFinishing = "finishing";

constexpr const char* kNotRemoved = "The record of an unfinished save cannot be removed from the registry.";
constexpr const char* kFollowed = " Its data stays in \"%s\", and the configuration now names that folder.";
constexpr const char* kNamedByNone =
    " Its data is in \"%s\", which no stored server names: move it to \"%s\" by hand while neither program runs, "
    "or point a server at it.";
constexpr const char* kBlocked = "A save that did not end cannot be put right yet:\n\n";
constexpr const char* kBlockedEnd =
    "\n\nNo configuration can be saved until it is; that is tried again whenever the configuration is opened or "
    "saved.";
constexpr const char* kPutRight = "A save that did not end was put right, but:\n\n";

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
    return moves_.empty() ? std::string() : Settle(true).problem;
}

std::string CSaveJournal::Undo()
{
    return moves_.empty() ? std::string() : Settle(false).problem;
}

CSaveJournal::Recovery CSaveJournal::Settle(bool finishing)
{
    Recovery recovery;
    std::vector<CFolderMove*> stranded;
    for (size_t n = 0; n < moves_.size(); ++n) {
        // Put back last first.
        CFolderMove& move = finishing ? moves_[n] : moves_[moves_.size() - 1 - n];
        switch (finishing ? move.Finish() : move.Undo()) {
        case CFolderMove::Outcome::Done:
            break;
        case CFolderMove::Outcome::Stranded:
            stranded.push_back(&move);
            break;
        case CFolderMove::Outcome::InUse:
            recovery.blocked = true;
            [[fallthrough]];
        case CFolderMove::Outcome::Left:
            AppendParagraph(recovery.problem, move.Problem());
            break;
        }
    }
    // While anything is in use the journal stays as it is, to be run again.
    if (recovery.blocked)
        return recovery;
    {
        // One registry change: where a folder cannot go back, its stored record
        // follows its data (when it still names the old folder); and the journal goes.
        CRegistryLock lock;
        CRegistryTransaction registry;
        for (const CFolderMove* move : stranded) {
            const std::string key = CVirtualServer::KeyPath(move->StoredName());
            const auto named = ReadRegistryString(HKEY_LOCAL_MACHINE, key.c_str(), tq::kStorageFolderValue);
            std::string text = move->Problem();
            if (!move->StoredName().empty() && named && WithoutTrailingSlash(*named) == move->From()) {
                registry.SetText(HKEY_LOCAL_MACHINE, key, tq::kStorageFolderValue, WithTrailingSlash(move->To()));
                text += Format(kFollowed, move->To().c_str());
            } else {
                text += Format(kNamedByNone, move->To().c_str(), move->From().c_str());
            }
            AppendParagraph(recovery.problem, text);
        }
        if (IsStored())
            registry.DeleteTree(HKEY_LOCAL_MACHINE, kKey);
        if (!registry.Empty() && registry.Commit() != ERROR_SUCCESS) {
            AppendParagraph(recovery.problem, kNotRemoved);
            recovery.blocked = true;
        }
    }
    moves_.clear(); // and with them the folders' locks
    return recovery;
}

CSaveJournal::Recovery CSaveJournal::Recover()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    const bool finishing = ReadRegistryString(key, kStateValue).value_or("") == kFinishing;
    CSaveJournal journal;
    journal.id_ = ReadRegistryString(key, kIdValue).value_or("");
    std::vector<unsigned long> entries;
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, index, name, &size) != ERROR_SUCCESS)
            break;
        entries.push_back(std::strtoul(name, nullptr, 10));
    }
    RegCloseKey(key);
    // In the order they were made.
    std::sort(entries.begin(), entries.end());
    for (unsigned long entry : entries)
        journal.moves_.push_back(CFolderMove::Read(std::string(kKey) + "\\" + std::to_string(entry)));
    Recovery recovery = journal.Settle(finishing);
    if (recovery.blocked)
        recovery.problem = kBlocked + recovery.problem + kBlockedEnd;
    else if (!recovery.problem.empty())
        recovery.problem = kPutRight + recovery.problem;
    return recovery;
}
