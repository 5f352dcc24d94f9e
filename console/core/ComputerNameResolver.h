#pragma once
// Names the computer of a log record for one activity window: "Local
// Computer" for this machine, the name a client computer has in the virtual
// server's own computer list, or the id itself. Found names are kept for the
// life of the object; an id that is not found is looked up again next time.
// Used from one thread only (the window's display thread).

#include "platform/win/WinTypes.h"

#include <map>
#include <string>

class CComputerNameResolver {
public:
    static constexpr const char* kLocalComputer = "Local Computer";
    static constexpr const char* kNilId = "00000000-0000-0000-0000-000000000000";
    // The computer id item: application id 4, item id 7.
    static constexpr DWORD kIdAppId = 4;
    static constexpr DWORD kIdItem = 7;
    static constexpr DWORD kNameBuffer = 100;

    explicit CComputerNameResolver(DWORD port);

    // Replaces id by its display name when one is found.
    void ResolveComputerName(std::string& id);

    const std::map<std::string, std::string>& Cache() const { return cache_; }
    // How many times the server was asked (one enumeration each).
    unsigned Lookups() const { return lookups_; }

private:
    bool IsLocalId(const std::string& id);
    void AskServer();

    DWORD port_;
    std::map<std::string, std::string> cache_;
    unsigned lookups_ = 0;
};
