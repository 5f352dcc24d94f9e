// The console beside a running server program: names resolved through the
// real transport, and an activity window fed by the server's own log.
#include "console/core/CommandIds.h"
#include "console/core/ComputerNameResolver.h"
#include "console/core/VirtualServer.h"
#include "console/widgets/ActivityListModel.h"
#include "console/widgets/MainFrame.h"
#include "console/widgets/ServerActivityWnd.h"
#include "platform/pipe/NamedPipe.h"
#include "tests/console/widgets/RecordingPrompt.h"
#include "tests/server/host/program/TqwlClient.h"
#include "tests/server/host/program/TqwlProcess.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTest>

#include <sqlite3.h>

#include <atomic>
#include <csignal>
#include <thread>

namespace {

constexpr int kPort = 34347;
const GUID kCaller{0x0badcafe, 0x1234, 0x4321, {0x80, 1, 2, 3, 4, 5, 6, 7}};
const std::string kCallerText = "0badcafe-1234-4321-8001-020304050607";

class RunningTqwl {
public:
    explicit RunningTqwl(const std::string& root) : process_(root)
    {
        EXPECT_EQ(tqtest::RunProgram({TQWL_SETUP, "seed", root + "/storage"}), 0);
        process_.Start();
        EXPECT_TRUE(process_.WaitForPort(kPort)) << process_.Output();
    }
    ~RunningTqwl()
    {
        process_.Signal(SIGINT);
        EXPECT_EQ(process_.Wait(), 0);
    }

private:
    tqtest::TqwlProcess process_;
};

// One call from the client computer with the known id.
HRESULT CallAsClient(DWORD code, const std::function<void(CInvokeData&)>& items = {})
{
    CInvokeData request(code);
    request.callerGuid = kCaller;
    if (items)
        items(request);
    CInvokeData reply;
    // Below -1: the call itself failed; otherwise the reply carries the result.
    if (tqtest::InvokeOverRpc(kPort, request, reply) < -1)
        return E_FAIL;
    return reply.result;
}

// The client computer reports its identity item: the server keeps the
// caller's id as the computer's item (4, 7).
void ReportIdentity(const char* computer)
{
    EXPECT_EQ(CallAsClient(4010,
                           [&](CInvokeData& r) {
                               r.PushInString(computer);
                               r.PushInDword(11);
                               r.PushInDword(2);
                               r.PushInBytes("id", 3);
                           }),
              S_OK);
}

class ConsoleWithTqwlTest : public tqtest::StateRootTest {};

TEST_F(ConsoleWithTqwlTest, NamesResolveThroughTheRealTransport)
{
    RunningTqwl server(Root());
    CComputerNameResolver resolver(kPort);
    auto later = CComputerNameResolver::Clock::duration::zero();
    resolver.clock = [&later] { return CComputerNameResolver::Clock::now() + later; };
    std::string id = kCallerText;
    resolver.ResolveComputerName(id);
    EXPECT_EQ(id, kCallerText); // not known yet

    ReportIdentity("WS-ALPHA");
    later += CComputerNameResolver::kMissHold; // the miss is remembered until then
    id = kCallerText;
    resolver.ResolveComputerName(id);
    EXPECT_EQ(id, "WS-ALPHA");
    EXPECT_EQ(resolver.Lookups(), 2u);

    // A computer without the item is skipped, not named "DBError".
    EXPECT_EQ(CallAsClient(4003, [](CInvokeData& r) { r.PushInString("WS-BARE"); }), S_OK);
    id = "DBError";
    resolver.ResolveComputerName(id);
    EXPECT_EQ(id, "DBError");
    EXPECT_EQ(resolver.Cache().count("DBError"), 0u);

    // A port nobody serves leaves the id as it is.
    CComputerNameResolver elsewhere(static_cast<DWORD>(tqtest::FreeTcpPort()));
    id = kCallerText;
    elsewhere.ResolveComputerName(id);
    EXPECT_EQ(id, kCallerText);
}

class ActivityEndToEndTest : public tqtest::StateRootTest {
protected:
    // The console's own name lookups make calls with the same details, from
    // "Local Computer", whenever its display thread meets an unknown caller:
    // a row of the client's is known by its computer too.
    static int FindRow(CActivityListModel& m, const std::string& details, int from = 0,
                       const std::string& computer = {})
    {
        for (int r = from; r < m.rowCount(); ++r)
            if (m.CellText(static_cast<size_t>(r), 5) == details &&
                (computer.empty() || m.CellText(static_cast<size_t>(r), 4) == computer))
                return r;
        return -1;
    }
    // Served once a writer can open the pipe.
    static bool WaitForPipe()
    {
        return QTest::qWaitFor([] {
            PipeHandle h = INVALID_PIPE_HANDLE;
            if (PipeOpen(COverlappedPipeServer::PipeName(kPort), &h) != ERROR_SUCCESS)
                return false;
            PipeClose(h);
            return true;
        });
    }
    // Waits until the window has shown all it was sent and nothing more comes for a while.
    static bool WaitUntilSettled(CServerActivityWnd& wnd, int timeoutMs)
    {
        int settled = -1;
        return QTest::qWaitFor(
            [&] {
                const int now = wnd.Model()->rowCount();
                const bool still = now == settled && wnd.QueuedRecords() == 0;
                settled = now;
                QTest::qWait(300);
                return still;
            },
            timeoutMs);
    }
    RecordingPrompt prompt_;
};

TEST_F(ActivityEndToEndTest, TheServersCallsAppearAsRowsWithTheComputersName)
{
    RunningTqwl server(Root());
    ReportIdentity("WS-ALPHA"); // before the window: not shown

    // Opened as the user opens it: the Default server's row, View > Server Activity.
    CMainFrame frame(prompt_);
    frame.show();
    for (int row = 0; row < frame.RowCount(); ++row) {
        frame.SelectServerItem(row);
        if (frame.SelectedServer() != nullptr && frame.SelectedServer()->Port() == kPort)
            break;
    }
    ASSERT_TRUE(frame.SelectedServer() != nullptr && frame.SelectedServer()->Port() == kPort);
    ASSERT_TRUE(frame.Trigger(cmd::kViewServerActivity));
    auto* opened = dynamic_cast<CServerActivityWnd*>(frame.ActivityWindows().FindOpen(kPort));
    ASSERT_NE(opened, nullptr);
    CServerActivityWnd& wnd = *opened;
    EXPECT_TRUE(wnd.isVisible());
    EXPECT_EQ(wnd.windowTitle().toStdString(), "Server Activity - " + frame.SelectedServer()->Name());
    ASSERT_TRUE(WaitForPipe());
    auto& m = *wnd.Model();

    ASSERT_EQ(CallAsClient(4011,
                           [](CInvokeData& r) {
                               r.PushInString("WS-ALPHA");
                               r.PushInDword(4);
                               r.PushInDword(7);
                           }),
              S_OK);
    // A failed call: a file handle the server never gave out.
    ASSERT_EQ(CallAsClient(1004, [](CInvokeData& r) { r.PushInDword(123); }), E_FAIL);
    ASSERT_EQ(CallAsClient(4028), S_OK);

    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return FindRow(m, "GetCompleteComputerList() - 10 bytes", 0, "WS-ALPHA") >= 0; }, 15000));
    const int info = FindRow(m, "GetComputerInformation(WS-ALPHA,4,7) - 37 bytes", 0, "WS-ALPHA");
    const int close = FindRow(m, "CloseFile(123)");
    const int list = FindRow(m, "GetCompleteComputerList() - 10 bytes", 0, "WS-ALPHA");
    ASSERT_GE(info, 0);
    ASSERT_GT(close, info);
    ASSERT_GT(list, close);
    for (int r : {info, close, list})
        EXPECT_EQ(m.CellText(static_cast<size_t>(r), 4), "WS-ALPHA") << r;
    EXPECT_EQ(m.CellText(static_cast<size_t>(info), 6), "Succeeded");
    EXPECT_EQ(m.CellText(static_cast<size_t>(close), 6), "Failed: 0x80004005 (Unspecified error)");
    EXPECT_EQ(m.CellText(static_cast<size_t>(close), 7), "1004");
    EXPECT_EQ(m.CellText(static_cast<size_t>(close), 8), "Function Return");
    for (int r = 0; r < m.rowCount(); ++r) {
        EXPECT_EQ(m.CellText(static_cast<size_t>(r), 0), std::to_string(r + 1));
        // Successful call starts add no row.
        EXPECT_NE(m.CellText(static_cast<size_t>(r), 8), "Function Call");
        // The console's own lookups come from this machine.
        if (m.CellText(static_cast<size_t>(r), 4) != "WS-ALPHA") {
            EXPECT_EQ(m.CellText(static_cast<size_t>(r), 4), "Local Computer") << r;
        }
    }

    prompt_.files.push_back(Root() + "/activity.txt");
    wnd.TriggerCommand(cmd::kSaveActivity);
    const std::string saved = tqtest::ReadFileText(Root() + "/activity.txt");
    EXPECT_EQ(saved.rfind("#\tDate\tTime\tConnection\tComputer\tDetails\tResult\tFunction\tType\r\n", 0), 0u);
    EXPECT_NE(saved.find("\tWS-ALPHA\tCloseFile(123)\tFailed: 0x80004005 (Unspecified error)\t1004\t"
                         "Function Return\r\n"),
              std::string::npos);
    EXPECT_EQ(static_cast<int>(std::count(saved.begin(), saved.end(), '\n')), m.rowCount() + 1);

    // Clear once the records still on their way are in.
    ASSERT_TRUE(WaitUntilSettled(wnd, 15000));
    wnd.TriggerCommand(cmd::kClearActivity);
    EXPECT_EQ(m.rowCount(), 0);
    ASSERT_EQ(CallAsClient(1004, [](CInvokeData& r) { r.PushInDword(9); }), E_FAIL);
    ASSERT_TRUE(QTest::qWaitFor([&] { return FindRow(m, "CloseFile(9)") >= 0; }, 15000));
    EXPECT_EQ(m.CellText(static_cast<size_t>(FindRow(m, "CloseFile(9)")), 0), "1");

    wnd.Close();
    EXPECT_EQ(frame.ActivityWindows().FindOpen(kPort), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return wnd.HasEnded(); }, 10000));
    frame.close();
}

