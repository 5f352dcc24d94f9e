#include "console/core/ServerConfiguration.h"

#include "console/core/SaveJournal.h"
#include "console/core/ServiceCommands.h"
#include "console/core/StorageFolder.h"
#include "platform/file/FolderLock.h"
#include "tests/console/core/ConsoleRegistry.h"
#include "tests/console/core/FakeServiceController.h"
#include "tests/console/widgets/RecordingPrompt.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace consoletest;
namespace fs = std::filesystem;

namespace {

class ServerConfigurationTest : public tqtest::StateRootTest {
protected:
    void SetUp() override
    {
        StateRootTest::SetUp();
        install_ = Root() + "/install";
        fs::create_directories(install_ + "/default");
        tqtest::WriteFileText(install_ + "/default/appmgr.ad", "admin");
        SetMainText("Path", install_);
        SetMainText("StorageFolder", install_ + "/default/");
        service_.query = {ServiceQuery::Outcome::State, SERVICE_RUNNING};
    }
    std::string Folder(const std::string& name) const { return install_ + "/" + name + "/"; }
    // The same without its trailing "/", as a journal names it.
    std::string Install(const std::string& name) const { return install_ + "/" + name; }
    // A stored server whose folder exists.
    void StoreWithFolder(const std::string& name, DWORD port)
    {
        fs::create_directories(Folder(name));
        StoreServer(name, port, Folder(name), name + " text");
    }
    CServerConfiguration::SaveResult Save(const std::function<void()>& afterStop = {})
    {
        return config_.SaveConfiguration(commands_, prompt_, afterStop);
    }
    // A save of the stored list as loaded afresh and then edited.
    CServerConfiguration::SaveResult SaveAfter(const std::function<void()>& edit)
    {
        config_.Load();
        edit();
        config_.SetModified();
        prompt_.records.clear();
        service_.log.clear();
        return Save();
    }
    // What the details pane does to the record at index.
    void Rename(size_t index, const std::string& name)
    {
        config_.At(index)->SetName(name);
        config_.At(index)->SetStorageFolder(Folder(name));
    }
    // What a save left behind that it should not have: scratch folders, its journal.
    std::string Leftovers() const
    {
        std::string found;
        for (const auto& entry : fs::recursive_directory_iterator(Root()))
            if (entry.path().filename().string().rfind(".tqsave-", 0) == 0)
                found += entry.path().string() + " ";
        HKEY journal = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CSaveJournal::kKey, 0, KEY_READ, &journal) == ERROR_SUCCESS) {
            RegCloseKey(journal);
            found += "the journal";
        }
        return found;
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& record : config_.Records())
            names.push_back(record->Name());
        return names;
    }

    std::string install_;
    CServerConfiguration config_;
    FakeServiceController service_;
    RecordingPrompt prompt_;
    std::vector<std::string> lines_;
    CServiceCommands commands_{service_, prompt_, [this](const std::string& t) { lines_.push_back(t); },
                               [](int) {}};
};

} // namespace

TEST_F(ServerConfigurationTest, WithoutTheMainKeyOnlyTheDefaultRecordLoads)
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, tq::kWardlakeKey);
    config_.Load();
    ASSERT_EQ(config_.Count(), 1u);
    const CVirtualServer& d = *config_.At(0);
    EXPECT_EQ(d.Name(), "Default");
    EXPECT_EQ(d.StorageFolder(), "");
    EXPECT_EQ(d.Port(), 34347u);
    EXPECT_TRUE(d.IsReadOnly());
    EXPECT_EQ(config_.Title(), "Wardlake 7");
}

TEST_F(ServerConfigurationTest, NewServerTakesTheNextPortAboveTheOthers)
{
    config_.Load();
    auto index = config_.NewServer(prompt_);
    ASSERT_EQ(index, 1u);
    const CVirtualServer& first = *config_.At(1);
    EXPECT_EQ(first.Port(), 35001u);
    EXPECT_EQ(first.Name(), "Virtual Server 35001");
    EXPECT_EQ(first.Description(), first.Name());
    EXPECT_EQ(first.StorageFolder(), Folder("Virtual Server 35001"));
    EXPECT_FALSE(first.IsReadOnly());
    EXPECT_TRUE(config_.IsModified());
    EXPECT_EQ(config_.Title(), "Wardlake 7 (Modified)");
    EXPECT_TRUE(prompt_.records.empty());
    CServerConfiguration::ShowNewServerNotice(prompt_, first);
    ASSERT_EQ(prompt_.records.size(), 1u);
    EXPECT_EQ(prompt_.records[0].kind, "notice");
    EXPECT_EQ(prompt_.records[0].text, "IMPORTANT: The administrative password for Virtual Server 35001 will be "
                                       "copied from the Default Server when the configuration is saved.");
    EXPECT_EQ(prompt_.lastRememberKey, "{79F9F94A-3E39-4562-BCC9-6FD46E466874}");

    StoreServer("High", 35010, Folder("High"));
    config_.Load();
    config_.NewServer(prompt_);
    EXPECT_EQ(config_.At(2)->Port(), 35011u);
    EXPECT_EQ(config_.At(2)->Name(), "Virtual Server 35011");
}

