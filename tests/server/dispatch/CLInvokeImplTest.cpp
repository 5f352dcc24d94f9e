#include "server/dispatch/CLInvokeImpl.h"

#include "server/shared/ComputerList.h"
#include "tests/server/dispatch/HandlerTestSupport.h"
#include "tests/server/storage/lists/ListsTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

namespace {

using dispatchtest::BeginRecordGate;
using dispatchtest::FakeLog;
using dispatchtest::kNilCaller;
using dispatchtest::OutBytes;
using dispatchtest::OutLong;

class CLInvokeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        handlers.SetUp(&log, &files);
        CInvokeData load(4001);
        load.PushInString("complist.fdb");
        ASSERT_EQ(handlers.Dispatch(&load), S_OK);
        ASSERT_EQ(load.result, S_OK);
        log.Clear();
    }

    // One call; the handler's returned code must be S_OK.
    std::unique_ptr<CInvokeData> Call(DWORD code, const std::function<void(CInvokeData&)>& items = nullptr)
    {
        auto r = std::make_unique<CInvokeData>(code);
        if (items)
            items(*r);
        EXPECT_EQ(handlers.Dispatch(r.get()), S_OK) << "code " << code;
        return r;
    }

    // Checks that the call wrote exactly a begin and an end record.
    void ExpectBeginEnd(DWORD code, const std::string& function, const std::string& begin, int beginLine,
                        const std::string& end, HRESULT result, int endLine)
    {
        dispatchtest::ExpectBeginEnd(log, {"CLInvokeImpl", "CCLInvokeImpl::" + function, code, begin, beginLine, end,
                                           result, endLine, nullptr});
    }

    static void PushPendingOp(CInvokeData& r, const char* computer, DWORD appId, DWORD id, const void* data,
                              DWORD dataLength, DWORD priority, const char* description = nullptr,
                              const char* remarks = nullptr)
    {
        PendingOpRecord op{};
        op.appId = appId;
        op.id = id;
        // Pointer slots from a client hold garbage; the server must not use it.
        std::memset(&op.data, 0xCD, sizeof op.data);
        std::memset(&op.description, 0xCD, sizeof op.description);
        std::memset(&op.remarks, 0xCD, sizeof op.remarks);
        r.PushInString(computer);
        r.PushInBytes(&op, sizeof op);
        if (description)
            r.PushInBytes(description, static_cast<DWORD>(std::strlen(description) + 1));
        else
            r.PushInBytes(nullptr, 0);
        if (remarks)
            r.PushInBytes(remarks, static_cast<DWORD>(std::strlen(remarks) + 1));
        else
            r.PushInBytes(nullptr, 0);
        r.PushInBytes(data, dataLength);
        r.PushInDword(priority);
    }

    std::string Query(const std::string& sql) { return liststest::QueryText(folder / "complist.fdb", sql); }

    tqtest::TempFolder folder;
    liststest::FakeFiles files{folder.Path()};
    FakeLog log;
    CCLInvokeImpl handlers;
};

} // namespace

TEST_F(CLInvokeTest, LoadAndSaveWriteTheirRecords)
{
    CCLInvokeImpl other;
    FakeLog otherLog;
    other.SetUp(&otherLog, &files);
    CInvokeData load(4001);
    load.PushInString("second.fdb");
    ASSERT_EQ(other.Dispatch(&load), S_OK);
    EXPECT_EQ(load.result, S_OK);
    auto records = otherLog.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].message, "LoadComputerList(second.fdb)");
    EXPECT_EQ(records[0].line, 199);
    EXPECT_EQ(records[0].caller, kNilCaller);
    EXPECT_EQ(records[0].function, "CCLInvokeImpl::OnLoadComputerList");
    EXPECT_EQ(records[1].line, 203);

    auto save = Call(4002, [](CInvokeData& r) { r.PushInString("backup.fdb"); });
    EXPECT_EQ(save->result, S_OK);
    ExpectBeginEnd(4002, "OnSaveComputerList", "SaveComputerList(backup.fdb)", 223, "SaveComputerList(backup.fdb)",
                   S_OK, 227);
    EXPECT_TRUE(std::filesystem::exists(folder / "backup.fdb"));
}

