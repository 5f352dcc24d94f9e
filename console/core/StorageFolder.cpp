#include "console/core/StorageFolder.h"

#include "platform/file/FileSystem.h"

#include <filesystem>
#include <sys/stat.h>

std::string JoinFolder(const std::string& folder, const std::string& name)
{
    size_t start = name.find_first_not_of('/');
    std::string tail = start == std::string::npos ? std::string() : name.substr(start);
    if (folder.empty())
        return tail;
    size_t end = folder.find_last_not_of('/');
    // A folder of slashes only is the root.
    std::string head = end == std::string::npos ? std::string() : folder.substr(0, end + 1);
    return head + "/" + tail;
}

std::string WithTrailingSlash(const std::string& folder)
{
    if (folder.empty() || folder.back() == '/')
        return folder;
    return folder + "/";
}

std::string WithoutTrailingSlash(const std::string& folder)
{
    const size_t end = folder.find_last_not_of('/');
    return end == std::string::npos ? folder.substr(0, 1) : folder.substr(0, end + 1);
}

std::string ParentFolder(const std::string& path)
{
    const std::string bare = WithoutTrailingSlash(path);
    const size_t slash = bare.find_last_of('/');
    if (slash == std::string::npos)
        return "";
    return slash == 0 ? "/" : bare.substr(0, slash);
}

bool PathExists(const std::string& path)
{
    struct stat st{};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool NameTaken(const std::string& path)
{
    struct stat st{};
    return !path.empty() && ::lstat(WithoutTrailingSlash(path).c_str(), &st) == 0;
}

bool SameFolder(const std::string& a, const std::string& b)
{
    if (a.empty() || b.empty())
        return false;
    PathIdentity ia, ib;
    const bool hasA = GetPathIdentity(a.c_str(), &ia);
    const bool hasB = GetPathIdentity(b.c_str(), &ib);
    if (hasA || hasB)
        return hasA && hasB && ia == ib;
    std::error_code ecA, ecB;
    const auto ca = std::filesystem::weakly_canonical(WithoutTrailingSlash(a), ecA);
    const auto cb = std::filesystem::weakly_canonical(WithoutTrailingSlash(b), ecB);
    if (ecA || ecB)
        return WithTrailingSlash(a) == WithTrailingSlash(b);
    return ca == cb;
}

bool FolderInside(const std::string& inner, const std::string& outer)
{
    if (inner.empty() || outer.empty())
        return false;
    namespace fs = std::filesystem;
    const auto resolved = [](const std::string& path) {
        std::error_code ec;
        fs::path full = fs::absolute(WithoutTrailingSlash(path), ec);
        return ec ? fs::path() : fs::weakly_canonical(full, ec);
    };
    const fs::path in = resolved(inner);
    const fs::path out = resolved(outer);
    PathIdentity outerId;
    const bool outerExists = GetPathIdentity(outer.c_str(), &outerId);
    for (fs::path p = in.parent_path(); !p.empty(); p = p.parent_path()) {
        PathIdentity id;
        if (outerExists ? GetPathIdentity(p.c_str(), &id) && id == outerId : p == out)
            return true;
        if (p == p.root_path())
            break;
    }
    return false;
}

bool IsLink(const std::string& path)
{
    struct stat st{};
    return !path.empty() && ::lstat(WithoutTrailingSlash(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}
