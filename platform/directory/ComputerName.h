#pragma once
// The local computer's name: the host name up to its first dot.

#include "platform/win/WinTypes.h"

#include <string>

// size: in, the buffer's bytes; out, the characters written without the NUL,
// or the bytes needed with the NUL when the buffer is too small (FALSE with
// ERROR_BUFFER_OVERFLOW as the last error).
BOOL GetComputerNameA(char* buffer, DWORD* size);

std::string LocalComputerName();