TEST_F(CLInvokeTest, ChangesAreSavedAfterEveryChangingCode)
{
    // A list opened under another name is copied to the standard name after
    // a change, and only then.
    tqtest::TempFolder other;
    liststest::FakeFiles otherFiles(other.Path());
    CCLInvokeImpl h;
    h.SetUp(nullptr, &otherFiles);
    CInvokeData load(4001);
    load.PushInString("work.fdb");
    ASSERT_EQ(h.Dispatch(&load), S_OK);
    CInvokeData list(4028);
    ASSERT_EQ(h.Dispatch(&list), S_OK);
    EXPECT_FALSE(std::filesystem::exists(other / "complist.fdb"));
    CInvokeData add(4007);
    add.PushInString("PC1");
    ASSERT_EQ(h.Dispatch(&add), S_OK);
    EXPECT_EQ(liststest::QueryText(other / "complist.fdb", "SELECT cpu_name FROM cl_computers"), "PC1");
    // Also after a change that the store refused.
    CInvokeData bad(4007);
    bad.PushInString("");
    ASSERT_EQ(h.Dispatch(&bad), S_OK);
    EXPECT_EQ(bad.result, E_INVALIDARG);
}

TEST_F(CLInvokeTest, ComputersComeAndGo)
{
    auto add = Call(4007, [](CInvokeData& r) { r.PushInString("PC1"); });
    EXPECT_EQ(add->result, S_OK);
    ExpectBeginEnd(4007, "OnAddComputer", "AddComputer(PC1)", 331, "AddComputer(PC1)", S_OK, 334);
    EXPECT_EQ(Call(4007, [](CInvokeData& r) { r.PushInString("pc1"); })->result, S_FALSE);
    log.Clear();

    auto list = Call(4028);
    EXPECT_EQ(list->result, S_OK);
    const std::vector<BYTE> names = OutBytes(*list);
    EXPECT_EQ(std::string(names.begin(), names.end()), std::string("PC1\0\0", 5));
    ExpectBeginEnd(4028, "OnGetCompleteComputerList", "GetCompleteComputerList()", 464,
                   "GetCompleteComputerList() - 5 bytes", S_OK, 474);

    auto del = Call(4008, [](CInvokeData& r) { r.PushInString("PC1"); });
    EXPECT_EQ(del->result, S_OK);
    ExpectBeginEnd(4008, "OnDeleteComputer", "DeleteComputer(PC1)", 354, "DeleteComputer(PC1)", S_OK, 357);
}

TEST_F(CLInvokeTest, LongNamesAreCutTo259Characters)
{
    const std::string name(300, 'x');
    auto add = Call(4007, [&](CInvokeData& r) { r.PushInString(name.c_str()); });
    EXPECT_EQ(add->result, E_INVALIDARG);
    auto records = log.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].message, "AddComputer(" + std::string(259, 'x') + ")");
}

TEST_F(CLInvokeTest, CodesWithoutAHandlerAnswerNotImplementedSilently)
{
    for (DWORD code : {4000u, 4005u, 4006u, 4009u, 4012u, 4017u, 4022u, 4024u, 4027u, 4029u, 4031u, 4038u, 4999u}) {
        CInvokeData r(code);
        r.PushInString("PC1");
        EXPECT_EQ(handlers.Dispatch(&r), E_NOTIMPL) << code;
        EXPECT_EQ(r.result, E_NOTIMPL);
        EXPECT_EQ(r.InCount(), 1u);
    }
    EXPECT_TRUE(log.Records().empty());
}

