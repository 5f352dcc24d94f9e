#pragma once
// A computer-list store over a real database file in a fresh folder.

#include "server/storage/lists/SqlLiteCL.h"
#include "tests/server/storage/lists/ListsTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace liststest {

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override { Open(); }

    void Open()
    {
        store = std::make_unique<CSqlLiteCL>(&files);
        ASSERT_EQ(store->LoadComputerList("complist.fdb"), S_OK);
    }
    void Reopen()
    {
        store.reset();
        Open();
    }

    std::string DbPath() const { return folder / "complist.fdb"; }
    std::string Query(const std::string& sql) const { return QueryText(DbPath(), sql); }

    // Adds an operation; its texts and data as given (empty: absent).
    LONG AddOp(const char* computer, DWORD appId, DWORD id, const std::string& description = "",
               const std::string& remarks = "", const std::vector<BYTE>& data = {}, int priority = 0)
    {
        PendingOpRecord op{};
        op.appId = appId;
        op.id = id;
        op.result = 0x1234;
        op.description = description.empty() ? nullptr : const_cast<char*>(description.c_str());
        op.descriptionLength = description.empty() ? 0 : static_cast<DWORD>(description.size() + 1);
        op.remarks = remarks.empty() ? nullptr : const_cast<char*>(remarks.c_str());
        op.remarksLength = remarks.empty() ? 0 : static_cast<DWORD>(remarks.size() + 1);
        op.data = data.empty() ? nullptr : const_cast<BYTE*>(data.data());
        op.dataSize = static_cast<DWORD>(data.size());
        LONG opId = 0;
        EXPECT_EQ(store->AddPendingOp(computer, &op, priority, &opId), S_OK);
        EXPECT_EQ(op.opId, static_cast<DWORD>(opId));
        EXPECT_EQ(op.status, 1u);
        return opId;
    }

    std::string Remarks(LONG opId)
    {
        PendingOpRecord* op = nullptr;
        store->GetPendingOp("", static_cast<DWORD>(opId), &op);
        std::string text = op != nullptr && op->remarks != nullptr ? op->remarks : "";
        store->FreePendingOp(op);
        return text;
    }

    tqtest::TempFolder folder;
    FakeFiles files{folder.Path()};
    std::unique_ptr<CSqlLiteCL> store;
};

} // namespace liststest
