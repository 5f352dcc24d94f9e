#pragma once
// Giving the memory that calls freed back to the system. The allocator
// keeps freed memory for the next call (a large list then needs no fresh
// pages); once calls go quiet it is handed back, at most once a second
// unless asked for at once.

void RpcTrimFreedMemory(bool atOnce);
