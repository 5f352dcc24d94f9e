// The console killed at random moments of a configuration save that renames
// 20 servers (some of whose folders lie on another file system, so they are
// copied) and adds two, sometimes while another process holds the registry's
// lock: once the next console has loaded the configuration, the registry
// holds the old list or the new one, whole, and every server's data lies in
// the folder its stored record names, and nowhere else.

#include "console/core/SaveJournal.h"
#include "console/core/ServerConfiguration.h"
#include "console/core/ServiceCommands.h"
#include "console/core/SilentPrompt.h"
#include "console/core/StorageFolder.h"
#include "platform/registry/RegistryLock.h"
#include "platform/win/StateRoot.h"
#include "tests/console/core/ConsoleRegistry.h"
#include "tests/console/core/FakeServiceController.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace consoletest;
namespace fs = std::filesystem;

namespace {

constexpr int kServers = 20;
constexpr int kNewServers = 2;
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

// On another file system where there is one, so that some moves are copies.
std::string Elsewhere()
{
    return "/dev/shm/" + fs::path(StateRoot()).filename().string();
}

std::string FolderOf(const std::string& name)
{
    return Install() + "/" + name + "/";
}

std::string OldFolder(int i)
{
    return i % 4 == 0 ? Elsewhere() + "/" + OldName(i) + "/" : FolderOf(OldName(i));
}

void SeedOldList()
{
    fs::remove_all(Install());
    fs::remove_all(Elsewhere());
    fs::remove(RegistryFilePath());
    fs::create_directories(Install() + "/storage");
    tqtest::WriteFileText(Install() + "/storage/appmgr.ad", "admin");
    SetMainText("Path", Install());
    SetMainText("StorageFolder", Install() + "/storage/");
    for (int i = 0; i < kServers; ++i) {
        fs::create_directories(OldFolder(i));
        tqtest::WriteFileText(OldFolder(i) + "userlist.fdb", std::to_string(i));
        StoreServer(OldName(i), 36000 + static_cast<DWORD>(i), OldFolder(i), "about " + std::to_string(i));
    }
}

// "old" or "new" when the stored list is one of them whole, else what is wrong.
std::string StoredList()
{
    const DWORD count = StoredServerCount();
    int old = 0, renamed = 0;
    for (int i = 0; i < kServers; ++i) {
        const std::string about = "about " + std::to_string(i);
        if (StoredPort(OldName(i)) == 36000u + i && StoredText(OldName(i), "StorageFolder") == OldFolder(i) &&
            StoredText(OldName(i), "Description") == about)
            ++old;
        if (StoredPort(NewName(i)) == 37000u + i && StoredText(NewName(i), "StorageFolder") == FolderOf(NewName(i)) &&
            StoredText(NewName(i), "Description") == about)
            ++renamed;
    }
    if (old == kServers && count == kServers)
        return "old";
    if (renamed == kServers && count == kServers + kNewServers)
        return "new";
    return std::to_string(count) + " records, " + std::to_string(old) + " old, " + std::to_string(renamed) + " new";
}

// "" when every stored server's folder holds its own data (or, for a new
// one, only what a new folder gets) and no folder that the list does not
// name holds any, nor is a save's scratch folder or journal left.
std::string DataWhereNamed()
{
    std::map<std::string, std::string> named; // folder -> what it must hold
    HKEY servers = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, tq::kVirtualServersKey, 0, KEY_READ, &servers);
    char name[256];
    for (DWORD index = 0; servers != nullptr; ++index) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(servers, index, name, &size) != ERROR_SUCCESS)
            break;
        const std::string server(name, size);
        const size_t space = server.rfind(' ');
        named[WithoutTrailingSlash(StoredText(server, "StorageFolder").value_or(""))] =
            server.rfind("Virtual Server", 0) == 0 ? "admin" : server.substr(space + 1);
    }
    RegCloseKey(servers);
    std::error_code ignored;
    HKEY journal = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CSaveJournal::kKey, 0, KEY_READ, &journal) == ERROR_SUCCESS) {
        RegCloseKey(journal);
        return "the journal is still there";
    }
    for (const auto& [folder, holds] : named) {
        const std::string file = folder + (holds == "admin" ? "/appmgr.ad" : "/userlist.fdb");
        if (tqtest::ReadFileText(file) != holds)
            return folder + " does not hold " + holds;
    }
    for (const std::string& root : {Install(), Elsewhere()})
        for (const auto& entry : fs::directory_iterator(root, fs::directory_options::none, ignored)) {
            const std::string folder = entry.path().string();
            if (entry.path().filename().string().rfind(".tqsave-", 0) == 0)
                return "scratch folder " + folder + " left";
            if (fs::exists(folder + "/userlist.fdb") && named.count(folder) == 0)
                return folder + " holds data that no record names";
        }
    return "";
}

// The child's side: renames every server, moves it to another port, adds
// new servers, and saves.
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
    CSilentPrompt prompt;
    for (int i = 0; i < kNewServers; ++i)
        config.NewServer(prompt);
    FakeServiceController service;
    service.query = {ServiceQuery::Outcome::NotInstalled, 0};
    service.stopError = service.startError = ERROR_SERVICE_DOES_NOT_EXIST;
    CServiceCommands commands(service, prompt, {});
    (void)!::write(ready, "r", 1);
    const auto result = config.SaveConfiguration(commands, prompt);
    (void)!::write(ready, result == CServerConfiguration::SaveResult::Saved ? "d" : "f", 1);
}

