#include "console/core/StorageFolder.h"

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

bool PathExists(const std::string& path)
{
    struct stat st{};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}
