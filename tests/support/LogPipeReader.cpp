#include "tests/support/LogPipeReader.h"

#include <chrono>
#include <stdexcept>

namespace tqtest {

LogPipeReader::LogPipeReader(const std::string& pipeName, DWORD instances)
{
    DWORD err = server_.Create(pipeName, instances);
    if (err != ERROR_SUCCESS)
        throw std::runtime_error("cannot serve " + pipeName + ": error " + std::to_string(err));
    thread_ = std::thread([this] { Serve(); });
}

LogPipeReader::~LogPipeReader()
{
    server_.Stop();
    thread_.join();
    server_.Close();
}

void LogPipeReader::Serve()
{
    PipeHandle client = INVALID_PIPE_HANDLE;
    while (server_.WaitForMessage(INFINITE, &client) == ERROR_SUCCESS) {
        char buffer[65536];
        DWORD n = 0;
        DWORD err = PipeRead(client, buffer, sizeof buffer, &n);
        if (err == ERROR_SUCCESS) {
            std::lock_guard<std::mutex> guard(lock_);
            messages_.emplace_back(buffer, n);
            arrived_.notify_all();
        } else if (err != ERROR_NO_DATA) {
            server_.Disconnect(client);
        }
    }
}

std::vector<std::string> LogPipeReader::WaitFor(size_t count, DWORD timeoutMs)
{
    std::unique_lock<std::mutex> guard(lock_);
    arrived_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return messages_.size() >= count; });
    return messages_;
}

std::vector<std::string> LogPipeReader::Fields(const std::string& message)
{
    std::string text = message;
    if (!text.empty() && text.back() == '\0')
        text.pop_back();
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t bar = text.find('|', start);
        fields.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return fields;
}

} // namespace tqtest
