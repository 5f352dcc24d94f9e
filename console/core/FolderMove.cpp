#include "console/core/FolderMove.h"

#include "console/core/RegistryValue.h"
#include "console/core/ServiceCommands.h"
#include "console/core/StoredConfiguration.h"
#include "console/core/StorageFolder.h"
#include "console/core/TextFormat.h"
#include "console/core/VirtualServer.h"
#include "platform/file/File.h"
#include "platform/file/FolderTree.h"
#include "platform/registry/RegistryTransaction.h"
#include "platform/win/Guid.h"
#include "platform/win/LastError.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* kStoredNameValue = "Server";
constexpr const char* kNewNameValue = "NewName";
constexpr const char* kFromValue = "From";
constexpr const char* kFromIdValue = "FromId";
constexpr const char* kToValue = "To";
constexpr const char* kScratchValue = "Scratch";
constexpr const char* kScratchIdValue = "ScratchId";
constexpr const char* kBackValue = "Back";
constexpr const char* kBackIdValue = "BackId";
constexpr const char* kScratchPrefix = ".tqsave-";

constexpr const char* kInUse = "The folder \"%s\" is in use by a running server or by another console: %s";
constexpr const char* kCannotGoBack = "The folder of %s cannot go back to \"%s\": %s";
constexpr const char* kNewLeft = "The new folder \"%s\" of %s could not be removed: %s It holds a copy of the "
                                 "administrative password; remove it by hand.";
constexpr const char* kCopyLeft = "The copy \"%s\" of the folder of %s could not be removed: %s Remove it by hand; "
                                  "the server's data is in \"%s\".";
constexpr const char* kOldKept = "The old folder \"%s\" of %s could not be removed: %s It still holds a copy of the "
                                 "server's users and administrative password; remove it by hand.";
constexpr const char* kScratchLeft = "The unfinished copy \"%s\" could not be removed: %s Remove it by hand.";
constexpr const char* kNotOurs = "\"%s\" is not the folder the save noted there, so it was left as it is: check it by hand.";
constexpr const char* kMissing = "The stored record of \"%s\" names \"%s\", which is missing.";
constexpr const char* kLastSeen = " The save last saw that server's data in \"%s\".";
constexpr const char* kUnnamed = "\"%s\" holds data that no stored server names (the save moved it for %s): check "
                                 "it, and remove it by hand if nothing in it is needed.";

HRESULT LastErrorResult()
{
    return HRESULT_FROM_WIN32(GetLastError());
}

std::string SystemText(HRESULT hr)
{
    return CServiceCommands::ErrorText(hr);
}

// The identity of the name itself: a link is never taken for what it leads to.
std::optional<PathIdentity> OwnIdentity(const std::string& path)
{
    PathIdentity id;
    if (path.empty() || !GetOwnPathIdentity(path.c_str(), &id))
        return std::nullopt;
    return id;
}

std::string IdentityText(const std::optional<PathIdentity>& id)
{
    return id ? std::to_string(id->device) + ":" + std::to_string(id->inode) + ":" + std::to_string(id->birth)
              : std::string();
}

// An identity read back from the journal: false when the text is of no known
// form. One without a birth time (a file system that keeps none) could be a
// later folder's too, so it is read as none: nothing is taken as ours by it.
bool ParseIdentity(const std::string& text, std::optional<PathIdentity>& id)
{
    id.reset();
    if (text.empty())
        return true;
    unsigned long long device = 0, inode = 0, birth = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%llu:%llu:%llu%n", &device, &inode, &birth, &used) != 3 ||
        static_cast<size_t>(used) != text.size())
        return false;
    if (birth != 0)
        id = PathIdentity{device, inode, birth};
    return true;
}

// Whether a folder holds anything at all.
bool HoldsData(const std::string& path)
{
    std::error_code ec;
    return fs::is_directory(fs::symlink_status(path, ec)) && !fs::is_empty(path, ec) && !ec;
}

