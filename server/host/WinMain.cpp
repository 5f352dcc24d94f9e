// The server program's entry.

#include "platform/win/ConsoleControl.h"
#include "platform/win/Heap.h"
#include "platform/win/Process.h"
#include "platform/win/WinTypes.h"
#include "server/host/ExceptionTranslator.h"
#include "server/host/WindowsServerModule.h"

#include <cstdio>
#include <string>

namespace {

// Freed memory stays with the allocator for the next call instead of going
// back to the system at once: a list of a hundred thousand entries would
// otherwise fault in megabytes of fresh pages on every call. The RPC layer
// hands it back once the calls go quiet. Blocks of several megabytes (bulk
// files) still get pages of their own, which grow without being copied.
void KeepFreedMemoryForTheNextCall()
{
    KeepFreedMemoryForReuse(4 << 20, 256 << 20);
}

// Ctrl+C and the system's request to end the program act as the stop
// control; they are taken by a thread of their own, so that a stop can never
// interrupt a call.
BOOL OnStopRequest(DWORD)
{
    CWindowsServerModule::ControlCurrent(SERVICE_CONTROL_STOP);
    return TRUE;
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
    KeepFreedMemoryForTheNextCall();
    InstallStructuredExceptionTranslator();
    int exitCode = 0;
    {
        CWindowsServerModule module;
        // Before any other thread exists, so that none of them takes a stop request.
        SetConsoleCtrlHandler(OnStopRequest, TRUE);
        if (module.ParseCommandLine(CommandLine(argc, argv).c_str(), &exitCode))
            exitCode = module.Start();
        std::fflush(stdout);
        // A call still running after the stop keeps its server; the process ends around it.
        if (!module.ReleaseAll())
            TerminateCurrentProcess(static_cast<UINT>(exitCode));
    }
    return exitCode;
}
