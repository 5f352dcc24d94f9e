// tqactivitybench: how fast one activity window takes in and shows records,
// how long its UI thread stalls meanwhile, what a row costs in memory, what
// an idle window costs, how it fares with callers its server's 2,000
// computers do not name, and what a watching window costs the server's call
// rate.
//   tqactivitybench [--quick] [--rate-only | --window-only] [--bin <folder of TQWL and tqwlsetup>]
// --rate-only skips the intake part, --window-only also the rate without a
// window (for profiling one part alone).

#include "bench/DirectComputerList.h"
#include "bench/GoalBook.h"
#include "bench/ProcStatus.h"
#include "bench/ScratchFolder.h"
#include "bench/TqwlInstance.h"
#include "common/callrecord/InvokeData.h"
#include "console/core/SilentPrompt.h"
#include "console/widgets/ActivityListModel.h"
#include "console/widgets/ServerActivityWnd.h"
#include "platform/pipe/NamedPipe.h"
#include "platform/transport/RpcClientTransport.h"
#include "server/dispatch/WinLogImpl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tqbench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWriters = 8;
constexpr int kConnections = 8;
constexpr double kRowsPerSecondGoal = 20000;
constexpr double kStallGoalMs = 100;
constexpr double kRateShareGoal = 0.5;
constexpr double kIdleWakeGoal = 1;
constexpr int kComputers = 2000;
constexpr double kUnknownShareGoal = 0.1;
constexpr double kDrainGoalSeconds = 5;
constexpr const char* kNilId = "00000000-0000-0000-0000-000000000000";
constexpr const char* kUnknownId = "bad0bad0-0000-4000-8000-00000000feed";

// The longest gap between ticks of a 5 ms timer on the UI thread.
class StallMeter {
public:
    StallMeter()
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            if (last_ >= 0 && now - last_ > worst_)
                worst_ = now - last_;
            last_ = now;
        });
        clock_.start();
        timer_.start();
    }
    double WorstMs() const { return static_cast<double>(worst_); }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = -1;
    qint64 worst_ = 0;
};

long ResidentKb()
{
    ProcStatus status;
    ProcStatus::Read(::getpid(), &status);
    return status.vmRssKb;
}