// A name of our own beside path that nothing has, so that whatever bears it
// later is ours.
HRESULT FreshScratch(const std::string& path, std::string& scratch)
{
    const std::string parent = ParentFolder(path);
    do {
        GUID guid{};
        if (UuidCreate(&guid) != RPC_S_OK)
            return E_FAIL;
        scratch = (parent.empty() ? "" : parent == "/" ? "/" : parent + "/") + kScratchPrefix + UuidToString(guid);
    } while (NameTaken(scratch));
    return S_OK;
}

void MakeParents(const std::string& path)
{
    std::error_code ignored;
    if (const std::string parent = ParentFolder(path); !parent.empty())
        fs::create_directories(parent, ignored);
}

// A new folder, taken at once; private until what is built in it is complete.
HRESULT MakeLockedFolder(const std::string& path, CFolderLock& lock, std::optional<PathIdentity>& id)
{
    MakeParents(path);
    if (::mkdir(path.c_str(), 0700) != 0)
        return HRESULT_FROM_WIN32(Win32ErrorFromErrno(errno));
    if (!lock.TryLock(path.c_str(), CFolderLock::Mode::Exclusive))
        return LastErrorResult();
    id = lock.Identity();
    return S_OK;
}

// One file to a new name, synced, with its permission bits.
bool CopyOneFile(const std::string& from, const std::string& to)
{
    CFile in, out;
    FileInfo info;
    if (!in.OpenRegular(from.c_str(), false) || !in.GetInfo(&info) || !out.Create(to.c_str(), info.permissions))
        return false;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        size_t done = 0;
        if (!in.Read(buffer.data(), buffer.size(), &done))
            return false;
        if (done == 0)
            break;
        if (!out.Write(buffer.data(), done))
            return false;
    }
    return out.Flush() && out.Close();
}

} // namespace

CFolderMove::CFolderMove(std::string storedName, std::string newName, std::string from, std::string to)
    : storedName_(std::move(storedName)), newName_(std::move(newName)),
      from_(from.empty() ? from : WithoutTrailingSlash(from)), to_(WithoutTrailingSlash(to))
{
}

std::string CFolderMove::Named(bool stored) const
{
    if (stored && storedName_.empty())
        return "the new server \"" + newName_ + "\"";
    return "\"" + (stored ? storedName_ : newName_) + "\"";
}

CFolderMove::Outcome CFolderMove::Say(Outcome outcome, const std::string& problem)
{
    problem_ += (problem_.empty() ? "" : "\n") + problem;
    return outcome;
}

CFolderMove::Outcome CFolderMove::InUse(const std::string& path)
{
    return Say(Outcome::InUse,
               Format(kInUse, path.c_str(), SystemText(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)).c_str()));
}

CFolderMove::Taken CFolderMove::Take(const std::string& path, const std::optional<PathIdentity>& id,
                                     CFolderLock& lock)
{
    if (!id || OwnIdentity(path) != id)
        return Taken::NotOurs;
    if (lock.Held() && lock.Identity() == *id)
        return Taken::Ours;
    if (!lock.TryLock(path.c_str(), CFolderLock::Mode::Exclusive))
        return GetLastError() == ERROR_SHARING_VIOLATION ? Taken::InUse : Taken::NotOurs;
    if (lock.Identity() == *id)
        return Taken::Ours;
    lock.Unlock();
    return Taken::NotOurs;
}

HRESULT CFolderMove::Plan()
{
    if (!from_.empty()) {
        if (!fromLock_.TryLock(from_.c_str(), CFolderLock::Mode::Exclusive))
            return LastErrorResult();
        fromId_ = fromLock_.Identity();
        if (OwnIdentity(from_) != fromId_)
            return HRESULT_FROM_WIN32(ERROR_DIRECTORY); // a link: only a folder itself moves
    }
    return FreshScratch(to_, scratch_);
}

HRESULT CFolderMove::MakeScratch()
{
    return MakeLockedFolder(scratch_, scratchLock_, scratchId_);
}

