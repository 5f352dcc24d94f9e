#pragma once
// The socket address of a pipe's socket path. A path longer than a socket
// address can hold is reached through the folder, opened for the life of this
// object, as /proc/self/fd/<n>/<name>.

#include "platform/win/WinTypes.h"

#include <string>
#include <sys/socket.h>
#include <sys/un.h>

class CPipeAddress {
public:
    explicit CPipeAddress(const std::string& socketPath);
    ~CPipeAddress();
    CPipeAddress(const CPipeAddress&) = delete;
    CPipeAddress& operator=(const CPipeAddress&) = delete;

    // ERROR_SUCCESS, or why there is no address (the folder is missing, or
    // even the short form is too long).
    DWORD Error() const { return error_; }
    const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&address_); }
    socklen_t Size() const { return sizeof address_; }

private:
    sockaddr_un address_{};
    int folder_ = -1;
    DWORD error_ = ERROR_SUCCESS;
};
