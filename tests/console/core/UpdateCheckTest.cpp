#include "console/core/UpdateCheck.h"

#include "common/Names.h"
#include "console/core/XmlDocumentWrapper.h"
#include "console/core/XmlNodeListWrapper.h"
#include "platform/registry/Registry.h"
#include "tests/console/widgets/RecordingPrompt.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

std::string Product(const std::string& attributes)
{
    return "<Product " + attributes + "/>";
}

std::string BuildList(const std::string& inside)
{
    return "<?xml version=\"1.0\"?>\n<Builds>" + inside + "</Builds>";
}

const std::string kWardlake = "Name=\"Wardlake\" Version=\"6.5\" ";
const std::string kPage = "https://downloads.example.org/wardlake/";

class UpdateCheckTest : public ::testing::Test {
protected:
    // Serves body as the build list and runs the check against it.
    void CheckWith(int status, const std::string& body)
    {
        server.Serve(kBuildListPath, status, body);
        Run();
    }
    void Run()
    {
        RunUpdateCheck(prompt, BuildListAddress(server.Host()), limits, [this] {
            ++idleCalls;
            idleBeforeMessage = prompt.records.empty();
        });
    }
    // The one message the check showed.
    const PromptRecord& OnlyMessage()
    {
        EXPECT_EQ(prompt.records.size(), 1u);
        EXPECT_EQ(prompt.records.at(0).kind, "message");
        EXPECT_EQ(prompt.records.at(0).caption, "Wardlake 7");
        return prompt.records.at(0);
    }
    void ExpectError(const char* text)
    {
        const PromptRecord& r = OnlyMessage();
        EXPECT_EQ(r.text, text);
        EXPECT_EQ(r.buttons, PromptButtons::Ok);
        EXPECT_EQ(r.icon, PromptIcon::Error);
    }
    void ExpectNoUpdate()
    {
        const PromptRecord& r = OnlyMessage();
        EXPECT_EQ(r.text, "There are no updates available at this time.");
        EXPECT_EQ(r.buttons, PromptButtons::Ok);
        EXPECT_EQ(r.icon, PromptIcon::Information);
    }
    void ExpectOffered(const std::string& url)
    {
        ASSERT_EQ(prompt.records.size(), 2u);
        EXPECT_EQ(prompt.records[0].text, "An update is available.  Press OK to view the download page.");
        EXPECT_EQ(prompt.records[0].caption, "Wardlake 7");
        EXPECT_EQ(prompt.records[0].buttons, PromptButtons::OkCancel);
        EXPECT_EQ(prompt.records[0].icon, PromptIcon::Information);
        EXPECT_EQ(prompt.records[1].kind, "url");
        EXPECT_EQ(prompt.records[1].text, url);
    }

    LoopbackHttpServer server;
    RecordingPrompt prompt;
    HttpLimits limits{2000, 3000, 1 << 20};
    int idleCalls = 0;
    bool idleBeforeMessage = false;
};

TEST_F(UpdateCheckTest, ComparesTheListedBuildWithThisOne)
{
    CheckWith(200, BuildList(Product(kWardlake + "Build=\"1410\" DownloadURL=\"" + kPage + "\"")));
    ExpectNoUpdate();
    EXPECT_EQ(server.Requests(), 1);

    prompt.records.clear();
    CheckWith(200, BuildList(Product(kWardlake + "Build=\"1411\" DownloadURL=\"" + kPage + "\"")));
    ExpectOffered(kPage);
    EXPECT_EQ(idleCalls, 2);
    EXPECT_TRUE(idleBeforeMessage);
}

TEST_F(UpdateCheckTest, CancelLeavesTheDownloadPageClosed)
{
    prompt.answers.push_back(PromptAnswer::Cancel);
    CheckWith(200, BuildList(Product(kWardlake + "Build=\"2000\" DownloadURL=\"" + kPage + "\"")));
    const PromptRecord& r = OnlyMessage();
    EXPECT_EQ(r.buttons, PromptButtons::OkCancel);
}