HRESULT CFolderMove::Apply(const std::string& settingsFolder)
{
    if (from_.empty()) {
        // The administrative settings (the password among them) come from the
        // Default server's folder only; without one the folder starts without them.
        const std::string settings = JoinFolder(settingsFolder, CVirtualServer::kAdminSettingsFile);
        if (!settingsFolder.empty() && PathExists(settings) &&
            !CopyOneFile(settings, JoinFolder(scratch_, CVirtualServer::kAdminSettingsFile)))
            return LastErrorResult();
        // Complete: it opens as far as the Default server's folder does.
        struct stat model{};
        const mode_t mode = ::stat(settingsFolder.c_str(), &model) == 0 ? (model.st_mode & 07777) : 0755;
        if (::chmod(scratch_.c_str(), mode) != 0 || !MovePath(scratch_.c_str(), to_.c_str()))
            return LastErrorResult();
    } else if (MovePath(from_.c_str(), to_.c_str())) {
        FlushFolder(ParentFolder(from_).c_str());
    } else {
        if (GetLastError() != ERROR_NOT_SAME_DEVICE)
            return LastErrorResult();
        if (!CopyFolderTree(from_.c_str(), scratch_.c_str()) || !MovePath(scratch_.c_str(), to_.c_str()))
            return LastErrorResult();
    }
    FlushFolder(ParentFolder(to_).c_str());
    return S_OK;
}

void CFolderMove::NotOurs(const std::string& path)
{
    if (HoldsData(path))
        Say(Outcome::Left, Format(kNotOurs, path.c_str()));
}

bool CFolderMove::ClearScratch(const CStoredConfiguration& stored, const std::string& path,
                               const std::optional<PathIdentity>& id, CFolderLock& lock)
{
    if (path.empty() || stored.Protects(path))
        return true;
    if (!id) {
        ::rmdir(path.c_str()); // made, perhaps, but never noted: only an empty one may go
        return true;
    }
    const Taken taken = Take(path, id, lock);
    if (taken == Taken::InUse)
        return false;
    if (taken == Taken::Ours && !RemoveFolderTree(path.c_str()))
        Say(Outcome::Left, Format(kScratchLeft, path.c_str(), SystemText(LastErrorResult()).c_str()));
    return true;
}

bool CFolderMove::ClearScratches(const CStoredConfiguration& stored)
{
    // What a killed copy left half made goes first.
    if (!ClearScratch(stored, scratch_, scratchId_, scratchLock_)) {
        InUse(scratch_);
        return false;
    }
    if (!ClearScratch(stored, back_, backId_, backLock_)) {
        InUse(back_);
        return false;
    }
    return true;
}

HRESULT CFolderMove::CopyBack()
{
    if (HRESULT hr = FreshScratch(from_, back_); FAILED(hr))
        return hr;
    backId_.reset();
    // Noted before it is made, and its identity once it is, as the scratch folder is.
    if (!Note(kBackValue, back_) || !Note(kBackIdValue, ""))
        return LastErrorResult();
    if (HRESULT hr = MakeLockedFolder(back_, backLock_, backId_); FAILED(hr))
        return hr;
    if (!Note(kBackIdValue, IdentityText(backId_)))
        return LastErrorResult();
    if (!CopyFolderTree(to_.c_str(), back_.c_str()) || !MovePath(back_.c_str(), from_.c_str())) {
        const HRESULT hr = LastErrorResult();
        RemoveFolderTree(back_.c_str());
        return hr;
    }
    FlushFolder(ParentFolder(from_).c_str());
    return S_OK;
}

CFolderMove::Outcome CFolderMove::Settle(const CStoredConfiguration& stored, bool unsaved)
{
    problem_.clear();
    const bool old = !from_.empty() && stored.Names(from_);
    const bool now = stored.Names(to_);
    if (old && !now)
        return Undo(stored);
    if (now && !old)
        return Finish(stored);
    if (from_.empty() && !now && unsaved)
        return Undo(stored);
    if (!ClearScratches(stored))
        return Outcome::InUse;
    return problem_.empty() ? Outcome::Done : Outcome::Left;
}

