// The server program's entry.

#include "platform/win/ConsoleControl.h"
#include "platform/win/Process.h"
#include "platform/win/WinTypes.h"
#include "server/host/ExceptionTranslator.h"
#include "server/host/WindowsServerModule.h"

#include <cstdio>
#include <string>

namespace {

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
