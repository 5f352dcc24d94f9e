#include "tests/server/storage/lists/StoreTestFixture.h"

#include "platform/oledate/OleDate.h"

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <thread>

using liststest::StoreTest;
using liststest::U32At;

namespace {

struct SchemaList {
    std::vector<SchemaNodeRecord> nodes;
    int length = -1;
};

SchemaList Schema(CSqlLiteCL& store)
{
    SchemaList out;
    BYTE* buffer = nullptr;
    EXPECT_EQ(store.GetCompleteSchemaNodeList(&buffer, &out.length), S_OK);
    for (int at = 0; at + 372 <= out.length; at += 372) {
        SchemaNodeRecord node;
        std::memcpy(&node, buffer + at, sizeof node);
        out.nodes.push_back(node);
    }
    store.FreeSchemaNodeList(buffer);
    return out;
}

std::string ComputerList(CSqlLiteCL& store)
{
    char* buffer = nullptr;
    int length = 0;
    EXPECT_EQ(store.GetCompleteComputerList(&buffer, &length), S_OK);
    std::string out(buffer, static_cast<size_t>(length));
    store.FreeComputerList(buffer);
    return out;
}

std::vector<BYTE> PendingList(CSqlLiteCL& store, const char* computer, HRESULT expect = S_OK)
{
    BYTE* buffer = nullptr;
    int length = 0;
    EXPECT_EQ(store.GetCompletePendingOpsList(computer, 0, &buffer, &length), expect);
    std::vector<BYTE> out(buffer, buffer + (buffer ? length : 0));
    if (buffer != nullptr)
        store.FreePendingOpsList(buffer);
    return out;
}

std::vector<BYTE> DowntimeList(CSqlLiteCL& store, const char* computer)
{
    BYTE* buffer = nullptr;
    int length = 0;
    EXPECT_EQ(store.GetCompleteDowntimeList(computer, &buffer, &length), S_OK);
    std::vector<BYTE> out(buffer, buffer + length);
    store.FreeDowntimeList(buffer);
    return out;
}

FILETIME Ft(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0)
{
    SYSTEMTIME st{};
    st.wYear = y;
    st.wMonth = mo;
    st.wDay = d;
    st.wHour = h;
    st.wMinute = mi;
    st.wSecond = s;
    FILETIME ft{};
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
    return ft;
}

ULONGLONG U64(const FILETIME& ft)
{
    return FileTimeToUInt64(ft);
}

ULONGLONG NowTicks()
{
    std::timespec ts{};
    std::timespec_get(&ts, TIME_UTC);
    return FileTimeToUInt64(FileTimeFromTimespec(ts));
}

// Quotes, a statement terminator and SQL comment marks: texts that would
// break a statement they were pasted into.
const std::string kNasty = "it's \"quoted\"; DROP TABLE cl_computers; -- '' \\ %s %n";

} // namespace

TEST_F(StoreTest, NewDatabaseHoldsOnlyTheBuiltInSchemaNodeAcrossLoads)
{
    for (int load = 0; load < 3; ++load) {
        SchemaList list = Schema(*store);
        ASSERT_EQ(list.length, 372);
        ASSERT_EQ(list.nodes.size(), 1u);
        const SchemaNodeRecord& node = list.nodes[0];
        EXPECT_EQ(node.type, 0u);
        EXPECT_EQ(node.appId, 4u);
        EXPECT_EQ(node.id, 9u);
        EXPECT_EQ(node.flags, 0u);
        EXPECT_STREQ(node.name, "Last Checkin");
        EXPECT_STREQ(node.description, "Operating system installed on the computer");
        EXPECT_EQ(node.schemaId, 1u);
        Reopen();
    }
    EXPECT_EQ(Query("SELECT count(*) FROM cl_schema"), "1");
    EXPECT_EQ(Query("SELECT name FROM sqlite_master WHERE type='index'"), "idxcpu_name");
}

TEST_F(StoreTest, SchemaNodeWithTheSameKeyIsUpdatedInPlace)
{
    SchemaNodeRecord node{};
    node.type = 2;
    node.appId = 7;
    node.id = 3;
    std::strcpy(node.name, "first");
    LONG first = 0, second = 0;
    ASSERT_EQ(store->AddSchemaNode(&node, &first), S_OK);
    std::strcpy(node.name, "second");
    node.flags = 0x55;
    ASSERT_EQ(store->AddSchemaNode(&node, &second), S_OK);
    EXPECT_EQ(first, second);
    node.type = 3; // another key
    LONG third = 0;
    ASSERT_EQ(store->AddSchemaNode(&node, &third), S_OK);
    EXPECT_NE(third, first);

    SchemaNodeRecord read{};
    ASSERT_EQ(store->GetSchemaNode(static_cast<DWORD>(first), &read), S_OK);
    EXPECT_STREQ(read.name, "second");
    EXPECT_EQ(read.flags, 0x55u);
    EXPECT_EQ(read.schemaId, static_cast<DWORD>(first));
    EXPECT_EQ(Schema(*store).nodes.size(), 3u);

    ASSERT_EQ(store->DeleteSchemaNode(static_cast<DWORD>(first)), S_OK);
    EXPECT_EQ(Schema(*store).nodes.size(), 2u);
    // A missing id leaves the node as given, but for its id.
    SchemaNodeRecord missing{};
    std::strcpy(missing.name, "untouched");
    ASSERT_EQ(store->GetSchemaNode(999, &missing), S_OK);
    EXPECT_STREQ(missing.name, "untouched");
    EXPECT_EQ(missing.schemaId, 999u);
}