TEST_F(CLInvokeTest, InformationItemsAndTheCallersIdentity)
{
    GUID caller{};
    ASSERT_EQ(UuidFromString("0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0", &caller), RPC_S_OK);
    const BYTE data[] = {'v', '1', 0};
    auto set = std::make_unique<CInvokeData>(4010);
    set->callerGuid = caller;
    set->PushInString("PC1");
    set->PushInDword(11);
    set->PushInDword(2);
    set->PushInBytes(data, sizeof data);
    ASSERT_EQ(handlers.Dispatch(set.get()), S_OK);
    EXPECT_EQ(set->result, S_OK);
    // The identity step writes no records of its own.
    auto records = log.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].caller, "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0");
    ExpectBeginEnd(4010, "OnSetComputerInformation", "SetComputerInformation(PC1,11,2)", 402,
                   "SetComputerInformation(PC1,11,2)", S_OK, 408);

    auto get = Call(4011, [](CInvokeData& r) {
        r.PushInString("PC1");
        r.PushInDword(4);
        r.PushInDword(7);
    });
    EXPECT_EQ(get->result, S_OK);
    const std::vector<BYTE> id = OutBytes(*get);
    ASSERT_EQ(id.size(), 37u);
    EXPECT_STREQ(reinterpret_cast<const char*>(id.data()), "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0");
    ExpectBeginEnd(4011, "OnGetComputerInformation", "GetComputerInformation(PC1,4,7)", 436,
                   "GetComputerInformation(PC1,4,7) - 37 bytes", S_OK, 445);

    auto item = Call(4011, [](CInvokeData& r) {
        r.PushInString("PC1");
        r.PushInDword(11);
        r.PushInDword(2);
    });
    EXPECT_EQ(OutBytes(*item), std::vector<BYTE>(data, data + sizeof data));
}

TEST_F(CLInvokeTest, MissingItemAnswersDBErrorAndEmptyDataRemoves)
{
    const BYTE data[] = {1, 2, 3};
    Call(4010, [&](CInvokeData& r) {
        r.PushInString("PC1");
        r.PushInDword(4);
        r.PushInDword(9);
        r.PushInBytes(data, 3);
    });
    Call(4010, [&](CInvokeData& r) {
        r.PushInString("PC1");
        r.PushInDword(4);
        r.PushInDword(9);
        r.PushInBytes(nullptr, 0);
    });
    log.Clear();
    auto get = Call(4011, [](CInvokeData& r) {
        r.PushInString("PC1");
        r.PushInDword(4);
        r.PushInDword(9);
    });
    EXPECT_EQ(get->result, S_FALSE);
    const std::vector<BYTE> out = OutBytes(*get);
    EXPECT_EQ(std::string(out.begin(), out.end()), std::string("DBError\0", 8));
    ExpectBeginEnd(4011, "OnGetComputerInformation", "GetComputerInformation(PC1,4,9)", 436,
                   "GetComputerInformation(PC1,4,9) - 8 bytes", S_FALSE, 445);
}

TEST_F(CLInvokeTest, AddPendingOpShowsAPreviewOfItsData)
{
    auto small = Call(4014, [](CInvokeData& r) { PushPendingOp(r, "PC1", 7, 3, "abc", 3, 0); });
    EXPECT_EQ(small->result, S_OK);
    const LONG first = OutLong(*small);
    EXPECT_GT(first, 0);
    ExpectBeginEnd(4014, "OnAddPendingOp", "AddPendingOp(PC1,7,op=3,size=3,)", 625,
                   "AddPendingOp(PC1,7,op=3,size=3,)=" + std::to_string(first), S_OK, 647);

    auto large = Call(4014, [](CInvokeData& r) { PushPendingOp(r, "PC1", 7, 4, "ABCDEFGHIJKLMNOPQRST", 20, 0); });
    const LONG second = OutLong(*large);
    ExpectBeginEnd(4014, "OnAddPendingOp", "AddPendingOp(PC1,7,op=4,size=20,ABCDEFGHIJKLMNO...)", 625,
                   "AddPendingOp(PC1,7,op=4,size=20,ABCDEFGHIJKLMNO...)=" + std::to_string(second), S_OK, 647);

    Call(4014, [](CInvokeData& r) { PushPendingOp(r, "PC1", 7, 5, "ABCDEFGH", 8, 0); });
    auto records = log.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].message, "AddPendingOp(PC1,7,op=5,size=8,ABCDEFGH)");
}

