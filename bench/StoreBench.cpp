#include "bench/StoreBench.h"

#include "bench/DirectComputerList.h"
#include "bench/DirectSql.h"
#include "bench/DirectUserList.h"
#include "bench/LatencyStats.h"
#include "bench/RpcSession.h"
#include "bench/Table.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>

namespace tqbench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUserPrefix = "user";
constexpr const char* kNewUserPrefix = "new";
constexpr const char* kComputerPrefix = "PC";
// The item SetComputerInformation rewrites; every computer has it.
constexpr DWORD kUpdatedApp = 5;
constexpr DWORD kUpdatedId = 1;

constexpr DWORD kUnclaimedCode = 6000;
// Most an operation over RPC may cost beside the same statements directly.
constexpr double kSingleEntryGoal = 1.5;
constexpr double kWholeListGoal = 1.3;
constexpr DWORD kCreateUser = 2004;
constexpr DWORD kEnumerateUsers = 2019;
constexpr DWORD kSetComputerInformation = 4010;
constexpr DWORD kGetCompleteComputerList = 4028;

std::string DirectFolder(const std::string& scratch, int size)
{
    return scratch + "/direct" + std::to_string(size) + "/";
}

// Times one operation into stats; false when it failed.
bool Timed(LatencyStats& stats, const std::function<bool()>& operation)
{
    const auto before = Clock::now();
    const bool ok = operation();
    stats.Add(std::chrono::duration<double, std::nano>(Clock::now() - before).count());
    return ok;
}

uint32_t ReadU32(const BYTE* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// The first out-item of a reply, without copying it.
const InvokeItem* FirstOut(const CInvokeData& reply)
{
    return reply.OutItems().empty() ? nullptr : &reply.OutItems().front();
}

// Names in a flat computer list: NUL-terminated texts, then one more NUL.
size_t CountListedNames(const InvokeItem& item)
{
    size_t names = 0;
    for (DWORD i = 0; i < item.length; ++i)
        if (item.data[i] == '\0' && i > 0 && item.data[i - 1] != '\0')
            ++names;
    return names;
}

// A computer of the list, picked evenly over the whole list.
int PickComputer(uint64_t* state, int size)
{
    *state = *state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<int>((*state >> 33) % static_cast<uint64_t>(size));
}

struct Operation {
    const char* name;
    bool perEntry;  // reads the whole list: its cost per entry counts
    LatencyStats rpc, direct;
};

} // namespace

const std::vector<std::pair<int, int>>& StoreBench::ItemKeys()
{
    // A caller's identity, its check-in time, and a block of system information.
    static const std::vector<std::pair<int, int>> keys{{4, 7}, {4, 9}, {11, 2}, {int(kUpdatedApp), int(kUpdatedId)}};
    return keys;
}

StoreBench::StoreBench(BenchContext& context, const std::string& scratch) : context_(context), scratch_(scratch)
{
    sizes_ = context.options.quick ? std::vector<int>{1000, 10000} : std::vector<int>{1000, 10000, 100000};
    for (int size : sizes_)
        servers_.push_back({"Store" + std::to_string(size), FreeLoopbackPort(),
                            scratch + "/store" + std::to_string(size) + "/"});
}

bool StoreBench::Fill(std::string* error)
{
    for (size_t i = 0; i < sizes_.size(); ++i) {
        const int size = sizes_[i];
        const std::string& folder = servers_[i].folder;
        {
            // Closed before the copy, so that each file holds all of its data
            // whatever the journal mode.
            DirectUserList users;
            DirectComputerList computers;
            if (!users.Open(folder + "userlist.fdb") || !users.Fill(kUserPrefix, 0, size)) {
                *error = "cannot fill " + folder + "userlist.fdb: " + users.LastError();
                return false;
            }
            if (!computers.Open(folder + "complist.fdb") ||
                !computers.Fill(kComputerPrefix, 0, size, ItemKeys(), kItemSize)) {
                *error = "cannot fill " + folder + "complist.fdb: " + computers.LastError();
                return false;
            }
        }
        std::error_code ec;
        const std::string direct = DirectFolder(scratch_, size);
        std::filesystem::create_directories(direct, ec);
        for (const char* name : {"userlist.fdb", "complist.fdb"})
            if (!ec)
                std::filesystem::copy_file(folder + name, direct + name,
                                           std::filesystem::copy_options::overwrite_existing, ec);
        if (ec) {
            *error = "cannot copy the lists of " + folder + ": " + ec.message();
            return false;
        }
    }
    return true;
}

