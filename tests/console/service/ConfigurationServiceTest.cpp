// The configuration's save and the service commands of the console's core,
// over the real service controller and the real server program.

#include "common/Names.h"
#include "console/core/RegistryValue.h"
#include "console/core/ScmServiceController.h"
#include "console/core/ServerConfiguration.h"
#include "console/core/ServiceCommands.h"
#include "tests/console/service/InstalledService.h"
#include "tests/console/widgets/RecordingPrompt.h"

#include <gtest/gtest.h>

#include <filesystem>

using consoletest::InstalledServiceTest;
namespace fs = std::filesystem;

namespace {

class ConfigurationServiceTest : public InstalledServiceTest {
protected:
    std::string Status()
    {
        commands_.UpdateServiceStatus();
        return line_;
    }
    bool StatusBecomes(const std::string& text)
    {
        return Eventually([&] { return Status() == "Service Status: " + text; });
    }

    CScmServiceController service_;
    RecordingPrompt prompt_;
    std::string line_;
    CServiceCommands commands_{service_, prompt_, [this](const std::string& text) { line_ = text; }};
    CServerConfiguration config_;
};

bool HasUser(long port, const char* name)
{
    CInvokeData request(2019), reply;
    if (InstalledServiceTest::Invoke(static_cast<int>(port), request, reply) != 0)
        return false;
    BYTE* data = nullptr;
    DWORD length = 0;
    if (reply.PopOutBytes(&data, &length) < 0 || data == nullptr)
        return false;
    std::string flat(reinterpret_cast<const char*>(data), length);
    delete[] data;
    return flat.find(name) != std::string::npos;
}

} // namespace

TEST_F(ConfigurationServiceTest, SaveRestartsTheServiceWithTheNewServers)
{
    EXPECT_EQ(Status(), "Service Status: Service Not Installed");
    Install();
    EXPECT_EQ(Status(), "Service Status: Stopped");
    // The install folder that new servers are made under.
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, tq::kPathValue), Root());

    commands_.OnStopService();
    ASSERT_EQ(prompt_.records.size(), 1u);
    EXPECT_EQ(prompt_.records[0].text, "Error stopping service: The service has not been started.");
    EXPECT_EQ(Status(), "Service Status: Stopped");

    prompt_.records.clear();
    commands_.OnStartService();
    EXPECT_TRUE(prompt_.records.empty());
    ASSERT_TRUE(StatusBecomes("Running"));
    ASSERT_TRUE(Eventually([] { return GetVersion(tq::kDefaultPort) == 5; }));

    config_.Load();
    ASSERT_EQ(config_.NewServer(prompt_), 1u);
    EXPECT_EQ(config_.At(1)->StorageFolder(), Root() + "/Virtual Server 35001/");
    ASSERT_EQ(config_.SaveConfiguration(commands_, prompt_), CServerConfiguration::SaveResult::Saved);
    EXPECT_TRUE(prompt_.records.empty());
    ASSERT_TRUE(StatusBecomes("Running"));
    ASSERT_TRUE(Eventually([] { return GetVersion(35001) == 5; }));
    EXPECT_EQ(GetVersion(tq::kDefaultPort), 5);

    // A user made on the new server is in its lists after a rename moved its folder.
    CInvokeData create(2004), created;
    create.PushInString("alice");
    ASSERT_EQ(Invoke(35001, create, created), 0);
    ASSERT_TRUE(HasUser(35001, "alice"));
    CVirtualServer& server = *config_.At(1);
    server.SetName("Renamed");
    server.SetStorageFolder(Root() + "/Renamed/");
    ASSERT_EQ(config_.SaveConfiguration(commands_, prompt_), CServerConfiguration::SaveResult::Saved);
    EXPECT_TRUE(prompt_.records.empty());
    EXPECT_FALSE(fs::exists(Root() + "/Virtual Server 35001"));
    EXPECT_TRUE(fs::exists(Root() + "/Renamed/userlist.fdb"));
    ASSERT_TRUE(StatusBecomes("Running"));
    ASSERT_TRUE(Eventually([] { return GetVersion(35001) == 5; }));
    EXPECT_TRUE(HasUser(35001, "alice"));

    commands_.OnStopService();
    EXPECT_TRUE(StatusBecomes("Stopped"));
}