TEST_F(CLInvokeTest, PendingOpTravelsInAndOutWithItsTexts)
{
    const std::string description = "it's \"quoted\"; -- " + std::string(2000, 'd');
    const BYTE data[] = {0, 1, 2, 0xFF};
    auto add = Call(4014, [&](CInvokeData& r) {
        PushPendingOp(r, "PC1", 7, 3, data, 4, 0, description.c_str(), "O'Reilly");
    });
    const LONG opId = OutLong(*add);
    log.Clear();

    auto get = Call(4033, [&](CInvokeData& r) {
        r.PushInString("PC1");
        r.PushInDword(static_cast<DWORD>(opId));
    });
    EXPECT_EQ(get->result, S_OK);
    ASSERT_EQ(get->OutCount(), 4u);
    const std::vector<BYTE> image = OutBytes(*get);
    ASSERT_EQ(image.size(), 88u);
    PendingOpRecord op;
    std::memcpy(&op, image.data(), sizeof op);
    EXPECT_EQ(op.appId, 7u);
    EXPECT_EQ(op.id, 3u);
    EXPECT_EQ(op.status, 1u);
    EXPECT_EQ(op.dataSize, 4u);
    EXPECT_EQ(op.descriptionLength, description.size() + 1);
    EXPECT_EQ(op.remarksLength, 9u);
    // The pointer slots carry no addresses of the server.
    EXPECT_EQ(op.data, nullptr);
    EXPECT_EQ(op.description, nullptr);
    EXPECT_EQ(op.remarks, nullptr);
    std::vector<char> text(4000);
    get->PopOutString(text.data(), static_cast<DWORD>(text.size()));
    EXPECT_EQ(std::string(text.data()), description);
    get->PopOutString(text.data(), static_cast<DWORD>(text.size()));
    EXPECT_EQ(std::string(text.data()), "O'Reilly");
    EXPECT_EQ(OutBytes(*get), std::vector<BYTE>(data, data + 4));
    ExpectBeginEnd(4033, "OnGetPendingOp", "GetPendingOp(PC1," + std::to_string(opId) + ")", 560,
                   "GetPendingOp(PC1," + std::to_string(opId) + ")", S_OK, 575);

    auto missing = Call(4033, [](CInvokeData& r) {
        r.PushInString("PC1");
        r.PushInDword(999);
    });
    EXPECT_EQ(missing->result, E_INVALIDARG);
    EXPECT_EQ(missing->OutCount(), 0u);
}

TEST_F(CLInvokeTest, MissingTextsOfAPendingOpAreEmpty)
{
    auto add = Call(4014, [](CInvokeData& r) {
        PendingOpRecord op{};
        op.appId = 1;
        r.PushInString("PC1");
        r.PushInBytes(&op, sizeof op);
    });
    EXPECT_EQ(add->result, S_OK);
    const LONG opId = OutLong(*add);
    EXPECT_EQ(Query("SELECT description || '|' || remarks || '|' || ifnull(data,'none') FROM cl_pendingops"),
              "||none");
    auto list = Call(4032, [](CInvokeData& r) {
        r.PushInString("PC1");
        r.PushInDword(0);
    });
    const std::vector<BYTE> flat = OutBytes(*list);
    ASSERT_EQ(flat.size(), 4u + 60 + 1 + 1);
    EXPECT_EQ(liststest::U32At(&flat[0]), 1u);
    EXPECT_EQ(liststest::U32At(&flat[4]), static_cast<DWORD>(opId));
}

