#include "console/core/ActivityDisplay.h"

#include "console/core/ActivityRecord.h"

#include <chrono>
#include <deque>
#include <ctime>

namespace {

std::tm LocalNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

} // namespace

CActivityDisplay::CActivityDisplay(CActivityQueue& queue, DWORD port, bool extraInfo, RowSink sink)
    : clock(LocalNow), queue_(queue), extraInfo_(extraInfo), sink_(std::move(sink)), resolver_(port, &end_)
{
}

CActivityDisplay::~CActivityDisplay()
{
    RequestEnd();
    if (thread_.joinable())
        thread_.join();
}

void CActivityDisplay::Start(std::function<void()> atEnd)
{
    if (thread_.joinable())
        return;
    atEnd_ = std::move(atEnd);
    end_ = false;
    ended_ = false;
    thread_ = std::thread([this] { Run(); });
}

void CActivityDisplay::RequestEnd()
{
    end_ = true;
    queue_.Wake();
}

void CActivityDisplay::BurstTaken()
{
    inFlight_ = false;
    queue_.Wake();
}

void CActivityDisplay::Flush(std::vector<Row>& rows, bool burstEnd)
{
    inFlight_ = true;
    sink_(std::move(rows), burstEnd);
    rows.clear();
}

void CActivityDisplay::Run()
{
    using Clock = std::chrono::steady_clock;
    std::vector<Row> rows;
    bool endOwed = false; // rows went out since the last burst end
    auto burstStart = Clock::now();
    std::deque<std::string> taken; // records taken from the queue, not handled yet
    while (!end_) {
        if (rows.size() >= kMaxBurstRows) {
            // The window is behind: records wait unparsed rather than grow
            // the next burst into one that stalls the window.
            if (!inFlight_) {
                Flush(rows, false);
                endOwed = true;
            } else {
                queue_.Wait(false); // until the window takes the burst
            }
            continue;
        }
        if (taken.empty() && queue_.Size() == 0) {
            if ((!rows.empty() || endOwed) && !inFlight_) {
                Flush(rows, true);
                endOwed = false;
            }
            queue_.Wait(true);
            // Woken by a record or a taken burst: let more come first, or a
            // slow stream becomes a burst per record, each scrolling and
            // sizing the list.
            if (!end_)
                std::this_thread::sleep_for(std::chrono::milliseconds(kGatherMs));
            continue;
        }
        if (taken.empty() && !queue_.TakeAll(&taken))
            continue;
        const std::string text = std::move(taken.front());
        taken.pop_front();
        if (rows.empty())
            burstStart = Clock::now();
        const std::tm now = clock();
        const CActivityRecord record = CActivityRecord::Parse(text);
        // Every record's computer is named, also those not shown.
        std::string computer = record.Field(4);
        resolver_.ResolveComputerName(computer);
        if (record.IsShown())
            rows.push_back(record.Cells(CActivityRecord::DateText(now), CActivityRecord::TimeText(now), computer,
                                        extraInfo_));
        if (!inFlight_ && !rows.empty() &&
            (rows.size() >= kBurstRows || Clock::now() - burstStart >= std::chrono::milliseconds(kBurstMs))) {
            Flush(rows, false);
            endOwed = true;
        }
    }
    if (atEnd_)
        atEnd_();
    ended_ = true;
}