TEST_F(ServerConfigurationTest, NewServerSkipsFoldersThatExist)
{
    fs::create_directories(install_ + "/Virtual Server 35001");
    config_.Load();
    config_.NewServer(prompt_);
    EXPECT_EQ(config_.At(1)->Port(), 35002u);
    EXPECT_EQ(config_.At(1)->StorageFolder(), Folder("Virtual Server 35002"));
}

TEST_F(ServerConfigurationTest, WithoutPathTheNewFolderIsRelative)
{
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, 0, KEY_ALL_ACCESS, &key);
    RegDeleteValueA(key, "Path");
    RegCloseKey(key);
    config_.Load();
    config_.NewServer(prompt_);
    EXPECT_EQ(config_.At(1)->StorageFolder(), "Virtual Server 35001/");
}

TEST_F(ServerConfigurationTest, NewServerNeverGoesAbove65535)
{
    StoreServer("Top", 65534, Folder("Top"));
    config_.Load();
    ASSERT_TRUE(config_.NewServer(prompt_));
    EXPECT_EQ(config_.At(2)->Port(), 65535u);
    prompt_.records.clear();
    EXPECT_FALSE(config_.NewServer(prompt_));
    EXPECT_EQ(config_.Count(), 3u);
    ASSERT_EQ(prompt_.records.size(), 1u);
    EXPECT_EQ(prompt_.records[0].icon, PromptIcon::Error);
}

TEST_F(ServerConfigurationTest, DeleteKeepsTheDefaultAndSelectsTheRowThatTookThePlace)
{
    StoreServer("A", 35001, Folder("A"));
    StoreServer("B", 35002, Folder("B"));
    StoreServer("C", 35003, Folder("C"));
    config_.Load();
    EXPECT_FALSE(config_.Delete(0));
    EXPECT_FALSE(config_.IsModified());
    EXPECT_FALSE(config_.Delete(9));

    EXPECT_EQ(config_.Delete(3), 2u); // the last: the new last
    EXPECT_TRUE(config_.IsModified());
    EXPECT_EQ(config_.Delete(1), 1u); // a middle one: the one after it moves up
    EXPECT_EQ(Names(), (std::vector<std::string>{"Default", "B"}));
    // Nothing reaches the registry before a save.
    EXPECT_EQ(StoredServerCount(), 3u);
}

TEST_F(ServerConfigurationTest, SaveReplacesTheStoredListAroundAServiceRestart)
{
    StoreWithFolder("Gone", 35001);
    StoreWithFolder("Kept", 35002);
    SetText(ServerKey("Kept"), "Extra", "kept");
    StoreWithFolder("Old", 35003);
    tqtest::WriteFileText(Folder("Old") + "userlist.fdb", "users");
    config_.Load();
    config_.Delete(1);
    config_.At(2)->SetName("Renamed");
    config_.At(2)->SetStorageFolder(Folder("Renamed"));
    config_.NewServer(prompt_);

    // The list is rewritten only once the service has stopped.
    service_.stopLeaves = SERVICE_STOP_PENDING;
    int pending = 2;
    bool storedWhilePending = false;
    service_.onQuery = [&](FakeServiceController& s) {
        if (s.query.state == SERVICE_STOP_PENDING) {
            storedWhilePending |= StoredServerCount() != 3u;
            if (--pending == 0)
                s.query.state = SERVICE_STOPPED;
        }
    };
    bool afterStopCalled = false;
    auto result = Save([&] {
        afterStopCalled = true;
        EXPECT_EQ(service_.log, std::vector<std::string>{"stop"});
        EXPECT_EQ(StoredServerCount(), 3u);
    });
    EXPECT_EQ(result, CServerConfiguration::SaveResult::Saved);
    EXPECT_TRUE(afterStopCalled);
    EXPECT_FALSE(storedWhilePending);
    EXPECT_EQ(service_.log, (std::vector<std::string>{"stop", "start"}));
    EXPECT_EQ(lines_, (std::vector<std::string>{"Stopping service...", "Saving configuration...", "Starting service..."}));
    EXPECT_TRUE(prompt_.records.empty());
    EXPECT_FALSE(config_.IsModified());
    EXPECT_EQ(config_.Title(), "Wardlake 7");

    EXPECT_EQ(StoredServerCount(), 3u);
    EXPECT_FALSE(StoredPort("Gone"));
    EXPECT_FALSE(StoredPort("Old"));
    EXPECT_EQ(StoredPort("Kept"), 35002u);
    EXPECT_EQ(StoredText("Kept", "Description"), "Kept text");
    // Only the records of servers that are gone or renamed are removed.
    EXPECT_EQ(StoredText("Kept", "Extra"), "kept");
    EXPECT_EQ(StoredPort("Renamed"), 35003u);
    EXPECT_EQ(StoredText("Renamed", "StorageFolder"), Folder("Renamed"));
    EXPECT_EQ(tqtest::ReadFileText(Folder("Renamed") + "userlist.fdb"), "users");
    EXPECT_FALSE(fs::exists(Folder("Old")));
    EXPECT_EQ(StoredPort("Virtual Server 35004"), 35004u);
    EXPECT_EQ(tqtest::ReadFileText(Folder("Virtual Server 35004") + "appmgr.ad"), "admin");
    // The folder of a deleted server stays on disk.
    EXPECT_TRUE(fs::exists(Folder("Gone")));

    // What was saved loads back the same.
    config_.Load();
    EXPECT_EQ(Names(), (std::vector<std::string>{"Default", "Kept", "Renamed", "Virtual Server 35004"}));
}