TEST_F(StoreTest, SchemaTextsOfFullLengthAndWithQuotesReadBack)
{
    SchemaNodeRecord node{};
    node.type = 1;
    // Fields filled to the last byte: no NUL, so the text is all but the last.
    std::memset(node.name, 'n', sizeof node.name);
    node.name[0] = '\'';
    std::memset(node.description, 'd', sizeof node.description);
    std::memcpy(node.description, kNasty.data(), kNasty.size());
    LONG id = 0;
    ASSERT_EQ(store->AddSchemaNode(&node, &id), S_OK);

    SchemaNodeRecord read{};
    ASSERT_EQ(store->GetSchemaNode(static_cast<DWORD>(id), &read), S_OK);
    EXPECT_EQ(std::string(read.name), std::string("'") + std::string(48, 'n'));
    EXPECT_EQ(std::string(read.description), kNasty + std::string(299 - kNasty.size(), 'd'));
    SchemaList list = Schema(*store);
    ASSERT_EQ(list.nodes.size(), 2u);
    EXPECT_EQ(std::string(list.nodes[1].name).size(), 49u);
    EXPECT_EQ(std::string(list.nodes[1].description), std::string(read.description));
    EXPECT_EQ(Query("SELECT count(*) FROM cl_computers"), "0");
}

TEST_F(StoreTest, EmptySchemaListHasLengthZero)
{
    ASSERT_EQ(store->DeleteSchemaNode(1), S_OK);
    SchemaList list = Schema(*store);
    EXPECT_EQ(list.length, 0);
}

TEST_F(StoreTest, ComputerNamesFollowTheRules)
{
    EXPECT_EQ(store->AddComputer("PC1"), S_OK);
    EXPECT_EQ(store->AddComputer("pc1"), S_FALSE);
    EXPECT_EQ(store->AddComputer("ABCDEFGHIJKLMNO"), S_OK); // 15
    EXPECT_EQ(store->AddComputer("ABCDEFGHIJKLMNOP"), E_INVALIDARG); // 16
    EXPECT_EQ(store->AddComputer(""), E_INVALIDARG);
    EXPECT_EQ(store->AddComputer(nullptr), E_INVALIDARG);
    EXPECT_EQ(store->AddComputer("tab\there"), E_INVALIDARG);
    EXPECT_EQ(store->AddComputer("del\x7f"), E_INVALIDARG);
    EXPECT_EQ(store->AddComputer("hi\xe9"), E_INVALIDARG);
    EXPECT_EQ(store->AddComputer(" O'Brien ~"), S_OK);
    EXPECT_EQ(store->AddComputer(" o'brien ~"), S_FALSE);
    EXPECT_EQ(ComputerList(*store), std::string("PC1\0ABCDEFGHIJKLMNO\0 O'Brien ~\0\0", 32));
    EXPECT_EQ(store->DeleteComputer("nobody"), S_FALSE);
    EXPECT_EQ(store->DeleteComputer("o'BRIEN ~"), S_FALSE); // the blanks count
    EXPECT_EQ(store->DeleteComputer(" o'BRIEN ~"), S_OK);
    EXPECT_EQ(store->DeleteComputer("pc1"), S_OK);
    EXPECT_EQ(ComputerList(*store), std::string("ABCDEFGHIJKLMNO\0\0", 17));
}

TEST_F(StoreTest, EmptyComputerListIsOneNul)
{
    EXPECT_EQ(ComputerList(*store), std::string(1, '\0'));
}

TEST_F(StoreTest, DeleteComputerTakesItsOperationsAndSchedulesAlong)
{
    AddOp("PC1", 1, 1);
    AddOp("PC1", 1, 2);
    const LONG other = AddOp("PC2", 1, 3);
    DowntimeRecord schedule{};
    LONG downId = 0;
    ASSERT_EQ(store->AddDowntimeSchedule("PC1", &schedule, &downId), S_OK);
    ASSERT_EQ(store->AddDowntimeSchedule("PC2", &schedule, &downId), S_OK);
    const BYTE item[] = {1, 2, 3};
    ASSERT_EQ(store->SetComputerInformation("PC1", 5, 5, item, 3), S_OK);

    ASSERT_EQ(store->DeleteComputer("pc1"), S_OK);
    EXPECT_EQ(Query("SELECT count(*) FROM cl_pendingops"), "1");
    EXPECT_EQ(Query("SELECT op_id FROM cl_pendingops"), std::to_string(other));
    EXPECT_EQ(Query("SELECT count(*) FROM cl_downtime"), "1");
    // A computer of the same name later is a new computer without them.
    ASSERT_EQ(store->AddComputer("PC1"), S_OK);
    EXPECT_EQ(PendingList(*store, "PC1"), std::vector<BYTE>(4, 0));
    BYTE* data = nullptr;
    int size = 0;
    EXPECT_EQ(store->GetComputerInformation("PC1", 5, 5, &data, &size), S_FALSE);
    store->FreeComputerInformation(data);
}