CFolderMove::Outcome CFolderMove::Undo(const CStoredConfiguration& stored)
{
    if (!ClearScratches(stored))
        return Outcome::InUse;
    const Outcome cleared = problem_.empty() ? Outcome::Done : Outcome::Left;
    const auto stranded = [this](HRESULT hr) {
        return Say(Outcome::Stranded, Format(kCannotGoBack, Named(true).c_str(), from_.c_str(), SystemText(hr).c_str()));
    };
    if (stored.Protects(to_))
        return cleared;

    switch (Take(to_, fromId_, fromLock_)) {
    case Taken::InUse:
        return InUse(to_);
    case Taken::Ours:
        // The original was renamed into place.
        if (!MovePath(to_.c_str(), from_.c_str()))
            return stranded(LastErrorResult());
        FlushFolder(ParentFolder(from_).c_str());
        FlushFolder(ParentFolder(to_).c_str());
        return cleared;
    case Taken::NotOurs:
        break;
    }
    switch (Take(to_, scratchId_, scratchLock_)) {
    case Taken::InUse:
        return InUse(to_);
    case Taken::NotOurs:
        NotOurs(to_);
        return problem_.empty() ? Outcome::Done : Outcome::Left;
    case Taken::Ours:
        break;
    }
    // Our copy, or the new folder, is in place. The original is left as it
    // is (a server may serve it again already); only when it is gone is the
    // copy all there is of the server's data, and it goes back whole first.
    const auto original = OwnIdentity(from_);
    if (!from_.empty() && !(original && (original == fromId_ || original == backId_))) {
        if (original)
            return stranded(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
        if (HRESULT hr = CopyBack(); FAILED(hr))
            return stranded(hr);
    }
    if (!RemoveFolderTree(to_.c_str())) {
        const std::string why = SystemText(LastErrorResult());
        if (from_.empty())
            return Say(Outcome::Left, Format(kNewLeft, to_.c_str(), Named(true).c_str(), why.c_str()));
        return Say(Outcome::Left, Format(kCopyLeft, to_.c_str(), Named(true).c_str(), why.c_str(), from_.c_str()));
    }
    FlushFolder(ParentFolder(to_).c_str());
    return cleared;
}

CFolderMove::Outcome CFolderMove::Finish(const CStoredConfiguration& stored)
{
    // Only the original of a copy goes, only while the complete copy is in
    // place where the stored list names it, and never while a record names it.
    if (!from_.empty() && scratchId_ && !stored.Protects(from_)) {
        if (OwnIdentity(to_) != scratchId_) {
            if (OwnIdentity(to_) != fromId_)
                NotOurs(to_);
        } else {
            switch (Take(from_, fromId_, fromLock_)) {
            case Taken::InUse:
                return InUse(from_);
            case Taken::Ours:
                if (RemoveFolderTree(from_.c_str()))
                    FlushFolder(ParentFolder(from_).c_str());
                else
                    Say(Outcome::Left, Format(kOldKept, from_.c_str(), Named(false).c_str(),
                                              SystemText(LastErrorResult()).c_str()));
                break;
            case Taken::NotOurs:
                NotOurs(from_);
                break;
            }
        }
    }
    if (!ClearScratches(stored))
        return Outcome::InUse;
    return problem_.empty() ? Outcome::Done : Outcome::Left;
}

std::string CFolderMove::Leftovers(const CStoredConfiguration& stored) const
{
    std::string text;
    // Where the data of this server was last seen: the target, else the original.
    std::string seen;
    for (const std::string& folder : {to_, from_, back_})
        if (!folder.empty() && HoldsData(folder)) {
            seen = folder;
            break;
        }
    std::vector<std::string> servers{newName_};
    if (storedName_ != newName_)
        servers.push_back(storedName_);
    for (const std::string& server : servers) {
        const auto named = stored.FolderOf(server);
        if (!named || PathExists(*named))
            continue;
        const std::string folder = WithoutTrailingSlash(*named);
        if (folder != from_ && folder != to_)
            continue;
        std::string line = Format(kMissing, server.c_str(), named->c_str());
        if (!seen.empty() && !SameFolder(seen, folder))
            line += Format(kLastSeen, seen.c_str());
        AppendParagraph(text, line);
    }
    // A folder the settling named already is not named twice.
    for (const std::string& folder : {from_, to_})
        if (!folder.empty() && HoldsData(folder) && !stored.Protects(folder) &&
            problem_.find("\"" + folder + "\"") == std::string::npos)
            AppendParagraph(text, Format(kUnnamed, folder.c_str(), Named(false).c_str()));
    return text;
}

bool CFolderMove::Note(const char* name, const std::string& text) const
{
    if (keyPath_.empty())
        return true;
    CRegistryTransaction journal;
    journal.SetText(HKEY_LOCAL_MACHINE, keyPath_, name, text);
    const LONG rc = journal.Commit();
    SetLastError(static_cast<DWORD>(rc));
    return rc == ERROR_SUCCESS;
}

void CFolderMove::Write(CRegistryTransaction& journal, const std::string& keyPath)
{
    keyPath_ = keyPath;
    journal.CreateKey(HKEY_LOCAL_MACHINE, keyPath);
    const auto set = [&](const char* name, const std::string& text) {
        journal.SetText(HKEY_LOCAL_MACHINE, keyPath, name, text);
    };
    set(kStoredNameValue, storedName_);
    set(kNewNameValue, newName_);
    set(kFromValue, from_);
    set(kFromIdValue, IdentityText(fromId_));
    set(kToValue, to_);
    set(kScratchValue, scratch_);
    // Noted later; there from the start, so that a missing one is damage.
    set(kScratchIdValue, "");
    set(kBackValue, "");
    set(kBackIdValue, "");
}

void CFolderMove::WriteScratchIdentity(CRegistryTransaction& journal) const
{
    journal.SetText(HKEY_LOCAL_MACHINE, keyPath_, kScratchIdValue, IdentityText(scratchId_));
}

CFolderMove CFolderMove::Read(const std::string& keyPath)
{
    bool whole = true;
    const auto text = [&keyPath, &whole](const char* name) {
        auto value = ReadRegistryString(HKEY_LOCAL_MACHINE, keyPath.c_str(), name);
        whole = whole && value.has_value();
        return value.value_or("");
    };
    // Only a folder of our own naming is ever removed as a scratch folder.
    const auto scratchName = [&whole](const std::string& path) {
        const std::string leaf = path.substr(path.find_last_of('/') + 1);
        if (leaf.rfind(kScratchPrefix, 0) == 0)
            return path;
        whole = whole && path.empty();
        return std::string();
    };
    const auto identity = [&whole](const std::string& value, std::optional<PathIdentity>& id) {
        whole = ParseIdentity(value, id) && whole;
    };
    CFolderMove move(text(kStoredNameValue), text(kNewNameValue), text(kFromValue), text(kToValue));
    move.keyPath_ = keyPath;
    identity(text(kFromIdValue), move.fromId_);
    move.scratch_ = scratchName(text(kScratchValue));
    identity(text(kScratchIdValue), move.scratchId_);
    move.back_ = scratchName(text(kBackValue));
    identity(text(kBackIdValue), move.backId_);
    // Every move has a target and a scratch folder, and an original exactly when it has a name.
    whole = whole && !move.to_.empty() && !move.scratch_.empty() && !move.newName_.empty() &&
            move.from_.empty() == move.storedName_.empty();
    if (move.scratch_.empty())
        move.scratchId_.reset();
    if (move.back_.empty())
        move.backId_.reset();
    move.whole_ = whole;
    return move;
}