void StoreBench::Run()
{
    const BenchOptions& options = context_.options;
    const int writes = options.quick ? 50 : 100;
    std::printf("Store operations: cost of one operation (median), over RPC through the server and directly on\n"
                "SQLite (the same statements on a copy of the same database); %d round(s), %d writes each.\n",
                options.repeat, writes);
    Table table({"operation", "entries", "RPC", "direct", "ratio", "RPC - direct", "RPC per entry",
                 "direct per entry"});
    LatencyStats roundTrip;
    // Per operation, its cost at each size (per entry for the whole-list
    // reads), over RPC and directly.
    std::vector<std::vector<double>> costs(4), directCosts(4);
    bool failed = false;
    std::string failure;
    auto fail = [&](const std::string& what) {
        if (!failed)
            failure = what;
        failed = true;
        return false;
    };

    for (size_t s = 0; s < sizes_.size() && !failed; ++s) {
        const int size = sizes_[s];
        const int reads = std::max(3, std::min(50, 300000 / size));
        RpcSession session;
        DirectUserList users;
        DirectComputerList computers;
        const std::string direct = DirectFolder(scratch_, size);
        if (session.Connect(servers_[s].port) != RPC_S_OK || !users.Open(direct + "userlist.fdb") ||
            !computers.Open(direct + "complist.fdb")) {
            fail("cannot reach the lists of size " + std::to_string(size));
            break;
        }
        // One round trip of a call that does nothing, for the scale of the
        // fixed part of each RPC figure.
        CRpcBuffer empty;
        RpcSession::MarshalInvoke(CInvokeData(kUnclaimedCode), empty);
        for (int k = 0; k < 200; ++k)
            Timed(roundTrip, [&] { return session.Call(RpcSession::kRemoteInvoke, empty) == RPC_S_OK; });
        Operation ops[4] = {{"CreateUser", false, {}, {}},
                            {"EnumerateUsers", true, {}, {}},
                            {"SetComputerInformation", false, {}, {}},
                            {"GetCompleteComputerList", true, {}, {}}};
        int created = 0;
        uint64_t pick = 42;
        std::vector<std::string> names;
        std::vector<BYTE> info(kItemSize);
        // Whole-list reads time the call alone: the request is marshalled
        // before and the reply read after, as the direct side's vector is
        // ready before and its names are counted after.
        CRpcBuffer stub;

        for (int round = 0; round < options.repeat && !failed; ++round) {
            // CreateUser of users not yet listed, the same names on both
            // sides, one side after the other call by call so that both see
            // the same machine.
            for (int k = 0; k < writes && !failed; ++k) {
                const std::string name = NumberedName(kNewUserPrefix, created + k);
                Timed(ops[0].rpc, [&] {
                    CInvokeData request(kCreateUser), reply;
                    request.PushInString(name.c_str());
                    LONG value = -1;
                    return (session.Invoke(request, reply, &value) && value == 0 && reply.result == S_OK) ||
                           fail("CreateUser(" + name + ") over RPC failed");
                });
                Timed(ops[0].direct, [&] {
                    return users.CreateUser(name) || fail(std::string("CreateUser directly: ") + users.LastError());
                });
            }
            created += writes;
            const size_t listed = static_cast<size_t>(size + created);

            for (int k = 0; k < reads && !failed; ++k) {
                {
                    // Only the call is timed; the answer is checked afterwards.
                    CInvokeData reply;
                    LONG value = -1;
                    bool called = false;
                    RpcSession::MarshalInvoke(CInvokeData(kEnumerateUsers), stub);
                    Timed(ops[1].rpc,
                          [&] { return called = session.Call(RpcSession::kRemoteInvoke, stub) == RPC_S_OK; });
                    called = called && session.ReadInvoke(&value, reply);
                    const InvokeItem* list = FirstOut(reply);
                    if (!called || value != 0 || reply.result != S_OK || list == nullptr || list->length < 4 ||
                        ReadU32(list->data) != listed)
                        fail("EnumerateUsers over RPC did not list " + std::to_string(listed) + " users");
                }
                Timed(ops[1].direct, [&] {
                    return (users.EnumerateUsers(&names) && names.size() == listed) ||
                           fail(std::string("EnumerateUsers directly: ") + users.LastError());
                });
            }

            // SetComputerInformation rewrites an item of computers spread
            // over the list, the same ones on both sides.
            for (int k = 0; k < writes && !failed; ++k) {
                const std::string computer = NumberedName(kComputerPrefix, PickComputer(&pick, size));
                std::snprintf(reinterpret_cast<char*>(info.data()), info.size(), "round %d call %d", round, k);
                Timed(ops[2].rpc, [&] {
                    CInvokeData request(kSetComputerInformation), reply;
                    request.PushInString(computer.c_str());
                    request.PushInDword(kUpdatedApp);
                    request.PushInDword(kUpdatedId);
                    request.PushInBytes(info.data(), static_cast<DWORD>(info.size()));
                    LONG value = -1;
                    return (session.Invoke(request, reply, &value) && value == 0 && reply.result == S_OK) ||
                           fail("SetComputerInformation(" + computer + ") over RPC failed");
                });
                Timed(ops[2].direct, [&] {
                    return computers.SetComputerInformation(computer, kUpdatedApp, kUpdatedId, info.data(),
                                                            static_cast<int>(info.size())) ||
                           fail(std::string("SetComputerInformation directly: ") + computers.LastError());
                });
            }

            for (int k = 0; k < reads && !failed; ++k) {
                {
                    CInvokeData reply;
                    LONG value = -1;
                    bool called = false;
                    RpcSession::MarshalInvoke(CInvokeData(kGetCompleteComputerList), stub);
                    Timed(ops[3].rpc,
                          [&] { return called = session.Call(RpcSession::kRemoteInvoke, stub) == RPC_S_OK; });
                    called = called && session.ReadInvoke(&value, reply);
                    const InvokeItem* list = FirstOut(reply);
                    if (!called || value != 0 || reply.result != S_OK || list == nullptr ||
                        CountListedNames(*list) != static_cast<size_t>(size))
                        fail("GetCompleteComputerList over RPC did not list " + std::to_string(size) + " computers");
                }
                Timed(ops[3].direct, [&] {
                    return (computers.GetCompleteComputerList(&names) && names.size() == static_cast<size_t>(size)) ||
                           fail(std::string("GetCompleteComputerList directly: ") + computers.LastError());
                });
            }
        }
        for (int o = 0; o < 4 && !failed; ++o) {
            const Operation& op = ops[o];
            const double rpc = op.rpc.Median(), directCost = op.direct.Median();
            const double ratio = directCost > 0 ? rpc / directCost : 0;
            const double entries = static_cast<double>(o == 1 ? size + created : size);
            table.AddRow({op.name, FormatCount(size), FormatDuration(rpc), FormatDuration(directCost),
                          FormatRatio(ratio), FormatDuration(rpc - directCost),
                          op.perEntry ? FormatDuration(rpc / entries) : "",
                          op.perEntry ? FormatDuration(directCost / entries) : ""});
            costs[o].push_back(op.perEntry ? rpc / entries : rpc);
            directCosts[o].push_back(op.perEntry ? directCost / entries : directCost);
            // The goal is set at the list sizes named for each operation: the
            // whole-list reads and CreateUser at 100,000 entries,
            // SetComputerInformation at 10,000.
            const int goalSize = o == 2 ? 10000 : 100000;
            if (size == goalSize || (size == sizes_.back() && sizes_.back() < goalSize))
                context_.goals.AtMost(std::string(op.name) + " over RPC / direct, " + FormatCount(size) + " entries",
                                      ratio, op.perEntry ? kWholeListGoal : kSingleEntryGoal);
        }
    }
    if (failed) {
        std::printf("  %s\n", failure.c_str());
        context_.faults = true;
    }
    std::printf("%s", table.Render().c_str());
    std::printf("  one round trip of an empty call (RemoteInvoke 6000, same connection): %s median\n",
                FormatDuration(roundTrip.Median()).c_str());
    if (!failed && sizes_.size() > 1) {
        // An operation on one entry must cost the same in a large list as in
        // a small one. A whole-list read costs more per entry in a large
        // list even directly (its rows no longer fit the caches); the server
        // must add no growth of its own.
        const char* names[4] = {"CreateUser", "EnumerateUsers per entry", "SetComputerInformation",
                                "GetCompleteComputerList per entry"};
        const std::string span = FormatCount(sizes_.front()) + " -> " + FormatCount(sizes_.back()) + " entries";
        std::printf("  cost growth %s, over RPC and (directly):\n", span.c_str());
        for (int o = 0; o < 4; ++o) {
            auto growth = [&](const std::vector<double>& c) { return c.front() > 0 ? c.back() / c.front() : 0; };
            const double rpc = growth(costs[o]), direct = growth(directCosts[o]);
            std::printf("    %-34s x%s (x%s)\n", names[o], FormatRatio(rpc).c_str(), FormatRatio(direct).c_str());
            if (o % 2 == 0)
                context_.goals.AtMost(std::string(names[o]) + " cost growth " + span, rpc, 1.5);
            else
                context_.goals.AtMost(std::string(names[o]) + " cost growth " + span + " / direct growth",
                                      direct > 0 ? rpc / direct : 0, 1.5);
        }
    }
    std::printf("\n");
}

} // namespace tqbench
