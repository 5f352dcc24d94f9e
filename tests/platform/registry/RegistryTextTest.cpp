// The registry file's text form on its own: what the writer produces, what the
// reader accepts, and the line and reason it gives for what it refuses.
#include "platform/registry/Registry.h"
#include "platform/registry/RegistryText.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::string kHead = "Windows Registry Editor Version 5.00\n\n";

std::vector<BYTE> Bytes(std::string_view s)
{
    return {s.begin(), s.end()};
}

std::vector<BYTE> Text(std::string_view s)
{
    auto b = Bytes(s);
    b.push_back(0);
    return b;
}

RegistryHives Parse(const std::string& text)
{
    RegistryHives hives;
    RegistryParseError error;
    EXPECT_TRUE(ParseRegistryText(text, hives, error)) << "line " << error.line << ": " << error.reason;
    return hives;
}

// Formats, parses the result and checks that nothing changed on the way.
std::string RoundTrip(const RegistryHives& hives)
{
    std::string text = FormatRegistryText(hives);
    RegistryHives again = Parse(text);
    for (int h = 0; h < kHiveCount; ++h)
        EXPECT_TRUE(hives[h] == again[h]) << text;
    EXPECT_EQ(FormatRegistryText(again), text);
    return text;
}

TEST(RegistryText, WritesTheExportSyntaxForEachType)
{
    RegistryHives hives;
    CRegistryNode* key = hives[kHiveLocalMachine].AddSubkey("SOFTWARE")->AddSubkey("Tessary Quorle");
    key->SetValue("StorageFolder", REG_SZ, Text("/srv/wl/"));
    key->SetValue("Port", REG_DWORD, {0x2b, 0x86, 0, 0});
    key->SetValue("Folder", REG_EXPAND_SZ, Text("%HOME%/wl"));
    key->SetValue("", REG_BINARY, {0x49, 0xc6, 0x81});
    key->SetValue("Nothing", REG_NONE, {});
    key->SetValue("Odd", 0x0b, {1, 2, 3, 4, 5, 6, 7, 8});
    hives[kHiveClassesRoot].AddSubkey("AppID");
    EXPECT_EQ(RoundTrip(hives), kHead +
                                    "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n"
                                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tessary Quorle]\n"
                                    "\"StorageFolder\"=\"/srv/wl/\"\n"
                                    "\"Port\"=dword:0000862b\n"
                                    "\"Folder\"=str(2):\"%HOME%/wl\"\n"
                                    "@=hex:49,c6,81\n"
                                    "\"Nothing\"=hex(0):\n"
                                    "\"Odd\"=hex(b):01,02,03,04,05,06,07,08\n\n"
                                    "[HKEY_CLASSES_ROOT\\AppID]\n\n");
}

TEST(RegistryText, DataThatNoShortFormHoldsKeepsItsExactBytes)
{
    RegistryHives hives;
    CRegistryNode& root = hives[kHiveLocalMachine];
    root.SetValue("NoNul", REG_SZ, Bytes("abc"));
    root.SetValue("Empty", REG_SZ, {});
    root.SetValue("Short", REG_DWORD, {1, 2, 3});
    root.SetValue("Long", REG_DWORD, {1, 2, 3, 4, 5});
    root.SetValue("Multi", 7, {'a', 0, 'b', 0, 0});
    std::string text = RoundTrip(hives);
    EXPECT_NE(text.find("\"NoNul\"=hex(1):61,62,63\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Empty\"=hex(1):\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Short\"=hex(4):01,02,03\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE]\n"), std::string::npos) << text;
}

TEST(RegistryText, EscapesQuotesBackslashesAndControlBytesInNamesAndTexts)
{
    RegistryHives hives;
    CRegistryNode* key = hives[kHiveLocalMachine].AddSubkey("K");
    std::string awkward("say \"hi\"\\ C:\\dir\nline2\r\tend\x01\x7f");
    awkward += std::string(1, '\0') + "after nul \xc3\xa9 \xff\xfe bad utf-8";
    key->SetValue(awkward, REG_SZ, Text(awkward));
    key->SetValue("x", REG_EXPAND_SZ, Text(awkward));
    std::string text = RoundTrip(hives);
    // Every value stays on one line, and the file stays valid UTF-8.
    EXPECT_NE(text.find("\"say \\\"hi\\\"\\\\ C:\\\\dir\\nline2\\r\\tend\\x01\\x7f\\0after nul \xc3\xa9 \\xff\\xfe bad "
                        "utf-8\"="),
              std::string::npos)
        << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6) << text;
}

TEST(RegistryText, LongByteListsWrapLikeExportFilesAndReadBack)
{
    RegistryHives hives;
    std::vector<BYTE> blob(300);
    for (size_t i = 0; i < blob.size(); ++i)
        blob[i] = static_cast<BYTE>(i * 7);
    hives[kHiveClassesRoot].AddSubkey("CLSID")->SetValue("Blob", REG_BINARY, blob);
    std::string text = RoundTrip(hives);
    size_t start = 0, lines = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
        start = end + 1;
        ++lines;
    }
    EXPECT_GT(lines, 10u);
}

