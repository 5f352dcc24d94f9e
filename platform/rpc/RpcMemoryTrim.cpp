#include "platform/rpc/RpcMemoryTrim.h"

#include <malloc.h>

#include <atomic>
#include <chrono>

void RpcTrimFreedMemory(bool atOnce)
{
    // A trim walks every arena of the process.
    static std::atomic<long long> last{0};
    const long long now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
    long long previous = last.load();
    const bool due = now > previous && last.compare_exchange_strong(previous, now);
    if (atOnce || due)
        ::malloc_trim(0);
}