struct ChildRun {
    std::string ending; // "d" saved, "f" failed, "" killed before it said
    std::chrono::microseconds saveTime{0};
};

// When this process takes the registry's lock during a run: never, at a
// moment, or once the save has moved its last renamed folder (so that the
// kill finds it waiting to store the list).
enum class Hold { None, AtMoment, AfterTheMoves };

// Runs the save in a child of its own, killed after kill (never when
// negative); the lock, when taken, is kept until the kill. With whileHeld, the
// save is not killed: once it has moved its folders and waits for the lock,
// whileHeld runs, and then the save goes on to its end.
ChildRun RunChild(std::chrono::microseconds kill, Hold hold = Hold::None,
                  std::chrono::microseconds holdAt = std::chrono::microseconds(0),
                  const std::function<void()>& whileHeld = {})
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
    if (kill.count() >= 0) {
        std::unique_ptr<CRegistryLock> lock;
        if (hold == Hold::AtMoment && holdAt < kill) {
            std::this_thread::sleep_for(holdAt);
            lock = std::make_unique<CRegistryLock>();
        } else if (hold == Hold::AfterTheMoves) {
            while (!fs::exists(FolderOf(NewName(kServers - 1))) && std::chrono::steady_clock::now() < started + kill)
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            lock = std::make_unique<CRegistryLock>();
            kill = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started) +
                   std::chrono::milliseconds(5);
        }
        std::this_thread::sleep_until(started + kill);
        if (whileHeld)
            whileHeld();
        else
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
        GTEST_SKIP() << "run by ConfigurationSaveKill.EveryKillLeavesEveryServersDataWhereItsRecordSays";
    SaveRenamedList(std::atoi(fd));
}

class ConfigurationSaveKill : public tqtest::StateRootTest {
protected:
    void TearDown() override
    {
        fs::remove_all(Elsewhere());
        StateRootTest::TearDown();
    }
};

TEST_F(ConfigurationSaveKill, EveryKillLeavesEveryServersDataWhereItsRecordSays)
{
    // How long an uninterrupted save takes, so that the kills fall inside one.
    SeedOldList();
    const ChildRun whole = RunChild(std::chrono::microseconds(-1));
    ASSERT_EQ(whole.ending, "d");
    ASSERT_EQ(StoredList(), "new");
    ASSERT_EQ(DataWhereNamed(), "");
    std::mt19937 random(20261209);
    std::uniform_int_distribution<long> at(0, whole.saveTime.count() * 5 / 4);
    std::map<std::string, int> seen;
    int movedBack = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        SeedOldList();
        const auto killAt = std::chrono::microseconds(at(random));
        const auto holdAt = std::chrono::microseconds(at(random));
        const Hold hold = kill % 3 == 0 ? Hold::None : kill % 3 == 1 ? Hold::AtMoment : Hold::AfterTheMoves;
        RunChild(hold == Hold::AfterTheMoves ? whole.saveTime * 4 : killAt, hold, holdAt);
        const bool moved = fs::exists(FolderOf(NewName(kServers - 1)));
        // The next console to open the configuration puts things right.
        CServerConfiguration next;
        EXPECT_EQ(next.Load(), "");
        const std::string list = StoredList();
        ++seen[list];
        movedBack += moved && list == "old";
        const std::string where = "after a kill at " + std::to_string(killAt.count()) + " us (lock: " +
                                  std::to_string(static_cast<int>(hold)) + ", at " + std::to_string(holdAt.count()) +
                                  " us)";
        ASSERT_TRUE(list == "old" || list == "new") << list << " " << where;
        ASSERT_EQ(DataWhereNamed(), "") << where;
    }
    std::cout << "save " << whole.saveTime.count() << " us; after " << kKills << " kills: " << seen["old"]
              << " old lists, " << seen["new"] << " new; " << movedBack << " times folders were moved back\n";
}

TEST_F(ConfigurationSaveKill, NoOtherConsoleOrProgramUndoesASaveThatIsStillRunning)
{
    // The save's lock file removed by a cleaner while the save waits for the
    // registry: a second console can take a new lock, but none of the
    // running save's folders, so it puts nothing back.
    SeedOldList();
    std::string second;
    ChildRun run = RunChild(std::chrono::seconds(20), Hold::AfterTheMoves, {}, [&] {
        fs::remove(StateRoot() + "/locks/WLStatus.SaveConfiguration.lock");
        CServerConfiguration console;
        second = console.Load();
    });
    EXPECT_EQ(second.rfind("A save that did not end cannot be put right yet:", 0), 0u) << second;
    EXPECT_EQ(run.ending, "d");
    EXPECT_EQ(StoredList(), "new");
    EXPECT_EQ(DataWhereNamed(), "");

    // Its record of the moves removed meanwhile: it stores nothing and puts its folders back.
    SeedOldList();
    run = RunChild(std::chrono::seconds(20), Hold::AfterTheMoves, {},
                   [] { RegDeleteTreeA(HKEY_LOCAL_MACHINE, CSaveJournal::kKey); });
    EXPECT_EQ(run.ending, "f");
    EXPECT_EQ(StoredList(), "old");
    EXPECT_EQ(DataWhereNamed(), "");
}
