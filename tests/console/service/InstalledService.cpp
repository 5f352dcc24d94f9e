#include "tests/console/service/InstalledService.h"

#include "common/Names.h"
#include "platform/rpc/RpcClient.h"
#include "platform/scm/ServiceControl.h"
#include "platform/win/Guid.h"
#include "tests/server/host/program/TqwlProcess.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

namespace consoletest {

void InstalledServiceTest::TearDown()
{
    // A service left running would hold the fixed port for the next test.
    if (SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT)) {
        if (SC_HANDLE service = OpenServiceA(manager, tq::kServiceName, SERVICE_QUERY_STATUS)) {
            SERVICE_STATUS_PROCESS info{};
            DWORD needed = 0;
            if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&info), sizeof info,
                                     &needed) &&
                info.dwProcessId != 0 && info.dwCurrentState != SERVICE_STOPPED)
                ::kill(static_cast<pid_t>(info.dwProcessId), SIGKILL);
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }
    tqtest::WaitUntilPortFree(tq::kDefaultPort);
    StateRootTest::TearDown();
}

void InstalledServiceTest::Install()
{
    std::string output;
    ASSERT_EQ(tqtest::RunProgram({TQWL_SETUP, "install", TQWL_PROGRAM, Root() + "/storage", "--service"}, &output),
              0)
        << output;
}

long InstalledServiceTest::GetVersion(int port)
{
    CRpcClient client;
    USHORT context = 0;
    GUID uuid{};
    UuidFromString("A9934395-CC29-4CBA-9104-F01FC6BA6AA0", &uuid);
    CRpcBuffer reply;
    if (client.Connect("127.0.0.1", port) != RPC_S_OK || client.Bind(uuid, 5, 0, &context) != RPC_S_OK ||
        client.Call(context, 0, {}, reply) != RPC_S_OK || reply.View().size() < 4)
        return -1;
    LONG version = 0;
    std::memcpy(&version, reply.View().data(), sizeof version);
    return version;
}

long InstalledServiceTest::Invoke(int port, CInvokeData& request, CInvokeData& reply)
{
    long rc = tqtest::InvokeOverRpc(port, request, reply);
    return rc != 0 ? rc : reply.result;
}

bool InstalledServiceTest::Eventually(const std::function<bool()>& check, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (check())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return check();
}

} // namespace consoletest