TEST_F(StoreTest, InformationItemsRoundTripAndMissingOnesReadDBError)
{
    const BYTE blob[] = {0, 1, 0, 0xFF, '\'', 0};
    ASSERT_EQ(store->SetComputerInformation("PC1", 4, 4, blob, sizeof blob), S_OK);
    EXPECT_EQ(ComputerList(*store), std::string("PC1\0\0", 5)); // added on the way

    BYTE* data = nullptr;
    int size = 0;
    ASSERT_EQ(store->GetComputerInformation("pc1", 4, 4, &data, &size), S_OK);
    EXPECT_EQ(std::vector<BYTE>(data, data + size), std::vector<BYTE>(blob, blob + sizeof blob));
    store->FreeComputerInformation(data);

    const BYTE newer[] = {9};
    ASSERT_EQ(store->SetComputerInformation("PC1", 4, 4, newer, 1), S_OK);
    ASSERT_EQ(store->GetComputerInformation("PC1", 4, 4, &data, &size), S_OK);
    EXPECT_EQ(size, 1);
    EXPECT_EQ(data[0], 9);
    store->FreeComputerInformation(data);
    EXPECT_EQ(Query("SELECT count(*) FROM cl_sysinfo"), "1");

    for (auto [computer, app, id] : {std::tuple{"PC1", 4u, 5u}, std::tuple{"PC1", 5u, 4u}, std::tuple{"PC9", 4u, 4u}}) {
        ASSERT_EQ(store->GetComputerInformation(computer, app, id, &data, &size), S_FALSE);
        ASSERT_EQ(size, 8);
        EXPECT_EQ(std::memcmp(data, "DBError", 8), 0);
        store->FreeComputerInformation(data);
    }
    EXPECT_EQ(store->GetComputerInformation("", 4, 4, &data, &size), E_INVALIDARG);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(store->FreeComputerInformation(nullptr), E_INVALIDARG);
}

TEST_F(StoreTest, NullDataRemovesAnItemAndOnlyThat)
{
    const BYTE blob[] = {1, 2};
    ASSERT_EQ(store->SetComputerInformation("PC1", 1, 1, blob, 2), S_OK);
    ASSERT_EQ(store->SetComputerInformation("PC1", 1, 2, blob, 2), S_OK);
    ASSERT_EQ(store->SetComputerInformation("PC1", 1, 1, nullptr, 0), S_OK);
    EXPECT_EQ(Query("SELECT count(*) FROM cl_sysinfo"), "1");
    EXPECT_EQ(Query("SELECT id FROM cl_sysinfo"), "2");
    // Nothing there to remove: nothing happens.
    ASSERT_EQ(store->SetComputerInformation("PC1", 1, 1, nullptr, 0), S_OK);
    ASSERT_EQ(store->SetComputerInformation("PC2", 1, 1, nullptr, 0), S_OK);
    EXPECT_EQ(Query("SELECT count(*) FROM cl_sysinfo"), "1");
}

namespace {

// How SQLite means to run a statement on the store's database file.
std::string QueryPlan(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    std::string plan;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &s, nullptr) == SQLITE_OK)
            while (sqlite3_step(s) == SQLITE_ROW)
                plan += reinterpret_cast<const char*>(sqlite3_column_text(s, 3)) + std::string("\n");
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return plan;
}

} // namespace

