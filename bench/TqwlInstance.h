#pragma once
// The server program as the benchmarks run it: its own process, a state
// root of the benchmark's (TQ_STATE_ROOT of this process too, so that the
// registry written here is the one it reads), virtual servers on free
// loopback ports, stopped with SIGINT as a user stops it.

#include <string>
#include <sys/types.h>
#include <vector>

namespace tqbench {

struct VirtualServerConfig {
    std::string name;
    int port = 0;
    std::string folder;  // ends in '/'
};

class TqwlInstance {
public:
    // binFolder holds TQWL and tqwlsetup.
    TqwlInstance(std::string binFolder, std::string stateRoot);
    ~TqwlInstance();
    TqwlInstance(const TqwlInstance&) = delete;
    TqwlInstance& operator=(const TqwlInstance&) = delete;

    // Seeds the registry and writes the virtual servers (their folders are
    // created); false with a reason when that fails.
    bool Configure(const std::vector<VirtualServerConfig>& servers, std::string* error);
    // Starts the program and waits until every virtual server's port answers.
    bool Start(std::string* error);
    // SIGINT, then waits; the exit code, or -1 when it had to be killed.
    int Stop(int timeoutMs = 30000);
    bool Running() const { return pid_ > 0; }
    // False once the process has ended.
    bool Alive();
    pid_t Pid() const { return pid_; }
    // The program's output since it started (its last lines for reports).
    std::string Output() const;

private:
    std::string bin_;
    std::string root_;
    std::vector<VirtualServerConfig> servers_;
    pid_t pid_ = -1;
};

// A loopback TCP port that was free a moment ago, neither of the server's
// fixed ports nor one it gave before; 0 when none could be had.
int FreeLoopbackPort();
// Whether something listens on the loopback port now.
bool PortAnswers(int port);

} // namespace tqbench
