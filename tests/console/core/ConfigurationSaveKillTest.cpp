// The console killed at random moments of a configuration save of 20
// servers: the registry afterwards holds the old list or the new one, whole,
// and every server's data is in exactly one folder, every time.

#include "console/core/ServerConfiguration.h"
#include "console/core/ServiceCommands.h"
#include "console/core/SilentPrompt.h"
#include "tests/console/core/ConsoleRegistry.h"
#include "tests/console/core/FakeServiceController.h"
#include "platform/win/StateRoot.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <thread>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace consoletest;
namespace fs = std::filesystem;

namespace {

constexpr int kServers = 20;
constexpr int kKills = 30;
constexpr const char* kChildFd = "TQ_SAVE_KILL_FD";

std::string OldName(int i)
{
    return "Server " + std::to_string(i);
}

std::string NewName(int i)
{
    return "Moved " + std::to_string(i);
}

std::string Install()
{
    return StateRoot() + "/install";
}

std::string FolderOf(const std::string& name)
{
    return Install() + "/" + name + "/";
}

void SeedOldList()
{
    fs::remove_all(Install());
    fs::remove(RegistryFilePath());
    fs::create_directories(Install() + "/storage");
    SetMainText("Path", Install());
    SetMainText("StorageFolder", Install() + "/storage/");
    for (int i = 0; i < kServers; ++i) {
        fs::create_directories(FolderOf(OldName(i)));
        tqtest::WriteFileText(FolderOf(OldName(i)) + "userlist.fdb", std::to_string(i));
        StoreServer(OldName(i), 36000 + static_cast<DWORD>(i), FolderOf(OldName(i)), "about " + std::to_string(i));
    }
}

// "old" or "new" when the stored list is one of them whole, else what is wrong.
std::string StoredList()
{
    if (StoredServerCount() != kServers)
        return std::to_string(StoredServerCount()) + " records";
    int old = 0, renamed = 0;
    for (int i = 0; i < kServers; ++i) {
        const std::string about = "about " + std::to_string(i);
        for (auto [name, port, count] : {std::tuple{OldName(i), 36000 + i, &old}, {NewName(i), 37000 + i, &renamed}})
            if (StoredPort(name) == static_cast<DWORD>(port) && StoredText(name, "StorageFolder") == FolderOf(name) &&
                StoredText(name, "Description") == about)
                ++*count;
    }
    return old == kServers ? "old" : renamed == kServers ? "new" : "mixed";
}

// The child's side: renames every server, moves it to another port, and saves.
void SaveRenamedList(int ready)
{
    CServerConfiguration config;
    config.Load();
    for (size_t i = 1; i < config.Count(); ++i) {
        CVirtualServer& server = *config.At(i);
        const int n = static_cast<int>(server.Port()) - 36000;
        server.SetName(NewName(n));
        server.SetStorageFolder(FolderOf(NewName(n)));
        server.SetPort(37000 + static_cast<DWORD>(n));
    }
    FakeServiceController service;
    service.query = {ServiceQuery::Outcome::NotInstalled, 0};
    service.stopError = service.startError = ERROR_SERVICE_DOES_NOT_EXIST;
    CSilentPrompt prompt;
    CServiceCommands commands(service, prompt, {});
    (void)!::write(ready, "r", 1);
    const auto result = config.SaveConfiguration(commands, prompt);
    (void)!::write(ready, result == CServerConfiguration::SaveResult::Saved ? "d" : "f", 1);
}

struct ChildRun {
    std::string ending; // "d" saved, "f" failed, "" killed before it said
    std::chrono::microseconds saveTime{0};
};

// Runs the save in a child of its own, killed after delay (never when negative).
ChildRun RunChild(std::chrono::microseconds delay)
{
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        ::setenv(kChildFd, fd.c_str(), 1);
        ::freopen("/dev/null", "w", stdout);
        ::execl("/proc/self/exe", "child", "--gtest_filter=ConfigurationSaveKillChild.Save", nullptr);
        ::_exit(127);
    }
    ::close(fds[1]);
    ChildRun run;
    char byte = 0;
    EXPECT_EQ(::read(fds[0], &byte, 1), 1);
    const auto started = std::chrono::steady_clock::now();
    if (delay.count() >= 0) {
        std::this_thread::sleep_for(delay);
        ::kill(child, SIGKILL);
    }
    if (::read(fds[0], &byte, 1) == 1) {
        run.ending = std::string(1, byte);
        run.saveTime = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return run;
}

} // namespace

TEST(ConfigurationSaveKillChild, Save)
{
    const char* fd = std::getenv(kChildFd);
    if (fd == nullptr)
        GTEST_SKIP() << "run by ConfigurationSaveKill.EveryKillLeavesOneWholeList";
    SaveRenamedList(std::atoi(fd));
}

class ConfigurationSaveKill : public tqtest::StateRootTest {};

TEST_F(ConfigurationSaveKill, EveryKillLeavesOneWholeList)
{
    // How long an uninterrupted save takes, so that the kills fall inside one.
    SeedOldList();
    const ChildRun whole = RunChild(std::chrono::microseconds(-1));
    ASSERT_EQ(whole.ending, "d");
    ASSERT_EQ(StoredList(), "new");
    std::mt19937 random(20261209);
    std::uniform_int_distribution<long> at(0, whole.saveTime.count() * 5 / 4);
    std::map<std::string, int> seen;
    for (int kill = 0; kill < kKills; ++kill) {
        SeedOldList();
        const auto delay = std::chrono::microseconds(at(random));
        RunChild(delay);
        const std::string list = StoredList();
        ++seen[list];
        ASSERT_TRUE(list == "old" || list == "new") << list << " after a kill at " << delay.count() << " us";
        for (int i = 0; i < kServers; ++i) {
            const bool atOld = fs::exists(FolderOf(OldName(i)) + "userlist.fdb");
            const bool atNew = fs::exists(FolderOf(NewName(i)) + "userlist.fdb");
            ASSERT_NE(atOld, atNew) << "server " << i << " after a kill at " << delay.count() << " us";
        }
    }
    std::cout << "save " << whole.saveTime.count() << " us; after " << kKills << " kills: " << seen["old"]
              << " old lists, " << seen["new"] << " new\n";
}
