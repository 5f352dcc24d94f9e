#pragma once
// The load run: 1234 clients at once, each on a connection of its own that
// it holds to the end, calling GetVersion, RemoteInvoke of an unclaimed code,
// ReadWholeFile of a small file and GetComputerInformation of its own
// computer in turn; every answer is checked, and the server's memory is
// watched from /proc while it runs.

#include "bench/BenchContext.h"

namespace tqbench {

class LoadBench {
public:
    explicit LoadBench(BenchContext& context) : context_(context) {}
    void Run();

    // The server's own limit of calls at once.
    static constexpr int kClients = 1234;

private:
    bool Seed(std::string* error);

    BenchContext& context_;
};

} // namespace tqbench