TEST_F(StoreTest, ItemLookUpsUseAnIndexAlsoInDatabasesMadeWithoutIt)
{
    const BYTE blob[] = {1, 2, 3};
    ASSERT_EQ(store->SetComputerInformation("PC1", 5, 1, blob, 3), S_OK);
    const std::string find = "SELECT sysinfo_id FROM cl_sysinfo WHERE app_id=5 AND id=1 AND cpu_id=1";
    const std::string read = "SELECT s.data FROM cl_sysinfo s INNER JOIN cl_computers c on c.cpu_id=s.cpu_id "
                             "WHERE c.cpu_name='PC1' AND s.app_id=5 AND s.id=1";
    EXPECT_NE(QueryPlan(DbPath(), find).find("idxsysinfo_item"), std::string::npos) << QueryPlan(DbPath(), find);
    EXPECT_NE(QueryPlan(DbPath(), read).find("idxsysinfo_item"), std::string::npos) << QueryPlan(DbPath(), read);

    // A database of an earlier build has no such index: loading it adds one,
    // and what it held reads as before.
    store.reset();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(DbPath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP INDEX idxsysinfo_item", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    EXPECT_EQ(QueryPlan(DbPath(), find).find("idxsysinfo_item"), std::string::npos);
    Open();
    EXPECT_NE(QueryPlan(DbPath(), find).find("idxsysinfo_item"), std::string::npos);
    BYTE* data = nullptr;
    int size = 0;
    ASSERT_EQ(store->GetComputerInformation("PC1", 5, 1, &data, &size), S_OK);
    EXPECT_EQ(std::vector<BYTE>(data, data + size), std::vector<BYTE>(blob, blob + 3));
    store->FreeComputerInformation(data);
    EXPECT_EQ(Query("SELECT count(*) FROM sqlite_master WHERE type='index' AND tbl_name='cl_sysinfo'"), "1");
}

TEST_F(StoreTest, InformationForBadNamesIsRefused)
{
    const BYTE blob[] = {1};
    EXPECT_EQ(store->SetComputerInformation("", 1, 1, blob, 1), E_INVALIDARG);
    EXPECT_EQ(store->SetComputerInformation("bad\nname", 1, 1, blob, 1), E_INVALIDARG);
    EXPECT_EQ(store->SetComputerInformation("SIXTEENCHARSLONG", 1, 1, blob, 1), E_INVALIDARG);
    EXPECT_EQ(store->SetComputerInformation("PC1", 1, 1, blob, -1), E_INVALIDARG);
    EXPECT_EQ(Query("SELECT count(*) FROM cl_computers"), "0");
    EXPECT_EQ(Query("SELECT count(*) FROM cl_sysinfo"), "0");
}

TEST_F(StoreTest, AllComputerInformationListsTheItemsByRowId)
{
    const BYTE a[] = {'a', 'b'};
    const BYTE b[] = {'c'};
    ASSERT_EQ(store->SetComputerInformation("PC1", 1, 1, a, 2), S_OK);
    ASSERT_EQ(store->SetComputerInformation("PC2", 1, 1, b, 1), S_OK);
    ASSERT_EQ(store->SetComputerInformation("PC1", 2, 2, b, 1), S_OK);
    BYTE* buffer = nullptr;
    int length = 0;
    ASSERT_EQ(store->GetAllComputerInformation("PC1", &buffer, &length), S_OK);
    const BYTE expected[] = {1, 0, 0, 0, 3, 0, 0, 0, 'P', 'C', '1', 0, 2, 0, 0, 0,
                             1, 0, 0, 0, 2, 0, 0, 0, 'a', 'b', 0, //
                             3, 0, 0, 0, 1, 0, 0, 0, 'c', 0};
    EXPECT_EQ(std::vector<BYTE>(buffer, buffer + length), std::vector<BYTE>(expected, expected + sizeof expected));
    store->FreeComputerInformation(buffer);
    ASSERT_EQ(store->GetAllComputerInformation("", &buffer, &length), S_OK);
    EXPECT_EQ(std::vector<BYTE>(buffer, buffer + length), std::vector<BYTE>(4, 0));
    store->FreeComputerInformation(buffer);
}

TEST_F(StoreTest, PendingOperationReadsBackWithItsTextsAndData)
{
    const std::string longRemarks = kNasty + std::string(5000, 'r');
    const std::vector<BYTE> data = {0, 'x', 0, 0xFE};
    const LONG opId = AddOp("PC1", 7, 3, kNasty, longRemarks, data);
    ASSERT_GT(opId, 0);

    PendingOpRecord* op = nullptr;
    ASSERT_EQ(store->GetPendingOp("ignored", static_cast<DWORD>(opId), &op), S_OK);
    ASSERT_NE(op, nullptr);
    EXPECT_EQ(op->opId, 0u);
    EXPECT_EQ(op->appId, 7u);
    EXPECT_EQ(op->id, 3u);
    EXPECT_EQ(op->status, 1u);
    EXPECT_EQ(op->result, 0x1234);
    ASSERT_NE(op->description, nullptr);
    EXPECT_EQ(std::string(op->description), kNasty);
    EXPECT_EQ(op->descriptionLength, kNasty.size() + 1);
    ASSERT_NE(op->remarks, nullptr);
    EXPECT_EQ(std::string(op->remarks), longRemarks);
    EXPECT_EQ(op->remarksLength, longRemarks.size() + 1);
    EXPECT_EQ(std::vector<BYTE>(op->data, op->data + op->dataSize), data);
    EXPECT_EQ(std::vector<BYTE>(op->reserved, op->reserved + 12), std::vector<BYTE>(12, 0));
    const ULONGLONG now = NowTicks();
    EXPECT_LT(now - U64(op->lastUpdate), 120 * 10'000'000ULL);
    EXPECT_EQ(store->FreePendingOp(op), S_OK);
    EXPECT_EQ(Query("SELECT count(*) FROM cl_computers"), "1");
}

TEST_F(StoreTest, LastUpdateIsUtcInAnyTimeZone)
{
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    ::setenv("TZ", "XYZ-9", 1); // nine hours east of UTC, no rules file needed
    ::tzset();
    const LONG opId = AddOp("PC1", 1, 1);
    ASSERT_EQ(store->UpdatePendingOp("", static_cast<DWORD>(opId), 2, 0, "x"), S_OK);
    PendingOpRecord* op = nullptr;
    ASSERT_EQ(store->GetPendingOp("", static_cast<DWORD>(opId), &op), S_OK);
    const ULONGLONG stored = U64(op->lastUpdate);
    store->FreePendingOp(op);
    if (old)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
    const ULONGLONG now = NowTicks();
    const ULONGLONG diff = now > stored ? now - stored : stored - now;
    EXPECT_LT(diff, 120 * 10'000'000ULL);
}

TEST_F(StoreTest, MissingOperationStillHandsOutAZeroedRecord)
{
    PendingOpRecord* op = nullptr;
    EXPECT_EQ(store->GetPendingOp("PC1", 42, &op), E_INVALIDARG);
    ASSERT_NE(op, nullptr);
    PendingOpRecord zero{};
    EXPECT_EQ(std::memcmp(op, &zero, sizeof zero), 0);
    EXPECT_EQ(store->FreePendingOp(op), S_OK);
    EXPECT_EQ(store->FreePendingOp(nullptr), E_INVALIDARG);
}

TEST_F(StoreTest, ClearingSelectsOperationsByStatusMask)
{
    const LONG waiting1 = AddOp("PC1", 1, 1);
    const LONG waiting2 = AddOp("PC1", 1, 2);
    const LONG running = AddOp("PC1", 1, 3);
    const LONG done = AddOp("PC1", 1, 4);
    const LONG otherComputer = AddOp("PC2", 1, 5);
    ASSERT_EQ(store->UpdatePendingOp("", static_cast<DWORD>(running), 2, 0, nullptr), S_OK);
    ASSERT_EQ(store->UpdatePendingOp("", static_cast<DWORD>(done), 4 | 8, 0, nullptr), S_OK);

    EXPECT_EQ(store->ClearAllPendingOps("PC1", 0), S_OK);
    EXPECT_EQ(Query("SELECT count(*) FROM cl_pendingops"), "5");
    EXPECT_EQ(store->ClearAllPendingOps("pc1", 1), S_OK);
    EXPECT_EQ(Query("SELECT group_concat(op_id) FROM (SELECT op_id FROM cl_pendingops ORDER BY op_id)"),
              std::to_string(running) + "," + std::to_string(done) + "," + std::to_string(otherComputer));
    // Any one bit of the mask is enough.
    EXPECT_EQ(store->ClearAllPendingOps("PC1", 8 | 2), S_OK);
    EXPECT_EQ(Query("SELECT count(*) FROM cl_pendingops"), "1");
    EXPECT_EQ(store->ClearAllPendingOps("nobody", 0xFFFFFFFF), E_INVALIDARG);
    EXPECT_EQ(store->ClearAllPendingOps("", 1), E_INVALIDARG);
    (void)waiting1;
    (void)waiting2;
}

TEST_F(StoreTest, PendingOperationListHasTheFlatLayout)
{
    ASSERT_EQ(store->AddComputer("PC1"), S_OK);
    EXPECT_EQ(PendingList(*store, "PC1"), std::vector<BYTE>(4, 0));
    PendingList(*store, "nobody", E_INVALIDARG);

    const LONG first = AddOp("PC1", 7, 3, "desc", "", {0xAA, 0xBB});
    const LONG second = AddOp("PC1", 8, 4, "", "rem", {});
    ASSERT_EQ(store->UpdatePendingOp("", static_cast<DWORD>(second), 6, 0x80004005u, "why's"), S_OK);
    const std::vector<BYTE> list = PendingList(*store, "PC1");
    ASSERT_GE(list.size(), 4u);
    EXPECT_EQ(U32At(&list[0]), 2u);

    const BYTE* p = &list[4];
    EXPECT_EQ(U32At(p + 0), static_cast<DWORD>(first));
    EXPECT_EQ(U32At(p + 4), 7u);
    EXPECT_EQ(U32At(p + 8), 3u);
    EXPECT_EQ(std::vector<BYTE>(p + 12, p + 24), std::vector<BYTE>(12, 0));
    EXPECT_EQ(U32At(p + 24), 2u); // data size
    EXPECT_EQ(U32At(p + 28), 0u);
    EXPECT_EQ(U32At(p + 32), 5u); // "desc" and its NUL
    EXPECT_EQ(U32At(p + 36), 1u);
    EXPECT_EQ(U32At(p + 40), 0x1234u);
    EXPECT_NE(U32At(p + 44) | U32At(p + 48), 0u);
    EXPECT_EQ(U32At(p + 52), 0u);
    EXPECT_EQ(U32At(p + 56), 0u); // no remarks
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 60), 6), std::string("desc\0\0", 6));
    EXPECT_EQ(p[66], 0); // the absent remarks: one zero byte
    EXPECT_EQ(p[67], 0xAA);
    EXPECT_EQ(p[68], 0xBB);

    p += 60 + 5 + 1 + 0 + 1 + 2;
    EXPECT_EQ(U32At(p + 0), static_cast<DWORD>(second));
    EXPECT_EQ(U32At(p + 24), 0u);
    EXPECT_EQ(U32At(p + 32), 0u);
    EXPECT_EQ(U32At(p + 36), 6u);
    EXPECT_EQ(U32At(p + 40), 0x80004005u);
    EXPECT_EQ(U32At(p + 56), 6u); // "why's" and its NUL
    EXPECT_EQ(p[60], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 61), 7), std::string("why's\0\0", 7));
    EXPECT_EQ(static_cast<size_t>(p + 68 - list.data()), list.size());
}

