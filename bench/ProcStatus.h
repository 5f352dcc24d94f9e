#pragma once
// What /proc/<pid>/status says of a process's memory and threads.

#include <string>
#include <sys/types.h>

namespace tqbench {

struct ProcStatus {
    long vmRssKb = -1;  // resident now
    long vmHwmKb = -1;  // highest resident so far
    long threads = -1;

    // Fields not found stay -1; false when none was found.
    static bool Parse(const std::string& text, ProcStatus* status);
    static bool Read(pid_t pid, ProcStatus* status);
};

} // namespace tqbench
