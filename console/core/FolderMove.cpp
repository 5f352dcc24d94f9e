#include "console/core/FolderMove.h"

#include "console/core/RegistryValue.h"
#include "console/core/StorageFolder.h"
#include "console/core/ServiceCommands.h"
#include "console/core/VirtualServer.h"
#include "platform/registry/RegistryTransaction.h"
#include "platform/win/Guid.h"
#include "platform/win/LastError.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* kServerValue = "Server";
constexpr const char* kFromValue = "From";
constexpr const char* kFromIdValue = "FromId";
constexpr const char* kToValue = "To";
constexpr const char* kScratchValue = "Scratch";
constexpr const char* kScratchIdValue = "ScratchId";
constexpr const char* kScratchPrefix = ".tqsave-";

HRESULT FromErrno(int error)
{
    return HRESULT_FROM_WIN32(Win32ErrorFromErrno(error));
}

HRESULT LastErrorResult()
{
    return HRESULT_FROM_WIN32(GetLastError());
}

std::optional<PathIdentity> IdentityOf(const std::string& path)
{
    PathIdentity id;
    if (path.empty() || !GetPathIdentity(path.c_str(), &id))
        return std::nullopt;
    return id;
}

std::string IdentityText(const std::optional<PathIdentity>& id)
{
    return id ? std::to_string(id->device) + ":" + std::to_string(id->inode) : std::string();
}

std::optional<PathIdentity> ParseIdentity(const std::string& text)
{
    PathIdentity id;
    unsigned long long device = 0, inode = 0;
    if (std::sscanf(text.c_str(), "%llu:%llu", &device, &inode) != 2)
        return std::nullopt;
    id.device = device;
    id.inode = inode;
    return id;
}

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Copies one file to a new name and syncs it: 0, or the errno of the failure.
int CopyFile(const std::string& from, const std::string& to, mode_t mode)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 07777);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    int error = 0;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || !WriteAll(out, buffer.data(), static_cast<size_t>(n))) {
            error = n == 0 ? 0 : errno;
            break;
        }
    }
    if (error == 0 && ::fsync(out) != 0)
        error = errno;
    if (::close(out) != 0 && error == 0)
        error = errno;
    ::close(in);
    return error;
}

// Copies what the folder from holds into the existing folder into, and syncs
// it: 0, or the errno of the first failure. Only files, folders and links are
// a storage folder's business.
int CopyTree(const std::string& from, const std::string& into)
{
    DIR* dir = ::opendir(from.c_str());
    if (dir == nullptr)
        return errno;
    int error = 0;
    while (error == 0) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            error = errno;
            break;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string source = from + "/" + name;
        const std::string target = into + "/" + name;
        struct stat st{};
        if (::lstat(source.c_str(), &st) != 0) {
            error = errno;
        } else if (S_ISDIR(st.st_mode)) {
            if (::mkdir(target.c_str(), st.st_mode & 07777) != 0)
                error = errno;
            else
                error = CopyTree(source, target);
        } else if (S_ISREG(st.st_mode)) {
            error = CopyFile(source, target, st.st_mode);
        } else if (S_ISLNK(st.st_mode)) {
            std::vector<char> link(static_cast<size_t>(st.st_size) + 1);
            const ssize_t n = ::readlink(source.c_str(), link.data(), link.size());
            if (n < 0)
                error = errno;
            else if (::symlink(std::string(link.data(), static_cast<size_t>(n)).c_str(), target.c_str()) != 0)
                error = errno;
        }
    }
    ::closedir(dir);
    if (error == 0 && !FlushFolder(into.c_str()))
        error = EIO;
    return error;
}

} // namespace

CFolderMove::CFolderMove(std::string server, std::string from, std::string to)
    : server_(std::move(server)), from_(from.empty() ? from : WithoutTrailingSlash(from)),
      to_(WithoutTrailingSlash(to))
{
}

HRESULT CFolderMove::Plan()
{
    if (!from_.empty()) {
        fromId_ = IdentityOf(from_);
        if (!fromId_)
            return LastErrorResult();
    }
    // A name of our own that nothing has, so that whatever bears it later is ours.
    const std::string parent = ParentFolder(to_);
    do {
        GUID guid{};
        if (UuidCreate(&guid) != RPC_S_OK)
            return E_FAIL;
        scratch_ = (parent.empty() ? "" : parent == "/" ? "/" : parent + "/") + kScratchPrefix + UuidToString(guid);
    } while (NameTaken(scratch_));
    return S_OK;
}

HRESULT CFolderMove::MakeScratch()
{
    const std::string parent = ParentFolder(to_);
    std::error_code ec;
    if (!parent.empty())
        fs::create_directories(parent, ec);
    if (::mkdir(scratch_.c_str(), 0755) != 0)
        return FromErrno(errno);
    scratchId_ = IdentityOf(scratch_);
    return scratchId_ ? S_OK : LastErrorResult();
}

