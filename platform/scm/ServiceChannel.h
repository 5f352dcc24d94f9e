#pragma once
// The byte-level talk between controller and service process: control
// requests and replies on the service's Unix-domain socket, and the messages
// of the start channel that StartServiceA reads while the program comes up.

#include "platform/scm/ServiceControl.h"

#include <cstdint>
#include <string>

namespace tq::scm {

inline constexpr std::uint32_t kControlMagic = 0x43435154; // "TQCC"

struct ControlRequest {
    std::uint32_t magic;
    std::uint32_t control;
};

struct ControlReply {
    std::uint32_t magic;
    std::uint32_t error; // Win32 error, 0 when the handler ran
    SERVICE_STATUS status;
};

// Start channel: the helper process reports the service process (with its
// pidfd attached), a failed launch step reports its errno, the dispatcher
// reports that it serves.
enum class LaunchTag : std::uint32_t { Process = 'P', Failed = 'E', Connected = 'C' };

struct LaunchMessage {
    LaunchTag tag;
    std::int32_t value;
};

enum class IoResult { Ok, Closed, TimedOut, Failed };

// Reads exactly size bytes, waiting at most until deadline (GetTickCount64 ms).
IoResult ReadExact(int fd, void* data, size_t size, unsigned long long deadline);
bool WriteExact(int fd, const void* data, size_t size);

// A listening stream socket at path (a stale socket file is replaced), or -1
// with errno. Paths longer than a socket address holds are reached through
// their folder.
int ListenAt(const std::string& path);

// A connected stream socket, or -1 with errno.
int ConnectTo(const std::string& path);

// Sends one launch message, with fdToPass (>= 0) attached. Safe between fork
// and exec.
bool SendLaunchMessage(int channel, LaunchTag tag, std::int32_t value, int fdToPass);

// Receives one launch message and any descriptor attached (*passedFd, -1 when
// none), waiting at most until deadline.
IoResult ReceiveLaunchMessage(int channel, LaunchMessage* message, int* passedFd, unsigned long long deadline);

} // namespace tq::scm
