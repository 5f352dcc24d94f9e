#include "console/core/VirtualServer.h"

#include "console/core/FolderChange.h"
#include "platform/registry/RegistryTransaction.h"

#include "tests/console/core/ConsoleRegistry.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace consoletest;
namespace fs = std::filesystem;

namespace {

class VirtualServerTest : public tqtest::StateRootTest {
protected:
    void SetUp() override
    {
        StateRootTest::SetUp();
        fs::create_directories(Root() + "/default");
        tqtest::WriteFileText(Root() + "/default/appmgr.ad", "admin settings");
        defaultServer_ = CVirtualServer("Default", Root() + "/default/", "", 34347, true);
    }
    std::string Folder(const std::string& name) const { return Root() + "/" + name + "/"; }
    // Saves the one record as the configuration does: folder, then registry.
    HRESULT Save(CVirtualServer& server)
    {
        CRegistryTransaction registry;
        CFolderChange folder;
        const HRESULT hr = server.Save(defaultServer_, registry, folder);
        if (SUCCEEDED(hr) && registry.Commit() == ERROR_SUCCESS) {
            folder.Finish();
            server.MarkSaved();
        }
        return hr;
    }

    CVirtualServer defaultServer_;
};

} // namespace

TEST_F(VirtualServerTest, SettersRefuseTheReadOnlyRecordAndPortsOutOfRange)
{
    EXPECT_EQ(defaultServer_.SetName("x"), E_ACCESSDENIED);
    EXPECT_EQ(defaultServer_.SetDescription("x"), E_ACCESSDENIED);
    EXPECT_EQ(defaultServer_.SetPort(2000), E_ACCESSDENIED);
    EXPECT_EQ(defaultServer_.SetStorageFolder("/x/"), E_ACCESSDENIED);
    EXPECT_EQ(defaultServer_.Name(), "Default");
    EXPECT_EQ(defaultServer_.Port(), 34347u);

    CVirtualServer server("A", Folder("A"), "", 2000, false);
    EXPECT_EQ(server.SetPort(1023), E_INVALIDARG);
    EXPECT_EQ(server.SetPort(65536), E_INVALIDARG);
    EXPECT_EQ(server.Port(), 2000u);
    EXPECT_EQ(server.SetPort(1024), S_OK);
    EXPECT_EQ(server.SetPort(65535), S_OK);
    EXPECT_EQ(server.Port(), 65535u);
}

TEST_F(VirtualServerTest, OnlyAFolderOnDiskBecomesThePreviousOne)
{
    // Not on disk (a server not saved yet): the previous folder stays.
    CVirtualServer fresh("A", Folder("A"), "", 2000, false);
    EXPECT_EQ(fresh.SetStorageFolder(Folder("B")), S_OK);
    EXPECT_EQ(fresh.StorageFolder(), Folder("B"));
    EXPECT_EQ(fresh.PreviousStorageFolder(), Folder("A"));

    CVirtualServer loaded;
    StoreServer("C", 2001, Folder("C"));
    ASSERT_EQ(loaded.Load("C"), S_OK);
    EXPECT_EQ(loaded.PreviousStorageFolder(), "");
    fs::create_directories(Folder("C"));
    loaded.SetStorageFolder(Folder("D"));
    EXPECT_EQ(loaded.PreviousStorageFolder(), Folder("C"));
}

TEST_F(VirtualServerTest, LongValuesLoadWhole)
{
    const std::string part(100, 'f');
    const std::string folder = Root() + "/" + part + "/" + part + "/" + part + "/" + part + "/";
    const std::string description(1000, 'd');
    StoreServer("Long", 2000, folder, description);
    CVirtualServer server;
    ASSERT_EQ(server.Load("Long"), S_OK);
    EXPECT_EQ(server.StorageFolder(), folder);
    EXPECT_EQ(server.Description(), description);
    EXPECT_EQ(server.Port(), 2000u);
    EXPECT_EQ(CVirtualServer().Load("Missing"), E_FAIL);
    // Written back as it was read, not emptied.
    ASSERT_EQ(Save(server), S_OK);
    EXPECT_EQ(StoredText("Long", "StorageFolder"), folder);
    EXPECT_EQ(StoredText("Long", "Description"), description);
}

TEST_F(VirtualServerTest, SaveOfANewServerCreatesItsFolderWithTheAdminSettings)
{
    CVirtualServer server("New", Root() + "/deep/er/New/", "about", 35001, false);
    ASSERT_EQ(Save(server), S_OK);
    EXPECT_EQ(StoredPort("New"), 35001u);
    EXPECT_EQ(StoredText("New", "Description"), "about");
    EXPECT_EQ(StoredText("New", "StorageFolder"), Root() + "/deep/er/New/");
    EXPECT_EQ(tqtest::ReadFileText(Root() + "/deep/er/New/appmgr.ad"), "admin settings");

    // Without "appmgr.ad" in the Default folder the new folder stays without it.
    fs::remove(Root() + "/default/appmgr.ad");
    CVirtualServer other("Other", Folder("Other"), "", 35002, false);
    EXPECT_EQ(Save(other), S_OK);
    EXPECT_TRUE(fs::is_directory(Folder("Other")));
    EXPECT_FALSE(fs::exists(Folder("Other") + "appmgr.ad"));
}

TEST_F(VirtualServerTest, ARenameMovesTheFolderAlsoWhenOnlyTheCaseChanges)
{
    fs::create_directories(Folder("Lists"));
    tqtest::WriteFileText(Folder("Lists") + "userlist.fdb", "users");
    CVirtualServer server("Lists", Folder("Lists"), "", 35001, false);
    server.SetName("lists");
    server.SetStorageFolder(Folder("lists"));
    ASSERT_EQ(Save(server), S_OK);
    EXPECT_FALSE(fs::exists(Folder("Lists")));
    EXPECT_EQ(tqtest::ReadFileText(Folder("lists") + "userlist.fdb"), "users");
    EXPECT_EQ(StoredText("lists", "StorageFolder"), Folder("lists"));
    // The moved folder is gone, so a second save leaves the new one alone.
    EXPECT_EQ(Save(server), S_OK);
    EXPECT_EQ(tqtest::ReadFileText(Folder("lists") + "userlist.fdb"), "users");
}

TEST_F(VirtualServerTest, SaveFailuresGiveTheWin32Error)
{
    // A move never replaces what is there already.
    fs::create_directories(Folder("From"));
    fs::create_directories(Folder("To"));
    CVirtualServer moved("From", Folder("From"), "", 35001, false);
    moved.SetStorageFolder(Folder("To"));
    EXPECT_EQ(Save(moved), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(fs::exists(Folder("From")));
    // Nothing names the folder before it is in place.
    EXPECT_FALSE(StoredText("From", "StorageFolder"));

    tqtest::WriteFileText(Root() + "/file", "");
    CVirtualServer blocked("Blocked", Root() + "/file/Blocked/", "", 35002, false);
    EXPECT_TRUE(FAILED(Save(blocked)));
}
