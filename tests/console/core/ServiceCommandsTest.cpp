#include "console/core/ServiceCommands.h"

#include "console/core/ScmServiceController.h"
#include "tests/support/TestSupport.h"

#include "tests/console/core/FakeServiceController.h"
#include "tests/console/widgets/RecordingPrompt.h"

#include <gtest/gtest.h>

using consoletest::FakeServiceController;
using Outcome = ServiceQuery::Outcome;

namespace {

struct Commands {
    FakeServiceController service;
    RecordingPrompt prompt;
    std::vector<std::string> lines;
    int sleeps = 0;
    CServiceCommands commands{service, prompt, [this](const std::string& text) { lines.push_back(text); },
                              [this](int ms) {
                                  EXPECT_EQ(ms, 100);
                                  ++sleeps;
                              }};
};

} // namespace

TEST(ServiceCommands, StatusTexts)
{
    EXPECT_EQ(CServiceCommands::StatusText({Outcome::State, SERVICE_STOPPED}), "Stopped");
    EXPECT_EQ(CServiceCommands::StatusText({Outcome::State, SERVICE_START_PENDING}), "Start Pending");
    EXPECT_EQ(CServiceCommands::StatusText({Outcome::State, SERVICE_STOP_PENDING}), "Stop Pending");
    EXPECT_EQ(CServiceCommands::StatusText({Outcome::State, SERVICE_RUNNING}), "Running");
    EXPECT_EQ(CServiceCommands::StatusText({Outcome::State, SERVICE_CONTINUE_PENDING}), "Continue Pending");
    EXPECT_EQ(CServiceCommands::StatusText({Outcome::State, SERVICE_PAUSED}), "Paused");
    EXPECT_EQ(CServiceCommands::StatusText({Outcome::State, 0}), "Unknown");
    EXPECT_EQ(CServiceCommands::StatusText({Outcome::State, 8}), "Unknown");
    EXPECT_EQ(CServiceCommands::StatusText({Outcome::QueryFailed, 0}), "Unknown");
    EXPECT_EQ(CServiceCommands::StatusText({Outcome::NoManager, 0}), "Unknown");
    EXPECT_EQ(CServiceCommands::StatusText({Outcome::NotInstalled, 0}), "Service Not Installed");

    Commands c;
    c.service.query = {Outcome::NotInstalled, 0};
    c.commands.UpdateServiceStatus();
    EXPECT_EQ(c.lines, std::vector<std::string>{"Service Status: Service Not Installed"});
}

TEST(ServiceCommands, StartAndStopShowTheirFailureWithTheSystemText)
{
    Commands c;
    c.commands.OnStartService();
    EXPECT_TRUE(c.prompt.records.empty());
    c.service.stopError = ERROR_SERVICE_NOT_ACTIVE;
    c.service.query = {Outcome::State, SERVICE_STOPPED};
    c.commands.OnStopService();
    ASSERT_EQ(c.prompt.records.size(), 1u);
    EXPECT_EQ(c.prompt.records[0].text, "Error stopping service: The service has not been started.");
    EXPECT_EQ(c.prompt.records[0].caption, "Wardlake 7");
    EXPECT_EQ(c.prompt.records[0].icon, PromptIcon::Error);
    EXPECT_EQ(c.lines, (std::vector<std::string>{"Starting service...", "Stopping service..."}));

    c.service.startError = ERROR_SERVICE_ALREADY_RUNNING;
    c.commands.OnStartService();
    EXPECT_EQ(c.prompt.records.back().text, "Error starting service: An instance of the service is already running.");
    // A code without a system text.
    c.service.startError = 0x7777;
    c.commands.OnStartService();
    EXPECT_EQ(c.prompt.records.back().text, "Error starting service: Unknown error");
    EXPECT_EQ(c.commands.StartServerService(), HRESULT_FROM_WIN32(0x7777));
}

TEST(ServiceCommands, WaitingForTheStopIsBounded)
{
    Commands c;
    c.service.query = {Outcome::State, SERVICE_STOP_PENDING};
    int left = 3;
    c.service.onQuery = [&left](FakeServiceController& s) {
        if (left-- == 0)
            s.query.state = SERVICE_STOPPED;
    };
    EXPECT_TRUE(c.commands.WaitUntilStopped());
    EXPECT_EQ(c.sleeps, 3);

    c.sleeps = 0;
    c.service.onQuery = nullptr;
    c.service.query = {Outcome::State, SERVICE_RUNNING};
    EXPECT_FALSE(c.commands.WaitUntilStopped());
    EXPECT_EQ(c.sleeps, 600);

    c.sleeps = 0;
    c.service.query = {Outcome::NotInstalled, 0};
    EXPECT_TRUE(c.commands.WaitUntilStopped());
    EXPECT_EQ(c.sleeps, 0);
}

TEST(ServiceCommands, ARefusedStopIsWaitedForOnlyWhileTheServiceStops)
{
    Commands c;
    const HRESULT refused = HRESULT_FROM_WIN32(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    c.service.query = {Outcome::State, SERVICE_START_PENDING};
    EXPECT_FALSE(c.commands.WaitUntilStopped(refused));
    c.service.query = {Outcome::State, SERVICE_STOPPED};
    EXPECT_TRUE(c.commands.WaitUntilStopped(HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE)));
    EXPECT_EQ(c.sleeps, 0);

    c.service.query = {Outcome::State, SERVICE_STOP_PENDING};
    int left = 2;
    c.service.onQuery = [&left](FakeServiceController& s) {
        if (left-- == 0)
            s.query.state = SERVICE_STOPPED;
    };
    EXPECT_TRUE(c.commands.WaitUntilStopped(refused));
    EXPECT_GT(c.sleeps, 0);
}

class ScmServiceControllerTest : public tqtest::StateRootTest {};

TEST_F(ScmServiceControllerTest, AMissingServiceIsNotInstalled)
{
    CScmServiceController service;
    EXPECT_EQ(service.Query().outcome, Outcome::NotInstalled);
    EXPECT_EQ(service.Start(), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_EQ(service.Stop(), ERROR_SERVICE_DOES_NOT_EXIST);
}
