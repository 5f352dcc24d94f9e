#include "platform/scm/ServiceCommandLine.h"

#include <gtest/gtest.h>

namespace {

using Parts = std::vector<std::string>;

TEST(ServiceCommandLine, SplitsOnBlanksOutsideQuotes)
{
    EXPECT_EQ(SplitServiceCommandLine("/opt/tq/TQWL -a  b\tc"), (Parts{"/opt/tq/TQWL", "-a", "b", "c"}));
    EXPECT_EQ(SplitServiceCommandLine("\"/opt/my tq/TQWL\" \"two words\""), (Parts{"/opt/my tq/TQWL", "two words"}));
    EXPECT_EQ(SplitServiceCommandLine("a\"b c\"d"), (Parts{"ab cd"}));
    EXPECT_EQ(SplitServiceCommandLine("  "), Parts{});
    EXPECT_EQ(SplitServiceCommandLine("\"\""), Parts{""});
    // An unclosed quote runs to the end.
    EXPECT_EQ(SplitServiceCommandLine("x \"y z"), (Parts{"x", "y z"}));
}

TEST(ServiceCommandLine, BackslashesMatterOnlyBeforeQuotes)
{
    EXPECT_EQ(SplitServiceCommandLine("a\\b c\\\\d"), (Parts{"a\\b", "c\\\\d"}));
    EXPECT_EQ(SplitServiceCommandLine("\\\"x"), Parts{"\"x"});         // \" is a quote
    EXPECT_EQ(SplitServiceCommandLine("\\\\\"x y\""), Parts{"\\x y"});  // \\" is a backslash, then quoting
    EXPECT_EQ(SplitServiceCommandLine("\\\\\\\"x"), Parts{"\\\"x"});    // \\\" is a backslash and a quote
    EXPECT_EQ(SplitServiceCommandLine("tail\\"), Parts{"tail\\"});
}

TEST(ServiceCommandLine, MakeSplitsBackIntoTheSameParts)
{
    const std::vector<Parts> cases = {
        {"/usr/bin/prog"},
        {"/opt/with space/prog", "arg one", ""},
        {"/p", "quote\"inside", "ends with\\", "\\\\", "\\\"", "tab\there"},
        {"/p", "trailing backslashes in quotes\\\\"},
    };
    for (const Parts& parts : cases) {
        std::string line = MakeServiceCommandLine(parts);
        EXPECT_EQ(SplitServiceCommandLine(line), parts) << line;
    }
    EXPECT_EQ(MakeServiceCommandLine({"/usr/bin/prog", "-x"}), "/usr/bin/prog -x");
    EXPECT_EQ(MakeServiceCommandLine({"/a b/prog"}), "\"/a b/prog\"");
}

} // namespace
