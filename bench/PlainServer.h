#pragma once
// The plain request-and-reply server: TCP on loopback, one thread per
// connection like the RPC server, and no work beyond reading each request
// whole and sending the reply it asks for. What it reaches is the limit of
// the transport for the same messages.

#include <atomic>
#include <list>
#include <mutex>
#include <sys/types.h>
#include <thread>

namespace tqbench {

class PlainServer {
public:
    PlainServer() = default;
    ~PlainServer();
    PlainServer(const PlainServer&) = delete;
    PlainServer& operator=(const PlainServer&) = delete;

    // Listens on a free loopback port; false when it cannot.
    bool Start();
    int Port() const { return port_; }
    // Ends the listener and every connection, and waits for their threads.
    void Stop();

    // The same server in a child process of its own, so that it competes for
    // the machine as the server program does. Call before this process
    // starts any thread. The child ends when *lifeline is closed (or this
    // process ends); -1 when the child could not be started.
    static pid_t StartProcess(int* port, int* lifeline);

private:
    void AcceptLoop();
    void Serve(int fd);

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
    std::mutex mutex_;
    std::list<int> connections_;
    std::list<std::thread> threads_;
};

} // namespace tqbench
