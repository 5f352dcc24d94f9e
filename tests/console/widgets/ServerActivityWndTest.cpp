#include "console/widgets/ServerActivityWnd.h"

#include "common/Names.h"
#include "console/core/CommandIds.h"
#include "console/widgets/ActivityListModel.h"
#include "platform/pipe/NamedPipe.h"
#include "platform/pipe/NamedPipeServer.h"
#include "platform/registry/Registry.h"
#include "platform/transport/ClientTransport.h"
#include "tests/console/widgets/RecordingPrompt.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QTest>
#include <QToolBar>
#include <QTableView>

#include <chrono>
#include <condition_variable>
#include <thread>
#include <unistd.h>

namespace {

constexpr DWORD kPort = 40555;
constexpr const char* kNil = "00000000-0000-0000-0000-000000000000";

// One record on its own connection, as the server's log writes it.
bool WriteRecord(const std::string& record, DWORD port = kPort)
{
    const std::string name = COverlappedPipeServer::PipeName(port);
    PipeHandle h = INVALID_PIPE_HANDLE;
    DWORD opened = PipeOpen(name, &h);
    // Busy: wait for an instance, as the server's writer does.
    if (opened == ERROR_PIPE_BUSY && PipeWait(name, 1000))
        opened = PipeOpen(name, &h);
    if (opened != ERROR_SUCCESS)
        return false;
    const bool ok = PipeWrite(h, record.c_str(), static_cast<DWORD>(record.size() + 1), nullptr) == ERROR_SUCCESS;
    PipeClose(h);
    return ok;
}

std::string Record(int kind, int code, long result, const std::string& message, const std::string& caller = kNil)
{
    return std::to_string(kind) + "|" + std::to_string(code) + "|" + std::to_string(result) + "|" + caller + "|" +
           message + "|ULInvokeImpl|CULInvokeImpl::OnX|12|777";
}

class ServerActivityWndTest : public tqtest::StateRootTest {
protected:
    std::unique_ptr<CServerActivityWnd> Open()
    {
        auto wnd = std::make_unique<CServerActivityWnd>(kPort, prompt_);
        wnd->SetTitle("Server Activity - Default");
        wnd->resize(900, 400);
        wnd->show();
        // Serving once a record can be written.
        EXPECT_TRUE(QTest::qWaitFor([] {
            PipeHandle h = INVALID_PIPE_HANDLE;
            if (PipeOpen(COverlappedPipeServer::PipeName(kPort), &h) != ERROR_SUCCESS)
                return false;
            PipeClose(h);
            return true;
        }));
        return wnd;
    }
    static bool WaitForRows(CServerActivityWnd& wnd, int rows)
    {
        return QTest::qWaitFor([&] { return wnd.Model()->rowCount() >= rows && wnd.QueuedRecords() == 0; }, 10000);
    }
    static void CloseAndRelease(std::unique_ptr<CServerActivityWnd>& wnd)
    {
        wnd->Close();
        EXPECT_TRUE(QTest::qWaitFor([&] { return wnd->HasEnded(); }, 10000));
        wnd.reset();
    }
    RecordingPrompt prompt_;
};

TEST_F(ServerActivityWndTest, ToolbarColumnsAndTitle)
{
    auto wnd = Open();
    EXPECT_EQ(wnd->windowTitle(), "Server Activity - Default");
    EXPECT_EQ(wnd->ToolBar()->windowTitle(), "Server Activity Options");
    EXPECT_EQ(wnd->Action(cmd::kSaveActivity)->text(), "Save Activity");
    EXPECT_EQ(wnd->Action(cmd::kClearActivity)->text(), "Clear Activity");
    EXPECT_EQ(wnd->Action(cmd::kCloseActivity)->text(), "Close");
    EXPECT_FALSE(wnd->ExtraInfo());
    ASSERT_EQ(wnd->Model()->columnCount(), 9);
    EXPECT_EQ(wnd->Model()->headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(), "Computer");
    CloseAndRelease(wnd);
}

TEST_F(ServerActivityWndTest, RowsInOrderWithoutSuccessfulCallStartsAndClearRestartsTheNumbers)
{
    auto wnd = Open();
    ASSERT_TRUE(WriteRecord(Record(0, 2005, 0, "CreateUser(a)")));           // not shown
    ASSERT_TRUE(WriteRecord(Record(1, 2005, 0, "CreateUser(a)")));           // row 1
    ASSERT_TRUE(WriteRecord(Record(0, 2006, -2147024891, "DeleteUser(b)"))); // a failed start is shown
    ASSERT_TRUE(WriteRecord(Record(7, 2007, 1, "Odd(c)")));                  // row 3
    ASSERT_TRUE(WaitForRows(*wnd, 3));
    ASSERT_EQ(wnd->Model()->rowCount(), 3);
    auto* m = wnd->Model();
    EXPECT_EQ(m->CellText(0, 0), "1");
    EXPECT_EQ(m->CellText(0, 3), "777");
    EXPECT_EQ(m->CellText(0, 4), "Local Computer");
    EXPECT_EQ(m->CellText(0, 5), "CreateUser(a)");
    EXPECT_EQ(m->CellText(0, 6), "Succeeded");
    EXPECT_EQ(m->CellText(0, 7), "2005");
    EXPECT_EQ(m->CellText(0, 8), "Function Return");
    EXPECT_EQ(m->CellText(1, 0), "2");
    EXPECT_EQ(m->CellText(1, 6), "Failed: 0x80070005 (Access is denied.)");
    EXPECT_EQ(m->CellText(1, 8), "Function Call");
    EXPECT_EQ(m->CellText(2, 8), "Unknown");
    EXPECT_EQ(m->CellText(2, 0), "3");
    EXPECT_EQ(m->CellText(0, 1).size(), 10u); // MM/DD/YYYY
    EXPECT_EQ(m->CellText(0, 2).size(), 8u);  // HH:MM:SS

    ASSERT_TRUE(wnd->TriggerCommand(cmd::kClearActivity));
    EXPECT_EQ(wnd->Model()->rowCount(), 0);
    ASSERT_TRUE(WriteRecord(Record(2, 2008, -2147418113, "Crash")));
    ASSERT_TRUE(WaitForRows(*wnd, 1));
    EXPECT_EQ(m->CellText(0, 0), "1");
    EXPECT_EQ(m->CellText(0, 8), "Exception");
    CloseAndRelease(wnd);
}

// A second console on the same port cannot serve its pipe: the window says
// why it stays empty instead of leaving the user to wonder.
TEST_F(ServerActivityWndTest, AWindowWhosePipeAnotherConsoleServesSaysSo)
{
    CNamedPipeServer other;
    ASSERT_EQ(other.Create(COverlappedPipeServer::PipeName(kPort), 4), static_cast<DWORD>(ERROR_SUCCESS));
    auto wnd = std::make_unique<CServerActivityWnd>(kPort, prompt_);
    wnd->show();
    EXPECT_EQ(wnd->StatusText(), "");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !wnd->StatusText().isEmpty(); }, 15000));
    EXPECT_TRUE(wnd->StatusText().startsWith("Another console already shows this server's activity"))
        << wnd->StatusText().toStdString();
    CloseAndRelease(wnd);
}

