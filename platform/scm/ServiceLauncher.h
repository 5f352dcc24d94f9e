#pragma once
// Runs a service's program as a detached process and waits until it has
// entered the control dispatcher.

#include "platform/win/WinTypes.h"

#include <string>
#include <vector>

namespace tq::scm {

// commandLine is the program path and its arguments; serviceArgs go to the
// service main routine. lockFd holds the service's run lock and is handed to
// the process. ERROR_SUCCESS once the dispatcher serves; otherwise the error,
// and no process of this start is left alive.
DWORD LaunchService(const std::string& name, const std::vector<std::string>& commandLine,
                    const std::vector<std::string>& serviceArgs, int lockFd);

} // namespace tq::scm
