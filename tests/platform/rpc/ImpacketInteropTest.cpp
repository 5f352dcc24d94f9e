// Interoperation with impacket, a client written elsewhere: each case runs
// one scenario of impacket_client.py against a server in this process.
#include "TestRpcServer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

using namespace rpctest;

namespace {

const char* kPython = "/usr/bin/python3";

bool ImpacketPresent()
{
    std::string probe = std::string(kPython) + " -c 'import impacket.dcerpc.v5.transport' >/dev/null 2>&1";
    return std::system(probe.c_str()) == 0;
}

// Runs the scenario; its output is the failure message.
void RunScenario(const std::string& scenario)
{
    if (!ImpacketPresent())
        GTEST_SKIP() << "python3-impacket is not installed";
    CTestRpcServer server;
    std::string command = std::string(kPython) + " " + TQ_RPC_TEST_SCRIPTS + "/impacket_client.py " + scenario + " " +
                          std::to_string(server.Port()) + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        output += buffer;
    int status = ::pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    EXPECT_EQ(output, "ok\n");
}

} // namespace

TEST(ImpacketInterop, GetVersionOnBothInterfacesAndAlterContext)
{
    RunScenario("versions");
}

TEST(ImpacketInterop, RemoteInvokeBlobsRoundTrip)
{
    RunScenario("invoke");
}

TEST(ImpacketInterop, FragmentedRequestAndReply)
{
    RunScenario("fragments");
}

TEST(ImpacketInterop, Ndr64IsRejectedAndNdr20Accepted)
{
    RunScenario("ndr64");
}

TEST(ImpacketInterop, UnknownInterfaceIsRejected)
{
    RunScenario("unknown");
}

TEST(ImpacketInterop, UnknownOpnumFaults)
{
    RunScenario("opnum");
}

TEST(ImpacketInterop, WindowsStyleBindWithFeatureNegotiation)
{
    RunScenario("negotiation");
}

TEST(ImpacketInterop, AuthenticatedBindIsRefused)
{
    RunScenario("auth");
}
