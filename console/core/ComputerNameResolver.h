#pragma once
// Names the computer of a log record for one activity window: "Local
// Computer" for this machine, the name a client computer has in the virtual
// server's own computer list, or the id itself. Found names are kept for the
// life of the object.
//
// Asking the server means one enumeration of its whole computer list (a call
// per computer), and every call of it is logged back into the window. So an
// id that is not found is not asked for again while the last enumeration is
// recent (kMissHold after it ended): one unknown caller, or many, costs at
// most one enumeration per hold, and an id new to the server is found by the
// first enumeration after it. The machine's identity is read again after the
// same hold. Used from one thread only (the window's display thread).

#include "platform/win/WinTypes.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>

class CComputerNameResolver {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr const char* kLocalComputer = "Local Computer";
    static constexpr const char* kNilId = "00000000-0000-0000-0000-000000000000";
    // The computer id item: application id 4, item id 7.
    static constexpr DWORD kIdAppId = 4;
    static constexpr DWORD kIdItem = 7;
    static constexpr DWORD kNameBuffer = 100;
    static constexpr std::chrono::milliseconds kMissHold{3000};

    // An enumeration stops at the next computer once *cancel is set.
    explicit CComputerNameResolver(DWORD port, const std::atomic<bool>* cancel = nullptr);

    // Replaces id by its display name when one is found.
    void ResolveComputerName(std::string& id);

    const std::map<std::string, std::string>& Cache() const { return cache_; }
    // How many times the server was asked (one enumeration each).
    unsigned Lookups() const { return lookups_; }

    // Replaceable for tests.
    std::function<Clock::time_point()> clock = Clock::now;

private:
    bool IsLocalId(const std::string& id);
    void AskServer();
    bool Cancelled() const { return cancel_ != nullptr && *cancel_; }

    DWORD port_;
    const std::atomic<bool>* cancel_;
    std::map<std::string, std::string> cache_;
    unsigned lookups_ = 0;
    std::optional<Clock::time_point> identityRead_;
    std::string identity_; // empty when the machine has none
    std::optional<Clock::time_point> askedUntil_; // misses count as known until then
};
