#include "tests/platform/pipe/PipeTestSupport.h"

#include <chrono>

namespace pipetest {

DWORD WriteRecord(const std::string& pipe, const std::string& record, DWORD waitMs)
{
    PipeHandle h = INVALID_PIPE_HANDLE;
    DWORD e = PipeOpen(pipe, &h);
    if (e == ERROR_PIPE_BUSY) {
        if (!PipeWait(pipe, waitMs))
            return ERROR_PIPE_BUSY;
        e = PipeOpen(pipe, &h);
    }
    if (e != ERROR_SUCCESS)
        return e;
    e = PipeSetMessageMode(h);
    DWORD written = 0;
    if (e == ERROR_SUCCESS)
        e = PipeWrite(h, record.c_str(), static_cast<DWORD>(record.size() + 1), &written);
    if (e == ERROR_SUCCESS && written != record.size() + 1)
        e = ERROR_WRITE_FAULT;
    PipeClose(h);
    return e;
}

Collector::Collector(const std::string& pipe, DWORD instances)
{
    created_ = server_.Create(pipe, instances);
    if (created_ == ERROR_SUCCESS)
        thread_ = std::thread([this] { Serve(); });
}

Collector::~Collector()
{
    Finish();
}

void Collector::Finish()
{
    server_.Stop();
    if (thread_.joinable())
        thread_.join();
    server_.Close();
}

void Collector::Serve()
{
    PipeHandle client = INVALID_PIPE_HANDLE;
    char buffer[4096];
    while (server_.WaitForMessage(INFINITE, &client) == ERROR_SUCCESS) {
        DWORD n = 0;
        DWORD e = PipeRead(client, buffer, sizeof buffer, &n);
        if (e == ERROR_NO_DATA)
            continue; // taken up before it wrote: the wait comes back to it
        if (e != ERROR_SUCCESS) {
            if (e == ERROR_MORE_DATA) {
                std::lock_guard<std::mutex> lock(mutex_);
                ++failures_;
            }
            server_.Disconnect(client);
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            messages_.emplace_back(buffer, n);
        }
        arrived_.notify_all();
        if (PipeWrite(client, "ok", 3, nullptr) != ERROR_SUCCESS)
            server_.Disconnect(client);
    }
}

std::vector<std::string> Collector::WaitFor(size_t count)
{
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return messages_.size() >= count; });
    return messages_;
}

std::vector<std::string> Collector::Messages()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

size_t Collector::Failures()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return failures_;
}

} // namespace pipetest
