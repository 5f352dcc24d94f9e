#include "tests/server/host/program/RunningTqwl.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tqtest {

RunningTqwl::RunningTqwl(const std::string& root, const std::function<void()>& prepare)
    : process_(root), storage_(root + "/storage")
{
    EXPECT_EQ(RunProgram({TQWL_SETUP, "seed", storage_}), 0);
    if (prepare)
        prepare();
    process_.Start();
    EXPECT_TRUE(process_.WaitForPort(kDefaultPort)) << process_.Output();
}

RunningTqwl::~RunningTqwl()
{
    process_.Signal(SIGINT);
    EXPECT_EQ(process_.Wait(), 0);
}

std::unique_ptr<CInvokeData> RunningTqwl::Call(DWORD code, const std::function<void(CInvokeData&)>& items)
{
    CInvokeData request(code);
    if (items)
        items(request);
    auto reply = std::make_unique<CInvokeData>();
    EXPECT_EQ(InvokeOverRpc(kDefaultPort, request, *reply), 0) << code;
    return reply;
}

size_t RunningTqwl::StatusBytes(const char* field) const
{
    std::ifstream status("/proc/" + std::to_string(process_.Pid()) + "/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) != 0 || line.size() <= length || line[length] != ':')
            continue;
        std::istringstream value(line.substr(length + 1));
        size_t kilobytes = 0;
        value >> kilobytes;
        return kilobytes * 1024;
    }
    return 0;
}

size_t RunningTqwl::ResidentBytes() const
{
    return StatusBytes("VmRSS");
}

size_t RunningTqwl::PeakResidentBytes() const
{
    const size_t peak = StatusBytes("VmHWM");
    std::printf("peak resident memory of the program: %zu MiB\n", peak >> 20);
    return peak;
}

} // namespace tqtest