TEST_F(CLInvokeTest, PendingOpsAreUpdatedClearedAndDeleted)
{
    LONG ids[3];
    for (LONG& id : ids)
        id = OutLong(*Call(4014, [](CInvokeData& r) { PushPendingOp(r, "PC1", 1, 1, nullptr, 0, 0); }));
    log.Clear();

    const char remarks[] = "half done, don't stop";
    auto update = Call(4016, [&](CInvokeData& r) {
        r.PushInString("PC1");
        r.PushInDword(static_cast<DWORD>(ids[0]));
        r.PushInDword(0xAB);
        r.PushInDword(0x80004005);
        // A text item without its NUL is taken as far as it goes.
        r.PushInBytes(remarks, sizeof remarks - 1);
    });
    EXPECT_EQ(update->result, S_OK);
    ExpectBeginEnd(4016, "OnUpdatePendingOp", "UpdatePendingOp(PC1," + std::to_string(ids[0]) + ")", 676,
                   "UpdatePendingOp(PC1," + std::to_string(ids[0]) + ")", S_OK, 682);
    EXPECT_EQ(Query("SELECT remarks FROM cl_pendingops WHERE op_id=" + std::to_string(ids[0])), remarks);
    EXPECT_EQ(Query("SELECT result FROM cl_pendingops WHERE op_id=" + std::to_string(ids[0])), "-2147467259");

    auto clear = Call(4013, [](CInvokeData& r) {
        r.PushInString("PC1");
        r.PushInDword(0xAB);
    });
    EXPECT_EQ(clear->result, S_OK);
    ExpectBeginEnd(4013, "OnClearAllPendingOps", "ClearAllPendingOps(PC1,0xAB)", 533, "ClearAllPendingOps(PC1,0xAB)",
                   S_OK, 538);
    EXPECT_EQ(Query("SELECT count(*) FROM cl_pendingops"), "0"); // 0xAB has bit 1: the waiting ones went too

    auto del = Call(4015, [&](CInvokeData& r) {
        r.PushInString("PC1");
        r.PushInDword(static_cast<DWORD>(ids[1]));
    });
    EXPECT_EQ(del->result, S_OK);
    ExpectBeginEnd(4015, "OnDeletePendingOp", "DeletePendingOp(PC1," + std::to_string(ids[1]) + ")", 704,
                   "DeletePendingOp(PC1," + std::to_string(ids[1]) + ")", S_OK, 709);

    auto unknown = Call(4013, [](CInvokeData& r) {
        r.PushInString("nobody");
        r.PushInDword(1);
    });
    EXPECT_EQ(unknown->result, E_INVALIDARG);
}

TEST_F(CLInvokeTest, SchemaNodesThroughTheHandlers)
{
    SchemaNodeRecord node{};
    node.type = 1;
    node.appId = 2;
    node.id = 3;
    std::strcpy(node.name, "Disk's size");
    auto add = Call(4003, [&](CInvokeData& r) { r.PushInBytes(&node, sizeof node); });
    EXPECT_EQ(add->result, S_OK);
    const LONG id = OutLong(*add);
    EXPECT_EQ(id, 2);
    ExpectBeginEnd(4003, "OnAddSchemaNode", "AddSchemaNode(Disk's size)", 249, "AddSchemaNode(Disk's size) = 2", S_OK,
                   257);

    auto list = Call(4023);
    EXPECT_EQ(OutBytes(*list).size(), 2u * 372);
    ExpectBeginEnd(4023, "OnGetCompleteSchemaNodeList", "GetCompleteSchemaNodeList()", 298,
                   "GetCompleteSchemaNodeList()", S_OK, 310);

    auto del = Call(4004, [&](CInvokeData& r) { r.PushInDword(static_cast<DWORD>(id)); });
    EXPECT_EQ(del->result, S_OK);
    ExpectBeginEnd(4004, "OnDeleteSchemaNode", "DeleteSchemaNode(2)", 277, "DeleteSchemaNode(2)", S_OK, 282);
}

