#pragma once
// A tiny HTTP server on a free loopback port for the tests of the update
// check: each path answers with a fixed status and body, or never answers.

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackHttpServer {
public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    // "127.0.0.1:<port>"
    std::string Host() const;

    void Serve(const std::string& path, int status, const std::string& body,
               const std::string& contentType = "text/xml");
    // Accepts the request and then says nothing until the server stops.
    void Stall(const std::string& path);

    int Requests() const { return requests_; }

private:
    struct Reply {
        int status = 404;
        std::string body;
        std::string contentType;
        bool stall = false;
    };

    void Run();
    void Answer(int fd);

    int listener_ = -1;
    int port_ = 0;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::mutex mutex_;
    std::map<std::string, Reply> replies_;
    std::vector<int> held_;
    std::thread thread_;
};
