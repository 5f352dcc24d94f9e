#pragma once
// Many clients at once, each on its own thread and connection, each making
// its next call as soon as the last one is answered. Every client is set up
// (connected) first; the clock starts when all are ready.

#include "bench/LatencyStats.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tqbench {

struct LoopResult {
    uint64_t calls = 0;       // answered as expected
    uint64_t failures = 0;    // failed or answered wrongly
    uint64_t setupFailures = 0;
    uint64_t maxInFlight = 0; // calls sent and not yet answered, at most
    double seconds = 0;       // from the start until the last client ended
    LatencyStats latency;     // of the calls answered as expected
    std::string firstError;

    double Rate() const { return seconds > 0 ? static_cast<double>(calls) / seconds : 0; }
};

class ClosedLoop {
public:
    // One call; false (with a reason) when it failed or the answer is wrong.
    using Call = std::function<bool(std::string* error)>;
    // Connects client number index and gives its call; an empty function
    // (with a reason) when it cannot.
    using Setup = std::function<Call(int index, std::string* error)>;

    // Each client calls until the time is up, after warmUpCalls untimed calls.
    static LoopResult ForTime(int clients, double seconds, const Setup& setup, int warmUpCalls = 5);
    // Each client makes exactly callsEach calls; every connection is held
    // until all clients are done.
    static LoopResult ForCount(int clients, int callsEach, const Setup& setup);

private:
    static LoopResult Run(int clients, double seconds, int callsEach, int warmUpCalls, const Setup& setup);
};

} // namespace tqbench
