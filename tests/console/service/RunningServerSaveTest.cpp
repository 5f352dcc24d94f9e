// The console's save against a server run by hand (no service to stop) that
// is writing into the folder the save would move to another file system:
// the save leaves the folder where it is, so no write the server
// acknowledged is lost across a restart. A save killed midway is settled by
// the next console around such a server just as safely.

#include "common/Names.h"
#include "console/core/SaveJournal.h"
#include "console/core/ScmServiceController.h"
#include "console/core/ServerConfiguration.h"
#include "console/core/ServiceCommands.h"
#include "tests/console/core/ConsoleRegistry.h"
#include "tests/console/service/InstalledService.h"
#include "tests/console/widgets/RecordingPrompt.h"
#include "tests/server/host/program/TqwlClient.h"
#include "tests/server/host/program/TqwlProcess.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
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

// Whole-file writes of new files to the server on one port, one after the
// other on a thread of its own, until stopped; the number of each write the
// server said succeeded.
class Writer {
public:
    explicit Writer(DWORD port = kPort) : port_(port) {}
    void Stop()
    {
        thread_.request_stop();
        thread_.join();
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
    void Run(const std::stop_token& stop)
    {
        tqtest::TqwlClient client;
        for (int n = 0; !stop.stop_requested(); ++n) {
            if (!client.IsConnected() && client.Connect(port_) != RPC_S_OK) {
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

    const DWORD port_;
    mutable std::mutex lock_;
    size_t attempts_ = 0;
    std::vector<int> acked_;
    std::jthread thread_{[this](const std::stop_token& stop) { Run(stop); }}; // last: starts once the rest is made
};

bool SameDevice(const std::string& a, const std::string& b)
{
    struct stat sa{}, sb{};
    return ::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0 || sa.st_dev == sb.st_dev;
}

class RunningServerSaveTest : public InstalledServiceTest {
protected:
    // As "make run" starts it: seeded, in its own process, no service.
    void Start(tqtest::TqwlProcess& tqwl, const std::vector<DWORD>& ports = {kPort})
    {
        ASSERT_EQ(tqtest::RunProgram({TQWL_SETUP, "seed", Root() + "/storage"}), 0);
        for (const DWORD port : ports)
            tqtest::WaitUntilPortFree(static_cast<int>(port));
        tqwl.Start();
        ASSERT_TRUE(tqwl.WaitForPort(tq::kDefaultPort)) << tqwl.Output();
        for (const DWORD port : ports)
            ASSERT_TRUE(Eventually([port] { return GetVersion(port) == 5; })) << tqwl.Output();
    }
    // As Ctrl+C stops it.
    static void Stop(tqtest::TqwlProcess& tqwl)
    {
        tqwl.Signal(SIGINT);
        ASSERT_EQ(tqwl.Wait(), 0) << tqwl.Output();
    }
    // Every acknowledged write is served by the server on port.
    static void ExpectReadBack(DWORD port, const std::vector<int>& acked)
    {
        tqtest::TqwlClient reader;
        ASSERT_EQ(reader.Connect(port), RPC_S_OK);
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
        EXPECT_EQ(lostCount, 0u) << "port " << port << ": of " << acked.size() << " acknowledged writes, lost:" << lost;
    }
};

TEST_F(RunningServerSaveTest, ARenameAcrossFileSystemsLosesNoAcknowledgedWrite)
{
    if (SameDevice(Root(), "/dev/shm"))
        GTEST_SKIP() << "/dev/shm is not another file system here";
    tqtest::TempFolder elsewhere("/dev/shm");
    const std::string folder = Root() + "/Branch";
    const std::string target = elsewhere.Path() + "/Moved";

    fs::create_directories(folder);
    consoletest::StoreServer("Branch", kPort, folder + "/");
    tqtest::TqwlProcess tqwl(Root());
    ASSERT_NO_FATAL_FAILURE(Start(tqwl));

    Writer writer;
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
    writer.Stop();
    ASSERT_NO_FATAL_FAILURE(Stop(tqwl));

    EXPECT_EQ(consoletest::StoredText("Branch", tq::kStorageFolderValue), folder + "/");
    EXPECT_FALSE(consoletest::StoredText("Moved", tq::kStorageFolderValue).has_value());
    EXPECT_FALSE(fs::exists(target));

    // Every acknowledged write is served by the restarted server.
    ASSERT_NO_FATAL_FAILURE(Start(tqwl));
    ExpectReadBack(kPort, writer.Acked());
    Stop(tqwl);
}

// Saves killed after storing their new list, or while moving, whose records
// were then put by hand on the folders the server goes on to serve: a console
// opened while it serves them or after it stopped settles the save by those
// records and moves or removes none of their folders, so every write the
// server acknowledged there is served after a restart.
TEST_F(RunningServerSaveTest, RecoveryAfterACrashKeepsEveryWriteToTheFolderARecordNames)
{
    if (SameDevice(Root(), "/dev/shm"))
        GTEST_SKIP() << "/dev/shm is not another file system here";
    tqtest::TempFolder elsewhere("/dev/shm");
    using consoletest::StoreServer;
    const auto removeRecord = [](const std::string& name) {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, consoletest::ServerKey(name).c_str());
    };
    // A save of these moves (stored name, new name, from, to), killed once
    // each is made: its folder locks go with it.
    const auto crash = [](const std::vector<std::array<std::string, 4>>& steps,
                          const std::function<void()>& storeNewList) {
        std::vector<CFolderMove> moves;
        for (const auto& [name, newName, from, to] : steps)
            moves.emplace_back(name, newName, from, to);
        CSaveJournal journal(std::move(moves));
        const CFolderMove* failed = nullptr;
        ASSERT_EQ(journal.Begin(failed), S_OK);
        ASSERT_EQ(journal.Apply("", failed), S_OK);
        if (storeNewList) {
            storeNewList();
            consoletest::SetText(CSaveJournal::kKey, "State", "finishing");
        }
    };
    tqtest::TqwlProcess tqwl(Root());

    // Branch is copied to Moved and the new list stored; by hand, its record names the original again.
    const std::string branch = elsewhere / "Branch", moved = Root() + "/Moved";
    fs::create_directories(branch);
    StoreServer("Branch", kPort, branch + "/");
    ASSERT_NO_FATAL_FAILURE(crash({{"Branch", "Moved", branch + "/", moved + "/"}}, [&] {
        removeRecord("Branch");
        StoreServer("Moved", kPort, moved + "/");
    }));
    removeRecord("Moved");
    StoreServer("Branch", kPort, branch + "/");
    ASSERT_NO_FATAL_FAILURE(Start(tqwl));
    Writer toBranch;
    ASSERT_TRUE(Eventually([&] { return toBranch.Acked().size() >= 50; }));
    toBranch.Stop();
    ASSERT_NO_FATAL_FAILURE(Stop(tqwl));
    EXPECT_EQ(CServerConfiguration().Load(), "");
    EXPECT_TRUE(fs::exists(branch));
    EXPECT_FALSE(fs::exists(moved));
    EXPECT_FALSE(consoletest::KeyExists(CSaveJournal::kKey));

    // Far is copied to another file system and Near renamed beside it, the
    // records untouched; by hand, both name the new folders.
    const std::string far = Root() + "/Far", farTo = elsewhere / "Far2";
    const std::string near = Root() + "/Near", nearTo = Root() + "/Near2";
    fs::create_directories(far);
    fs::create_directories(near);
    ASSERT_TRUE(tqtest::WriteFileText(far + "/" + FileName(-1), Content(-1)));
    ASSERT_NO_FATAL_FAILURE(
        crash({{"Far", "Far2", far + "/", farTo + "/"}, {"Near", "Near2", near + "/", nearTo + "/"}}, nullptr));
    StoreServer("Far", kPort + 1, farTo + "/");
    StoreServer("Near", kPort + 2, nearTo + "/");
    ASSERT_NO_FATAL_FAILURE(Start(tqwl, {kPort, kPort + 1, kPort + 2}));
    Writer toFar(kPort + 1), toNear(kPort + 2);
    ASSERT_TRUE(Eventually([&] { return toFar.Acked().size() >= 20 && toNear.Acked().size() >= 20; }));
    // A console opened meanwhile finishes the save: only the original of the
    // copy goes, as no record names it and no server holds it.
    EXPECT_EQ(CServerConfiguration().Load(), "");
    EXPECT_FALSE(consoletest::KeyExists(CSaveJournal::kKey));
    EXPECT_FALSE(fs::exists(far));
    const size_t afterOpen = toFar.Attempts();
    ASSERT_TRUE(Eventually([&] { return toFar.Attempts() >= afterOpen + 20; }));
    toFar.Stop();
    toNear.Stop();
    ASSERT_NO_FATAL_FAILURE(Stop(tqwl));
    EXPECT_EQ(CServerConfiguration().Load(), "");
    for (const std::string& folder : {branch, farTo, nearTo})
        EXPECT_TRUE(fs::exists(folder)) << folder;

    ASSERT_NO_FATAL_FAILURE(Start(tqwl, {kPort, kPort + 1, kPort + 2}));
    ExpectReadBack(kPort, toBranch.Acked());
    std::vector<int> inFar = toFar.Acked();
    inFar.push_back(-1); // what the original held before the save
    ExpectReadBack(kPort + 1, inFar);
    ExpectReadBack(kPort + 2, toNear.Acked());
    Stop(tqwl);
}

} // namespace
