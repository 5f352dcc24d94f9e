#include "console/core/FolderChange.h"

#include "console/core/StorageFolder.h"
#include "console/core/VirtualServer.h"
#include "platform/win/LastError.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The folder without its trailing "/", as the file calls want it.
std::string Bare(const std::string& folder)
{
    const size_t end = folder.find_last_not_of('/');
    return end == std::string::npos ? folder.substr(0, 1) : folder.substr(0, end + 1);
}

HRESULT FromErrorCode(const std::error_code& ec)
{
    const bool errnoBased = ec.category() == std::generic_category() || ec.category() == std::system_category();
    return HRESULT_FROM_WIN32(errnoBased ? Win32ErrorFromErrno(ec.value()) : ERROR_GEN_FAILURE);
}

// Copies a folder across file systems: into a name of its own beside the
// target first, so that the target appears only whole.
HRESULT CopyFolder(const std::string& from, const std::string& to)
{
    const std::string partial = to + ".partial-copy";
    std::error_code ec;
    fs::remove_all(partial, ec); // what an interrupted copy of ours left
    fs::copy(from, partial, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (!ec && std::rename(partial.c_str(), to.c_str()) != 0)
        ec.assign(errno, std::generic_category());
    if (ec) {
        std::error_code ignored;
        fs::remove_all(partial, ignored);
        return FromErrorCode(ec);
    }
    return S_OK;
}

} // namespace

HRESULT CFolderChange::Move(const std::string& from, const std::string& to)
{
    from_ = Bare(from);
    to_ = Bare(to);
    if (PathExists(to_))
        return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    if (std::rename(from_.c_str(), to_.c_str()) == 0) {
        kind_ = Kind::Renamed;
        return S_OK;
    }
    if (errno != EXDEV)
        return HRESULT_FROM_WIN32(Win32ErrorFromErrno(errno));
    const HRESULT hr = CopyFolder(from_, to_);
    if (SUCCEEDED(hr))
        kind_ = Kind::Copied;
    return hr;
}

HRESULT CFolderChange::Create(const std::string& folder, const std::string& settingsFolder)
{
    fs::path outermost = Bare(folder);
    while (outermost.has_parent_path() && outermost.parent_path() != outermost &&
           !PathExists(outermost.parent_path().string()))
        outermost = outermost.parent_path();
    std::error_code ec;
    fs::create_directories(Bare(folder), ec);
    if (ec || !PathExists(folder))
        return ec ? FromErrorCode(ec) : HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    kind_ = Kind::Created;
    to_ = outermost.string();
    // The administrative settings (the password among them) come from the
    // Default server's folder only; without one the folder starts without them.
    if (!settingsFolder.empty())
        fs::copy_file(JoinFolder(settingsFolder, CVirtualServer::kAdminSettingsFile),
                      JoinFolder(folder, CVirtualServer::kAdminSettingsFile), fs::copy_options::overwrite_existing,
                      ec);
    return S_OK;
}

void CFolderChange::Undo()
{
    std::error_code ec;
    switch (kind_) {
    case Kind::Renamed: std::rename(to_.c_str(), from_.c_str()); break;
    case Kind::Copied:
    case Kind::Created: fs::remove_all(to_, ec); break;
    case Kind::None: break;
    }
    kind_ = Kind::None;
}

void CFolderChange::Finish()
{
    if (kind_ == Kind::Copied) {
        std::error_code ec;
        fs::remove_all(from_, ec);
    }
    kind_ = Kind::None;
}
