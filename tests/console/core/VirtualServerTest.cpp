#include "console/core/VirtualServer.h"

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
    LONG Save(const CVirtualServer& server, const CVirtualServer* stored)
    {
        CRegistryTransaction registry;
        server.Save(registry, stored);
        return registry.Commit();
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
    EXPECT_EQ(server.StoredName(), "Long");
    EXPECT_EQ(CVirtualServer().Load("Missing"), E_FAIL);
}

TEST_F(VirtualServerTest, AKeptSubkeyGetsWhatChangedAndANewOneEverything)
{
    StoreServer("Kept", 2000, Folder("Kept"), "about");
    SetText(ServerKey("Kept"), "Extra", "kept");
    CVirtualServer stored;
    ASSERT_EQ(stored.Load("Kept"), S_OK);
    CVirtualServer edited = stored;
    edited.SetDescription("changed");
    ASSERT_EQ(Save(edited, &stored), ERROR_SUCCESS);
    EXPECT_EQ(StoredText("Kept", "Description"), "changed");
    EXPECT_EQ(StoredText("Kept", "Extra"), "kept");

    // A record stored without a folder is not given an empty one.
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, ServerKey("Kept").c_str(), 0, KEY_ALL_ACCESS, &key);
    RegDeleteValueA(key, "StorageFolder");
    RegCloseKey(key);
    ASSERT_EQ(stored.Load("Kept"), S_OK);
    CVirtualServer folderless = stored;
    folderless.SetPort(2001);
    ASSERT_EQ(Save(folderless, &stored), ERROR_SUCCESS);
    EXPECT_EQ(StoredPort("Kept"), 2001u);
    EXPECT_FALSE(StoredText("Kept", "StorageFolder"));

    // Under another name, or new: every value, in a subkey of its own.
    folderless.SetName("Renamed");
    folderless.SetStorageFolder(Folder("Renamed"));
    ASSERT_EQ(Save(folderless, &stored), ERROR_SUCCESS);
    EXPECT_EQ(StoredPort("Renamed"), 2001u);
    EXPECT_EQ(StoredText("Renamed", "Description"), "changed");
    EXPECT_EQ(StoredText("Renamed", "StorageFolder"), Folder("Renamed"));
    EXPECT_FALSE(StoredText("Renamed", "Extra"));
}