// Runs the UI thread until done() or the time is out.
bool SpinUntil(const std::function<bool()>& done, double seconds)
{
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// kWriters threads writing records through the server's own log sink, one
// connection each, until total are written; *next passes total + kWriters
// once all have ended.
std::vector<std::thread> StartWriters(DWORD port, size_t total, const char* computer, std::atomic<size_t>* next)
{
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([=] {
            CWinLogImpl log(port);
            for (size_t i; (i = (*next)++) < total;)
                log.LogCall(1, 1012, computer, ("ReadWholeFile(report-" + std::to_string(i) + ".dat)").c_str(), 0,
                            "WinFileImpl", "CWinFileImpl::OnReadWholeFile", 700);
        });
    return writers;
}

// Context switches of the process's threads other than this one.
long OtherThreadsSwitches()
{
    long total = 0;
    DIR* tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr)
        return -1;
    const std::string self = std::to_string(::gettid());
    while (const dirent* task = ::readdir(tasks)) {
        if (task->d_name[0] == '.' || self == task->d_name)
            continue;
        std::ifstream status(std::string("/proc/self/task/") + task->d_name + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::atol(line.substr(line.find(':') + 1).c_str());
    }
    ::closedir(tasks);
    return total;
}

// Wake-ups a second of an open window's threads while nothing comes.
void Idle(GoalBook& goals, CServerActivityWnd& wnd)
{
    SpinUntil([&] { return wnd.QueuedRecords() == 0; }, 30);
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long before = OtherThreadsSwitches();
    constexpr double kSeconds = 2;
    std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
    const double rate = (OtherThreadsSwitches() - before) / kSeconds;
    std::printf("Idle window: its threads woke %.1f times a second (goal at most %.0f)\n\n", rate, kIdleWakeGoal);
    goals.AtMost("idle window, wake-ups a second of its threads", rate, kIdleWakeGoal);
}

// Rows a second shown by a window of 8 writers' records.
double Intake(GoalBook& goals, size_t total, bool* faults)
{
    const DWORD port = 45001;
    CSilentPrompt prompt;
    const long residentBefore = ResidentKb();
    auto wnd = std::make_unique<CServerActivityWnd>(port, prompt);
    wnd->resize(1000, 600);
    wnd->show();
    SpinUntil([&] { return wnd->IsRunning(); }, 5);
    QApplication::processEvents();
    StallMeter stall;

    std::atomic<size_t> next{0};
    const auto start = Clock::now();
    std::vector<std::thread> writers = StartWriters(port, total, kNilId, &next);
    size_t lastShown = 0;
    auto lastProgress = Clock::now();
    SpinUntil(
        [&] {
            const size_t shown = static_cast<size_t>(wnd->Model()->rowCount());
            if (shown != lastShown) {
                lastShown = shown;
                lastProgress = Clock::now();
            }
            // Done when all are in, or nothing has come for two seconds after the writers ended.
            return shown >= total || (next >= total + kWriters && Clock::now() - lastProgress > std::chrono::seconds(2));
        },
        600);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (auto& t : writers)
        t.join();
    const size_t shown = static_cast<size_t>(wnd->Model()->rowCount());
    const double rate = shown / seconds;
    const double modelBytes = static_cast<double>(wnd->Model()->MemoryBytes()) / std::max<size_t>(shown, 1);
    const double residentBytes = (ResidentKb() - residentBefore) * 1024.0 / std::max<size_t>(shown, 1);

    std::printf("Intake: %d writers, one record per connection, %zu records\n", kWriters, total);
    std::printf("  rows shown      %zu of %zu in %.1f s: %.0f rows/s (goal at least %.0f)\n", shown, total, seconds,
                rate, kRowsPerSecondGoal);
    std::printf("  UI thread stall %.0f ms at worst (goal at most %.0f)\n", stall.WorstMs(), kStallGoalMs);
    std::printf("  memory per row  %.0f bytes of row text, %.0f bytes of process growth\n\n", modelBytes,
                residentBytes);
    goals.AtLeast("activity window intake, rows/s from 8 writers", rate, kRowsPerSecondGoal);
    goals.AtMost("UI thread stall while taking in, ms", stall.WorstMs(), kStallGoalMs);
    goals.Holds("every record written became a row", shown == total,
                std::to_string(shown) + " of " + std::to_string(total));
    if (shown != total)
        *faults = true;

    Idle(goals, *wnd);
    wnd->Close();
    SpinUntil([&] { return wnd->HasEnded(); }, 30);
    return rate;
}

// The window of a server with kComputers named computers, fed records from a
// computer it does not name: the rows a second shown, the queue at its peak
// and once the writers have stopped.
void UnknownCaller(GoalBook& goals, const std::string& bin, const ScratchFolder& scratch, size_t total,
                   double knownRate, bool* faults)
{
    TqwlInstance server(bin, scratch.Path());
    const int port = FreeLoopbackPort();
    const std::string folder = scratch / "unknown/";
    std::string error;
    // The computers go into the list the server made, between two runs. Their
    // id items all hold the same text: what counts is the calls an
    // enumeration makes, one per computer.
    const auto fill = [&] {
        DirectComputerList computers;
        if (computers.Open(folder + "complist.fdb") && computers.Fill("PC-", 0, kComputers, {{4, 7}}, 37))
            return true;
        error = computers.LastError();
        return false;
    };
    if (!server.Configure({{"Unknown", port, folder}}, &error) || !server.Start(&error) || server.Stop() != 0 ||
        !fill() || !server.Start(&error)) {
        std::printf("unknown caller: %s\n", error.c_str());
        *faults = true;
        return;
    }
    CSilentPrompt prompt;
    auto wnd = std::make_unique<CServerActivityWnd>(static_cast<DWORD>(port), prompt);
    wnd->resize(1000, 600);
    wnd->show();
    SpinUntil([&] { return wnd->IsRunning(); }, 5);
    std::atomic<size_t> next{0};
    const auto start = Clock::now();
    std::vector<std::thread> writers = StartWriters(static_cast<DWORD>(port), total, kUnknownId, &next);
    size_t scanned = 0, shown = 0, peak = 0;
    auto lastShown = start, lastRow = start;
    std::optional<Clock::time_point> stopped, drained;
    std::optional<size_t> queueAfter;
    SpinUntil(
        [&] {
            const auto now = Clock::now();
            peak = std::max(peak, wnd->QueuedRecords());
            // The caller's rows, apart from those of the window's own lookups.
            const size_t rows = static_cast<size_t>(wnd->Model()->rowCount());
            if (scanned < rows)
                lastRow = now;
            for (; scanned < rows; ++scanned)
                if (wnd->Model()->CellText(scanned, 4) == kUnknownId) {
                    ++shown;
                    lastShown = now;
                }
            if (!stopped && next >= total + kWriters)
                stopped = now;
            if (stopped && !drained && wnd->QueuedRecords() == 0)
                drained = now;
            if (stopped && !queueAfter && now - *stopped >= std::chrono::seconds(5))
                queueAfter = wnd->QueuedRecords();
            // Done when all are in, or nothing has come for two seconds.
            return queueAfter && (shown >= total || (drained && now - lastRow > std::chrono::seconds(2)));
        },
        600);
    for (auto& t : writers)
        t.join();
    const double seconds = std::chrono::duration<double>(lastShown - start).count();
    const double rate = seconds > 0 ? shown / seconds : 0;
    const double drainSeconds = stopped && drained ? std::chrono::duration<double>(*drained - *stopped).count() : 600;
    const int rows = wnd->Model()->rowCount();
    wnd->Close();
    SpinUntil([&] { return wnd->HasEnded(); }, 30);
    wnd.reset();
    server.Stop();

    std::printf("Unknown caller: %d writers, one computer the server's %d do not name, %zu records\n", kWriters,
                kComputers, total);
    std::printf("  rows shown      %zu of %zu in %.1f s: %.0f rows/s, %.0f%% of the known rate (goal at least %.0f%%)\n",
                shown, total, seconds, rate, knownRate > 0 ? 100 * rate / knownRate : 0, 100 * kUnknownShareGoal);
    std::printf("  lookup rows     %zu (its own calls to the server, logged back to it)\n",
                static_cast<size_t>(rows) - shown);
    std::printf("  lost            %zu (writers that found the pipe busy for over a second, the server among them)\n",
                total - shown);
    std::printf("  queue           %zu records at its peak, %zu 5 s after the writers stopped, empty %.1f s after "
                "(goal within %.0f)\n\n",
                peak, queueAfter.value_or(0), drainSeconds, kDrainGoalSeconds);
    if (knownRate > 0)
        goals.AtLeast("unknown caller's rows/s, share of the known rate", rate / knownRate, kUnknownShareGoal);
    goals.AtMost("queue empty after the unknown caller stopped, s", drainSeconds, kDrainGoalSeconds);
}

// Calls of a logged code over kConnections connections for the given time.
double CallRate(int port, double seconds, bool* faults)
{
    std::atomic<long> calls{0};
    std::atomic<bool> failed{false};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int c = 0; c < kConnections; ++c)
        threads.emplace_back([&] {
            CRpcClientTransport transport;
            const std::string binding = "WINSERVER:127.0.0.1:" + std::to_string(port);
            if (FAILED(transport.Connect(binding.c_str(), static_cast<DWORD>(binding.size())))) {
                failed = true;
                return;
            }
            CInvokeData request(1007);
            request.PushInString("bench.dat");
            std::vector<BYTE> blob(request.GetEncodedSize(InvokeModeRequest));
            request.Encode(blob.data(), static_cast<LONG>(blob.size()), InvokeModeRequest);
            while (!stop) {
                BYTE* reply = nullptr;
                DWORD length = 0;
                if (FAILED(transport.Call(blob.data(), static_cast<DWORD>(blob.size()), &reply, &length))) {
                    failed = true;
                    return;
                }
                CInvokeData answer;
                if (calls == 0 && (!answer.Decode(reply, length) || answer.result != S_OK)) {
                    std::printf("  code 1007 answered 0x%08X\n", static_cast<unsigned>(answer.result));
                    failed = true;
                }
                transport.FreeReply(reply);
                ++calls;
            }
        });
    const auto start = Clock::now();
    SpinUntil([] { return false; }, seconds);
    stop = true;
    for (auto& t : threads)
        t.join();
    if (failed)
        *faults = true;
    return calls / std::chrono::duration<double>(Clock::now() - start).count();
}

