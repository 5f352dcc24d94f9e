#include "bench/LoadBench.h"

#include "bench/ClosedLoop.h"
#include "bench/LatencyStats.h"
#include "bench/ProcStatus.h"
#include "bench/RpcSession.h"
#include "bench/Table.h"
#include "bench/TqwlInstance.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

namespace tqbench {

namespace {

constexpr DWORD kUnclaimedCode = 6000;
constexpr DWORD kWriteWholeFile = 1011;
constexpr DWORD kReadWholeFile = 1012;
constexpr DWORD kSetComputerInformation = 4010;
constexpr DWORD kGetComputerInformation = 4011;
constexpr const char* kFileName = "load16k.bin";
constexpr size_t kFileSize = 16 * 1024;
constexpr DWORD kApp = 5;
constexpr DWORD kId = 1;

BYTE FileByte(size_t i)
{
    return static_cast<BYTE>(i * 31 + 7);
}

std::string ComputerName(int index)
{
    char name[16];
    std::snprintf(name, sizeof name, "LOAD%04d", index);
    return name;
}

// What GetComputerInformation must give back for the client's computer.
std::string ComputerItem(int index)
{
    return "load item of client " + std::to_string(index);
}

// The server's memory, read every few milliseconds while the run lasts.
class MemoryWatch {
public:
    explicit MemoryWatch(pid_t pid) : pid_(pid), thread_([this] { Watch(); }) {}
    ~MemoryWatch() { Finish(); }
    void Finish()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    long PeakRssKb() const { return peakRss_; }
    long PeakThreads() const { return peakThreads_; }

private:
    void Watch()
    {
        while (!stop_) {
            ProcStatus s;
            if (ProcStatus::Read(pid_, &s)) {
                peakRss_ = std::max(peakRss_.load(), s.vmRssKb);
                peakThreads_ = std::max(peakThreads_.load(), s.threads);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    pid_t pid_;
    std::atomic<bool> stop_{false};
    std::atomic<long> peakRss_{0};
    std::atomic<long> peakThreads_{0};
    std::thread thread_;
};

} // namespace

bool LoadBench::Seed(std::string* error)
{
    RpcSession session;
    if (session.Connect(context_.rpcPort) != RPC_S_OK) {
        *error = "cannot connect";
        return false;
    }
    std::vector<BYTE> content(kFileSize);
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = FileByte(i);
    CInvokeData write(kWriteWholeFile), reply;
    write.PushInString(kFileName);
    write.PushInBytes(content.data(), static_cast<DWORD>(content.size()));
    LONG value = -1;
    if (!session.Invoke(write, reply, &value) || value != 0 || reply.result != S_OK) {
        *error = "cannot write the load file";
        return false;
    }
    for (int i = 0; i < kClients; ++i) {
        CInvokeData set(kSetComputerInformation), answer;
        const std::string item = ComputerItem(i);
        set.PushInString(ComputerName(i).c_str());
        set.PushInDword(kApp);
        set.PushInDword(kId);
        set.PushInBytes(item.data(), static_cast<DWORD>(item.size()));
        if (!session.Invoke(set, answer, &value) || value != 0 || answer.result != S_OK) {
            *error = "cannot store the item of " + ComputerName(i);
            return false;
        }
    }
    return true;
}

void LoadBench::Run()
{
    const int callsEach = context_.options.quick ? 8 : 40;
    std::string error;
    if (!Seed(&error)) {
        std::printf("Load run: %s\n\n", error.c_str());
        context_.faults = true;
        return;
    }
    const pid_t pid = context_.server->Pid();
    // The high-water mark starts again here, so that it is this run's and
    // not the bulk files' before it.
    {
        std::ofstream clear("/proc/" + std::to_string(pid) + "/clear_refs");
        clear << "5\n";
    }
    ProcStatus before;
    ProcStatus::Read(pid, &before);

    CRpcBuffer versionStub, unclaimedStub, readStub;
    RpcSession::MarshalInvoke(CInvokeData(kUnclaimedCode), unclaimedStub);
    CInvokeData read(kReadWholeFile);
    read.PushInString(kFileName);
    RpcSession::MarshalInvoke(read, readStub);
    std::atomic<uint64_t> lost{0};
    // Per client and call kind, to tell which calls wait.
    std::vector<std::array<LatencyStats, 4>> kinds(kClients);

    // Every connection stays open here until the quiet server is measured.
    std::vector<std::shared_ptr<RpcSession>> held(kConnections);
    std::atomic<int> refused{0};

    MemoryWatch watch(pid);
    LoopResult result = ClosedLoop::ForCount(kClients, callsEach, [&](int index, std::string* error) -> ClosedLoop::Call {
        auto sessions = std::make_shared<std::vector<std::shared_ptr<RpcSession>>>();
        for (int c = index; c < kConnections; c += kClients) {
            auto session = std::make_shared<RpcSession>("127.0.0." + std::to_string(1 + c % kSources));
            RPC_STATUS status = session->Connect(context_.rpcPort);
            if (status != RPC_S_OK) {
                refused += 1;
                *error = "connect and bind failed, status " + std::to_string(status);
                return {};
            }
            held[static_cast<size_t>(c)] = session;
            sessions->push_back(std::move(session));
        }
        auto stub = std::make_shared<CRpcBuffer>();
        CInvokeData get(kGetComputerInformation);
        get.PushInString(ComputerName(index).c_str());
        get.PushInDword(kApp);
        get.PushInDword(kId);
        RpcSession::MarshalInvoke(get, *stub);
        auto turn = std::make_shared<int>(index);
        return [&, sessions, stub, turn, index](std::string* error) {
            const int n = (*turn)++;
            const int kind = n % 4;
            RpcSession* session = (*sessions)[static_cast<size_t>(n) % sessions->size()].get();
            const USHORT opnum = kind == 0 ? RpcSession::kGetVersion : RpcSession::kRemoteInvoke;
            const CRpcBuffer& request = kind == 0 ? versionStub : kind == 1 ? unclaimedStub : kind == 2 ? readStub : *stub;
            const auto before = std::chrono::steady_clock::now();
            RPC_STATUS status = session->Call(opnum, request);
            kinds[static_cast<size_t>(index)][static_cast<size_t>(kind)].Add(
                std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - before).count());
            if (status != RPC_S_OK) {
                if (status == RPC_S_CALL_CANCELLED)
                    ++lost;
                *error = "call failed, status " + std::to_string(status);
                return false;
            }
            LONG value = -1;
            CInvokeData reply;
            if (kind == 0) {
                if (session->ReadVersion(&value) && value == 5)
                    return true;
                *error = "GetVersion did not answer 5";
                return false;
            }
            if (!session->ReadInvoke(&value, reply) || value != 0) {
                *error = "RemoteInvoke did not read, value " + std::to_string(value);
                return false;
            }
            const InvokeItem* item = reply.OutItems().empty() ? nullptr : &reply.OutItems().front();
            if (kind == 1 && reply.result == E_NOTIMPL)
                return true;
            if (kind == 2 && reply.result == S_OK && item != nullptr && item->length == kFileSize) {
                for (size_t i = 0; i < kFileSize; ++i)
                    if (item->data[i] != FileByte(i)) {
                        *error = "ReadWholeFile gave other bytes";
                        return false;
                    }
                return true;
            }
            const std::string expected = ComputerItem(index);
            if (kind == 3 && reply.result == S_OK && item != nullptr && item->length == expected.size() &&
                std::memcmp(item->data, expected.data(), expected.size()) == 0)
                return true;
            char text[96];
            std::snprintf(text, sizeof text, "call kind %d answered 0x%08X", kind, static_cast<unsigned>(reply.result));
            *error = text;
            return false;
        };
    });
    watch.Finish();
    ProcStatus during;
    ProcStatus::Read(pid, &during);
    // Held and silent: the server gives a connection's buffers and thread
    // back after a second of quiet, and idle call threads end later still;
    // the figure is taken once the memory stops falling.
    const int heldCount = static_cast<int>(std::count_if(held.begin(), held.end(), [](const auto& s) { return s != nullptr; }));
    ProcStatus quiet;
    ProcStatus::Read(pid, &quiet);
    const auto quietFrom = std::chrono::steady_clock::now();
    for (int i = 0; i < 40; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ProcStatus now;
        ProcStatus::Read(pid, &now);
        const bool settled = now.threads <= before.threads + 4 && now.vmRssKb >= quiet.vmRssKb - 64;
        quiet = now;
        if (settled)
            break;
    }
    const double settleSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - quietFrom).count();
    const double perConnectionKb =
        heldCount > 0 ? static_cast<double>(quiet.vmRssKb - before.vmRssKb) / heldCount : 0;
    held.clear();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ProcStatus after;
    ProcStatus::Read(pid, &after);