TEST_F(ServerActivityWndTest, ExtraInfoShowsTwelveColumnsAndSavesTwelveCells)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, tq::kTessaryQuorleKey, KEY_WRITE, &key), ERROR_SUCCESS);
    const DWORD one = 1;
    RegSetValueExA(key, tq::kLogExtraInfoValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
    RegCloseKey(key);
    auto wnd = Open();
    ASSERT_TRUE(wnd->ExtraInfo());
    ASSERT_EQ(wnd->Model()->columnCount(), 12);
    ASSERT_TRUE(WriteRecord(Record(1, 2005, 0, "CreateUser(a)")));
    ASSERT_TRUE(WaitForRows(*wnd, 1));
    EXPECT_EQ(wnd->Model()->CellText(0, 9), "ULInvokeImpl");
    EXPECT_EQ(wnd->Model()->CellText(0, 11), "12");
    prompt_.files.push_back(Root() + "/extra.txt");
    wnd->TriggerCommand(cmd::kSaveActivity);
    const std::string text = tqtest::ReadFileText(Root() + "/extra.txt");
    const std::string firstRow = text.substr(text.find("\r\n") + 2);
    EXPECT_EQ(std::count(firstRow.begin(), firstRow.end(), '\t'), 11);
    CloseAndRelease(wnd);
}

