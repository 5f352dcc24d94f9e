#include "bench/CallRateBench.h"

#include "bench/ClosedLoop.h"
#include "bench/PlainClient.h"
#include "bench/RpcSession.h"
#include "bench/Table.h"
#include "platform/rpc/RpcProtocol.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace tqbench {

namespace {

// A code no handler and no snap-in claims: the cheapest full RemoteInvoke.
constexpr DWORD kUnclaimedCode = 6000;
// The share of the plain server's call rate the server must reach.
constexpr double kCallRateGoal = 0.95;
constexpr int kConnections[] = {1, 8, 64};

struct Kind {
    const char* name;
    USHORT opnum;
    CRpcBuffer stub;
    size_t requestBytes = 0;  // whole packets, headers included
    size_t replyBytes = 0;
};

// The answer each kind must get.
bool CheckReply(const RpcSession& session, const Kind& kind, std::string* error)
{
    if (kind.opnum == RpcSession::kGetVersion) {
        LONG version = 0;
        if (session.ReadVersion(&version) && version == 5)
            return true;
        *error = "GetVersion did not answer 5";
        return false;
    }
    LONG value = -1;
    CInvokeData reply;
    if (session.ReadInvoke(&value, reply) && value == 0 && reply.result == E_NOTIMPL)
        return true;
    char text[96];
    std::snprintf(text, sizeof text, "code %u answered 0x%08X (value %d), not E_NOTIMPL", kUnclaimedCode,
                  static_cast<unsigned>(reply.result), static_cast<int>(value));
    *error = text;
    return false;
}

struct Figures {
    std::vector<double> rate, p50, p99;
    void Add(const LoopResult& r)
    {
        rate.push_back(r.Rate());
        p50.push_back(r.latency.Percentile(50));
        p99.push_back(r.latency.Percentile(99));
    }
};

} // namespace

void CallRateBench::Run()
{
    const int port = context_.rpcPort;
    std::vector<Kind> kinds(2);
    kinds[0].name = "GetVersion";
    kinds[0].opnum = RpcSession::kGetVersion;
    kinds[1].name = "RemoteInvoke 6000";
    kinds[1].opnum = RpcSession::kRemoteInvoke;
    RpcSession::MarshalInvoke(CInvokeData(kUnclaimedCode), kinds[1].stub);

    // The plain messages are exactly as long as the packets of one call.
    RpcSession probe;
    if (probe.Connect(port) != RPC_S_OK) {
        std::printf("  cannot connect to the server on port %d\n", port);
        context_.faults = true;
        return;
    }
    for (Kind& kind : kinds) {
        std::string error;
        if (probe.Call(kind.opnum, kind.stub) != RPC_S_OK || !CheckReply(probe, kind, &error)) {
            std::printf("  %s fails: %s\n", kind.name, error.c_str());
            context_.faults = true;
            return;
        }
        kind.requestBytes = rpc::kRequestHeaderSize + kind.stub.Size();
        kind.replyBytes = rpc::kResponseHeaderSize + probe.Reply().Size();
    }
    probe.Close();

    std::printf("Call rate: closed loop, each connection on its own client thread; %d run(s) of %.1f s each,\n"
                "median of the runs. Plain: the plain TCP server answering messages of the same sizes.\n",
                context_.options.repeat, context_.options.seconds);
    Table table({"call", "bytes in/out", "conns", "calls/s", "p50", "p99", "plain calls/s", "p50", "p99", "ratio"});
    for (const Kind& kind : kinds) {
        for (int connections : kConnections) {
            Figures rpcFigures, plainFigures;
            for (int run = 0; run < context_.options.repeat; ++run) {
                LoopResult rpc = ClosedLoop::ForTime(connections, context_.options.seconds,
                                                     [&](int, std::string* error) -> ClosedLoop::Call {
                    auto session = std::make_shared<RpcSession>();
                    RPC_STATUS status = session->Connect(port);
                    if (status != RPC_S_OK) {
                        *error = "connect and bind failed, status " + std::to_string(status);
                        return {};
                    }
                    return [session, &kind](std::string* error) {
                        RPC_STATUS status = session->Call(kind.opnum, kind.stub);
                        if (status != RPC_S_OK) {
                            *error = "call failed, status " + std::to_string(status);
                            return false;
                        }
                        return CheckReply(*session, kind, error);
                    };
                });
                LoopResult plain = ClosedLoop::ForTime(connections, context_.options.seconds,
                                                       [&](int, std::string* error) -> ClosedLoop::Call {
                    auto client = std::make_shared<PlainClient>();
                    if (!client->Connect(context_.plainPort)) {
                        *error = "cannot connect to the plain server";
                        return {};
                    }
                    return [client, &kind](std::string* error) {
                        if (client->Call(kind.requestBytes, kind.replyBytes))
                            return true;
                        *error = "plain call failed";
                        return false;
                    };
                });
                for (const LoopResult* r : {&rpc, &plain})
                    if (r->failures != 0 || r->setupFailures != 0) {
                        std::printf("  %s over %d connections (%s): %llu failed calls, %llu failed connections: %s\n",
                                    kind.name, connections, r == &rpc ? "RPC" : "plain",
                                    static_cast<unsigned long long>(r->failures),
                                    static_cast<unsigned long long>(r->setupFailures), r->firstError.c_str());
                        context_.faults = true;
                    }
                rpcFigures.Add(rpc);
                plainFigures.Add(plain);
            }
            const double rate = MedianOf(rpcFigures.rate), plainRate = MedianOf(plainFigures.rate);
            const double ratio = plainRate > 0 ? rate / plainRate : 0;
            table.AddRow({kind.name, std::to_string(kind.requestBytes) + "/" + std::to_string(kind.replyBytes),
                          std::to_string(connections), FormatCount(rate), FormatDuration(MedianOf(rpcFigures.p50)),
                          FormatDuration(MedianOf(rpcFigures.p99)), FormatCount(plainRate),
                          FormatDuration(MedianOf(plainFigures.p50)), FormatDuration(MedianOf(plainFigures.p99)),
                          FormatRatio(ratio)});
            if (connections == 8 || connections == 64)
                context_.goals.AtLeast(std::string("call rate of ") + kind.name + " over " +
                                           std::to_string(connections) + " connections / plain",
                                       ratio, kCallRateGoal);
        }
    }
    std::printf("%s\n", table.Render().c_str());
}

} // namespace tqbench