TEST_F(StoreTest, DeletingAnOperationLeavesTheOthers)
{
    const LONG a = AddOp("PC1", 1, 1);
    AddOp("PC1", 1, 2);
    ASSERT_EQ(store->DeletePendingOp("whoever", static_cast<DWORD>(a)), S_OK);
    EXPECT_EQ(Query("SELECT count(*) FROM cl_pendingops"), "1");
    PendingOpRecord* op = nullptr;
    EXPECT_EQ(store->GetPendingOp("", static_cast<DWORD>(a), &op), E_INVALIDARG);
    store->FreePendingOp(op);
}

TEST_F(StoreTest, DowntimeDatesAreStoredAsTextAndReadBack)
{
    DowntimeRecord in{};
    in.status = 3;
    in.startDate = Ft(2024, 1, 2, 15, 4, 5);
    in.expireDate = Ft(2025, 6, 7);
    in.disableTime = Ft(1601, 1, 1);
    in.enableTime = Ft(2024, 1, 2, 0, 0, 1);
    in.recurrence = 2;
    in.recurrenceInfo = 0x7F;
    std::string remarks = kNasty + std::string(3000, 'm');
    in.remarks = remarks.data();
    LONG downId = 0;
    ASSERT_EQ(store->AddDowntimeSchedule("PC1", &in, &downId), S_OK);
    EXPECT_EQ(in.downId, static_cast<DWORD>(downId));
    EXPECT_EQ(Query("SELECT start_date FROM cl_downtime"), "1/2/2024 3:04:05 PM");
    EXPECT_EQ(Query("SELECT expire_date FROM cl_downtime"), "6/7/2025");

    DowntimeRecord* out = nullptr;
    ASSERT_EQ(store->GetDowntimeSchedule("", static_cast<DWORD>(downId), &out), S_OK);
    EXPECT_EQ(out->downId, static_cast<DWORD>(downId));
    EXPECT_EQ(out->status, 3u);
    EXPECT_EQ(U64(out->startDate), U64(in.startDate));
    EXPECT_EQ(U64(out->expireDate), U64(in.expireDate));
    EXPECT_EQ(U64(out->disableTime), 0u);
    EXPECT_EQ(U64(out->enableTime), U64(in.enableTime));
    EXPECT_EQ(out->recurrence, 2u);
    EXPECT_EQ(out->recurrenceInfo, 0x7Fu);
    ASSERT_NE(out->remarks, nullptr);
    EXPECT_EQ(std::string(out->remarks), remarks);
    EXPECT_EQ(out->remarksLength, remarks.size() + 1);
    EXPECT_EQ(store->FreeDowntimeSchedule(out), S_OK);

    // Milliseconds are not kept.
    in.startDate = FileTimeFromUInt64(U64(Ft(2030, 3, 3, 3, 3, 3)) + 4'560'000);
    ASSERT_EQ(store->AddDowntimeSchedule("PC1", &in, &downId), S_OK);
    ASSERT_EQ(store->GetDowntimeSchedule("", static_cast<DWORD>(downId), &out), S_OK);
    EXPECT_EQ(U64(out->startDate), U64(Ft(2030, 3, 3, 3, 3, 3)));
    store->FreeDowntimeSchedule(out);
}

