#pragma once
// Stop requests to a program: Ctrl+C at its terminal and the system's request
// to end it (SIGINT and SIGTERM), delivered to a handler on a thread of their
// own, so that one never interrupts the program's other work.

#include "platform/win/WinTypes.h"

constexpr DWORD CTRL_C_EVENT = 0;
constexpr DWORD CTRL_CLOSE_EVENT = 2;

using PHANDLER_ROUTINE = BOOL (*)(DWORD ctrlType);

// Installs the one handler (a later call replaces it). Call it before the
// program starts other threads: they must not take the requests themselves.
// Every request reaches the handler, also while the program is ending.
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);
