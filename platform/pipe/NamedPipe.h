#pragma once
// Named pipes in message mode over Unix-domain sequenced-packet sockets. A pipe
// name "\\.\pipe\X" maps to the socket <state root>/run/pipe/X. Results are
// Win32 error codes.

#include "platform/win/WinTypes.h"

#include <memory>
#include <string>

using PipeHandle = int;
constexpr PipeHandle INVALID_PIPE_HANDLE = -1;

// Socket path of a pipe name; "" when the name is not a local pipe name.
std::string PipeSocketPath(const std::string& pipeName);

// ---- client side ----

// Opens an existing pipe for reading and writing. ERROR_FILE_NOT_FOUND when no
// server serves the name, ERROR_PIPE_BUSY when every instance is in use.
DWORD PipeOpen(const std::string& pipeName, PipeHandle* handle);

// Waits up to timeoutMs for an instance of the pipe to become free; true when
// one did (the next PipeOpen on this thread then uses it).
bool PipeWait(const std::string& pipeName, DWORD timeoutMs);

// Switches a handle to message read mode (always so here; kept for callers
// that follow the platform's sequence).
DWORD PipeSetMessageMode(PipeHandle handle);

// Writes one message. *written may be null.
DWORD PipeWrite(PipeHandle handle, const void* data, DWORD size, DWORD* written);

// Reads one message; ERROR_MORE_DATA when it was longer than the buffer (the
// rest is lost), ERROR_BROKEN_PIPE when the other end closed.
DWORD PipeRead(PipeHandle handle, void* buffer, DWORD size, DWORD* read);

void PipeClose(PipeHandle handle);