TEST_F(ServerConfigurationTest, OneFolderThatCannotBeMadeSavesNothing)
{
    tqtest::WriteFileText(Root() + "/file", "");
    config_.Load();
    config_.NewServer(prompt_);
    config_.NewServer(prompt_);
    config_.NewServer(prompt_);
    config_.At(2)->SetStorageFolder(Root() + "/file/under a file/");
    prompt_.records.clear();

    EXPECT_EQ(Save(), CServerConfiguration::SaveResult::Failed);
    ASSERT_EQ(prompt_.records.size(), 1u);
    EXPECT_EQ(prompt_.records[0].text, "Error saving Virtual Server 35002: The system cannot find the path specified.");
    EXPECT_EQ(prompt_.records[0].icon, PromptIcon::Information);
    EXPECT_EQ(StoredServerCount(), 0u);
    EXPECT_FALSE(fs::exists(Folder("Virtual Server 35001")));
    EXPECT_EQ(service_.log, (std::vector<std::string>{"stop", "start"}));
    // Closing still offers to save.
    EXPECT_TRUE(config_.IsModified());
}

TEST_F(ServerConfigurationTest, WhatKeepsASaveFromStartingIsSaidInTheSystemsWords)
{
    // A damaged registry file: said at load, and never saved over.
    StoreWithFolder("A", 35001);
    const std::string good = tqtest::ReadFileText(RegistryFilePath());
    tqtest::WriteFileText(RegistryFilePath(), "this is no registry file\n");
    const std::string said = config_.Load();
    EXPECT_EQ(said.rfind("The configuration cannot be read: The structure of one of the files containing registry data "
                         "is corrupt. (" + RegistryFilePath() + ", line 1",
                         0),
              0u)
        << said;
    config_.NewServer(prompt_);
    prompt_.records.clear();
    EXPECT_EQ(Save(), CServerConfiguration::SaveResult::Refused);
    ASSERT_EQ(prompt_.records.size(), 1u);
    EXPECT_EQ(prompt_.records[0].text.rfind(CServerConfiguration::kUnreadable, 0), 0u);
    EXPECT_TRUE(service_.log.empty());
    EXPECT_FALSE(fs::exists(Folder("Virtual Server 35001")));
    // Mended by hand: what was loaded from the damaged file is not what is stored.
    tqtest::WriteFileText(RegistryFilePath(), good);
    prompt_.answers = {PromptAnswer::No};
    EXPECT_EQ(Save(), CServerConfiguration::SaveResult::Refused);
    EXPECT_EQ(prompt_.records.back().text, CServerConfiguration::kChangedElsewhere);

    // The lock that keeps saves apart cannot be made: the reason, not "another console".
    config_.Load();
    fs::remove_all(Root() + "/locks");
    tqtest::WriteFileText(Root() + "/locks", "");
    const std::string lockSaid = "The lock that keeps two consoles from saving at once, \"" + Root() +
                                 "/locks/WLStatus.SaveConfiguration.lock\", cannot be taken: The system cannot find "
                                 "the path specified.";
    EXPECT_EQ(config_.Load(), lockSaid);
    config_.SetModified();
    prompt_.records.clear();
    EXPECT_EQ(Save(), CServerConfiguration::SaveResult::Refused);
    EXPECT_EQ(prompt_.records.back().text, lockSaid + CServerConfiguration::kNotSaved);
    EXPECT_TRUE(service_.log.empty());
}

