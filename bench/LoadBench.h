#pragma once
// The load run: 4,000 connections held from several loopback addresses,
// used by 1234 clients at once (the server's limit of calls at once), each
// calling GetVersion, RemoteInvoke of an unclaimed code, ReadWholeFile of a
// small file and GetComputerInformation of its own computer in turn over its
// connections; every answer is checked, the server's memory is watched from
// /proc while it runs and measured again once the connections are quiet.

#include "bench/BenchContext.h"

namespace tqbench {

class LoadBench {
public:
    explicit LoadBench(BenchContext& context) : context_(context) {}
    void Run();

    // The server's own limit of calls at once.
    static constexpr int kClients = 1234;
    static constexpr int kConnections = 4000;
    // Source addresses 127.0.0.1 to 127.0.0.<kSources>, so that no share of
    // connections per address refuses them.
    static constexpr int kSources = 16;
    // Most memory a held quiet connection may cost the server.
    static constexpr double kQuietConnectionGoalKb = 16;

private:
    bool Seed(std::string* error);

    BenchContext& context_;
};

} // namespace tqbench
