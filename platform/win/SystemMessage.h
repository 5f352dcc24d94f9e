#pragma once
// The system's message text for a Win32 error, RPC status or HRESULT, as the console
// and the host log show it after their own prefix.

#include "platform/win/WinTypes.h"

#include <string>

// The text with its closing line end ("...\r\n"), or an empty text when the
// system has no message for the code.
std::string GetSystemMessageText(DWORD code);