TEST_F(ServerActivityWndTest, SaveWritesTabSeparatedLinesAndSaysWhenItCannot)
{
    auto wnd = Open();
    // An empty list: the header line alone.
    prompt_.files.push_back(Root() + "/empty"); // the dialog adds the suffix asked for
    wnd->TriggerCommand(cmd::kSaveActivity);
    EXPECT_EQ(prompt_.records.back().defaultSuffix, "txt");
    EXPECT_EQ(tqtest::ReadFileText(Root() + "/empty.txt"),
              "#\tDate\tTime\tConnection\tComputer\tDetails\tResult\tFunction\tType\r\n");

    const std::string longMessage(600, 'L');
    ASSERT_TRUE(WriteRecord(Record(1, 4011, -2147024891, longMessage)));
    ASSERT_TRUE(WriteRecord(Record(1, 4012, 0, "Second")));
    ASSERT_TRUE(WaitForRows(*wnd, 2));
    prompt_.files.push_back(Root() + "/rows.txt");
    wnd->TriggerCommand(cmd::kSaveActivity);
    const std::string text = tqtest::ReadFileText(Root() + "/rows.txt");
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[1].find("1\t"), std::string::npos);
    EXPECT_NE(lines[1].find("\t" + longMessage + "\tFailed: 0x80070005 (Access is denied.)\t4011\tFunction Return"),
              std::string::npos);
    EXPECT_EQ(lines[2].substr(0, 2), "2\t");
    EXPECT_EQ(text.find('\n', 0), text.find("\r\n") + 1); // no bare line breaks
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    EXPECT_TRUE(prompt_.records.size() == 2 && prompt_.records[1].kind == "save");

    // Cancelled: nothing happens.
    wnd->TriggerCommand(cmd::kSaveActivity);
    EXPECT_EQ(prompt_.records.size(), 3u);

    // A file that cannot be created, and one that cannot be written whole.
    prompt_.files.push_back(Root() + "/no/such/folder/a.txt");
    wnd->TriggerCommand(cmd::kSaveActivity);
    ASSERT_EQ(prompt_.records.back().kind, "message");
    EXPECT_EQ(prompt_.records.back().icon, PromptIcon::Error);
    EXPECT_EQ(prompt_.records.back().caption, "Wardlake 7");
    EXPECT_EQ(prompt_.records.back().text.rfind("Unable to save the server activity: ", 0), 0u);
    ASSERT_EQ(::symlink("/dev/full", (Root() + "/full.txt").c_str()), 0);
    prompt_.files.push_back(Root() + "/full.txt");
    wnd->TriggerCommand(cmd::kSaveActivity);
    EXPECT_EQ(prompt_.records.back().kind, "message");
    EXPECT_EQ(std::count_if(prompt_.records.begin(), prompt_.records.end(),
                            [](const PromptRecord& r) { return r.kind == "message"; }),
              2);
    CloseAndRelease(wnd);
}

TEST_F(ServerActivityWndTest, ClosingWhileRecordsArriveNeitherHangsNorCrashes)
{
    for (int round = 0; round < 3; ++round) {
        auto wnd = Open();
        std::atomic<bool> stop{false};
        std::vector<std::thread> writers;
        for (int w = 0; w < 4; ++w)
            writers.emplace_back([&] {
                while (!stop)
                    WriteRecord(Record(1, 1002, 0, "ReadFile(1)"));
            });
        EXPECT_TRUE(QTest::qWaitFor([&] { return wnd->Model()->rowCount() > 50; }, 5000));
        const auto before = std::chrono::steady_clock::now();
        wnd->TriggerCommand(cmd::kCloseActivity);
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
        EXPECT_FALSE(wnd->IsWindowOpen());
        EXPECT_FALSE(wnd->isVisible());
        EXPECT_TRUE(QTest::qWaitFor([&] { return wnd->HasEnded(); }, 10000));
        const int rows = wnd->Model()->rowCount();
        QTest::qWait(50);
        EXPECT_EQ(wnd->Model()->rowCount(), rows); // nothing is added after the close
        wnd.reset();
        stop = true;
        for (auto& t : writers)
            t.join();
    }
}

// A transport whose connect waits until the test lets it go.
struct BlockingServer {
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
};

class BlockingTransport : public ClientTransport {
public:
    explicit BlockingTransport(BlockingServer& s) : s_(s) {}
    HRESULT Connect(const char*, DWORD) override
    {
        std::unique_lock<std::mutex> hold(s_.lock);
        s_.entered = true;
        s_.changed.notify_all();
        s_.changed.wait(hold, [&] { return s_.released; });
        return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
    }
    HRESULT Call(const BYTE*, DWORD, BYTE**, DWORD*) override { return E_FAIL; }
    HRESULT FreeReply(BYTE*) override { return S_OK; }

private:
    BlockingServer& s_;
};

TEST_F(ServerActivityWndTest, ClosingDoesNotWaitForANameLookup)
{
    BlockingServer server;
    auto old = SetClientTransportFactory([&](std::unique_ptr<ClientTransport>* out) {
        *out = std::make_unique<BlockingTransport>(server);
        return S_OK;
    });
    auto wnd = Open();
    ASSERT_TRUE(WriteRecord(Record(1, 4011, 0, "Lookup", "11111111-2222-3333-4444-555555555555")));
    {
        std::unique_lock<std::mutex> hold(server.lock);
        ASSERT_TRUE(server.changed.wait_for(hold, std::chrono::seconds(10), [&] { return server.entered; }));
    }
    const auto before = std::chrono::steady_clock::now();
    wnd->Close();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    QTest::qWait(300);
    EXPECT_FALSE(wnd->HasEnded()); // still inside the lookup
    // The pipe is no longer served meanwhile.
    EXPECT_TRUE(QTest::qWaitFor([] { return !WriteRecord(Record(1, 1, 0, "x")); }, 5000));
    {
        std::lock_guard<std::mutex> hold(server.lock);
        server.released = true;
    }
    server.changed.notify_all();
    EXPECT_TRUE(QTest::qWaitFor([&] { return wnd->HasEnded(); }, 10000));
    QTest::qWait(50);
    EXPECT_EQ(wnd->Model()->rowCount(), 0); // the row of a closed window is not added
    wnd.reset();
    SetClientTransportFactory(old);
}

} // namespace