TEST_F(ServerConfigurationTest, AServiceThatDoesNotStartAgainIsReported)
{
    config_.Load();
    service_.startError = ERROR_SERVICE_REQUEST_TIMEOUT;
    EXPECT_EQ(Save(), CServerConfiguration::SaveResult::Saved);
    ASSERT_EQ(prompt_.records.size(), 1u);
    EXPECT_EQ(prompt_.records[0].text, "Error starting service: The service did not respond to the start or control "
                                       "request in a timely fashion.");
    EXPECT_EQ(prompt_.records[0].icon, PromptIcon::Error);

    // Without an installed service there is nothing to start and nothing to say.
    prompt_.records.clear();
    service_.query = {ServiceQuery::Outcome::NotInstalled, 0};
    service_.stopError = service_.startError = ERROR_SERVICE_DOES_NOT_EXIST;
    EXPECT_EQ(Save(), CServerConfiguration::SaveResult::Saved);
    EXPECT_TRUE(prompt_.records.empty());
}

TEST_F(ServerConfigurationTest, RecordsThatWouldOverwriteOrShareAreRefused)
{
    StoreWithFolder("Alpha", 35001);
    StoreWithFolder("Beta", 35002);
    const auto rename = [this](size_t index, const std::string& name) { Rename(index, name); };
    struct Case {
        std::function<void()> edit;
        std::string says;
    };
    const std::vector<Case> cases = {
        {[&] { rename(2, ""); }, "no name"},
        {[&] { rename(2, "alpha"); }, "\"alpha\" is given to more than one"},
        {[&] { rename(2, "DEFAULT"); }, "\"DEFAULT\" is given to more than one"},
        {[&] { rename(2, "a\\b"); }, "cannot hold \\ or /"},
        {[&] { rename(2, "a/b"); }, "cannot hold \\ or /"},
        {[&] { rename(2, "."); }, "\".\" cannot be the name of a folder"},
        {[&] { rename(2, ".."); }, "\"..\" cannot be the name of a folder"},
        {[&] { rename(2, "tab\there"); }, "cannot hold control characters"},
        {[&] { rename(2, std::string(256, 'n')); }, "is longer than 255 characters"},
        {[&] { config_.At(2)->SetPort(34347); }, "Port 34347 of \"Beta\" belongs to the Default server"},
        {[&] { config_.At(2)->SetPort(35001); }, "Port 35001 is given to both"},
        // The Default server's folder, as the server opens it; folders the others still hold (a swap).
        {[&] { config_.At(2)->SetStorageFolder(install_ + "/default"); },
         "folder \"" + install_ + "/default\" of \"Beta\" belongs to \"Default\""},
        {[&] { rename(1, "Beta"), rename(2, "Alpha"); }, "of \"Beta\" belongs to \"Alpha\""},
        {[&] { config_.At(2)->SetStorageFolder(install_ + "/Alpha"); }, "of \"Beta\" belongs to \"Alpha\""},
        {[&] { config_.At(2)->SetStorageFolder(install_ + "/Alpha/Beta/"); },
         "Alpha/Beta/\" of \"Beta\" lies inside the storage folder \"" + install_ + "/Alpha/\" of \"Alpha\""},
    };
    for (const Case& c : cases) {
        config_.Load();
        c.edit();
        config_.SetModified();
        prompt_.records.clear();
        EXPECT_EQ(Save(), CServerConfiguration::SaveResult::Refused) << c.says;
        ASSERT_EQ(prompt_.records.size(), 1u) << c.says;
        EXPECT_NE(prompt_.records[0].text.find(c.says), std::string::npos) << prompt_.records[0].text;
        EXPECT_EQ(prompt_.records[0].icon, PromptIcon::Error);
        EXPECT_TRUE(service_.log.empty()) << c.says;
        EXPECT_TRUE(config_.IsModified());
        EXPECT_EQ(StoredServerCount(), 2u);
        EXPECT_EQ(StoredPort("Beta"), 35002u);
    }
}

TEST_F(ServerConfigurationTest, RecordsWithoutAUsablePortAreNamedNotCollided)
{
    // As a hand-edited registry leaves them: no "Port" at all, or one out of range.
    StoreServer("NoPort1", 0, Folder("NoPort1"));
    StoreServer("NoPort2", 0, Folder("NoPort2"));
    HKEY key = nullptr;
    for (const char* name : {"NoPort1", "NoPort2"}) {
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, ServerKey(name).c_str(), 0, KEY_ALL_ACCESS, &key);
        RegDeleteValueA(key, "Port");
        RegCloseKey(key);
    }
    config_.Load();
    EXPECT_EQ(Save(), CServerConfiguration::SaveResult::Refused);
    ASSERT_EQ(prompt_.records.size(), 1u);
    EXPECT_EQ(prompt_.records[0].text, "The Virtual Server \"NoPort1\" has no port. The configuration was not saved.");

    // A port no server can have leaves the range to New Server.
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, tq::kVirtualServersKey);
    StoreServer("Odd", 70000, Folder("Odd"));
    config_.Load();
    ASSERT_TRUE(config_.NewServer(prompt_));
    EXPECT_EQ(config_.At(2)->Port(), 35001u);
    prompt_.records.clear();
    EXPECT_EQ(Save(), CServerConfiguration::SaveResult::Refused);
    EXPECT_EQ(prompt_.records[0].text, "Port 70000 of \"Odd\" is not from 1024 to 65535. The configuration was not saved.");
}

