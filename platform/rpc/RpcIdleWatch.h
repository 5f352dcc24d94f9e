#pragma once
// Quiet connections without a thread each: one thread waits on all their
// sockets at once and hands a connection back when it has input (or its
// peer left, or reading was shut down), or when its deadline passes. A held
// connection then costs its socket and its protocol state, not a thread's
// stack and a read buffer.
//
//   CRpcIdleWatch watch;
//   watch.Watch(fd, deadline, [](bool expired) { /* serve it again */ });

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

class CRpcIdleWatch {
public:
    using Clock = std::chrono::steady_clock;
    // Runs on the watch's thread, once per Watch; expired when the deadline
    // passed with no input.
    using Wake = std::function<void(bool expired)>;

    CRpcIdleWatch();
    // Ends the thread; connections still watched are dropped unwoken.
    ~CRpcIdleWatch();
    CRpcIdleWatch(const CRpcIdleWatch&) = delete;
    CRpcIdleWatch& operator=(const CRpcIdleWatch&) = delete;

    // Watches fd until it has input or the deadline (time_point::max() for
    // none). False when it cannot (the caller keeps waiting itself).
    bool Watch(int fd, Clock::time_point deadline, Wake wake);
    size_t Count() const;

private:
    struct Entry {
        Clock::time_point deadline;
        Wake wake;
    };
    void Run();
    void Signal();

    int epoll_ = -1;
    int wakeFd_ = -1;
    mutable std::mutex mutex_;
    std::map<int, Entry> entries_;
    std::set<std::pair<Clock::time_point, int>> deadlines_;
    bool stopping_ = false;
    std::thread thread_;
};