HRESULT CFolderMove::Apply(const std::string& settingsFolder)
{
    if (from_.empty()) {
        // The administrative settings (the password among them) come from the
        // Default server's folder only; without one the folder starts without them.
        const std::string settings = JoinFolder(settingsFolder, CVirtualServer::kAdminSettingsFile);
        struct stat st{};
        if (!settingsFolder.empty() && ::stat(settings.c_str(), &st) == 0)
            if (int error = CopyFile(settings, JoinFolder(scratch_, CVirtualServer::kAdminSettingsFile), st.st_mode))
                return FromErrno(error);
        if (!MovePath(scratch_.c_str(), to_.c_str()))
            return LastErrorResult();
    } else if (MovePath(from_.c_str(), to_.c_str())) {
        ::rmdir(scratch_.c_str());
        FlushFolder(ParentFolder(from_).c_str());
    } else {
        if (GetLastError() != ERROR_NOT_SAME_DEVICE)
            return LastErrorResult();
        if (int error = CopyTree(from_, scratch_))
            return FromErrno(error);
        if (!MovePath(scratch_.c_str(), to_.c_str()))
            return LastErrorResult();
        copied_ = true;
    }
    FlushFolder(ParentFolder(to_).c_str());
    return S_OK;
}

std::string CFolderMove::Undo() const
{
    const auto toId = IdentityOf(to_);
    const auto failed = [this](const std::string& what) {
        return what + " of \"" + server_ + "\" cannot be moved back to \"" + from_ + "\": " +
               CServiceCommands::ErrorText(HRESULT_FROM_WIN32(GetLastError()));
    };
    if (fromId_ && toId == fromId_) {
        // The original was renamed into place.
        if (NameTaken(from_)) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return failed("The folder \"" + to_ + "\"");
        }
        if (!MovePath(to_.c_str(), from_.c_str()))
            return failed("The folder \"" + to_ + "\"");
    } else if (scratchId_ && toId == scratchId_) {
        // Our copy, or the new folder, is in place.
        std::error_code ec;
        if (from_.empty() || IdentityOf(from_) == fromId_)
            fs::remove_all(to_, ec);
        else if (!MovePath(to_.c_str(), from_.c_str())) // the copy is all there is of it
            return failed("The copy \"" + to_ + "\"");
    }
    if (scratchId_ && IdentityOf(scratch_) == scratchId_) {
        std::error_code ec;
        fs::remove_all(scratch_, ec);
    } else if (!scratchId_) {
        ::rmdir(scratch_.c_str()); // made, perhaps, but never used: empty
    }
    return "";
}

void CFolderMove::Finish() const
{
    std::error_code ec;
    if (fromId_ && IdentityOf(from_) == fromId_ && IdentityOf(to_) != fromId_)
        fs::remove_all(from_, ec);
    if (scratchId_ && IdentityOf(scratch_) == scratchId_)
        fs::remove_all(scratch_, ec);
}

void CFolderMove::Write(CRegistryTransaction& journal, const std::string& keyPath) const
{
    journal.CreateKey(HKEY_LOCAL_MACHINE, keyPath);
    journal.SetText(HKEY_LOCAL_MACHINE, keyPath, kServerValue, server_);
    journal.SetText(HKEY_LOCAL_MACHINE, keyPath, kFromValue, from_);
    journal.SetText(HKEY_LOCAL_MACHINE, keyPath, kFromIdValue, IdentityText(fromId_));
    journal.SetText(HKEY_LOCAL_MACHINE, keyPath, kToValue, to_);
    journal.SetText(HKEY_LOCAL_MACHINE, keyPath, kScratchValue, scratch_);
}

void CFolderMove::WriteScratchIdentity(CRegistryTransaction& journal, const std::string& keyPath) const
{
    journal.SetText(HKEY_LOCAL_MACHINE, keyPath, kScratchIdValue, IdentityText(scratchId_));
}

CFolderMove CFolderMove::Read(const std::string& keyPath)
{
    const auto text = [&keyPath](const char* name) {
        return ReadRegistryString(HKEY_LOCAL_MACHINE, keyPath.c_str(), name).value_or("");
    };
    CFolderMove move;
    move.server_ = text(kServerValue);
    move.from_ = text(kFromValue);
    move.fromId_ = ParseIdentity(text(kFromIdValue));
    move.to_ = text(kToValue);
    move.scratch_ = text(kScratchValue);
    move.scratchId_ = ParseIdentity(text(kScratchIdValue));
    // Only a folder of our own naming is ever removed as a scratch folder.
    const std::string leaf = move.scratch_.substr(move.scratch_.find_last_of('/') + 1);
    if (leaf.rfind(kScratchPrefix, 0) != 0) {
        move.scratch_.clear();
        move.scratchId_.reset();
    }
    return move;
}