TEST(RegistryText, ReadsHandWrittenFiles)
{
    // A byte-order mark, CRLF line ends, comments, indentation, upper-case hex,
    // short dwords, continued byte lists and a key listed twice.
    std::string text = "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
                       "\r\n"
                       "; the server's settings\r\n"
                       "[hkey_local_machine\\SOFTWARE\\Tessary Quorle\\Wardlake]\r\n"
                       "\"Port\"=DWORD:2A\r\n"
                       "  \"Blob\" = hex:0A,0b,\\\r\n"
                       "    0C\r\n"
                       "\"Path\"=\"C:\\\\wl\"   \r\n"
                       "[HKEY_LOCAL_MACHINE\\software\\Tessary Quorle\\Wardlake\\Virtual Servers]\r\n"
                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TESSARY QUORLE\\WARDLAKE]\r\n"
                       "\"PORT\"=dword:00000007\r\n"
                       "\"Spaces\"=\"  kept  \"\r\n";
    RegistryHives hives = Parse(text);
    CRegistryNode* key = hives[kHiveLocalMachine].Find({"software", "tessary quorle", "wardlake"});
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->Values().size(), 4u);
    EXPECT_EQ(key->Values()[0].name, "Port"); // first spelling kept, later data wins
    EXPECT_EQ(key->Values()[0].data, (std::vector<BYTE>{7, 0, 0, 0}));
    EXPECT_EQ(key->Values()[1].data, (std::vector<BYTE>{0x0a, 0x0b, 0x0c}));
    EXPECT_EQ(key->Values()[2].data, Text("C:\\wl"));
    EXPECT_EQ(key->Values()[3].data, Text("  kept  "));
    ASSERT_EQ(key->Subkeys().size(), 1u);
    EXPECT_EQ(key->Subkeys()[0]->Name(), "Virtual Servers");
}

TEST(RegistryText, HeaderOnlyIsAnEmptyRegistry)
{
    RegistryHives hives = Parse("Windows Registry Editor Version 5.00\n");
    EXPECT_TRUE(hives[kHiveLocalMachine].Subkeys().empty());
    EXPECT_TRUE(hives[kHiveClassesRoot].Values().empty());
}

TEST(RegistryText, RefusesDamageWithItsLineAndReason)
{
    struct Case {
        std::string text;
        size_t line;
        std::string reason;
    };
    const std::string h = "Windows Registry Editor Version 5.00\n";
    const std::string k = h + "[HKEY_LOCAL_MACHINE\\A]\n";
    const Case cases[] = {
        {"", 1, "first line"},
        {"REGEDIT4\n", 1, "first line"},
        {std::string("\xFF\xFEW\0i\0", 6), 1, "UTF-16"},
        {h + "\"a\"=\"b\"\n", 2, "before the first key"},
        {h + "[HKEY_CURRENT_USER\\A]\n", 2, "unknown root key"},
        {h + "[HKEY_LOCAL_MACHINE\\A\n", 2, "must end with ']'"},
        {h + "[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 2, "invalid key name"},
        {h + "[HKEY_LOCAL_MACHINE\\" + std::string(256, 'x') + "]\n", 2, "invalid key name"},
        {h + "[-HKEY_LOCAL_MACHINE\\A]\n", 2, "deletion"},
        {k + "\"a\"=-\n", 3, "deletion"},
        {k + "\"a\"=\"unterminated\n", 3, "unterminated"},
        {k + "\"a\"=\"bad \\q escape\"\n", 3, "unknown escape"},
        {k + "\"a\"=\"\\x4\"\n", 3, "two hex digits"},
        {k + "\"a\"=\"b\" trailing\n", 3, "after the closing quote"},
        {k + "\"a\" \"b\"\n", 3, "expected '='"},
        {k + "\"a\"=dword:123456789\n", 3, "dword"},
        {k + "\"a\"=dword:\n", 3, "dword"},
        {k + "\"a\"=hex:01,,02\n", 3, "hex byte"},
        {k + "\"a\"=hex:01 02\n", 3, "','"},
        {k + "\"a\"=hex:zz\n", 3, "hex byte"},
        {k + "\"a\"=hex:01,\\\n", 3, "past the end"},
        {k + "\"a\"=hex:01,\\\n  02,\\ x\n", 4, "after '\\'"},
        {k + "\"a\"=hex(2:01\n", 3, "value type"},
        {k + "\"a\"=str(2)\"x\"\n", 3, "value type"},
        {k + "\"a\"=str(2):x\n", 3, "quoted text"},
        {k + "\"a\"=qword:1\n", 3, "unknown value form"},
        {k + "garbage\n", 3, "unexpected text"},
    };
    for (const auto& c : cases) {
        RegistryHives hives;
        RegistryParseError error;
        EXPECT_FALSE(ParseRegistryText(c.text, hives, error)) << c.text;
        EXPECT_EQ(error.line, c.line) << c.text;
        EXPECT_NE(error.reason.find(c.reason), std::string::npos) << c.text << " gave: " << error.reason;
    }
}

TEST(RegistryText, KeyNameRules)
{
    EXPECT_TRUE(IsValidRegistryKeyName("Virtual Servers"));
    EXPECT_TRUE(IsValidRegistryKeyName("{49C68154-EF9B-41b7-B2A7-D0570983A20A}"));
    EXPECT_TRUE(IsValidRegistryKeyName(std::string(255, 'k')));
    EXPECT_TRUE(IsValidRegistryKeyName("odd ] [ \" ; names"));
    EXPECT_FALSE(IsValidRegistryKeyName(""));
    EXPECT_FALSE(IsValidRegistryKeyName(std::string(256, 'k')));
    EXPECT_FALSE(IsValidRegistryKeyName("a\\b"));
    EXPECT_FALSE(IsValidRegistryKeyName("line\nend"));
    EXPECT_FALSE(IsValidRegistryKeyName("tab\t"));
}

TEST(RegistryText, KeyNamesWithBracketsAndSpacesRoundTrip)
{
    RegistryHives hives;
    hives[kHiveLocalMachine].AddSubkey(" lead")->AddSubkey("trail] ")->SetValue("v", REG_SZ, Text("x"));
    hives[kHiveLocalMachine].AddSubkey(";not a comment");
    RoundTrip(hives);
}

} // namespace
