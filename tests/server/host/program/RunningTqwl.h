#pragma once
// The program started for one test in the test's state root, with a seeded
// registry and storage folder, stopped cleanly at the test's end.

#include "common/callrecord/InvokeData.h"
#include "tests/server/host/program/TqwlProcess.h"

#include <functional>
#include <memory>
#include <string>

namespace tqtest {

class RunningTqwl {
public:
    static constexpr int kDefaultPort = 34347;

    // prepare runs after the seeding and before the start.
    explicit RunningTqwl(const std::string& root, const std::function<void()>& prepare = {});
    ~RunningTqwl();
    // A call and its reply record; the reply's result as the client sees it.
    std::unique_ptr<CInvokeData> Call(DWORD code, const std::function<void(CInvokeData&)>& items = {});
    const std::string& Storage() const { return storage_; }
    pid_t Pid() const { return process_.Pid(); }
    // The program's resident memory now and at its peak, in bytes (from
    // VmRSS and VmHWM); 0 when it cannot be read.
    size_t ResidentBytes() const;
    size_t PeakResidentBytes() const;

private:
    size_t StatusBytes(const char* field) const;

    TqwlProcess process_;
    std::string storage_;
};

} // namespace tqtest