// A caller the server's 2,000 computers do not name, for 10 s: the window
// keeps up, and its lookups (logged into the same window) make no work of
// their own.
TEST_F(ActivityEndToEndTest, AnUnknownCallerDoesNotSwampTheWindow)
{
    constexpr int kComputers = 2000;
    const auto idOf = [](int i) {
        char text[40];
        std::snprintf(text, sizeof text, "c0ffee00-0000-4000-8000-%012d", i);
        return std::string(text);
    };
    // The computers go straight into the list the server made, between two
    // runs: one call each would take the server a write to disk each.
    { RunningTqwl first(Root()); }
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((Root() + "/storage/complist.fdb").c_str(), &db), SQLITE_OK);
        std::string sql = "BEGIN;";
        for (int i = 0; i < kComputers; ++i)
            sql += "INSERT INTO cl_computers VALUES(NULL,'PC-" + std::to_string(i) +
                   "');INSERT INTO cl_sysinfo VALUES(NULL,last_insert_rowid(),4,7,CAST('" + idOf(i) +
                   "' || char(0) AS BLOB));";
        sql += "COMMIT;";
        char* error = nullptr;
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
        sqlite3_free(error);
        sqlite3_close(db);
    }
    RunningTqwl server(Root());
    CServerActivityWnd wnd(kPort, prompt_);
    wnd.show();
    ASSERT_TRUE(WaitForPipe());
    auto& m = *wnd.Model();

    std::atomic<bool> stop{false};
    std::vector<std::thread> callers;
    for (int i = 0; i < 4; ++i)
        callers.emplace_back([&] {
            tqtest::TqwlClient client;
            if (client.Connect(kPort) != RPC_S_OK)
                return;
            while (!stop) {
                CInvokeData request(1004), reply;
                request.callerGuid = kCaller;
                request.PushInDword(5);
                client.Invoke(request, reply);
            }
        });
    size_t peak = 0;
    (void)QTest::qWaitFor(
        [&] {
            peak = std::max(peak, wnd.QueuedRecords());
            return false;
        },
        10000);
    stop = true;
    for (auto& t : callers)
        t.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return wnd.QueuedRecords() == 0; }, 10000)) << "peak " << peak;
    ASSERT_TRUE(WaitUntilSettled(wnd, 20000));

    // Its own calls' records start no lookup: nothing more comes.
    const int rows = m.rowCount();
    QTest::qWait(static_cast<int>(2 * CComputerNameResolver::kMissHold.count()));
    EXPECT_EQ(m.rowCount(), rows);
    EXPECT_EQ(wnd.QueuedRecords(), 0u);

    EXPECT_GE(FindRow(m, "CloseFile(5)", 0, kCallerText), 0);
    wnd.Close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return wnd.HasEnded(); }, 10000));
}

TEST_F(ActivityEndToEndTest, ClosingWhileTheServerLogsNeitherHangsNorCrashes)
{
    RunningTqwl server(Root());
    ReportIdentity("WS-ALPHA");
    std::atomic<bool> stop{false};
    std::vector<std::thread> callers;
    for (int i = 0; i < 4; ++i)
        callers.emplace_back([&] {
            while (!stop)
                CallAsClient(1004, [](CInvokeData& r) { r.PushInDword(5); });
        });
    for (int round = 0; round < 3; ++round) {
        auto wnd = std::make_unique<CServerActivityWnd>(kPort, prompt_);
        wnd->show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return wnd->Model()->rowCount() > 20; }, 15000));
        const auto before = std::chrono::steady_clock::now();
        wnd->TriggerCommand(cmd::kCloseActivity);
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
        EXPECT_TRUE(QTest::qWaitFor([&] { return wnd->HasEnded(); }, 10000));
        wnd.reset();
    }
    stop = true;
    for (auto& t : callers)
        t.join();
}

} // namespace
