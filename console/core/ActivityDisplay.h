#pragma once
// The display thread of an activity window: takes the queued records (all
// that wait, under one lock), parses them one by one, names their computers
// and hands the rows that are shown to the window in bursts. It never touches
// the window itself. With nothing to do it sleeps until a record comes, the
// window takes a burst, or it is told to end.

#include "console/core/ActivityQueue.h"
#include "console/core/ComputerNameResolver.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class CActivityDisplay {
public:
    using Row = std::vector<std::string>; // cells 1 and on; the list numbers the rows
    // Gets the rows of a burst; burstEnd when the queue has run empty (the
    // list then scrolls and sizes its columns). One burst is handed over at a
    // time: the next waits (and grows) until the window calls BurstTaken, so
    // a busy window gets fewer, larger bursts instead of a pile of them.
    using RowSink = std::function<void(std::vector<Row>&& rows, bool burstEnd)>;

    // A burst is handed over at the latest after this many rows or ms, so a
    // steady stream still shows.
    static constexpr size_t kBurstRows = 512;
    static constexpr int kBurstMs = 50;
    // A burst grows no further while the one before is in flight.
    static constexpr size_t kMaxBurstRows = 1024;
    // How long a woken display thread waits for more before it goes on.
    static constexpr int kGatherMs = 5;

    CActivityDisplay(CActivityQueue& queue, DWORD port, bool extraInfo, RowSink sink);
    ~CActivityDisplay();
    CActivityDisplay(const CActivityDisplay&) = delete;
    CActivityDisplay& operator=(const CActivityDisplay&) = delete;

    // atEnd runs on the thread as its last work (the window stops its pipe there).
    void Start(std::function<void()> atEnd = {});
    // Returns at once; the thread ends before it takes another record.
    void RequestEnd();
    bool HasEnded() const { return ended_; }
    // The window has taken in the last burst; any thread.
    void BurstTaken();

    // The local date and time texts the rows get; replaceable for tests.
    std::function<std::tm()> clock;

private:
    void Run();
    void Flush(std::vector<Row>& rows, bool burstEnd);

    CActivityQueue& queue_;
    bool extraInfo_;
    RowSink sink_;
    std::atomic<bool> end_{false}; // also cuts a name lookup short
    CComputerNameResolver resolver_;
    std::function<void()> atEnd_;
    std::atomic<bool> ended_{true};
    std::atomic<bool> inFlight_{false};
    std::thread thread_;
};