TEST_F(UpdateCheckTest, ReadsTheBuildAsAtoiDoes)
{
    // Hexadecimal is not read: "0x600" is 0.
    CheckWith(200, BuildList(Product(kWardlake + "Build=\"0x600\" DownloadURL=\"" + kPage + "\"")));
    ExpectNoUpdate();

    prompt.records.clear();
    CheckWith(200, BuildList(Product(kWardlake + "Build=\"  1411 beta\" DownloadURL=\"" + kPage + "\"")));
    ExpectOffered(kPage);

    prompt.records.clear();
    CheckWith(200, BuildList(Product(kWardlake + "Build=\"99999999999999\" DownloadURL=\"" + kPage + "\"")));
    ExpectOffered(kPage);
}

TEST_F(UpdateCheckTest, WithoutABuildThereIsNoUpdate)
{
    CheckWith(200, BuildList(Product(kWardlake + "DownloadURL=\"" + kPage + "\"")));
    ExpectNoUpdate();
}

TEST_F(UpdateCheckTest, OnlyThisProductAndVersionCount)
{
    CheckWith(200, BuildList(Product("Name=\"Wardlake\" Version=\"7.0\" Build=\"9999\" DownloadURL=\"" + kPage + "\"")
                             + Product("Name=\"wardlake\" Version=\"6.5\" Build=\"9999\"")
                             + Product("Name=\"Other\" Version=\"6.5\" Build=\"9999\"")
                             + "<Item Name=\"Wardlake\" Version=\"6.5\" Build=\"9999\"/>"));
    ExpectError("Unable to find Wardlake update information.");
}

TEST_F(UpdateCheckTest, UsesTheFirstMatchingProduct)
{
    CheckWith(200, BuildList(Product(kWardlake + "Build=\"1400\" DownloadURL=\"" + kPage + "\"")
                             + Product(kWardlake + "Build=\"1500\" DownloadURL=\"http://second.example.org/\"")));
    ExpectNoUpdate();

    prompt.records.clear();
    CheckWith(200, BuildList(Product(kWardlake + "Build=\"1500\" DownloadURL=\"" + kPage + "\"")
                             + Product(kWardlake + "Build=\"1400\" DownloadURL=\"http://second.example.org/\"")));
    ExpectOffered(kPage);
}

TEST_F(UpdateCheckTest, OnlyChildrenOfTheRootAreProducts)
{
    CheckWith(200, BuildList("<Group>" + Product(kWardlake + "Build=\"1500\" DownloadURL=\"" + kPage + "\"")
                             + "</Group>"));
    ExpectError("Unable to find Wardlake update information.");

    // The root itself is not one of its children either, whatever its name.
    prompt.records.clear();
    CheckWith(200, Product(kWardlake + "Build=\"1500\" DownloadURL=\"" + kPage + "\""));
    ExpectError("Unable to find Wardlake update information.");

    // Any root name will do.
    prompt.records.clear();
    CheckWith(200, "<List>" + Product(kWardlake + "Build=\"1500\" DownloadURL=\"" + kPage + "\"") + "</List>");
    ExpectOffered(kPage);
}

TEST_F(UpdateCheckTest, ABodyThatIsNotXmlCannotBeOpened)
{
    CheckWith(200, "Build=1500\n<Product");
    ExpectError("Unable to open the build information file on the server.");

    prompt.records.clear();
    CheckWith(200, "");
    ExpectError("Unable to open the build information file on the server.");
}

TEST_F(UpdateCheckTest, AnErrorStatusCannotBeOpened)
{
    CheckWith(404, BuildList(Product(kWardlake + "Build=\"1500\" DownloadURL=\"" + kPage + "\"")));
    ExpectError("Unable to open the build information file on the server.");

    prompt.records.clear();
    CheckWith(500, "oops");
    ExpectError("Unable to open the build information file on the server.");
}

TEST_F(UpdateCheckTest, AHostThatStallsIsGivenUpInTime)
{
    server.Stall(kBuildListPath);
    limits.transferTimeoutMs = 500;
    auto start = std::chrono::steady_clock::now();
    Run();
    auto took = std::chrono::steady_clock::now() - start;
    ExpectError("Unable to open the build information file on the server.");
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_EQ(idleCalls, 1);
}

TEST_F(UpdateCheckTest, AHostThatIsNotThereCannotBeOpened)
{
    int port = tqtest::FreeTcpPort();
    RunUpdateCheck(prompt, BuildListAddress("127.0.0.1:" + std::to_string(port)), limits);
    ExpectError("Unable to open the build information file on the server.");
}

