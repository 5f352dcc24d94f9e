#include "server/storage/lists/PendingOpDelivery.h"

#include "platform/transport/ClientTransport.h"
#include "server/shared/FormatText.h"
#include "common/callrecord/InvokeData.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

bool LowerPriority(const PendingOpWorkRecord& a, const PendingOpWorkRecord& b)
{
    return a.priority < b.priority;
}

ULONGLONG NowTicks()
{
    std::timespec ts{};
    std::timespec_get(&ts, TIME_UTC);
    return FileTimeToUInt64(FileTimeFromTimespec(ts));
}

} // namespace

CPendingOpDelivery::CPendingOpDelivery(IComputerList* store) : store_(store)
{
    // Made now, so that the pool is ended after this object at process end
    // and never waits on one of our work items. The host makes a processor
    // fault in one of them end as a failed attempt (its start-up hooks the
    // pool's threads).
    CThreadPool::Default();
    queue_ = [](LPTHREAD_START_ROUTINE f, void* c, ULONG flags) { return QueueUserWorkItem(f, c, flags); };
}

CPendingOpDelivery::~CPendingOpDelivery()
{
    Stop();
}

void CPendingOpDelivery::SetRetrySpacing(ULONGLONG ticks)
{
    std::lock_guard lock(stateMutex_);
    retrySpacing_ = ticks;
}

void CPendingOpDelivery::SetQueueFunction(QueueFunction queue)
{
    std::lock_guard lock(stateMutex_);
    queue_ = std::move(queue);
}

void CPendingOpDelivery::Stop()
{
    std::unique_lock lock(stateMutex_);
    stopping_ = true;
    stateChanged_.notify_all();
    stateChanged_.wait(lock, [&] { return outstanding_ == 0; });
    lock.unlock();
    std::lock_guard queueLock(queueMutex_);
    heap_.clear();
}

void CPendingOpDelivery::Push(const PendingOpWorkRecord& record)
{
    heap_.push_back(record);
    std::push_heap(heap_.begin(), heap_.end(), LowerPriority);
}

void CPendingOpDelivery::Enqueue(const char* computer, DWORD opId, DWORD appId, LONG priority)
{
    PendingOpWorkRecord record{};
    std::snprintf(record.computer, sizeof record.computer, "%s", computer == nullptr ? "" : computer);
    record.opId = opId;
    record.appId = appId;
    record.priority = priority;
    {
        std::unique_lock lock(queueMutex_, std::defer_lock);
        if (lock.try_lock_for(std::chrono::milliseconds(kQueueWaitMs)))
            Push(record);
    }
    QueueWorkItem();
}

void CPendingOpDelivery::QueueWorkItem()
{
    QueueFunction queue;
    {
        std::lock_guard lock(stateMutex_);
        if (stopping_)
            return;
        ++outstanding_;
        queue = queue_;
    }
    if (!queue(&CPendingOpDelivery::WorkItem, this, WT_EXECUTELONGFUNCTION)) {
        std::lock_guard lock(stateMutex_);
        --outstanding_;
        stateChanged_.notify_all();
    }
}

DWORD CPendingOpDelivery::WorkItem(void* context)
{
    auto* self = static_cast<CPendingOpDelivery*>(context);
    try {
        self->Deliver();
    } catch (...) {
        // The operation stays stored for the computer's own poll.
    }
    // The last touch of the object: Stop may return and the store go away
    // as soon as the count drops.
    std::lock_guard lock(self->stateMutex_);
    --self->outstanding_;
    self->stateChanged_.notify_all();
    return 0;
}

