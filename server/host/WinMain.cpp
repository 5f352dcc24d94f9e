// The server program's entry.

#include "platform/win/WinTypes.h"
#include "server/host/ExceptionTranslator.h"
#include "server/host/WindowsServerModule.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

// SIGINT and SIGTERM act as the stop control. They are taken by one thread
// of their own, so that a stop can never interrupt a call.
void StartStopSignalThread()
{
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    std::thread([stops] {
        for (;;) {
            int signal = 0;
            // Any number of them, also while the program is shutting down.
            if (sigwait(&stops, &signal) == 0)
                CWindowsServerModule::ControlCurrent(SERVICE_CONTROL_STOP);
        }
    }).detach();
}

std::string CommandLine(int argc, char** argv)
{
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ' ';
        line += argv[i];
    }
    return line;
}

} // namespace

int main(int argc, char** argv)
{
    InstallStructuredExceptionTranslator();
    int exitCode = 0;
    {
        CWindowsServerModule module;
        // Blocked before any other thread exists, so every thread inherits the mask.
        StartStopSignalThread();
        if (module.ParseCommandLine(CommandLine(argc, argv).c_str(), &exitCode))
            exitCode = module.Start();
        std::fflush(stdout);
        // A call still running after the stop keeps its server; the process ends around it.
        if (!module.ReleaseAll())
            ::_exit(exitCode);
    }
    return exitCode;
}
