#pragma once
// Serves one log pipe: four instances, one thread, one wait. Every message
// received is handed to HandleRequest and its reply is written back on the
// same connection. Writers open the pipe once per record, so in practice each
// connection carries one message.
//
// A derived class must Stop (or RequestStop and wait for ThreadEnded) in its own
// destructor: HandleRequest may not run while the derived part is going away.

#include "platform/pipe/NamedPipeServer.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class COverlappedPipeServer {
public:
    // The identity that serves the info pipe instead of a port's call pipe.
    static constexpr DWORD kInfoIdentity = 0xF0000001;
    static constexpr DWORD kInstances = 4;
    static constexpr DWORD kBufferSize = 4096;
    // Longest reply text; one byte of the buffer is its NUL.
    static constexpr DWORD kMaxReplyLength = kBufferSize - 2;
    // Stop looks at the thread this often, this many times.
    static constexpr int kStopPauseMs = 100;
    static constexpr int kStopPauses = 49;
    // A wait that failed (out of descriptors, say) is tried again after this.
    static constexpr int kFailedWaitPauseMs = 200;
    // How long a pipe that another server still holds is tried again.
    static constexpr int kHandoverMs = 2000;
    // A connection that sends nothing for this long is cut, so that a writer
    // that is stuck (or never meant to write) holds no instance the others
    // need. Well below the 1000 ms a writer waits for a busy pipe, so that
    // one that found every instance held by silent ones still gets its turn.
    static constexpr DWORD kRequestDeadlineMs = 500;

    explicit COverlappedPipeServer(DWORD identity);
    virtual ~COverlappedPipeServer();
    COverlappedPipeServer(const COverlappedPipeServer&) = delete;
    COverlappedPipeServer& operator=(const COverlappedPipeServer&) = delete;

    // Starts the thread unless it runs.
    void Start();
    // Asks the thread to end and returns at once.
    void RequestStop();
    // Asks the thread to end and waits for it, about 4.9 s at most; when it
    // has not ended by then ("Thread didn't stop") the object must be kept.
    void Stop();
    bool IsRunning() const { return running_; }
    // The thread never started or has ended: the object may be released.
    bool ThreadEnded() const { return !running_; }

    DWORD Identity() const { return identity_; }
    static std::string PipeName(DWORD identity);

protected:
    // Called on the pipe thread for every message; must return promptly,
    // since no instance is served meanwhile.
    virtual void HandleRequest(const std::string& request, std::string& reply);
    // Called on the pipe thread when the pipe cannot be served at all
    // (ERROR_PIPE_BUSY: another server holds it); the thread then ends.
    virtual void PipeUnavailable(DWORD error);

private:
    void ServerThread();
    // Serves the instance that has a message (or has closed).
    void ServeInstance(CNamedPipeServer& server, PipeHandle instance);
    DWORD BuildReply(DWORD received);
    // Pauses up to ms, less when a stop comes.
    void PauseUnlessStopped(int ms);

    const DWORD identity_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::mutex serverLock_; // guards server_ between Start, RequestStop and Stop
    std::shared_ptr<CNamedPipeServer> server_;
    std::array<char, kBufferSize> request_{};
    std::array<char, kBufferSize> reply_{};
};
