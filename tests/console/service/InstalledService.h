#pragma once
// A state root of the test's own in which the server program can be
// installed as the service "TQWL", and ways to reach what it serves.

#include "common/callrecord/InvokeData.h"
#include "tests/support/TestSupport.h"

#include <functional>
#include <string>

namespace consoletest {

class InstalledServiceTest : public tqtest::StateRootTest {
public:
    // GetVersion on the port's first interface; -1 when the call failed.
    static long GetVersion(int port);
    // RemoteInvoke on the port: the reply's result, or the call's failure.
    static long Invoke(int port, CInvokeData& request, CInvokeData& reply);
    // Polls until check() holds, for at most timeoutMs.
    static bool Eventually(const std::function<bool()>& check, int timeoutMs = 20000);

protected:
    void TearDown() override;

    // tqwlsetup install <TQWL> <root>/storage --service
    void Install();
    std::string Storage() const { return Root() + "/storage/"; }
};

} // namespace consoletest