TEST_F(StoreTest, DatesThatAreNoDatesReadAsZero)
{
    DowntimeRecord in{};
    in.startDate = FileTimeFromUInt64(0x8000000000000000ULL); // beyond what converts
    in.expireDate = FileTimeFromUInt64(0xFFFFFFFFFFFFFFFFULL);
    in.disableTime = Ft(2024, 1, 1);
    in.enableTime = FileTimeFromUInt64(U64(Ft(9999, 12, 31, 23, 59, 59)) + 10'000'000ULL); // the year 10000
    LONG downId = 0;
    ASSERT_EQ(store->AddDowntimeSchedule("PC1", &in, &downId), S_OK);
    EXPECT_EQ(Query("SELECT start_date FROM cl_downtime"), "Invalid DateTime");
    EXPECT_EQ(Query("SELECT expire_date FROM cl_downtime"), "");
    EXPECT_EQ(Query("SELECT enable_time FROM cl_downtime"), "Invalid DateTime");
    EXPECT_EQ(Query("SELECT remarks FROM cl_downtime"), "");
    DowntimeRecord* out = nullptr;
    ASSERT_EQ(store->GetDowntimeSchedule("", static_cast<DWORD>(downId), &out), S_OK);
    EXPECT_EQ(U64(out->startDate), 0u);
    EXPECT_EQ(U64(out->expireDate), 0u);
    EXPECT_EQ(U64(out->disableTime), U64(Ft(2024, 1, 1)));
    EXPECT_EQ(U64(out->enableTime), 0u);
    EXPECT_EQ(out->remarks, nullptr);
    EXPECT_EQ(out->remarksLength, 0u);
    store->FreeDowntimeSchedule(out);

    // A missing schedule: a record with only its id.
    ASSERT_EQ(store->GetDowntimeSchedule("", 77, &out), S_OK);
    DowntimeRecord expected{};
    expected.downId = 77;
    EXPECT_EQ(std::memcmp(out, &expected, sizeof expected), 0);
    store->FreeDowntimeSchedule(out);
}

