#pragma once
// The serving end of a named pipe: one listening socket for the name and up
// to maxInstances connected clients, all served from one thread with one wait.
//
//   CNamedPipeServer server;
//   server.Create("\\\\.\\pipe\\TQC.Log.34347", 4);
//   PipeHandle client;
//   while (server.WaitForMessage(INFINITE, &client) == ERROR_SUCCESS) {
//       if (PipeRead(client, buffer, sizeof buffer, &n) != ERROR_SUCCESS
//           || PipeWrite(client, reply, replySize, nullptr) != ERROR_SUCCESS)
//           server.Disconnect(client);   // the instance is free again
//   }
//   // another thread: server.Stop();  then, after the loop ended: server.Close();
//
// A connected client is an instance in use until Disconnect, or until it has
// sent nothing for the request deadline, when one is set. Instance handles
// do not block: PipeRead with no message waiting and PipeWrite to a client
// that reads nothing and whose queue is full give ERROR_NO_DATA.
//
// Only one server at a time serves a name: it holds an flock on the hidden
// file ".<name>.lock" beside the socket. A socket file left by a server that
// died is found unlocked, removed and replaced.
//
// Threads: Stop may be called from any thread at any time; everything else
// from the serving thread. Close (and the destructor) must not run while
// another thread is inside WaitForMessage.

#include "platform/pipe/NamedPipe.h"

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

class CNamedPipeServer {
public:
    static constexpr DWORD kMaxInstances = 255;

    CNamedPipeServer();
    ~CNamedPipeServer();
    CNamedPipeServer(const CNamedPipeServer&) = delete;
    CNamedPipeServer& operator=(const CNamedPipeServer&) = delete;

    // Starts serving a pipe name with 1 to 255 instances. ERROR_PIPE_BUSY when
    // another server serves the name, ERROR_INVALID_NAME for a name that is
    // not a local pipe name, ERROR_ALREADY_EXISTS when this object serves one.
    DWORD Create(const std::string& pipeName, DWORD maxInstances);

    // Waits until a connected client has a message to read, or has closed
    // (its PipeRead then gives ERROR_BROKEN_PIPE), and gives its handle;
    // clients that connect meanwhile are taken up while instances are free.
    // A client just taken up is given at once, without a wait for its
    // message: writers send right after they connect, so it mostly has one
    // already; when not, its PipeRead gives ERROR_NO_DATA and the caller
    // simply waits again. Clients ready at once are given in the order of
    // their instances, lowest first, one per call, before any new one.
    // WAIT_TIMEOUT after timeoutMs (INFINITE: no limit), ERROR_OPERATION_ABORTED
    // once Stop was called, ERROR_INVALID_HANDLE when not serving, and the
    // error of taking up a client that could not be (out of descriptors).
    DWORD WaitForMessage(DWORD timeoutMs, PipeHandle* instance);

    // Ends the connection of an instance; the instance is free for the next client.
    void Disconnect(PipeHandle instance);

    // A client that has sent nothing for ms since it was taken up, or since it
    // was last given out with a message, is disconnected by the wait, so that
    // clients that never write cannot hold every instance. INFINITE (the
    // default): clients stay as long as they like.
    void SetRequestDeadline(DWORD ms) { requestDeadlineMs_ = ms; }

    // Makes the current and every later wait return ERROR_OPERATION_ABORTED.
    // For good: a stopped object does not serve again.
    void Stop();

    // Disconnects every client, removes the socket file and stops serving.
    void Close();

    bool IsOpen() const { return listener_ >= 0; }
    bool IsStopped() const { return stopped_; }
    // Clients connected to an instance (not those still waiting in the queue).
    DWORD ConnectedCount() const { return connectedCount_; }
    const std::string& SocketPath() const { return socketPath_; }

private:
    using Clock = std::chrono::steady_clock;
    struct Client {
        int fd;
        Clock::time_point deadline; // for its next message
    };

    Clock::time_point DeadlineFromNow() const;
    std::vector<Client>::iterator FindClient(int fd);
    // Disconnects the clients past their deadline; the nearest deadline left.
    Clock::time_point DropSilentClients();
    void SetQueueLength(size_t connected);
    // Takes up one waiting client: ERROR_SUCCESS with *client = -1 when none waits.
    DWORD AcceptOne(int* client);
    // The next client found ready by the last poll that is still connected.
    bool NextReady(PipeHandle* instance);

    std::string socketPath_;
    std::string lockPath_;
    int listener_ = -1;
    int lock_ = -1;
    int wake_ = -1; // eventfd that Stop signals
    DWORD maxInstances_ = 0;
    int backlog_ = -1; // the listener's queue length as last set
    std::vector<Client> connected_;
    DWORD requestDeadlineMs_ = INFINITE;
    // Clients the last poll found ready and not handed out yet, lowest first.
    std::vector<int> ready_;
    size_t readyNext_ = 0;
    // The last take-up found a client, so more may wait: try before a poll.
    bool mayHaveWaiting_ = false;
    std::atomic<DWORD> connectedCount_{0};
    std::atomic<bool> stopped_{false};
};
