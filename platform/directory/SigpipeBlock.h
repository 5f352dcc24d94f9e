#pragma once
// Keeps SIGPIPE from ending the process while the calling thread writes to
// a connection the peer has closed (libldap writes with plain write()): the
// signal is blocked for the scope and a SIGPIPE it raised is taken back.

#include <signal.h>

class SigpipeBlock {
public:
    SigpipeBlock();
    ~SigpipeBlock();
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

private:
    sigset_t old_;
    bool wasPending_ = false;
};