TEST_F(StoreTest, DowntimeListHasTheFlatLayout)
{
    ASSERT_EQ(store->AddComputer("PC1"), S_OK);
    EXPECT_EQ(DowntimeList(*store, "PC1"), std::vector<BYTE>(4, 0));
    BYTE* buffer = nullptr;
    int length = 0;
    EXPECT_EQ(store->GetCompleteDowntimeList("nobody", &buffer, &length), E_INVALIDARG);

    DowntimeRecord in{};
    in.status = 1;
    in.startDate = Ft(2024, 5, 5, 5, 5, 5);
    in.expireDate = Ft(2024, 6, 6);
    in.disableTime = Ft(2024, 7, 7, 7);
    in.enableTime = Ft(2024, 8, 8, 8);
    in.recurrence = 9;
    in.recurrenceInfo = 10;
    char remarks[] = "r'1";
    in.remarks = remarks;
    LONG first = 0, second = 0;
    ASSERT_EQ(store->AddDowntimeSchedule("PC1", &in, &first), S_OK);
    in.remarks = nullptr;
    ASSERT_EQ(store->AddDowntimeSchedule("PC1", &in, &second), S_OK);

    const std::vector<BYTE> list = DowntimeList(*store, "pc1");
    ASSERT_EQ(list.size(), 4u + (56 + 4 + 1) + (56 + 0 + 1));
    EXPECT_EQ(U32At(&list[0]), 2u);
    const BYTE* p = &list[4];
    EXPECT_EQ(U32At(p), static_cast<DWORD>(first));
    EXPECT_EQ(U32At(p + 4), 1u);
    EXPECT_EQ(U32At(p + 8), in.startDate.dwLowDateTime);
    EXPECT_EQ(U32At(p + 12), in.startDate.dwHighDateTime);
    EXPECT_EQ(U32At(p + 16), in.expireDate.dwLowDateTime);
    EXPECT_EQ(U32At(p + 24), in.disableTime.dwLowDateTime);
    EXPECT_EQ(U32At(p + 32), in.enableTime.dwLowDateTime);
    EXPECT_EQ(U32At(p + 40), 9u);
    EXPECT_EQ(U32At(p + 44), 10u);
    EXPECT_EQ(U32At(p + 48), 0u);
    EXPECT_EQ(U32At(p + 52), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 56), 5), std::string("r'1\0\0", 5));
    p += 61;
    EXPECT_EQ(U32At(p), static_cast<DWORD>(second));
    EXPECT_EQ(U32At(p + 52), 0u);
    EXPECT_EQ(p[56], 0);

    ASSERT_EQ(store->DeleteDowntimeSchedule("", static_cast<DWORD>(first)), S_OK);
    EXPECT_EQ(U32At(DowntimeList(*store, "PC1").data()), 1u);
    ASSERT_EQ(store->AddDowntimeSchedule("PC2", &in, &first), S_OK);
    ASSERT_EQ(store->ClearAllDowntimeSchedules("pc1"), S_OK);
    EXPECT_EQ(DowntimeList(*store, "PC1"), std::vector<BYTE>(4, 0));
    EXPECT_EQ(Query("SELECT count(*) FROM cl_downtime"), "1");
}

TEST(StoreWithoutDatabase, EveryOperationRefuses)
{
    liststest::FakeFiles files("/nonexistent-folder-for-tests/");
    CSqlLiteCL store(&files);
    BYTE* buffer = nullptr;
    char* names = nullptr;
    int length = 0;
    LONG id = 0;
    SchemaNodeRecord node{};
    PendingOpRecord op{};
    DowntimeRecord schedule{};
    EXPECT_EQ(store.AddComputer("PC1"), E_INVALIDARG);
    EXPECT_EQ(store.DeleteComputer("PC1"), E_INVALIDARG);
    EXPECT_EQ(store.AddSchemaNode(&node, &id), E_INVALIDARG);
    EXPECT_EQ(store.GetCompleteSchemaNodeList(&buffer, &length), E_INVALIDARG);
    EXPECT_EQ(store.GetCompleteComputerList(&names, &length), E_INVALIDARG);
    EXPECT_EQ(store.SetComputerInformation("PC1", 1, 1, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(store.GetComputerInformation("PC1", 1, 1, &buffer, &length), E_INVALIDARG);
    EXPECT_EQ(store.AddPendingOp("PC1", &op, 5, &id), E_INVALIDARG);
    EXPECT_EQ(store.UpdatePendingOp("PC1", 1, 1, 1, ""), E_INVALIDARG);
    EXPECT_EQ(store.AddDowntimeSchedule("PC1", &schedule, &id), E_INVALIDARG);
    EXPECT_EQ(store.SaveComputerList("complist.fdb"), E_INVALIDARG);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(names, nullptr);
    // Positions this store leaves to others.
    DWORD handle = 0;
    EXPECT_EQ(store.OpenComputerEnum(&handle), E_NOTIMPL);
    EXPECT_EQ(store.Reserved6(), E_NOTIMPL);
    EXPECT_EQ(store.Reserved49(), E_NOTIMPL);
    // The folder does not exist, so the file cannot be made.
    EXPECT_EQ(store.LoadComputerList("complist.fdb"), SQLITE_CANTOPEN); // SQLite's own result
    EXPECT_EQ(store.AddComputer("PC1"), E_INVALIDARG);

    CSqlLiteCL orphan(nullptr);
    EXPECT_EQ(orphan.LoadComputerList("complist.fdb"), E_POINTER);
}

TEST(StoreFile, AFileThatIsNoDatabaseIsRefusedAndLeftAlone)
{
    tqtest::TempFolder folder;
    const std::string garbage = "this is not a database, it is a text file of some length............";
    ASSERT_TRUE(tqtest::WriteFileText(folder / "complist.fdb", garbage));
    liststest::FakeFiles files(folder.Path());
    CSqlLiteCL store(&files);
    EXPECT_EQ(store.LoadComputerList("complist.fdb"), SQLITE_NOTADB);
    EXPECT_EQ(store.AddComputer("PC1"), E_INVALIDARG);
    EXPECT_EQ(tqtest::ReadFileText(folder / "complist.fdb"), garbage);
}

TEST_F(StoreTest, SavingUnderItsOwnNameCopiesNothing)
{
    ASSERT_EQ(store->AddComputer("PC1"), S_OK);
    EXPECT_EQ(store->SaveComputerList("complist.fdb"), S_OK);
    EXPECT_EQ(store->SaveComputerList("COMPLIST.FDB"), S_OK);
    int files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder.Path()))
        ++files;
    EXPECT_EQ(files, 1);
    // The changes are in the file already.
    EXPECT_EQ(Query("SELECT cpu_name FROM cl_computers"), "PC1");
}

