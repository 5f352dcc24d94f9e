#include "platform/win/StateRoot.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

std::string StateRoot()
{
    const char* v = std::getenv("TQ_STATE_ROOT");
    if (v != nullptr && *v != '\0')
        return v;
    return "/var/lib/tqwl";
}

bool CreateFolders(const std::string& path)
{
    if (path.empty())
        return false;
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            std::string part = path.substr(0, pos);
            if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string StatePath(const std::string& relative)
{
    std::string full = StateRoot() + "/" + relative;
    auto slash = full.rfind('/');
    if (slash != std::string::npos && slash > 0)
        CreateFolders(full.substr(0, slash));
    return full;
}
