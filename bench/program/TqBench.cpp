// tqbench: starts a real TQWL on free loopback ports with a state root of
// its own and measures it beside baselines run the same way on the same
// machine (see the README's section on benchmarks).

#include "bench/BenchContext.h"
#include "bench/CallRateBench.h"
#include "bench/FileBench.h"
#include "bench/LoadBench.h"
#include "bench/PlainServer.h"
#include "bench/ProcStatus.h"
#include "bench/ScratchFolder.h"
#include "bench/StoreBench.h"
#include "bench/Table.h"
#include "bench/TqwlInstance.h"
#include "common/Names.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tqbench;

namespace {

std::string OwnFolder()
{
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    std::string text(path, static_cast<size_t>(n));
    auto slash = text.rfind('/');
    return slash == std::string::npos ? "." : text.substr(0, slash);
}

double OneMinuteLoad()
{
    std::ifstream in("/proc/loadavg");
    double one = 0;
    in >> one;
    return one;
}

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    double one = 0, five = 0, fifteen = 0;
    in >> one >> five >> fifteen;
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", one, five, fifteen);
    return text;
}

bool IsProgram(const std::string& path)
{
    return ::access(path.c_str(), X_OK) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    BenchContext context;
    std::string error;
    if (!BenchOptions::Parse(std::vector<std::string>(argv + 1, argv + argc), &context.options, &error)) {
        std::fprintf(stderr, "tqbench: %s\n%s", error.c_str(), BenchOptions::Usage());
        return 2;
    }
    if (context.options.help) {
        std::printf("%s", BenchOptions::Usage());
        return 0;
    }
    const BenchOptions& options = context.options;

    // Forked before this process has any other thread.
    int lifeline = -1;
    pid_t plainPid = PlainServer::StartProcess(&context.plainPort, &lifeline);
    if (plainPid < 0) {
        std::fprintf(stderr, "tqbench: the plain server does not start\n");
        return 1;
    }

    const std::string bin = options.binFolder.empty() ? OwnFolder() : options.binFolder;
    if (!IsProgram(bin + "/TQWL") || !IsProgram(bin + "/tqwlsetup")) {
        std::fprintf(stderr, "tqbench: no TQWL and tqwlsetup in %s (--bin names their folder)\n", bin.c_str());
        return 1;
    }
    ScratchFolder scratch;
    if (!scratch.Valid()) {
        std::fprintf(stderr, "tqbench: cannot make a scratch folder\n");
        return 1;
    }
    if (options.keep)
        scratch.Keep();
    // The registry written here is the server's: both use this state root.
    ::setenv("TQ_STATE_ROOT", scratch.Path().c_str(), 1);
    ::setenv("TQ_EVENTLOG_FILE", (scratch / "eventlog.txt").c_str(), 1);

    const auto started = std::chrono::steady_clock::now();
    std::time_t now = std::time(nullptr);
    char date[64];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", std::localtime(&now));
    std::printf("tqbench %s: %u cores, load average %s%s\nscratch folder %s\n", date,
                std::thread::hardware_concurrency(), LoadAverage().c_str(), options.quick ? ", quick run" : "",
                scratch.Path().c_str());
    if (OneMinuteLoad() > std::thread::hardware_concurrency() / 2.0)
        std::printf("note: the machine is busy; every server figure waits for its threads to be scheduled,\n"
                    "which the in-process baselines do not, so the ratios come out worse than on a quiet machine.\n");
    if (PortAnswers(tq::kDefaultPort))
        std::printf("note: port %d is in use (tests running?): the server's default virtual server will not\n"
                    "listen there, and the figures may be disturbed by the other load.\n",
                    tq::kDefaultPort);

    TqwlInstance server(bin, scratch.Path());
    context.server = &server;
    context.rpcPort = FreeLoopbackPort();
    context.rpcFolder = scratch / "bench/";
    std::vector<VirtualServerConfig> servers{{"Bench", context.rpcPort, context.rpcFolder}};
    StoreBench store(context, scratch.Path());
    if (options.Has("store"))
        for (const auto& s : store.Servers())
            servers.push_back(s);
    if (!server.Configure(servers, &error)) {
        std::fprintf(stderr, "tqbench: %s\n", error.c_str());
        return 1;
    }
    if (options.Has("store")) {
        // A first start makes the list databases as the server makes them;
        // they are filled while it is stopped.
        if (!server.Start(&error) || server.Stop() != 0 || !store.Fill(&error)) {
            std::fprintf(stderr, "tqbench: preparing the lists failed: %s\n", error.c_str());
            return 1;
        }
    }
    if (!server.Start(&error)) {
        std::fprintf(stderr, "tqbench: %s\n", error.c_str());
        return 1;
    }
    ProcStatus status;
    ProcStatus::Read(server.Pid(), &status);
    std::printf("TQWL pid %d, virtual server on port %d (%d in all), resident %s\n\n", static_cast<int>(server.Pid()),
                context.rpcPort, static_cast<int>(servers.size()), FormatKilobytes(status.vmRssKb).c_str());

    if (options.Has("rate"))
        CallRateBench(context).Run();
    if (options.Has("store"))
        store.Run();
    if (options.Has("files"))
        FileBench(context).Run();
    if (options.Has("load"))
        LoadBench(context).Run();

    const bool alive = server.Alive();
    const int exitCode = server.Stop();
    context.goals.Holds("the server ran to the end and stopped cleanly on SIGINT", alive && exitCode == 0,
                        alive ? "exit code " + std::to_string(exitCode) : "it ended during the run");
    if (!alive || exitCode != 0) {
        context.faults = true;
        std::printf("server output:\n%s\n", server.Output().c_str());
    }
    ::close(lifeline);

    const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("Goals:\n%s\n", context.goals.Render().c_str());
    std::printf("%s in %.0f s, load average %s%s\n", context.faults ? "FAULTS found" : "done", total,
                LoadAverage().c_str(), options.keep ? ("; kept " + scratch.Path()).c_str() : "");
    return context.faults ? 1 : 0;
}
