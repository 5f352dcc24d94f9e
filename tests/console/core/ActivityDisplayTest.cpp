// The display thread: every queued record shown once and in order, whatever
// batches it takes them in, and no burst grown without end while the window
// has not taken the one before; an idle one sleeps, yet wakes for a record
// and for its end.
#include "console/core/ActivityDisplay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace {

std::string EndRecord(size_t i)
{
    return "1|1004|0|00000000-0000-0000-0000-000000000000|CloseFile(" + std::to_string(i) +
           ")|WinFileImpl|CWinFileImpl::OnCloseFile|539|7";
}

// Collects the bursts; takes each in only when told to.
class Window {
public:
    void Add(std::vector<CActivityDisplay::Row>&& rows)
    {
        std::lock_guard<std::mutex> hold(lock_);
        largest_ = std::max(largest_, rows.size());
        for (auto& row : rows)
            details_.push_back(row.at(4));
        changed_.notify_all();
    }
    bool WaitForRows(size_t count)
    {
        std::unique_lock<std::mutex> hold(lock_);
        return changed_.wait_for(hold, std::chrono::seconds(20), [&] { return details_.size() >= count; });
    }
    std::vector<std::string> Details()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return details_;
    }
    size_t Largest()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return largest_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> details_;
    size_t largest_ = 0;
};

TEST(ActivityDisplay, ABehindWindowGetsBoundedBurstsAndEveryRowInOrder)
{
    CActivityQueue queue;
    Window window;
    CActivityDisplay* self = nullptr;
    std::atomic<bool> takeIn{false};
    CActivityDisplay display(queue, 34347, false, [&](std::vector<CActivityDisplay::Row>&& rows, bool) {
        window.Add(std::move(rows));
        // A window that keeps the first burst for a while.
        if (takeIn)
            self->BurstTaken();
    });
    self = &display;
    const size_t total = 3 * CActivityDisplay::kMaxBurstRows;
    display.Start();
    queue.Push(EndRecord(0));
    ASSERT_TRUE(window.WaitForRows(1));
    for (size_t i = 1; i < total; ++i)
        queue.Push(EndRecord(i));
    // Held up by the window, the display thread hands nothing over, and
    // stops growing the next burst at its limit (the rest stay queued).
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(window.Details().size(), 1u);

    takeIn = true;
    display.BurstTaken();
    ASSERT_TRUE(window.WaitForRows(total));
    const auto details = window.Details();
    ASSERT_EQ(details.size(), total);
    for (size_t i = 0; i < total; ++i)
        ASSERT_EQ(details[i], "CloseFile(" + std::to_string(i) + ")") << i;
    EXPECT_LE(window.Largest(), CActivityDisplay::kMaxBurstRows);
    display.RequestEnd();
}

// The display thread sleeps while idle; a record and the end must still wake it.
TEST(ActivityDisplay, AnIdleDisplayWakesForARecordAndForItsEnd)
{
    CActivityQueue queue;
    Window window;
    CActivityDisplay* self = nullptr;
    CActivityDisplay display(queue, 34347, false, [&](std::vector<CActivityDisplay::Row>&& rows, bool) {
        window.Add(std::move(rows));
        self->BurstTaken();
    });
    self = &display;
    display.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    queue.Push(EndRecord(0));
    ASSERT_TRUE(window.WaitForRows(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    display.RequestEnd();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!display.HasEnded() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(display.HasEnded());
}

} // namespace
