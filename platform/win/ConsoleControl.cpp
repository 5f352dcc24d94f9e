#include "platform/win/ConsoleControl.h"

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <thread>

namespace {

std::atomic<PHANDLER_ROUTINE> g_handler{nullptr};
std::atomic<bool> g_started{false};

} // namespace

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add)
{
    g_handler = add ? handler : nullptr;
    if (g_started.exchange(true))
        return TRUE;
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    try {
        std::thread([stops] {
            for (;;) {
                int signal = 0;
                if (sigwait(&stops, &signal) != 0)
                    continue;
                if (PHANDLER_ROUTINE handler = g_handler.load())
                    handler(signal == SIGINT ? CTRL_C_EVENT : CTRL_CLOSE_EVENT);
            }
        }).detach();
    } catch (...) {
        return FALSE;
    }
    return TRUE;
}
