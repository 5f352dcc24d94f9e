#pragma once
// What the benchmark sections share during one run.

#include "bench/BenchOptions.h"
#include "bench/GoalBook.h"

#include <string>

namespace tqbench {

class TqwlInstance;

struct BenchContext {
    BenchOptions options;
    TqwlInstance* server = nullptr;
    // The virtual server of the call-rate, file and load runs, and its folder.
    int rpcPort = 0;
    std::string rpcFolder;
    // The plain request-and-reply server.
    int plainPort = 0;
    GoalBook goals;
    // Set when any call failed, was lost or answered wrongly.
    bool faults = false;
};

} // namespace tqbench
