#pragma once
// Where the call the current thread runs came from: the peer address of its
// RPC connection, "" for the server's own calls. Resources a client may hold
// (file handles) are shared out by it.

#include <string>

class CCallOrigin {
public:
    // Sets the thread's origin for its lifetime, then puts the old one back.
    // The address is referred to, not copied (this runs on every call): it
    // must outlive the object.
    explicit CCallOrigin(const std::string& address);
    CCallOrigin(std::string&&) = delete;
    ~CCallOrigin();
    CCallOrigin(const CCallOrigin&) = delete;
    CCallOrigin& operator=(const CCallOrigin&) = delete;

    static const std::string& Address();

private:
    const std::string* previous_;
};
