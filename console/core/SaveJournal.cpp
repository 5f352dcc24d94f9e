#include "console/core/SaveJournal.h"

#include "console/core/RegistryValue.h"
#include "platform/registry/RegistryTransaction.h"

#include <utility>

namespace {

constexpr const char* kStateValue = "State";
// Folders are being moved; the registry still holds the old list.
constexpr const char* kMoving = "moving";
// The registry holds the new list; originals of copies remain to be removed.
constexpr const char* kFinishing = "finishing";
constexpr const char* kNotRemoved = "The record of an unfinished save cannot be removed from the registry.";

} // namespace

CSaveJournal::CSaveJournal(std::vector<CFolderMove> moves) : moves_(std::move(moves)) {}

std::string CSaveJournal::EntryKey(size_t index)
{
    return std::string(kKey) + "\\" + std::to_string(index + 1);
}

LONG CSaveJournal::Remove()
{
    CRegistryTransaction registry;
    registry.DeleteTree(HKEY_LOCAL_MACHINE, kKey);
    return registry.Commit();
}

HRESULT CSaveJournal::Begin()
{
    CRegistryTransaction journal;
    journal.DeleteTree(HKEY_LOCAL_MACHINE, kKey);
    journal.CreateKey(HKEY_LOCAL_MACHINE, kKey);
    journal.SetText(HKEY_LOCAL_MACHINE, kKey, kStateValue, kMoving);
    for (size_t i = 0; i < moves_.size(); ++i) {
        if (HRESULT hr = moves_[i].Plan(); FAILED(hr))
            return hr;
        moves_[i].Write(journal, EntryKey(i));
    }
    const LONG rc = journal.Commit();
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

HRESULT CSaveJournal::Apply(const std::string& settingsFolder, std::string& server)
{
    CRegistryTransaction scratch;
    for (size_t i = 0; i < moves_.size(); ++i) {
        server = moves_[i].Server();
        if (HRESULT hr = moves_[i].MakeScratch(); FAILED(hr))
            return hr;
        moves_[i].WriteScratchIdentity(scratch, EntryKey(i));
    }
    // Until the journal knows them, nothing may be built in them.
    if (LONG rc = scratch.Commit(); rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
    for (CFolderMove& move : moves_) {
        server = move.Server();
        if (HRESULT hr = move.Apply(settingsFolder); FAILED(hr))
            return hr;
    }
    server.clear();
    return S_OK;
}

void CSaveJournal::Commit(CRegistryTransaction& registry) const
{
    if (moves_.empty())
        return;
    bool copied = false;
    for (const CFolderMove& move : moves_)
        copied |= move.Copied();
    if (copied)
        registry.SetText(HKEY_LOCAL_MACHINE, kKey, kStateValue, kFinishing);
    else
        registry.DeleteTree(HKEY_LOCAL_MACHINE, kKey);
}

void CSaveJournal::Finish()
{
    bool copied = false;
    for (const CFolderMove& move : moves_) {
        copied |= move.Copied();
        move.Finish();
    }
    // Otherwise the list's own change removed the journal.
    if (copied)
        Remove();
    moves_.clear();
}

std::string CSaveJournal::UndoMoves() const
{
    std::string problems;
    for (auto it = moves_.rbegin(); it != moves_.rend(); ++it)
        if (std::string problem = it->Undo(); !problem.empty())
            problems += (problems.empty() ? "" : "\n") + problem;
    return problems;
}

std::string CSaveJournal::Undo()
{
    std::string problem = UndoMoves();
    if (problem.empty())
        Remove();
    moves_.clear();
    return problem;
}

std::string CSaveJournal::Recover()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    const bool finishing = ReadRegistryString(key, kStateValue).value_or("") == kFinishing;
    std::vector<std::string> entries;
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, index, name, &size) != ERROR_SUCCESS)
            break;
        entries.emplace_back(name, size);
    }
    RegCloseKey(key);
    CSaveJournal journal;
    for (const std::string& entry : entries)
        journal.moves_.push_back(CFolderMove::Read(std::string(kKey) + "\\" + entry));
    if (finishing) {
        for (const CFolderMove& move : journal.moves_)
            move.Finish();
        if (Remove() != ERROR_SUCCESS)
            return kNotRemoved;
        return "";
    }
    std::string problem = journal.UndoMoves();
    if (!problem.empty())
        return "A save that did not end left folders that cannot be put back:\n" + problem;
    if (Remove() != ERROR_SUCCESS)
        return kNotRemoved;
    return "";
}
