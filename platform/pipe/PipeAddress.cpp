#include "platform/pipe/PipeAddress.h"

#include "platform/win/LastError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

CPipeAddress::CPipeAddress(const std::string& socketPath)
{
    address_.sun_family = AF_UNIX;
    std::string path = socketPath;
    if (path.size() >= sizeof address_.sun_path) {
        auto slash = path.rfind('/');
        std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
        folder_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder_ < 0) {
            error_ = Win32ErrorFromErrno(errno);
            return;
        }
        path = "/proc/self/fd/" + std::to_string(folder_) + "/" + path.substr(slash + 1);
        if (path.size() >= sizeof address_.sun_path) {
            error_ = ERROR_FILENAME_EXCED_RANGE;
            return;
        }
    }
    std::memcpy(address_.sun_path, path.c_str(), path.size() + 1);
}

CPipeAddress::~CPipeAddress()
{
    if (folder_ >= 0)
        ::close(folder_);
}