TEST_F(StoreTest, SavingUnderAnotherNameMakesAConsistentCopy)
{
    ASSERT_EQ(store->AddComputer("PC1"), S_OK);
    AddOp("PC1", 1, 1, kNasty);
    // A name that the open name contains is still another name.
    ASSERT_EQ(store->SaveComputerList("list.fdb"), S_OK);
    EXPECT_EQ(liststest::QueryText(folder / "list.fdb", "SELECT description FROM cl_pendingops"), kNasty);
    EXPECT_FALSE(std::filesystem::exists(folder / "list.fdb.partial"));

    // Saving again replaces the copy with the current state.
    ASSERT_EQ(store->AddComputer("PC2"), S_OK);
    ASSERT_EQ(store->SaveComputerList("list.fdb"), S_OK);
    EXPECT_EQ(liststest::QueryText(folder / "list.fdb", "SELECT count(*) FROM cl_computers"), "2");

    // The copy opens as a computer list of its own.
    CSqlLiteCL copy(&files);
    ASSERT_EQ(copy.LoadComputerList("list.fdb"), S_OK);
    EXPECT_EQ(copy.AddComputer("pc2"), S_FALSE);
}

TEST_F(StoreTest, SavedCopyStaysInsideTheFolder)
{
    tqtest::TempFolder elsewhere;
    const std::string sneaky = "../" + std::filesystem::path(elsewhere.Path()).filename().string() + "/x.fdb";
    ASSERT_EQ(store->SaveComputerList(sneaky.c_str()), S_OK);
    EXPECT_TRUE(std::filesystem::exists(folder / "x.fdb"));
    EXPECT_FALSE(std::filesystem::exists(elsewhere / "x.fdb"));
    ASSERT_EQ(store->SaveComputerList("c:\\data\\y.fdb"), S_OK);
    EXPECT_TRUE(std::filesystem::exists(folder / "y.fdb"));
    EXPECT_EQ(store->SaveComputerList("sub/"), E_INVALIDARG);
    EXPECT_EQ(store->SaveComputerList(nullptr), E_INVALIDARG);
}

TEST_F(StoreTest, HandlersAndWorkItemsCanShareTheStore)
{
    // Threads write and read at once, as RPC call threads and delivery work
    // items do; every answer must be a proper one.
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            const std::string computer = "PC" + std::to_string(t % 3);
            for (int i = 0; i < 150; ++i) {
                const BYTE value[] = {static_cast<BYTE>(t), static_cast<BYTE>(i)};
                if (store->SetComputerInformation(computer.c_str(), 1, static_cast<DWORD>(t), value, 2) != S_OK)
                    ++failures;
                BYTE* data = nullptr;
                int size = 0;
                if (store->GetComputerInformation(computer.c_str(), 1, static_cast<DWORD>(t), &data, &size) !=
                        S_OK ||
                    size != 2 || data[0] != t || data[1] != i)
                    ++failures;
                store->FreeComputerInformation(data);
                PendingOpRecord op{};
                LONG opId = 0;
                if (store->AddPendingOp(computer.c_str(), &op, 0, &opId) != S_OK ||
                    store->UpdatePendingOp("", static_cast<DWORD>(opId), 2, 0, "r") != S_OK)
                    ++failures;
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(Query("SELECT count(*) FROM cl_pendingops WHERE status=2"), "900");
    EXPECT_EQ(Query("SELECT count(*) FROM cl_computers"), "3");
}
