#include "platform/directory/SigpipeBlock.h"

#include <ctime>
#include <pthread.h>

namespace {

sigset_t PipeSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

bool PipePending()
{
    sigset_t pending;
    sigemptyset(&pending);
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

} // namespace

CSigpipeBlock::CSigpipeBlock()
{
    sigset_t set = PipeSet();
    pthread_sigmask(SIG_BLOCK, &set, &old_);
    wasPending_ = PipePending();
}

CSigpipeBlock::~CSigpipeBlock()
{
    if (!wasPending_ && PipePending()) {
        sigset_t set = PipeSet();
        timespec now{};
        sigtimedwait(&set, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}
