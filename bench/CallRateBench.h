#pragma once
// Call rates: GetVersion and RemoteInvoke of a code that answers E_NOTIMPL
// at once, over 1, 8 and 64 connections, beside the plain server answering
// messages of the same sizes.

#include "bench/BenchContext.h"

namespace tqbench {

class CallRateBench {
public:
    explicit CallRateBench(BenchContext& context) : context_(context) {}
    void Run();

private:
    BenchContext& context_;
};

} // namespace tqbench
