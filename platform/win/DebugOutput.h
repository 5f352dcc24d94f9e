#pragma once
// Internal diagnostics. They go to standard error when the environment
// variable TQ_DEBUG_OUTPUT is set to anything but "0", and nowhere otherwise.

void OutputDebugStringA(const char* text);