TEST_F(ServerConfigurationTest, AFailureAfterTheFirstMovesPutsTheFoldersBack)
{
    StoreWithFolder("Old", 35001);
    tqtest::WriteFileText(Folder("Old") + "userlist.fdb", "users");
    config_.Load();
    config_.At(1)->SetName("Renamed");
    config_.At(1)->SetStorageFolder(Folder("Renamed"));
    config_.NewServer(prompt_);
    prompt_.records.clear();
    // The new server's folder appears after the plan, under the last move.
    EXPECT_EQ(Save([this] { fs::create_directories(Folder("Virtual Server 35002")); }),
              CServerConfiguration::SaveResult::Failed);
    ASSERT_EQ(prompt_.records.size(), 1u);
    EXPECT_EQ(prompt_.records[0].text,
              "Error saving Virtual Server 35002: Cannot create a file when that file already exists.");
    EXPECT_EQ(tqtest::ReadFileText(Folder("Old") + "userlist.fdb"), "users");
    EXPECT_FALSE(fs::exists(Folder("Renamed")));
    EXPECT_TRUE(fs::is_empty(Folder("Virtual Server 35002")));
    EXPECT_EQ(StoredText("Old", "StorageFolder"), Folder("Old"));
    EXPECT_EQ(Leftovers(), "");
    fs::remove(Folder("Virtual Server 35002"));
    prompt_.records.clear();
    const std::string before = tqtest::ReadFileText(RegistryFilePath());
    // The file cannot be replaced: this writer's temporary name is taken by a folder.
    const std::string temp = RegistryFilePath() + ".tmp." + std::to_string(::getpid());
    fs::create_directories(temp);

    EXPECT_EQ(Save(), CServerConfiguration::SaveResult::Failed);
    ASSERT_EQ(prompt_.records.size(), 1u);
    EXPECT_EQ(prompt_.records[0].text, "Error saving Renamed, Virtual Server 35002: Access is denied.");
    EXPECT_EQ(tqtest::ReadFileText(RegistryFilePath()), before);
    EXPECT_EQ(tqtest::ReadFileText(Folder("Old") + "userlist.fdb"), "users");
    EXPECT_FALSE(fs::exists(Folder("Renamed")));
    EXPECT_FALSE(fs::exists(Folder("Virtual Server 35002")));
    EXPECT_TRUE(config_.IsModified());

    // Once the registry can be written, the same save goes through.
    fs::remove(temp);
    prompt_.records.clear();
    EXPECT_EQ(Save(), CServerConfiguration::SaveResult::Saved);
    EXPECT_TRUE(prompt_.records.empty());
    EXPECT_EQ(StoredText("Renamed", "StorageFolder"), Folder("Renamed"));
    EXPECT_EQ(tqtest::ReadFileText(Folder("Renamed") + "userlist.fdb"), "users");
}

TEST_F(ServerConfigurationTest, WithoutADefaultFolderNoAdminSettingsAreCopied)
{
    // The console's own folder holds an "appmgr.ad" that must not travel.
    const fs::path was = fs::current_path();
    fs::current_path(Root());
    tqtest::WriteFileText(Root() + "/appmgr.ad", "somebody else's password");
    SetMainText("StorageFolder", "");
    config_.Load();
    config_.NewServer(prompt_);
    const auto result = Save();
    fs::current_path(was);
    EXPECT_EQ(result, CServerConfiguration::SaveResult::Saved);
    EXPECT_TRUE(fs::is_directory(Folder("Virtual Server 35001")));
    EXPECT_FALSE(fs::exists(Folder("Virtual Server 35001") + "appmgr.ad"));
}