void ServerRate(GoalBook& goals, const std::string& bin, const ScratchFolder& scratch, double seconds,
                bool windowOnly, bool* faults)
{
    TqwlInstance server(bin, scratch.Path());
    const int port = FreeLoopbackPort();
    const std::string folder = scratch / "rate/";
    std::string error;
    if (!server.Configure({{"Rate", port, folder}}, &error) || !server.Start(&error)) {
        std::printf("server rate: %s\n", error.c_str());
        *faults = true;
        return;
    }
    std::ofstream(folder + "bench.dat") << std::string(1024, 'b');
    const double without = windowOnly ? 0 : CallRate(port, seconds, faults);
    CSilentPrompt prompt;
    auto wnd = std::make_unique<CServerActivityWnd>(static_cast<DWORD>(port), prompt);
    wnd->show();
    SpinUntil([&] { return wnd->IsRunning(); }, 5);
    const double with = CallRate(port, seconds, faults);
    const int rows = wnd->Model()->rowCount();
    wnd->Close();
    SpinUntil([&] { return wnd->HasEnded(); }, 30);
    wnd.reset();
    server.Stop();
    std::printf("Server call rate, code 1007 (a logged file query), %d connections\n", kConnections);
    std::printf("  no window       %.0f calls/s\n", without);
    std::printf("  window open     %.0f calls/s, %.0f%% of it (goal at least %.0f%%), %d rows shown\n\n", with,
                without > 0 ? 100 * with / without : 0, 100 * kRateShareGoal, rows);
    goals.AtLeast("call rate with a window open, share of the rate without", without > 0 ? with / without : 0,
                  kRateShareGoal);
}

} // namespace