    const uint64_t expected = static_cast<uint64_t>(kClients) * static_cast<uint64_t>(callsEach);
    const uint64_t made = result.calls + result.failures;
    const uint64_t notMade = expected - std::min(expected, made);
    std::printf("Load run: %s connections held from %d loopback addresses, used by %d clients at once, each\n"
                "making %d calls in turn over its connections: GetVersion, RemoteInvoke 6000, ReadWholeFile of\n"
                "16 KiB, GetComputerInformation of its own computer (every answer checked). Then all stay open\n"
                "and silent until the server's memory settles.\n",
                FormatCount(kConnections).c_str(), kSources, kClients, callsEach);
    Table table({"figure", "value"});
    table.AddRow({"connections held", FormatCount(static_cast<double>(heldCount)) + " of " +
                                          FormatCount(kConnections)});
    table.AddRow({"calls answered correctly", FormatCount(static_cast<double>(result.calls)) + " of " +
                                                  FormatCount(static_cast<double>(expected))});
    table.AddRow({"calls failed or answered wrongly", FormatCount(static_cast<double>(result.failures - lost.load()))});
    table.AddRow({"calls lost (no answer in 120 s)", FormatCount(static_cast<double>(lost.load()))});
    table.AddRow({"calls not made (no connection)", FormatCount(static_cast<double>(notMade))});
    table.AddRow({"most calls in flight at once", FormatCount(static_cast<double>(result.maxInFlight))});
    table.AddRow({"time", FormatDuration(result.seconds * 1e9)});
    table.AddRow({"calls/s", FormatCount(result.Rate())});
    table.AddRow({"latency p50 / p99", FormatDuration(result.latency.Percentile(50)) + " / " +
                                           FormatDuration(result.latency.Percentile(99))});
    const char* kindNames[4] = {"GetVersion", "RemoteInvoke 6000", "ReadWholeFile 16 KiB", "GetComputerInformation"};
    for (size_t k = 0; k < 4; ++k) {
        LatencyStats all;
        for (const auto& client : kinds)
            all.Merge(client[k]);
        table.AddRow({std::string("  ") + kindNames[k] + " p50 / p99 / max",
                      FormatDuration(all.Percentile(50)) + " / " + FormatDuration(all.Percentile(99)) + " / " +
                          FormatDuration(all.Percentile(100))});
    }
    table.AddRow({"server VmRSS before", FormatKilobytes(before.vmRssKb)});
    table.AddRow({"server VmRSS at most (sampled)", FormatKilobytes(watch.PeakRssKb())});
    table.AddRow({"server VmHWM of the run", FormatKilobytes(during.vmHwmKb)});
    char settledAfter[64];
    std::snprintf(settledAfter, sizeof settledAfter, " (settled after %.1f s)", settleSeconds);
    table.AddRow({"server VmRSS with every connection held and quiet", FormatKilobytes(quiet.vmRssKb) + settledAfter});
    table.AddRow({"  per held quiet connection", FormatRatio(perConnectionKb) + " KiB"});
    table.AddRow({"server VmRSS 1 s after the clients left", FormatKilobytes(after.vmRssKb)});
    table.AddRow({"server threads before / at most / quiet / after",
                  std::to_string(before.threads) + " / " + std::to_string(watch.PeakThreads()) + " / " +
                      std::to_string(quiet.threads) + " / " + std::to_string(after.threads)});
    std::printf("%s", table.Render().c_str());
    if (!result.firstError.empty())
        std::printf("  first failure: %s\n", result.firstError.c_str());
    std::printf("\n");
    const bool clean = result.setupFailures == 0 && result.calls == expected && heldCount == kConnections;
    if (!clean)
        context_.faults = true;
    context_.goals.Holds("load of " + FormatCount(kConnections) + " held connections: every call answered correctly",
                         clean,
                         FormatCount(static_cast<double>(result.calls)) + " of " +
                             FormatCount(static_cast<double>(expected)) + " calls, " +
                             FormatCount(static_cast<double>(refused.load())) + " connections refused");
    context_.goals.AtMost("memory per held quiet connection, KiB", perConnectionKb, kQuietConnectionGoalKb);
}

} // namespace tqbench
