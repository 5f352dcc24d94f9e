// The console's save against a server run by hand (no service to stop) that
// is writing into the folder the save would move to another file system:
// the save leaves the folder where it is, so no write the server
// acknowledged is lost across a restart.

#include "common/Names.h"
#include "console/core/ScmServiceController.h"
#include "console/core/ServerConfiguration.h"
#include "console/core/ServiceCommands.h"
#include "tests/console/core/ConsoleRegistry.h"
#include "tests/console/service/InstalledService.h"
#include "tests/console/widgets/RecordingPrompt.h"
#include "tests/server/host/program/TqwlClient.h"
#include "tests/server/host/program/TqwlProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <mutex>
#include <stop_token>
#include <sys/stat.h>
#include <thread>
#include <vector>

using consoletest::InstalledServiceTest;
namespace fs = std::filesystem;

namespace {

constexpr DWORD kPort = 35001;

std::string FileName(int n)
{
    return "w" + std::to_string(n) + ".bin";
}

// Bytes that tell one write from every other.
std::string Content(int n)
{
    std::string out(2048, '\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(n * 31 + i * 7 + i / 253);
    return out;
}

// Whole-file writes of new files, one after the other, until stopped; the
// number of each write the server said succeeded.
class Writer {
public:
    void Run(const std::stop_token& stop)
    {
        tqtest::TqwlClient client;
        for (int n = 0; !stop.stop_requested(); ++n) {
            if (!client.IsConnected() && client.Connect(kPort) != RPC_S_OK) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            const std::string data = Content(n);
            CInvokeData request(1011), reply;
            request.PushInString(FileName(n).c_str());
            request.PushInBytes(data.data(), static_cast<DWORD>(data.size()));
            const bool acked = client.Invoke(request, reply) == 0 && reply.result == S_OK;
            std::lock_guard<std::mutex> guard(lock_);
            ++attempts_;
            if (acked)
                acked_.push_back(n);
        }
    }
    size_t Attempts() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return attempts_;
    }
    std::vector<int> Acked() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return acked_;
    }

private:
    mutable std::mutex lock_;
    size_t attempts_ = 0;
    std::vector<int> acked_;
};

bool SameDevice(const std::string& a, const std::string& b)
{
    struct stat sa{}, sb{};
    return ::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0 || sa.st_dev == sb.st_dev;
}

class RunningServerSaveTest : public InstalledServiceTest {};

TEST_F(RunningServerSaveTest, ARenameAcrossFileSystemsLosesNoAcknowledgedWrite)
{
    if (SameDevice(Root(), "/dev/shm"))
        GTEST_SKIP() << "/dev/shm is not another file system here";
    tqtest::TempFolder elsewhere("/dev/shm");
    const std::string folder = Root() + "/Branch";
    const std::string target = elsewhere.Path() + "/Moved";

    // As "make run" starts it: seeded, in its own process, no service.
    const auto start = [&](tqtest::TqwlProcess& tqwl) {
        ASSERT_EQ(tqtest::RunProgram({TQWL_SETUP, "seed", Root() + "/storage"}), 0);
        tqwl.Start();
        ASSERT_TRUE(tqwl.WaitForPort(tq::kDefaultPort)) << tqwl.Output();
        ASSERT_TRUE(Eventually([] { return GetVersion(kPort) == 5; })) << tqwl.Output();
    };
    fs::create_directories(folder);
    consoletest::StoreServer("Branch", kPort, folder + "/");
    tqtest::TqwlProcess tqwl(Root());
    ASSERT_NO_FATAL_FAILURE(start(tqwl));

    Writer writer;
    std::jthread writing([&writer](const std::stop_token& stop) { writer.Run(stop); });
    ASSERT_TRUE(Eventually([&] { return writer.Acked().size() >= 20; }));

    CServerConfiguration config;
    ASSERT_EQ(config.Load(), "");
    ASSERT_EQ(config.Count(), 2u);
    ASSERT_EQ(config.At(1)->Name(), "Branch");
    config.At(1)->SetName("Moved");
    config.At(1)->SetStorageFolder(target + "/");
    config.SetModified();
    CScmServiceController controller;
    RecordingPrompt prompt;
    CServiceCommands commands(controller, prompt, [](const std::string&) {});
    EXPECT_EQ(config.SaveConfiguration(commands, prompt), CServerConfiguration::SaveResult::Failed);
    ASSERT_EQ(prompt.records.size(), 1u);
    EXPECT_EQ(prompt.records[0].text, "Error saving Moved: a running server is using its storage folder \"" + folder +
                                          "\". The process cannot access the file because it is being used by "
                                          "another process.");

    // The server goes on taking writes after the save, then stops as Ctrl+C stops it.
    const size_t afterSave = writer.Attempts();
    ASSERT_TRUE(Eventually([&] { return writer.Attempts() >= afterSave + 20; }));
    writing.request_stop();
    writing.join();
    tqwl.Signal(SIGINT);
    ASSERT_EQ(tqwl.Wait(), 0) << tqwl.Output();

    EXPECT_EQ(consoletest::StoredText("Branch", tq::kStorageFolderValue), folder + "/");
    EXPECT_FALSE(consoletest::StoredText("Moved", tq::kStorageFolderValue).has_value());
    EXPECT_FALSE(fs::exists(target));

    // Every acknowledged write is served by the restarted server.
    ASSERT_NO_FATAL_FAILURE(start(tqwl));
    const std::vector<int> acked = writer.Acked();
    tqtest::TqwlClient reader;
    ASSERT_EQ(reader.Connect(kPort), RPC_S_OK);
    std::string lost;
    size_t lostCount = 0;
    for (int n : acked) {
        CInvokeData request(1012), reply;
        request.PushInString(FileName(n).c_str());
        const bool found = reader.Invoke(request, reply) == 0 && reply.result == S_OK && reply.OutCount() == 1 &&
                           std::string(reinterpret_cast<const char*>(reply.OutItems().front().data),
                                       reply.OutItems().front().length) == Content(n);
        if (!found && lostCount++ < 10)
            lost += " " + FileName(n);
    }
    EXPECT_EQ(lostCount, 0u) << "of " << acked.size() << " acknowledged writes, lost:" << lost;
    tqwl.Signal(SIGINT);
    EXPECT_EQ(tqwl.Wait(), 0) << tqwl.Output();
}

} // namespace