TEST_F(UpdateCheckTest, AnOverlongBodyCannotBeOpened)
{
    limits.maxBytes = 1000;
    CheckWith(200, BuildList(std::string(2000, ' ') + Product(kWardlake + "Build=\"1500\" DownloadURL=\"" + kPage
                                                               + "\"")));
    ExpectError("Unable to open the build information file on the server.");
}

TEST_F(UpdateCheckTest, OnlyAWebPageIsOpened)
{
    for (const char* url : {"file:///etc/passwd", "ftp://downloads.example.org/", "javascript:alert(1)",
                            "/usr/bin/xterm", "http://", "downloads.example.org/page", "", "http://a b/"}) {
        SCOPED_TRACE(url);
        prompt.records.clear();
        CheckWith(200, BuildList(Product(kWardlake + "Build=\"1500\" DownloadURL=\"" + url + "\"")));
        ExpectError("The build information file is invalid.");
    }
    prompt.records.clear();
    CheckWith(200, BuildList(Product(kWardlake + "Build=\"1500\"")));
    ExpectError("The build information file is invalid.");

    prompt.records.clear();
    CheckWith(200, BuildList(Product(kWardlake + "Build=\"1500\" DownloadURL=\"HTTP://Downloads.Example.org/x?y=1\"")));
    ExpectOffered("HTTP://Downloads.Example.org/x?y=1");
}

TEST(UpdateCheckAddress, IsTheHostsBuildList)
{
    EXPECT_EQ(BuildListAddress("www.example.org"), "http://www.example.org/products/builds.xml");
    EXPECT_EQ(BuildListAddress("127.0.0.1:8080"), "http://127.0.0.1:8080/products/builds.xml");
    EXPECT_EQ(BuildListAddress("[::1]:8080"), "http://[::1]:8080/products/builds.xml");
    // Nothing else may shape the address.
    for (const char* host : {"", "evil.org/x", "user@host", "host?q", "host#f", "a b", "host\\x"})
        EXPECT_EQ(BuildListAddress(host), "") << host;
}

class UpdateCheckConfiguration : public tqtest::StateRootTest {
protected:
    void SetUp() override
    {
        StateRootTest::SetUp();
        if (const char* v = std::getenv(kUpdateHostVariable)) {
            hadHost_ = true;
            oldHost_ = v;
        }
        ::unsetenv(kUpdateHostVariable);
    }
    void TearDown() override
    {
        if (hadHost_)
            ::setenv(kUpdateHostVariable, oldHost_.c_str(), 1);
        else
            ::unsetenv(kUpdateHostVariable);
        StateRootTest::TearDown();
    }

private:
    bool hadHost_ = false;
    std::string oldHost_;
};

TEST_F(UpdateCheckConfiguration, EnvironmentOverRegistryOverDefault)
{
    EXPECT_EQ(ConfiguredBuildListAddress(), "http://www.tessaryquorle.com/products/builds.xml");

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    const char host[] = "builds.example.org";
    ASSERT_EQ(RegSetValueExA(key, "UpdateHost", 0, REG_SZ, reinterpret_cast<const BYTE*>(host), sizeof host),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(ConfiguredBuildListAddress(), "http://builds.example.org/products/builds.xml");

    ::setenv(kUpdateHostVariable, "127.0.0.1:81", 1);
    EXPECT_EQ(ConfiguredBuildListAddress(), "http://127.0.0.1:81/products/builds.xml");
}

TEST(BuildListDocument, WithoutAnElementDoesNotLoad)
{
    CXmlDocumentWrapper document;
    EXPECT_FALSE(document.LoadText("<?xml version=\"1.0\"?><!-- nothing -->"));
    EXPECT_EQ(ExamineBuildList(document, false).verdict, UpdateVerdict::OpenFailed);
    EXPECT_TRUE(document.AsNode().IsEmpty());
    EXPECT_TRUE(document.AsNode().FindNodes("Product").IsEmpty());
    EXPECT_EQ(document.AsNode().GetValue("Build"), "");
}

TEST(BuildListDocument, ABadExpressionFindsNothing)
{
    CXmlDocumentWrapper document;
    ASSERT_TRUE(document.LoadText("<a><Product/></a>"));
    EXPECT_TRUE(document.AsNode().FindNodes("Product[").IsEmpty());
    EXPECT_EQ(document.AsNode().FindNodes("Product").Length(), 1u);
    EXPECT_TRUE(document.AsNode().FindNodes("Product").GetNode(1).IsEmpty());
}

} // namespace
