#include "bench/BenchOptions.h"
#include "bench/GoalBook.h"
#include "bench/ProcStatus.h"
#include "bench/Table.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace tqbench;

namespace {

bool Parse(std::vector<std::string> args, BenchOptions* o, std::string* error = nullptr)
{
    std::string ignored;
    return BenchOptions::Parse(args, o, error != nullptr ? error : &ignored);
}

} // namespace

TEST(BenchOptions, DefaultsAndQuickRuns)
{
    BenchOptions o;
    ASSERT_TRUE(Parse({}, &o));
    EXPECT_FALSE(o.quick);
    EXPECT_EQ(o.repeat, 3);
    EXPECT_DOUBLE_EQ(o.seconds, 1);
    EXPECT_TRUE(o.Has("rate") && o.Has("store") && o.Has("files") && o.Has("load"));

    ASSERT_TRUE(Parse({"--quick"}, &o));
    EXPECT_TRUE(o.quick);
    EXPECT_EQ(o.repeat, 1);
    EXPECT_DOUBLE_EQ(o.seconds, 0.3);
    // Given values win over the quick defaults, in either order.
    ASSERT_TRUE(Parse({"--repeat", "5", "--quick", "--seconds", "2"}, &o));
    EXPECT_EQ(o.repeat, 5);
    EXPECT_DOUBLE_EQ(o.seconds, 2);
}

TEST(BenchOptions, SectionsFolderAndFlags)
{
    BenchOptions o;
    ASSERT_TRUE(Parse({"--only", "files,load", "--keep", "--bin", "/opt/tq/bin"}, &o));
    EXPECT_FALSE(o.Has("rate"));
    EXPECT_FALSE(o.Has("store"));
    EXPECT_TRUE(o.Has("files"));
    EXPECT_TRUE(o.Has("load"));
    EXPECT_TRUE(o.keep);
    EXPECT_EQ(o.binFolder, "/opt/tq/bin");
    ASSERT_TRUE(Parse({"-h"}, &o));
    EXPECT_TRUE(o.help);
}

TEST(BenchOptions, BadArgumentsAreRefusedWithAReason)
{
    BenchOptions o;
    std::string error;
    for (const auto& args : std::vector<std::vector<std::string>>{{"--repeat"},
                                                                 {"--repeat", "0"},
                                                                 {"--repeat", "2.5"},
                                                                 {"--repeat", "x"},
                                                                 {"--seconds", "0"},
                                                                 {"--seconds", "1s"},
                                                                 {"--only", "rate,disk"},
                                                                 {"--only", ""},
                                                                 {"--fast"}}) {
        error.clear();
        EXPECT_FALSE(Parse(args, &o, &error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

TEST(ProcStatus, ReadsMemoryAndThreadsFromStatusText)
{
    const std::string text = "Name:\tTQWL\nVmPeak:\t  900000 kB\nVmHWM:\t   51234 kB\nVmRSS:\t   40960 kB\n"
                             "Threads:\t1240\nVmRSSx:\t1 kB\n";
    ProcStatus s;
    ASSERT_TRUE(ProcStatus::Parse(text, &s));
    EXPECT_EQ(s.vmRssKb, 40960);
    EXPECT_EQ(s.vmHwmKb, 51234);
    EXPECT_EQ(s.threads, 1240);

    ASSERT_FALSE(ProcStatus::Parse("Name:\tx\nVmRSS:\tnone\n", &s));
    EXPECT_EQ(s.vmRssKb, -1);
    EXPECT_EQ(s.threads, -1);

    ASSERT_TRUE(ProcStatus::Read(::getpid(), &s));
    EXPECT_GT(s.vmRssKb, 0);
    EXPECT_GE(s.vmHwmKb, s.vmRssKb);
    EXPECT_GE(s.threads, 1);
    EXPECT_FALSE(ProcStatus::Read(-5, &s));
}

TEST(Table, ColumnsAreAsWideAsTheirWidestCell)
{
    Table t({"call", "calls/s", "ratio"});
    t.AddRow({"GetVersion", "45,000", "0.61"});
    t.AddRow({"x", "7"});  // a short row gets empty cells
    EXPECT_EQ(t.Render(), "  call        calls/s  ratio\n"
                          "  --------------------------\n"
                          "  GetVersion   45,000   0.61\n"
                          "  x                 7\n");
}

TEST(Table, FiguresAreFormattedInTheirUnits)
{
    EXPECT_EQ(FormatDuration(850), "850 ns");
    EXPECT_EQ(FormatDuration(1234), "1.23 us");
    EXPECT_EQ(FormatDuration(56789), "56.8 us");
    EXPECT_EQ(FormatDuration(1.92e6), "1.92 ms");
    EXPECT_EQ(FormatDuration(2.5e9), "2.50 s");
    EXPECT_EQ(FormatDuration(-128922), "-128.9 us");
    EXPECT_EQ(FormatCount(0), "0");
    EXPECT_EQ(FormatCount(999), "999");
    EXPECT_EQ(FormatCount(1000), "1,000");
    EXPECT_EQ(FormatCount(1234567.6), "1,234,568");
    EXPECT_EQ(FormatCount(-12345), "-12,345");
    EXPECT_EQ(FormatRatio(0.614), "0.61");
    EXPECT_EQ(FormatRatio(12.44), "12.4");
    EXPECT_EQ(FormatMegabytes(845e6), "845 MB/s");
    EXPECT_EQ(FormatKilobytes(39117), "38.2 MiB");
    EXPECT_EQ(FormatKilobytes(-1), "?");
}

TEST(GoalBook, MetAndMissedGoals)
{
    GoalBook goals;
    goals.AtLeast("rate / plain", 0.62, 0.5);
    goals.AtMost("direct ratio", 1.2, 1.5);
    EXPECT_TRUE(goals.AllMet());
    goals.AtLeast("files / plain", 0.2, 1.0 / 3);
    goals.Holds("no call lost", true, "all answered");
    EXPECT_FALSE(goals.AllMet());
    EXPECT_EQ(goals.Count(), 4u);
    EXPECT_EQ(goals.Render(), "  met     rate / plain: 0.62 (goal >= 0.50)\n"
                              "  met     direct ratio: 1.20 (goal <= 1.50)\n"
                              "  MISSED  files / plain: 0.20 (goal >= 0.33)\n"
                              "  met     no call lost: all answered\n");
}
