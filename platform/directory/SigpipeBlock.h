#pragma once
// Keeps SIGPIPE from ending the process while the calling thread writes to
// a connection the peer has closed (libldap writes with plain write()): the
// signal is blocked for the scope and a SIGPIPE it raised is taken back.

#include <signal.h>

class CSigpipeBlock {
public:
    CSigpipeBlock();
    ~CSigpipeBlock();
    CSigpipeBlock(const CSigpipeBlock&) = delete;
    CSigpipeBlock& operator=(const CSigpipeBlock&) = delete;

private:
    sigset_t old_;
    bool wasPending_ = false;
};