TEST_F(ServerConfigurationTest, NoSaveLosesOrHandsOverAServersData)
{
    tqtest::TempFolder elsewhere("/dev/shm");
    const auto users = [this](const std::string& name) { return tqtest::ReadFileText(Folder(name) + "userlist.fdb"); };
    const auto seed = [this](const std::string& name, DWORD port, const std::string& folder) {
        fs::create_directories(folder);
        tqtest::WriteFileText(folder + "/userlist.fdb", name + " users");
        StoreServer(name, port, WithTrailingSlash(folder));
    };

    // A folder that looks like a scratch name of another's move keeps its data.
    seed("A", 35001, elsewhere.Path() + "/A");
    seed("B.partial-copy", 35002, install_ + "/B.partial-copy");
    EXPECT_EQ(SaveAfter([&] { Rename(1, "B"); }), CServerConfiguration::SaveResult::Saved);
    EXPECT_EQ(users("B"), "A users");
    EXPECT_EQ(users("B.partial-copy"), "B.partial-copy users");
    EXPECT_FALSE(fs::exists(elsewhere.Path() + "/A"));

    // Renamed onto a deleted server's folder: refused, however often the pane saves.
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, tq::kVirtualServersKey);
    seed("Old", 35001, install_ + "/Old");
    seed("Gone", 35002, install_ + "/Gone");
    EXPECT_EQ(SaveAfter([&] {
                  config_.Delete(2);
                  Rename(1, "Gone");
                  Rename(1, "Gone");
              }),
              CServerConfiguration::SaveResult::Refused);
    EXPECT_EQ(prompt_.records.back().text, "The storage folder of \"Gone\" cannot be moved to \"" + Folder("Gone") +
                                               "\": that name is taken already (by a deleted server's folder, "
                                               "perhaps). The configuration was not saved.");
    EXPECT_TRUE(service_.log.empty());
    EXPECT_EQ(StoredText("Old", "StorageFolder"), Folder("Old"));
    EXPECT_EQ(users("Old"), "Old users");

    // A new server named like a deleted one takes its folder only when told to.
    const auto replaceGone = [&] {
        config_.Delete(2);
        config_.NewServer(prompt_);
        Rename(2, "Gone");
    };
    prompt_.answers = {PromptAnswer::No};
    EXPECT_EQ(SaveAfter(replaceGone), CServerConfiguration::SaveResult::Refused);
    EXPECT_EQ(prompt_.records.back().buttons, PromptButtons::YesNo);
    EXPECT_NE(prompt_.records.back().text.find("administrative password of a deleted server"), std::string::npos);
    EXPECT_TRUE(service_.log.empty());
    EXPECT_EQ(StoredPort("Gone"), 35002u);
    prompt_.answers = {PromptAnswer::Yes};
    EXPECT_EQ(SaveAfter(replaceGone), CServerConfiguration::SaveResult::Saved);
    EXPECT_EQ(StoredText("Gone", "Description"), "Virtual Server 35002");
    EXPECT_EQ(users("Gone"), "Gone users");
    EXPECT_FALSE(fs::exists(Folder("Gone") + "appmgr.ad"));

    // Names that differ in case only, with a move that fails: nothing is lost from the registry.
    tqtest::WriteFileText(Root() + "/file", "");
    EXPECT_EQ(SaveAfter([&] {
                  config_.At(1)->SetName("Z");
                  config_.At(1)->SetStorageFolder(Root() + "/file/Z/");
                  Rename(2, "old");
              }),
              CServerConfiguration::SaveResult::Failed);
    EXPECT_EQ(StoredText("Old", "StorageFolder"), Folder("Old"));
    EXPECT_EQ(StoredText("Gone", "StorageFolder"), Folder("Gone"));
    EXPECT_EQ(users("Old"), "Old users");
    EXPECT_EQ(users("Gone"), "Gone users");

    // A link that makes one folder of two is seen through.
    fs::create_directory_symlink(Folder("Old"), install_ + "/Alias");
    EXPECT_EQ(SaveAfter([&] { Rename(2, "Alias"); }), CServerConfiguration::SaveResult::Refused);
    EXPECT_NE(prompt_.records.back().text.find("of \"Alias\" belongs to \"Old\""), std::string::npos);

    // A stored server without a folder is left as it is.
    StoreServer("Bare", 35009, "");
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, ServerKey("Bare").c_str(), 0, KEY_ALL_ACCESS, &key);
    RegDeleteValueA(key, "StorageFolder");
    RegCloseKey(key);
    EXPECT_EQ(SaveAfter([&] { config_.At(1)->SetDescription("about"); }), CServerConfiguration::SaveResult::Saved);
    EXPECT_FALSE(StoredText("Bare", "StorageFolder"));
    EXPECT_EQ(Leftovers(), "");
}

TEST_F(ServerConfigurationTest, ASecondConsoleNeverSavesOverAnotherOnesSave)
{
    StoreWithFolder("A", 35001);
    tqtest::WriteFileText(Folder("A") + "userlist.fdb", "users");
    CServerConfiguration second;
    second.Load();
    config_.Load();
    Rename(1, "B");
    ASSERT_EQ(Save(), CServerConfiguration::SaveResult::Saved);

    second.At(1)->SetDescription("edited");
    second.SetModified();
    prompt_.answers = {PromptAnswer::No};
    EXPECT_EQ(second.SaveConfiguration(commands_, prompt_), CServerConfiguration::SaveResult::Refused);
    EXPECT_EQ(prompt_.records.back().text, CServerConfiguration::kChangedElsewhere);
    EXPECT_TRUE(second.IsModified());
    prompt_.answers = {PromptAnswer::Yes};
    EXPECT_EQ(second.SaveConfiguration(commands_, prompt_), CServerConfiguration::SaveResult::Reloaded);
    EXPECT_EQ(second.At(1)->Name(), "B");
    EXPECT_FALSE(second.IsModified());
    EXPECT_EQ(service_.log, (std::vector<std::string>{"stop", "start"}));
    EXPECT_EQ(StoredText("B", "StorageFolder"), Folder("B"));
    EXPECT_EQ(tqtest::ReadFileText(Folder("B") + "userlist.fdb"), "users");
}

