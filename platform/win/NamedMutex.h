#pragma once
// A mutex that processes share by name, as the system's named mutexes are:
// released when its holder ends, however it ends (a killed holder too).
// Kept in <state root>/locks/<name>.lock; a name holds no '/'.
//
// The hold is an flock on the file, so it goes with the descriptor: a child
// forked without exec shares its parent's hold until it ends. A hold is
// always of the file under the name at the time it was taken, so that two
// holders never hold two files of one name.

#include <string>

class CNamedMutex {
public:
    explicit CNamedMutex(std::string name);
    ~CNamedMutex(); // releases it when held
    CNamedMutex(const CNamedMutex&) = delete;
    CNamedMutex& operator=(const CNamedMutex&) = delete;

    // Takes it without waiting: true when this object holds it (also when it
    // held it already). False when another object or process holds it
    // (ERROR_ALREADY_EXISTS as the last error: it is there, and taken), or
    // when it cannot be made (the last error says why; ERROR_INVALID_NAME for
    // an empty name or one with '/').
    bool TryLock();
    bool Held() const { return fd_ >= 0; }
    // The file that holds it, for messages about a mutex that cannot be made.
    std::string Path() const;

private:
    std::string name_;
    int fd_ = -1; // the locked file while held
};
