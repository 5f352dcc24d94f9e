#pragma once
// Store operations over RPC beside the same statements run directly on
// SQLite, on lists of 1,000, 10,000 and 100,000 entries: CreateUser,
// EnumerateUsers, SetComputerInformation, GetCompleteComputerList.
//
// One virtual server per list size. Its databases are made by the server
// itself on a first start, filled directly while it is stopped, and copied;
// the direct figures are taken on the copies, the RPC figures on the
// originals through the running server.

#include "bench/BenchContext.h"
#include "bench/TqwlInstance.h"

#include <string>
#include <vector>

namespace tqbench {

class StoreBench {
public:
    StoreBench(BenchContext& context, const std::string& scratch);

    // The virtual servers to configure, one per list size.
    const std::vector<VirtualServerConfig>& Servers() const { return servers_; }
    // Fills the databases the server made and copies them; the server must
    // be stopped.
    bool Fill(std::string* error);
    void Run();

    // Information items each benchmark computer holds (app id, id), and
    // their size.
    static const std::vector<std::pair<int, int>>& ItemKeys();
    static constexpr int kItemSize = 200;

private:
    BenchContext& context_;
    std::string scratch_;
    std::vector<int> sizes_;
    std::vector<VirtualServerConfig> servers_;
};

} // namespace tqbench
