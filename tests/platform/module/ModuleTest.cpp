#include "platform/module/Module.h"
#include "platform/win/LastError.h"

#include <gtest/gtest.h>

TEST(Module, LoadsFindsAndFrees)
{
    HMODULE module = LoadLibraryA(TEST_MODULE);
    ASSERT_NE(module, nullptr);
    auto answer = reinterpret_cast<int (*)()>(GetProcAddress(module, "TestModuleAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(Module, FailuresAreReportedNotThrown)
{
    EXPECT_EQ(LoadLibraryA("/nonexistent/module.so"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(nullptr, "x"), nullptr);
    EXPECT_FALSE(FreeLibrary(nullptr));
}
