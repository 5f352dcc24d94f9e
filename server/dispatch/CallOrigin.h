#pragma once
// Where the call the current thread runs came from: the peer address of its
// RPC connection, "" for the server's own calls. Resources a client may hold
// (file handles) are shared out by it.

#include <string>

class CCallOrigin {
public:
    // Sets the thread's origin for its lifetime, then puts the old one back.
    explicit CCallOrigin(std::string address);
    ~CCallOrigin();
    CCallOrigin(const CCallOrigin&) = delete;
    CCallOrigin& operator=(const CCallOrigin&) = delete;

    static const std::string& Address();

private:
    std::string previous_;
};