TEST_F(CLInvokeTest, DowntimeSchedulesThroughTheHandlers)
{
    DowntimeRecord schedule{};
    schedule.status = 1;
    schedule.recurrence = 4;
    const char remarks[] = "night's window";
    auto add = Call(4034, [&](CInvokeData& r) {
        r.PushInString("PC1");
        r.PushInBytes(&schedule, sizeof schedule);
        r.PushInBytes(remarks, sizeof remarks);
    });
    EXPECT_EQ(add->result, S_OK);
    const LONG downId = OutLong(*add);
    ExpectBeginEnd(4034, "OnAddDowntimeSchedule", "AddDowntimeSchedule(PC1,night's window)", 742,
                   "AddDowntimeSchedule(PC1,night's window) = " + std::to_string(downId), S_OK, 750);

    auto list = Call(4037, [](CInvokeData& r) { r.PushInString("PC1"); });
    const std::vector<BYTE> flat = OutBytes(*list);
    ASSERT_EQ(flat.size(), 4u + 56 + sizeof remarks + 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&flat[60])), remarks);
    ExpectBeginEnd(4037, "OnGetCompleteDowntimeList", "GetCompleteDowntimeList(PC1)", 826,
                   "GetCompleteDowntimeList(PC1) - " + std::to_string(flat.size()) + " bytes", S_OK, 836);

    auto del = Call(4035, [&](CInvokeData& r) {
        r.PushInString("PC1");
        r.PushInDword(static_cast<DWORD>(downId));
    });
    EXPECT_EQ(del->result, S_OK);
    ExpectBeginEnd(4035, "OnDeleteDowntimeSchedule", "DeleteDowntimeSchedule(PC1," + std::to_string(downId) + ")",
                   775, "DeleteDowntimeSchedule(PC1," + std::to_string(downId) + ")", S_OK, 780);

    auto clear = Call(4036, [](CInvokeData& r) { r.PushInString("PC1"); });
    EXPECT_EQ(clear->result, S_OK);
    ExpectBeginEnd(4036, "OnClearAllDowntimeSchedules", "ClearAllDowntimeSchedules(PC1)", 799,
                   "ClearAllDowntimeSchedules(PC1)", S_OK, 804);

    // Without a remarks item the remarks are empty.
    auto bare = Call(4034, [&](CInvokeData& r) {
        r.PushInString("PC1");
        r.PushInBytes(&schedule, sizeof schedule);
    });
    EXPECT_EQ(bare->result, S_OK);
    EXPECT_EQ(log.Records()[0].message, "AddDowntimeSchedule(PC1,)");
}

TEST(CLInvokeWithoutDatabase, ListsAreSentEmptyWithTheStoresFailure)
{
    tqtest::TempFolder folder;
    liststest::FakeFiles files(folder.Path());
    FakeLog log;
    CCLInvokeImpl handlers;
    handlers.SetUp(&log, &files);

    CInvokeData list(4028);
    ASSERT_EQ(handlers.Dispatch(&list), S_OK);
    EXPECT_EQ(list.result, E_INVALIDARG);
    ASSERT_EQ(list.OutCount(), 1u);
    EXPECT_EQ(list.OutItems().front().length, 0u);
    auto records = log.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].message, "GetCompleteComputerList() - 0 bytes");
    EXPECT_EQ(records[1].result, E_INVALIDARG);

    SchemaNodeRecord node{};
    CInvokeData add(4003);
    add.PushInBytes(&node, sizeof node);
    ASSERT_EQ(handlers.Dispatch(&add), S_OK);
    EXPECT_EQ(add.result, E_INVALIDARG);
    LONG id = -1;
    add.PopOutInt(&id);
    EXPECT_EQ(id, 0);
}

TEST_F(CLInvokeTest, ExceptionInAHandlerIsLoggedAndAnswered)
{
    dispatchtest::ThrowOnKinds(log, {0});
    CInvokeData r(4007);
    r.PushInString("PC1");
    EXPECT_EQ(handlers.Dispatch(&r), E_UNEXPECTED);
    EXPECT_EQ(r.result, E_FAIL); // not written
    dispatchtest::ExpectExceptionOnly(log, "AddComputer", "CCLInvokeImpl::OnAddComputer", 339);
}

TEST_F(CLInvokeTest, BusyListAnswersAbortWithoutARecord)
{
    // One call holds the handlers' lock inside its begin record...
    BeginRecordGate gate(log);
    std::thread holder([&] {
        CInvokeData r(4007);
        r.PushInString("PC1");
        EXPECT_EQ(handlers.Dispatch(&r), S_OK);
        EXPECT_EQ(r.result, S_OK);
    });
    ASSERT_TRUE(gate.WaitInside());
    // ...so another call gives up after the lock wait.
    CInvokeData second(4007);
    second.PushInString("PC2");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(handlers.Dispatch(&second), E_ABORT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(CCLInvokeImpl::kLockWaitMs - 50));
    EXPECT_EQ(second.result, E_FAIL);
    EXPECT_EQ(second.InCount(), 1u);
    EXPECT_EQ(second.OutCount(), 0u);
    EXPECT_TRUE(log.Records().empty()); // the holder's begin record is not yet kept either
    gate.Release();
    holder.join();
    auto records = log.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].message, "AddComputer(PC1)");
    EXPECT_EQ(Query("SELECT group_concat(cpu_name) FROM cl_computers"), "PC1");
}