int main(int argc, char** argv)
{
    bool quick = false;
    bool rateOnly = false;
    bool windowOnly = false;
    std::string bin;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else if (std::strcmp(argv[i], "--rate-only") == 0)
            rateOnly = true;
        else if (std::strcmp(argv[i], "--window-only") == 0)
            rateOnly = windowOnly = true;
        else if (std::strcmp(argv[i], "--bin") == 0 && i + 1 < argc)
            bin = argv[++i];
    }
    if (bin.empty()) {
        char path[4096];
        const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
        bin = std::string(path, n > 0 ? static_cast<size_t>(n) : 0);
        bin = bin.substr(0, bin.rfind('/'));
    }
    ScratchFolder scratch;
    ::setenv("TQ_STATE_ROOT", scratch.Path().c_str(), 1);
    ::setenv("TQ_EVENTLOG_FILE", (scratch / "eventlog.txt").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    GoalBook goals;
    bool faults = false;
    std::printf("tqactivitybench%s\n\n", quick ? ", quick run" : "");
    double knownRate = 0;
    if (!rateOnly) {
        knownRate = Intake(goals, quick ? 100000 : 1000000, &faults);
        UnknownCaller(goals, bin, scratch, quick ? 50000 : 250000, knownRate, &faults);
    }
    ServerRate(goals, bin, scratch, quick ? 2 : 5, windowOnly, &faults);
    std::printf("Goals:\n%s\n", goals.Render().c_str());
    return faults ? 1 : 0;
}