TEST_F(ServerConfigurationTest, AServiceThatDoesNotStopChangesNothing)
{
    StoreWithFolder("A", 35001);
    for (const bool refused : {true, false}) {
        config_.Load();
        Rename(1, "B");
        service_ = {};
        service_.query = {ServiceQuery::Outcome::State, SERVICE_RUNNING};
        if (refused)
            service_.stopError = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        else
            service_.stopLeaves = SERVICE_STOP_PENDING; // and never gets further
        prompt_.records.clear();
        EXPECT_EQ(Save(), CServerConfiguration::SaveResult::Failed);
        ASSERT_EQ(prompt_.records.size(), 1u);
        EXPECT_EQ(prompt_.records[0].text.rfind(CServerConfiguration::kNotStopped, 0), 0u);
        EXPECT_EQ(refused, prompt_.records[0].text.find("Error stopping service: ") != std::string::npos);
        EXPECT_EQ(service_.log, std::vector<std::string>{"stop"});
        EXPECT_TRUE(fs::exists(Folder("A")));
        EXPECT_EQ(StoredText("A", "StorageFolder"), Folder("A"));
    }
}

TEST_F(ServerConfigurationTest, AFolderThatARunningServerUsesIsNeverMoved)
{
    StoreWithFolder("A", 35001);
    tqtest::WriteFileText(Folder("A") + "userlist.fdb", "users");
    // A server run by hand, which no service stop reaches.
    service_.query = {ServiceQuery::Outcome::NotInstalled, 0};
    service_.stopError = service_.startError = ERROR_SERVICE_DOES_NOT_EXIST;
    CFolderLock running;
    ASSERT_TRUE(running.TryLock(Folder("A").c_str(), CFolderLock::Mode::Shared));
    config_.Load();
    Rename(1, "B");
    EXPECT_EQ(Save(), CServerConfiguration::SaveResult::Failed);
    ASSERT_EQ(prompt_.records.size(), 1u);
    EXPECT_EQ(prompt_.records[0].text, "Error saving B: a running server is using its storage folder \"" +
                                           Install("A") + "\". The process cannot access the file because it is "
                                                         "being used by another process.");
    EXPECT_EQ(tqtest::ReadFileText(Folder("A") + "userlist.fdb"), "users");
    EXPECT_FALSE(fs::exists(Folder("B")));
    EXPECT_EQ(StoredText("A", "StorageFolder"), Folder("A"));
    EXPECT_EQ(Leftovers(), "");
    EXPECT_TRUE(config_.IsModified());

    // Once it has stopped, the same save goes through.
    running.Unlock();
    prompt_.records.clear();
    EXPECT_EQ(Save(), CServerConfiguration::SaveResult::Saved);
    EXPECT_EQ(tqtest::ReadFileText(Folder("B") + "userlist.fdb"), "users");
}

TEST_F(ServerConfigurationTest, OnlyAWholeFolderOfItsOwnIsMoved)
{
    // As a hand-edited registry has them: a folder inside another, and a link.
    StoreWithFolder("Outer", 35001);
    fs::create_directories(Folder("Outer") + "Inner");
    tqtest::WriteFileText(Folder("Outer") + "Inner/userlist.fdb", "inner");
    StoreServer("Inner", 35002, Folder("Outer") + "Inner/");
    fs::create_directories(Root() + "/real");
    fs::create_directory_symlink(Root() + "/real", install_ + "/Linked");
    StoreServer("Linked", 35003, Folder("Linked"));
    const std::string inside = "\"" + Folder("Outer") + "Inner/\" of \"Inner\" lies inside the storage folder \"" +
                               Folder("Outer") + "\" of ";
    for (const auto& [edit, says] : std::vector<std::pair<std::function<void()>, std::string>>{
             {[&] { Rename(1, "Moved"); }, inside + "\"Moved\""},
             {[&] { config_.At(3)->SetDescription("about"); }, inside + "\"Outer\""},
         }) {
        EXPECT_EQ(SaveAfter(edit), CServerConfiguration::SaveResult::Refused) << says;
        EXPECT_NE(prompt_.records.back().text.find(says), std::string::npos) << prompt_.records.back().text;
        EXPECT_TRUE(service_.log.empty());
    }
    // Moving the inner one out mends it.
    EXPECT_EQ(SaveAfter([&] { Rename(2, "Inner"); }), CServerConfiguration::SaveResult::Saved);
    EXPECT_EQ(tqtest::ReadFileText(Folder("Inner") + "userlist.fdb"), "inner");

    EXPECT_EQ(SaveAfter([&] { Rename(3, "Relinked"); }), CServerConfiguration::SaveResult::Refused);
    EXPECT_NE(prompt_.records.back().text.find("\"" + Folder("Linked") + "\" of \"Relinked\" is a link"),
              std::string::npos);
    EXPECT_TRUE(fs::is_symlink(install_ + "/Linked"));

    // Another server's folder mounted inside the folder to move.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        GTEST_SKIP() << "cannot mount a file system here";
    fs::create_directories(Folder("Outer") + "mnt");
    ASSERT_EQ(::mount(Folder("Inner").c_str(), (Folder("Outer") + "mnt").c_str(), nullptr, MS_BIND, nullptr), 0);
    EXPECT_EQ(SaveAfter([&] { Rename(1, "Moved"); }), CServerConfiguration::SaveResult::Refused);
    EXPECT_NE(prompt_.records.back().text.find("holds another file system at \"" + Folder("Outer") + "mnt\""),
              std::string::npos)
        << prompt_.records.back().text;
    ::umount((Folder("Outer") + "mnt").c_str());
    EXPECT_EQ(tqtest::ReadFileText(Folder("Inner") + "userlist.fdb"), "inner");
}