bool CPendingOpDelivery::WaitForRetry(ULONGLONG ticks)
{
    // Rounded up, so that a retry never comes before its time.
    const auto wait = std::chrono::milliseconds((ticks + 9'999) / 10'000);
    std::unique_lock lock(stateMutex_);
    return !stateChanged_.wait_for(lock, wait, [&] { return stopping_; });
}

void CPendingOpDelivery::Deliver()
{
    ULONGLONG spacing;
    {
        std::lock_guard lock(stateMutex_);
        if (stopping_)
            return;
        spacing = retrySpacing_;
    }
    PendingOpWorkRecord record;
    {
        std::unique_lock lock(queueMutex_, std::defer_lock);
        if (!lock.try_lock_for(std::chrono::milliseconds(kWorkWaitMs)) || heap_.empty())
            return;
        std::pop_heap(heap_.begin(), heap_.end(), LowerPriority);
        record = heap_.back();
        heap_.pop_back();
    }
    if (record.attempts != 0) {
        // Unsigned: a clock set back makes the time elapsed huge, so no wait.
        const ULONGLONG elapsed = NowTicks() - FileTimeToUInt64(record.lastAttempt);
        if (elapsed < spacing && !WaitForRetry(spacing - elapsed))
            return;
    }

    const HRESULT hr = Attempt(record);
    // E_NOTIMPL: the computer does not run operations at once; it will poll.
    if (SUCCEEDED(hr) || hr == E_NOTIMPL)
        return;

    ++record.attempts;
    std::unique_lock lock(queueMutex_, std::defer_lock);
    if (record.attempts < kMaxAttempts) {
        const std::string remarks = FormatText("Immediate execution failed (0x%.8X), %d retries left",
                                               static_cast<unsigned>(hr), kMaxAttempts - record.attempts);
        record.lastAttempt = FileTimeFromUInt64(NowTicks());
        if (!lock.try_lock_for(std::chrono::milliseconds(kWorkWaitMs)))
            return;
        Push(record);
        store_->UpdatePendingOp(record.computer, record.opId, kPendingOpWaiting, static_cast<DWORD>(hr),
                                remarks.c_str());
        lock.unlock();
        QueueWorkItem();
    } else {
        const std::string remarks =
            FormatText("Immediate execution failed (0x%.8X), waiting for update interval", static_cast<unsigned>(hr));
        if (!lock.try_lock_for(std::chrono::milliseconds(kWorkWaitMs)))
            return;
        store_->UpdatePendingOp(record.computer, record.opId, kPendingOpWaiting, static_cast<DWORD>(hr),
                                remarks.c_str());
    }
}

std::string CPendingOpDelivery::HostOf(const char* computer)
{
    BYTE* data = nullptr;
    int size = 0;
    std::string host = computer;
    // Only a stored address counts: a missing item answers S_FALSE with a
    // placeholder text that names no host.
    if (store_->GetComputerInformation(computer, kServerAppId, kItemNetworkAddress, &data, &size) == S_OK &&
        data != nullptr && size > 0) {
        std::string address(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
        if (!address.empty() && address.find(',') == std::string::npos)
            host = address;
    }
    if (data != nullptr)
        store_->FreeComputerInformation(data);
    return host;
}

HRESULT CPendingOpDelivery::Attempt(const PendingOpWorkRecord& record)
{
    try {
        std::unique_ptr<ClientTransport> transport;
        HRESULT hr = CreateClientTransport(&transport);
        if (FAILED(hr))
            return hr;
        const std::string binding = "WINSERVER:" + HostOf(record.computer) + ":" + std::to_string(kClientPort);
        transport->Connect(binding.c_str(), static_cast<DWORD>(binding.size()));

        CInvokeData call(kExecutePendingOp);
        call.PushInDword(record.appId);
        call.PushInDword(record.opId);
        std::vector<BYTE> request(call.GetEncodedSize(InvokeModeRequest));
        call.Encode(request.data(), static_cast<LONG>(request.size()), InvokeModeRequest);

        BYTE* reply = nullptr;
        DWORD replyLength = 0;
        hr = transport->Call(request.data(), static_cast<DWORD>(request.size()), &reply, &replyLength);
        if (SUCCEEDED(hr)) {
            // A reply that does not decode leaves the record's E_FAIL.
            call.Decode(reply, replyLength);
            if (reply != nullptr)
                transport->FreeReply(reply);
            hr = call.result;
        }
        return hr;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
