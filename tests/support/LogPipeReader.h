#pragma once
// Serves a log pipe on a thread of its own, as the console does, and keeps
// every message it receives.

#include "platform/pipe/NamedPipeServer.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tqtest {

class LogPipeReader {
public:
    explicit LogPipeReader(const std::string& pipeName, DWORD instances = 4);
    ~LogPipeReader();

    // Waits until at least count messages arrived (or timeoutMs passed) and
    // gives every message so far, each as received, NUL included.
    std::vector<std::string> WaitFor(size_t count, DWORD timeoutMs = 5000);
    // The message split at '|' (its trailing NUL dropped).
    static std::vector<std::string> Fields(const std::string& message);

private:
    void Serve();

    CNamedPipeServer server_;
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<std::string> messages_;
};

} // namespace tqtest
