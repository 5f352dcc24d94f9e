#include "console/core/OverlappedPipeServer.h"

#include "common/Names.h"
#include "platform/win/DebugOutput.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

void DebugText(const char* format, DWORD code)
{
    char text[128];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(code));
    OutputDebugStringA(text);
}

} // namespace

COverlappedPipeServer::COverlappedPipeServer(DWORD identity) : identity_(identity) {}

COverlappedPipeServer::~COverlappedPipeServer()
{
    if (running_)
        Stop();
    // Never free the object under its thread, however long it takes.
    if (thread_.joinable())
        thread_.join();
}

std::string COverlappedPipeServer::PipeName(DWORD identity)
{
    if (identity == kInfoIdentity)
        return tq::kInfoPipe;
    char name[64];
    std::snprintf(name, sizeof name, "%s.%u", tq::kLogPipe, static_cast<unsigned>(identity));
    return name;
}

void COverlappedPipeServer::Start()
{
    if (running_)
        return;
    if (thread_.joinable())
        thread_.join(); // a thread that ended earlier
    {
        std::lock_guard<std::mutex> hold(serverLock_);
        server_ = std::make_shared<CNamedPipeServer>();
    }
    // Marked here, not on the thread, so that a Stop right after Start is
    // never lost between the two.
    stopRequested_ = false;
    running_ = true;
    thread_ = std::thread([this] { ServerThread(); });
}

void COverlappedPipeServer::RequestStop()
{
    stopRequested_ = true;
    std::lock_guard<std::mutex> hold(serverLock_);
    if (server_)
        server_->Stop();
}

void COverlappedPipeServer::Stop()
{
    RequestStop();
    for (int pause = 0; running_ && pause < kStopPauses; ++pause)
        std::this_thread::sleep_for(std::chrono::milliseconds(kStopPauseMs));
    if (running_) {
        OutputDebugStringA("Thread didn't stop");
        return;
    }
    if (thread_.joinable())
        thread_.join();
    std::lock_guard<std::mutex> hold(serverLock_);
    server_.reset();
}

void COverlappedPipeServer::HandleRequest(const std::string& request, std::string& reply)
{
    OutputDebugStringA(request.c_str());
    reply = "Default server response";
}

void COverlappedPipeServer::PipeUnavailable(DWORD) {}

void COverlappedPipeServer::PauseUnlessStopped(int ms)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopRequested_ && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void COverlappedPipeServer::ServerThread()
{
    std::shared_ptr<CNamedPipeServer> server;
    {
        std::lock_guard<std::mutex> hold(serverLock_);
        server = server_;
    }
    server->SetRequestDeadline(kRequestDeadlineMs);
    DWORD created = server->Create(PipeName(identity_), kInstances);
    // The window this one replaces may still be letting go of the name.
    for (int wait = 0; created == ERROR_PIPE_BUSY && wait < kHandoverMs && !stopRequested_; wait += 50) {
        PauseUnlessStopped(50);
        created = server->Create(PipeName(identity_), kInstances);
    }
    if (created != ERROR_SUCCESS) {
        DebugText("CreateNamedPipe failed with %u.\n", created);
        if (!stopRequested_)
            PipeUnavailable(created);
    } else {
        while (!stopRequested_) {
            PipeHandle instance = INVALID_PIPE_HANDLE;
            const DWORD waited = server->WaitForMessage(INFINITE, &instance);
            if (waited == ERROR_OPERATION_ABORTED)
                break; // the stop signal
            if (waited != ERROR_SUCCESS) {
                // The client that could not be taken up stays queued and is
                // tried again; logging of this server must not end for good.
                OutputDebugStringA("Index out of range.\n");
                PauseUnlessStopped(kFailedWaitPauseMs);
                continue;
            }
            ServeInstance(*server, instance);
        }
    }
    // The pipe goes with the thread, so that writers never wait on a name
    // that nobody serves any more.
    server->Close();
    running_ = false;
}

void COverlappedPipeServer::ServeInstance(CNamedPipeServer& server, PipeHandle instance)
{
    // Served until the connection has nothing more to read now: a writer
    // that closed right after its record is let go in the same turn, without
    // another wait.
    for (;;) {
        DWORD received = 0;
        const DWORD read = PipeRead(instance, request_.data(), kBufferSize, &received);
        if (read == ERROR_NO_DATA)
            return; // nothing yet; the wait comes back to it
        // A failed read, an empty message (a closed writer reads the same)
        // and a message longer than the buffer all free the instance.
        if (read != ERROR_SUCCESS || received == 0) {
            server.Disconnect(instance);
            return;
        }
        const DWORD replyBytes = BuildReply(received);
        DWORD written = 0;
        if (PipeWrite(instance, reply_.data(), replyBytes, &written) != ERROR_SUCCESS || written != replyBytes) {
            server.Disconnect(instance);
            return;
        }
    }
}

DWORD COverlappedPipeServer::BuildReply(DWORD received)
{
    const char* begin = request_.data();
    const char* end = static_cast<const char*>(std::memchr(begin, '\0', received));
    const std::string request(begin, end != nullptr ? end : begin + received);
    std::string reply;
    HandleRequest(request, reply);
    // The reply ends at its first NUL, as a C text would.
    const size_t length = std::min<size_t>(std::strlen(reply.c_str()), kMaxReplyLength);
    std::memcpy(reply_.data(), reply.data(), length);
    reply_[length] = '\0';
    return static_cast<DWORD>(length + 1);
}
