// The direct baselines must do the same work as the server's stores: they
// run on databases the stores made, and each side sees what the other wrote.

#include "bench/DirectComputerList.h"
#include "bench/DirectSql.h"
#include "bench/DirectUserList.h"
#include "platform/win/StateRoot.h"
#include "server/dispatch/WinFileImpl.h"
#include "server/storage/lists/SqlLiteCL.h"
#include "server/storage/lists/SqlLiteUL.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

using namespace tqbench;

namespace {

class DirectLists : public tqtest::StateRootTest {
protected:
    void SetUp() override
    {
        StateRootTest::SetUp();
        folder_ = Root() + "/lists/";
        ASSERT_TRUE(CreateFolders(folder_));
        ASSERT_EQ(files_.SetFolder(nullptr, folder_.c_str()), S_OK);
    }
    std::string folder_;
    CWinFileImpl files_;
};

std::vector<std::string> ServerUsers(CSqlLiteUL& store)
{
    HeapNameList list;
    std::vector<std::string> names;
    if (store.EnumerateUsers(list) == S_OK)
        for (const auto& entry : list)
            names.emplace_back(entry.name);
    return names;
}

} // namespace

TEST(DirectSql, NumberedNamesHaveAtLeastSixDigits)
{
    EXPECT_EQ(NumberedName("user", 0), "user000000");
    EXPECT_EQ(NumberedName("PC", 4321), "PC004321");
    EXPECT_EQ(NumberedName("x", 1234567), "x1234567");
    EXPECT_EQ(OpenDirect("/nonexistent/folder/none.fdb"), nullptr);
}

TEST_F(DirectLists, UserListFilledAndChangedDirectlyIsTheStoresList)
{
    {
        CSqlLiteUL store(&files_, 2);
        ASSERT_EQ(store.Load("userlist.fdb"), S_OK);
    }
    DirectUserList direct;
    ASSERT_TRUE(direct.Open(folder_ + "userlist.fdb"));
    ASSERT_TRUE(direct.Fill("user", 0, 500));
    ASSERT_TRUE(direct.CreateUser("zed"));
    ASSERT_TRUE(direct.CreateUser("USER000007"));  // listed already, in other letters
    std::vector<std::string> names;
    ASSERT_TRUE(direct.EnumerateUsers(&names));
    ASSERT_EQ(names.size(), 501u);
    EXPECT_EQ(names.front(), "user000000");
    EXPECT_EQ(names.back(), "zed");

    CSqlLiteUL store(&files_, 2);
    ASSERT_EQ(store.Load("userlist.fdb"), S_OK);
    EXPECT_EQ(ServerUsers(store), names);
    // A user the store adds is one the direct side sees, and the filled users
    // are in the store's default group.
    ASSERT_EQ(store.CreateUser("amy"), S_OK);
    ASSERT_TRUE(direct.EnumerateUsers(&names));
    EXPECT_EQ(names.size(), 502u);
    EXPECT_EQ(names.front(), "amy");
    bool found = false;
    char group[260] = {};
    ASSERT_EQ(store.IsUserInTessaryGroup("user000123", &found, group, sizeof group), S_OK);
    EXPECT_TRUE(found);
    EXPECT_STREQ(group, "Default");
}

TEST_F(DirectLists, ComputerListFilledAndChangedDirectlyIsTheStoresList)
{
    {
        CSqlLiteCL store(&files_);
        ASSERT_EQ(store.LoadComputerList("complist.fdb"), S_OK);
    }
    DirectComputerList direct;
    ASSERT_TRUE(direct.Open(folder_ + "complist.fdb"));
    ASSERT_TRUE(direct.Fill("PC", 0, 300, {{4, 9}, {5, 1}}, 40));
    const BYTE update[] = "new information";
    ASSERT_TRUE(direct.SetComputerInformation("PC000042", 5, 1, update, sizeof update));  // an update
    ASSERT_TRUE(direct.SetComputerInformation("PC000043", 7, 7, update, 4));                // an insert
    ASSERT_TRUE(direct.SetComputerInformation("PC000044", 4, 9, nullptr, 0));              // a removal
    ASSERT_TRUE(direct.SetComputerInformation("NEWPC", 5, 1, update, 3));                  // a new computer
    std::vector<std::string> names;
    ASSERT_TRUE(direct.GetCompleteComputerList(&names));
    ASSERT_EQ(names.size(), 301u);
    EXPECT_EQ(names.front(), "PC000000");
    EXPECT_EQ(names.back(), "NEWPC");

    CSqlLiteCL store(&files_);
    ASSERT_EQ(store.LoadComputerList("complist.fdb"), S_OK);
    auto item = [&](const char* computer, DWORD app, DWORD id) {
        BYTE* data = nullptr;
        int size = 0;
        HRESULT hr = store.GetComputerInformation(computer, app, id, &data, &size);
        std::string text = hr == S_OK ? std::string(reinterpret_cast<char*>(data), static_cast<size_t>(size)) : "";
        store.FreeComputerInformation(data);
        return text;
    };
    EXPECT_EQ(item("PC000042", 5, 1), std::string(reinterpret_cast<const char*>(update), sizeof update));
    EXPECT_EQ(item("PC000043", 7, 7), "new ");
    EXPECT_EQ(item("PC000044", 4, 9), "");
    EXPECT_EQ(item("PC000044", 5, 1), std::string(40, '\x5A'));
    EXPECT_EQ(item("NEWPC", 5, 1), "new");

    char* flat = nullptr;
    int length = 0;
    ASSERT_EQ(store.GetCompleteComputerList(&flat, &length), S_OK);
    // 301 names of 8 or 5 characters, each with its NUL, and the closing NUL.
    EXPECT_EQ(length, 300 * 9 + 6 + 1);
    store.FreeComputerList(flat);
}
