#pragma once
// Both ends of a log pipe as the two programs use them: the writer that opens
// the pipe for each record, and a server thread that collects what arrives.

#include "platform/pipe/NamedPipeServer.h"
#include "tests/support/TestSupport.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace pipetest {

constexpr const char* kPipe = "\\\\.\\pipe\\TQC.Log.34347";

// Writes one record with its NUL the way the server's log writer does: open;
// when busy wait up to waitMs and open once more; otherwise drop the record.
// ERROR_SUCCESS, or the error that made it drop the record.
DWORD WriteRecord(const std::string& pipe, const std::string& record, DWORD waitMs = 1000);

// Serves a pipe on its own thread: reads one message at a time (up to 4096
// bytes), answers "ok", and drops a client whose read or write fails.
class Collector {
public:
    explicit Collector(const std::string& pipe = kPipe, DWORD instances = 4);
    ~Collector();

    DWORD CreateResult() const { return created_; }
    // Waits (up to 10 s) until count messages have arrived; all arrived so far.
    std::vector<std::string> WaitFor(size_t count);
    std::vector<std::string> Messages();
    // Messages that failed to read (over-long ones) so far.
    size_t Failures();
    void Finish();
    CNamedPipeServer& Server() { return server_; }

private:
    void Serve();

    CNamedPipeServer server_;
    DWORD created_ = ERROR_SUCCESS;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::string> messages_;
    size_t failures_ = 0;
    std::thread thread_;
};

} // namespace pipetest
