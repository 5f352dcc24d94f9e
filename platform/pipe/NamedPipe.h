#pragma once
// Named pipes in message mode over Unix-domain sequenced-packet sockets. A pipe
// name "\\.\pipe\X" maps to the socket <state root>/run/pipe/X. Results are
// Win32 error codes; the failing calls also set the thread's last error.
//
// Names: the "pipe" part of the prefix is matched without regard to case, X
// is kept as it is (so names are case-sensitive here). In X, '/', '%', control
// bytes and a leading '.' are written as %XX, so every name has its own file.
//
// Instances: a server (NamedPipeServer.h) serves a name with a number of
// instances. A client that connects takes a free instance; while none is free
// its open fails with ERROR_PIPE_BUSY. Connections the server has not taken
// up yet wait in the socket's accept queue, whose length the server keeps at
// the number of free instances (at least one: when the server holds every
// instance, one more client can still connect and waits its turn).
//
// Messages: one write sends one message, one read receives one. A message of
// zero bytes cannot be told from the end of the connection and reads as
// ERROR_BROKEN_PIPE. A message larger than the socket's send buffer (about
// 200 KiB) is refused with ERROR_INVALID_PARAMETER.

#include "platform/win/WinTypes.h"

#include <memory>
#include <string>

using PipeHandle = int;
constexpr PipeHandle INVALID_PIPE_HANDLE = -1;

// Socket path of a pipe name; "" when the name is not a local pipe name.
std::string PipeSocketPath(const std::string& pipeName);

// ---- client side ----

// Opens an existing pipe for reading and writing. ERROR_FILE_NOT_FOUND when no
// server serves the name, ERROR_PIPE_BUSY when every instance is in use; both
// at once, without waiting. ERROR_INVALID_NAME for a name that is not a local
// pipe name.
DWORD PipeOpen(const std::string& pipeName, PipeHandle* handle);

// Waits up to timeoutMs (INFINITE: without limit; 0: no wait) for an instance
// of the pipe to become free; true when one did (the next PipeOpen of that
// name on this thread then uses it). The wait is a connect that blocks until
// the server's queue has room (looking again every 50 ms, in case the wake-up
// went to another waiter), and the connection it makes is the instance:
// it is held for this thread until its PipeOpen or its next PipeWait. False
// with ERROR_SEM_TIMEOUT when the time ran out, ERROR_FILE_NOT_FOUND at once
// when nobody serves the name.
bool PipeWait(const std::string& pipeName, DWORD timeoutMs);

// Switches a handle to message read mode (always so here; kept for callers
// that follow the platform's sequence). ERROR_INVALID_HANDLE for anything but
// a pipe handle.
DWORD PipeSetMessageMode(PipeHandle handle);

// Writes one message. *written may be null. ERROR_NO_DATA when the other end
// has closed.
DWORD PipeWrite(PipeHandle handle, const void* data, DWORD size, DWORD* written);

// Reads one message; ERROR_MORE_DATA when it was longer than the buffer (the
// rest is lost), ERROR_BROKEN_PIPE when the other end closed.
DWORD PipeRead(PipeHandle handle, void* buffer, DWORD size, DWORD* read);

void PipeClose(PipeHandle handle);