TEST_F(ServerConfigurationTest, RecoveryNeverLeavesTheConsoleUnableToSave)
{
    StoreWithFolder("A", 35001);
    tqtest::WriteFileText(Folder("A") + "userlist.fdb", "users");
    // A save that renamed A to B and was killed before it stored the list.
    const auto killedSave = [this] {
        std::vector<CFolderMove> moves;
        moves.emplace_back("A", "B", Folder("A"), Folder("B"));
        CSaveJournal journal(std::move(moves));
        const CFolderMove* failed = nullptr;
        ASSERT_EQ(journal.Begin(failed), S_OK);
        ASSERT_EQ(journal.Apply("", failed), S_OK);
    };
    killedSave();

    // The moved folder is in use: the journal stays, and so does the folder.
    CFolderLock running;
    ASSERT_TRUE(running.TryLock(Folder("B").c_str(), CFolderLock::Mode::Shared));
    const std::string blocked = config_.Load();
    EXPECT_EQ(blocked.rfind("A save that did not end cannot be put right yet:\n\nThe folder \"" + Install("B") +
                                "\" is in use",
                            0),
              0u)
        << blocked;
    config_.SetModified();
    EXPECT_EQ(Save(), CServerConfiguration::SaveResult::Refused);
    EXPECT_NE(Leftovers(), "");
    running.Unlock();

    // Its old name taken meanwhile: the stored record follows the data.
    fs::create_directories(Folder("A"));
    EXPECT_EQ(config_.Load(), "A save that did not end was put right, but:\n\nThe folder of \"A\" cannot go back to \"" +
                                  Install("A") + "\": Cannot create a file when that file already exists. Its data "
                                                 "stays in \"" +
                                  Install("B") + "\", and the configuration now names that folder.");
    EXPECT_EQ(StoredText("A", "StorageFolder"), Folder("B"));
    EXPECT_EQ(Leftovers(), "");
    config_.Delete(1);
    prompt_.records.clear();
    EXPECT_EQ(Save(), CServerConfiguration::SaveResult::Saved);
    EXPECT_TRUE(prompt_.records.empty());
    EXPECT_EQ(tqtest::ReadFileText(Folder("B") + "userlist.fdb"), "users");
}

TEST_F(ServerConfigurationTest, AnOldFolderThatCannotBeRemovedIsNamed)
{
    tqtest::TempFolder elsewhere("/dev/shm");
    const std::string old = elsewhere.Path() + "/A";
    fs::create_directories(old);
    tqtest::WriteFileText(old + "/userlist.fdb", "users");
    StoreServer("A", 35001, old + "/");
    // A file even root cannot remove.
    const int fd = ::open((old + "/userlist.fdb").c_str(), O_RDONLY);
    int flags = FS_IMMUTABLE_FL;
    const bool immutable = fd >= 0 && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (!immutable) {
        ::close(fd);
        GTEST_SKIP() << "cannot make a file immutable here";
    }
    config_.Load();
    Rename(1, "B");
    const auto result = Save();
    flags = 0;
    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    ::close(fd);
    EXPECT_EQ(result, CServerConfiguration::SaveResult::Saved);
    ASSERT_EQ(prompt_.records.size(), 1u);
    EXPECT_EQ(prompt_.records[0].text, "The old folder \"" + old + "\" of \"B\" could not be removed: Access is denied. "
                                       "It still holds a copy of the server's users and administrative password; "
                                       "remove it by hand.");
    EXPECT_EQ(prompt_.records[0].icon, PromptIcon::Warning);
    EXPECT_EQ(tqtest::ReadFileText(Folder("B") + "userlist.fdb"), "users");
    EXPECT_EQ(StoredText("B", "StorageFolder"), Folder("B"));
    EXPECT_EQ(Leftovers(), "");
}
