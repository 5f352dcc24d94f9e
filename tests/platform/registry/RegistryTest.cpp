// The registry calls against a private state root: values and keys, sizes and
// enumeration, deletion and access rules, and the file behind them.
#include "tests/platform/registry/RegistryTestSupport.h"

#include "platform/registry/RegistryText.h"
#include "platform/registry/RegistryTransaction.h"

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr LONG OK = 0;
constexpr LONG E(DWORD e)
{
    return static_cast<LONG>(e);
}

using Names = std::vector<std::string>;

TEST_F(RegistryTest, MissingFileIsAnEmptyRegistryAndReadsDoNotCreateIt)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key), E(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(key, nullptr);
    DWORD subKeys = 9, values = 9;
    EXPECT_EQ(RegQueryInfoKeyA(HKEY_CLASSES_ROOT, &subKeys, &values), OK);
    EXPECT_EQ(subKeys, 0u);
    EXPECT_EQ(values, 0u);
    EXPECT_EQ(RegQueryValueExA(HKEY_LOCAL_MACHINE, "x", nullptr, nullptr, nullptr, nullptr), E(ERROR_FILE_NOT_FOUND));
    struct stat st {};
    EXPECT_NE(::stat(RegistryFilePath().c_str(), &st), 0);
    EXPECT_EQ(RegistryFilePath(), Root() + "/registry.reg");
}

TEST_F(RegistryTest, EachTypeRoundTripsThroughTheFile)
{
    HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tessary Quorle\\Wardlake");
    const BYTE guid[16] = {0x49, 0xc6, 0x81, 0x54, 0xef, 0x9b, 0x41, 0xb7, 0xb2, 0xa7, 0xd0, 0x57, 0x09, 0x83, 0xa2, 0x0a};
    const BYTE odd[3] = {1, 2, 3};
    EXPECT_EQ(SetText(key, "StorageFolder", "/srv/wardlake/"), OK);
    EXPECT_EQ(SetText(key, "Expand", "%HOME%/wl", REG_EXPAND_SZ), OK);
    EXPECT_EQ(SetDword(key, "Port", 34347), OK);
    EXPECT_EQ(RegSetValueExA(key, nullptr, 0, REG_BINARY, guid, sizeof guid), OK);
    EXPECT_EQ(RegSetValueExA(key, "None", 0, REG_NONE, nullptr, 0), OK);
    EXPECT_EQ(RegSetValueExA(key, "EmptyText", 0, REG_SZ, nullptr, 0), OK);
    EXPECT_EQ(RegSetValueExA(key, "ShortDword", 0, REG_DWORD, odd, sizeof odd), OK);
    EXPECT_EQ(RegSetValueExA(key, "NoNul", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3), OK);

    std::string text = FileText();
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tessary Quorle\\Wardlake]\n"
                        "\"StorageFolder\"=\"/srv/wardlake/\"\n"
                        "\"Expand\"=str(2):\"%HOME%/wl\"\n"
                        "\"Port\"=dword:0000862b\n"
                        "@=hex:49,c6,81,54,ef,9b,41,b7,b2,a7,d0,57,09,83,a2,0a\n"),
              std::string::npos)
        << text;
    // Read back as another process would: from a file it has not seen before.
    ReplaceFile(text);
    DWORD type = 0;
    EXPECT_EQ(GetText(key, "STORAGEFOLDER"), "/srv/wardlake/");
    EXPECT_EQ(GetBytes(key, "Expand", &type).size(), 10u);
    EXPECT_EQ(type, REG_EXPAND_SZ);
    EXPECT_EQ(GetBytes(key, "Port", &type), (std::vector<BYTE>{0x2b, 0x86, 0, 0}));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(GetBytes(key, "", &type), std::vector<BYTE>(guid, guid + 16));
    EXPECT_EQ(type, REG_BINARY);
    DWORD size = 77;
    EXPECT_EQ(RegQueryValueExA(key, "None", nullptr, &type, nullptr, &size), OK);
    EXPECT_EQ(type, REG_NONE);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(RegQueryValueExA(key, "EmptyText", nullptr, &type, nullptr, &size), OK);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(GetBytes(key, "ShortDword", &type), std::vector<BYTE>(odd, odd + 3));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(GetBytes(key, "NoNul"), (std::vector<BYTE>{'a', 'b', 'c'}));
    RegCloseKey(key);
}

TEST_F(RegistryTest, TextsWithQuotesBackslashesAndLineEndsSurviveTheFile)
{
    HKEY key = Create(HKEY_CLASSES_ROOT, "Texts");
    const std::string texts[] = {
        "say \"hello\"", "C:\\Program Files\\x\\", "two\nlines\r\n", "tab\there", "\\\\server\\share\\\"", "",
        "\xc3\xa9t\xc3\xa9 and \xff raw",
    };
    int i = 0;
    for (const auto& t : texts) {
        std::string name = "v" + std::to_string(i++) + " \"" + t + "\"";
        EXPECT_EQ(SetText(key, name.c_str(), t), OK);
    }
    ReplaceFile(FileText());
    i = 0;
    for (const auto& t : texts) {
        std::string name = "v" + std::to_string(i++) + " \"" + t + "\"";
        EXPECT_EQ(GetText(key, name.c_str()), t) << name;
    }
    // Each value is one line of the file.
    std::string text = FileText();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3 + 7 + 1) << text;
    RegCloseKey(key);
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirFirstSpelling)
{
    HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Tessary Quorle");
    EXPECT_EQ(SetDword(key, "Port", 1), OK);
    EXPECT_EQ(SetDword(key, "PORT", 2), OK);
    DWORD disposition = 0;
    HKEY again = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\TESSARY QUORLE", KEY_ALL_ACCESS, &again, &disposition),
              OK);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(GetBytes(again, "port"), (std::vector<BYTE>{2, 0, 0, 0}));
    EXPECT_EQ(ValueNames(again), Names{"Port"});
    EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE), Names{"Software"});
    HKEY viaOpen = Open(HKEY_LOCAL_MACHINE, "software\\tessary quorle");
    EXPECT_EQ(GetBytes(viaOpen, "pOrT"), (std::vector<BYTE>{2, 0, 0, 0}));
    EXPECT_EQ(RegDeleteValueA(again, "PoRt"), OK);
    EXPECT_EQ(ValueNames(key), Names{});
    RegCloseKey(viaOpen);
    RegCloseKey(again);
    RegCloseKey(key);
}

TEST_F(RegistryTest, EnumerationFollowsCreationOrderAcrossRereads)
{
    HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tessary Quorle\\Wardlake\\Virtual Servers");
    for (const char* name : {"zeta", "Alpha", "mid"})
        RegCloseKey(Create(key, name));
    for (const char* name : {"z", "a", "m"})
        EXPECT_EQ(SetDword(key, name, 1), OK);
    EXPECT_EQ(SetDword(key, "z", 5), OK); // rewriting keeps the place
    ReplaceFile(FileText());
    EXPECT_EQ(SubkeyNames(key), (Names{"zeta", "Alpha", "mid"}));
    EXPECT_EQ(ValueNames(key), (Names{"z", "a", "m"}));
    DWORD subKeys = 0, values = 0;
    EXPECT_EQ(RegQueryInfoKeyA(key, &subKeys, &values), OK);
    EXPECT_EQ(subKeys, 3u);
    EXPECT_EQ(values, 3u);
    char name[16];
    DWORD size = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key, 3, name, &size), E(ERROR_NO_MORE_ITEMS));
    size = sizeof name;
    EXPECT_EQ(RegEnumValueA(key, 3, name, &size, nullptr, nullptr, nullptr, nullptr), E(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(RegDeleteKeyA(key, "Alpha"), OK);
    EXPECT_EQ(SubkeyNames(key), (Names{"zeta", "mid"}));
    RegCloseKey(key);
}

TEST_F(RegistryTest, SmallBuffersGetMoreDataWithTheSizeNeeded)
{
    HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tessary Quorle\\Wardlake");
    EXPECT_EQ(SetText(key, "StorageFolder", "/srv/wl"), OK); // 8 bytes with NUL
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "StorageFolder", nullptr, &type, nullptr, &size), OK);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 8u);
    BYTE buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), BYTE('#'));
    size = 7;
    type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "StorageFolder", nullptr, &type, buffer, &size), E(ERROR_MORE_DATA));
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(buffer[0], BYTE('#'));
    size = 8;
    EXPECT_EQ(RegQueryValueExA(key, "StorageFolder", nullptr, &type, buffer, &size), OK);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "/srv/wl");
    EXPECT_EQ(RegQueryValueExA(key, "StorageFolder", nullptr, nullptr, buffer, nullptr), E(ERROR_INVALID_PARAMETER));

    RegCloseKey(Create(key, "Virtual Servers"));
    char name[32];
    size = 15; // "Virtual Servers" is 15 characters: no room for the NUL
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &size), E(ERROR_MORE_DATA));
    EXPECT_EQ(size, 15u);
    size = 16;
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &size), OK);
    EXPECT_EQ(size, 15u);
    EXPECT_STREQ(name, "Virtual Servers");

    size = 5;
    DWORD dataSize = 3;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &size, nullptr, &type, buffer, &dataSize), E(ERROR_MORE_DATA));
    EXPECT_EQ(size, 13u); // the name did not fit
    size = sizeof name;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &size, nullptr, &type, buffer, &dataSize), E(ERROR_MORE_DATA));
    EXPECT_STREQ(name, "StorageFolder");
    EXPECT_EQ(dataSize, 8u);
    size = sizeof name;
    dataSize = 0;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &size, nullptr, &type, nullptr, &dataSize), OK);
    EXPECT_EQ(dataSize, 8u);
    RegCloseKey(key);
}

TEST_F(RegistryTest, CreateMakesMissingParentsAndTellsWhatItDid)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{49C68154-EF9B-41b7-B2A7-D0570983A20A}", KEY_ALL_ACCESS, &key,
                              &disposition),
              OK);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    RegCloseKey(key);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "\\CLSID\\\\{49C68154-EF9B-41b7-B2A7-D0570983A20A}\\", KEY_READ, &key,
                              &disposition),
              OK);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    HKEY self = nullptr;
    EXPECT_EQ(RegOpenKeyExA(key, nullptr, 0, KEY_READ, &self), OK);
    EXPECT_EQ(RegOpenKeyExA(key, "", 0, KEY_READ, &self), OK);
    RegCloseKey(self);
    RegCloseKey(key);
    EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT), Names{"CLSID"});
    EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "bad\nname", KEY_ALL_ACCESS, &key), E(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, std::string(256, 'n').c_str(), KEY_ALL_ACCESS, &key),
              E(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "x", KEY_ALL_ACCESS, nullptr), E(ERROR_INVALID_PARAMETER));
}

TEST_F(RegistryTest, DeletingKeysWithAndWithoutSubkeys)
{
    HKEY main = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tessary Quorle\\Wardlake");
    HKEY servers = Create(main, "Virtual Servers");
    HKEY one = Create(servers, "One");
    EXPECT_EQ(SetDword(one, "Port", 4000), OK);
    RegCloseKey(Create(servers, "Two\\Deeper"));

    EXPECT_EQ(RegDeleteKeyA(main, "Virtual Servers"), E(ERROR_ACCESS_DENIED));
    EXPECT_EQ(RegDeleteKeyA(main, "Nothing"), E(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegDeleteKeyA(main, nullptr), E(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegDeleteKeyA(servers, "One"), OK); // values do not matter
    EXPECT_EQ(GetText(one, "Port"), "<error " + std::to_string(ERROR_KEY_DELETED) + ">");
    EXPECT_EQ(SetDword(one, "Port", 1), E(ERROR_KEY_DELETED));
    HKEY sub = nullptr;
    EXPECT_EQ(RegCreateKeyExA(one, "Sub", KEY_ALL_ACCESS, &sub), E(ERROR_KEY_DELETED));
    // A key of the same name made anew is not the one the old handle had.
    RegCloseKey(Create(servers, "One"));
    EXPECT_EQ(RegQueryInfoKeyA(one, nullptr, nullptr), E(ERROR_KEY_DELETED));
    EXPECT_EQ(RegCloseKey(one), OK);

    EXPECT_EQ(RegDeleteTreeA(main, "Virtual Servers"), OK);
    EXPECT_EQ(RegOpenKeyExA(main, "Virtual Servers", 0, KEY_READ, &sub), E(ERROR_FILE_NOT_FOUND));
    char name[8];
    DWORD size = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(servers, 0, name, &size), E(ERROR_KEY_DELETED));
    EXPECT_EQ(RegDeleteTreeA(main, "Virtual Servers"), E(ERROR_FILE_NOT_FOUND));
    RegCloseKey(servers);

    // With no subkey the tree call empties the key and keeps it.
    EXPECT_EQ(SetDword(main, "AllowFileDeletes", 1), OK);
    RegCloseKey(Create(main, "Snapins"));
    EXPECT_EQ(RegDeleteTreeA(main, nullptr), OK);
    DWORD subKeys = 1, values = 1;
    EXPECT_EQ(RegQueryInfoKeyA(main, &subKeys, &values), OK);
    EXPECT_EQ(subKeys + values, 0u);
    // "" deletes the key itself; a hive cannot go.
    EXPECT_EQ(RegDeleteKeyA(main, ""), OK);
    EXPECT_EQ(RegQueryInfoKeyA(main, nullptr, nullptr), E(ERROR_KEY_DELETED));
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), E(ERROR_ACCESS_DENIED));
    RegCloseKey(main);
    HKEY software = Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tessary Quorle");
    EXPECT_EQ(SubkeyNames(software), Names{});
    RegCloseKey(software);
}

TEST_F(RegistryTest, RecursiveDeleteByEnumeratingIndexZero)
{
    // The console clears its list this way: delete subkey 0 until none is left.
    HKEY servers = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tessary Quorle\\Wardlake\\Virtual Servers");
    for (const char* name : {"a", "b", "c", "d"})
        RegCloseKey(Create(servers, name));
    char name[256];
    DWORD size = sizeof name;
    int deleted = 0;
    while (RegEnumKeyExA(servers, 0, name, &size) == OK) {
        ASSERT_EQ(RegDeleteKeyA(servers, name), OK);
        size = sizeof name;
        ++deleted;
    }
    EXPECT_EQ(deleted, 4);
    RegCloseKey(servers);
}

TEST_F(RegistryTest, ReadOnlyHandlesRefuseChanges)
{
    RegCloseKey(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tessary Quorle\\Wardlake\\Snapins"));
    HKEY key = Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tessary Quorle\\Wardlake", KEY_READ);
    std::string before = FileText();
    EXPECT_EQ(SetDword(key, "Port", 1), E(ERROR_ACCESS_DENIED));
    EXPECT_EQ(RegDeleteValueA(key, "Port"), E(ERROR_ACCESS_DENIED));
    HKEY sub = nullptr;
    EXPECT_EQ(RegCreateKeyExA(key, "New", KEY_ALL_ACCESS, &sub), E(ERROR_ACCESS_DENIED));
    EXPECT_EQ(RegDeleteKeyA(key, "Snapins"), E(ERROR_ACCESS_DENIED));
    EXPECT_EQ(RegDeleteTreeA(key, nullptr), E(ERROR_ACCESS_DENIED));
    // Opening an existing subkey needs no right to create.
    EXPECT_EQ(RegCreateKeyExA(key, "Snapins", KEY_READ | KEY_WRITE, &sub), OK);
    EXPECT_EQ(SetText(sub, "Tool", "/opt/tool.so"), OK);
    RegCloseKey(sub);
    HKEY writable = Open(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_WRITE);
    EXPECT_EQ(RegDeleteValueA(writable, "Missing"), E(ERROR_FILE_NOT_FOUND));
    RegCloseKey(writable);
    RegCloseKey(key);
    EXPECT_NE(FileText(), before);
}

TEST_F(RegistryTest, BadHandlesAndArguments)
{
    HKEY key = Create(HKEY_LOCAL_MACHINE, "K");
    EXPECT_EQ(RegCloseKey(key), OK);
    EXPECT_EQ(RegCloseKey(key), E(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegCloseKey(nullptr), E(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), OK);
    EXPECT_EQ(RegQueryInfoKeyA(nullptr, nullptr, nullptr), E(ERROR_INVALID_HANDLE));
    EXPECT_EQ(SetDword(nullptr, "x", 1), E(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegSetValueExA(HKEY_LOCAL_MACHINE, "x", 0, REG_BINARY, nullptr, 4), E(ERROR_NOACCESS));
    EXPECT_EQ(RegSetValueExA(HKEY_LOCAL_MACHINE, "x", 1, REG_BINARY, nullptr, 0), E(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegSetValueExA(HKEY_LOCAL_MACHINE, std::string(16384, 'v').c_str(), 0, REG_NONE, nullptr, 0),
              E(ERROR_INVALID_PARAMETER));
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExA(HKEY_LOCAL_MACHINE, "x", &reserved, nullptr, nullptr, nullptr),
              E(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegEnumKeyExA(HKEY_LOCAL_MACHINE, 0, nullptr, nullptr), E(ERROR_INVALID_PARAMETER));
}

TEST_F(RegistryTest, DamagedFileFailsEveryCallAndIsLeftAlone)
{
    HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tessary Quorle");
    EXPECT_EQ(SetDword(key, "LogExtraInfo", 1), OK);
    const std::string damaged = "Windows Registry Editor Version 5.00\n\n"
                                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tessary Quorle]\n"
                                "\"LogExtraInfo\"=dword:00000001\n"
                                "\"Half\"=\"written\n";
    ReplaceFile(damaged);
    const LONG corrupt = E(ERROR_REGISTRY_CORRUPT);
    HKEY other = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &other), corrupt);
    EXPECT_EQ(GetText(key, "LogExtraInfo"), "<error " + std::to_string(corrupt) + ">");
    EXPECT_EQ(SetDword(key, "LogExtraInfo", 0), corrupt);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "New", KEY_ALL_ACCESS, &other), corrupt);
    EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, nullptr), corrupt);
    EXPECT_EQ(RegDeleteValueA(key, "LogExtraInfo"), corrupt);
    EXPECT_EQ(RegQueryInfoKeyA(HKEY_CLASSES_ROOT, nullptr, nullptr), corrupt);
    EXPECT_EQ(FileText(), damaged);
    EXPECT_NE(RegistryFileError().find("line 5: unterminated quoted text"), std::string::npos) << RegistryFileError();

    // Mended by hand, it is used again.
    ReplaceFile(damaged.substr(0, damaged.rfind("\"Half\"")));
    EXPECT_EQ(GetBytes(key, "LogExtraInfo"), (std::vector<BYTE>{1, 0, 0, 0}));
    EXPECT_EQ(RegistryFileError(), "");
    RegCloseKey(key);
}

TEST_F(RegistryTest, EmptyOrForeignFilesAreDamageNotAnEmptyRegistry)
{
    for (const std::string& text : {std::string(), std::string("\xFF\xFEW\0i\0n\0", 8)}) {
        ReplaceFile(text);
        EXPECT_EQ(RegQueryInfoKeyA(HKEY_LOCAL_MACHINE, nullptr, nullptr), E(ERROR_REGISTRY_CORRUPT));
        EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, "x", 1), E(ERROR_REGISTRY_CORRUPT));
        EXPECT_EQ(FileText(), text);
    }
}

TEST_F(RegistryTest, FileIsReplacedNotRewrittenInPlace)
{
    EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, "a", 1), OK);
    struct stat before {};
    ASSERT_EQ(::stat(RegistryFilePath().c_str(), &before), 0);
    EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, "a", 2), OK);
    struct stat after {};
    ASSERT_EQ(::stat(RegistryFilePath().c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
    struct stat temp {};
    EXPECT_NE(::stat((RegistryFilePath() + ".tmp").c_str(), &temp), 0);
    // Writing what is already there leaves the file alone.
    EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, "a", 2), OK);
    ASSERT_EQ(::stat(RegistryFilePath().c_str(), &before), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(RegistryTest, ReplacedFileKeepsItsModeAndOwner)
{
    EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, "a", 1), OK);
    const std::string path = RegistryFilePath();
    ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
    if (::geteuid() == 0) { // only root may give it away
        ASSERT_EQ(::chown(path.c_str(), 4321, 8765), 0);
    }
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    const mode_t mask = ::umask(022);
    EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, "a", 2), OK);
    ::umask(mask);
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0664u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
}

TEST_F(RegistryTest, ChangesOfAnotherProcessAreSeenByTheNextCall)
{
    HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tessary Quorle\\Wardlake");
    EXPECT_EQ(SetText(key, "StorageFolder", "/old"), OK);
    HKEY servers = Create(key, "Virtual Servers");
    EXPECT_EQ(GetText(key, "StorageFolder"), "/old");
    int code = InChild([] {
        HKEY k = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tessary Quorle\\Wardlake", 0, KEY_ALL_ACCESS, &k) != 0)
            return 1;
        const char text[] = "/new";
        if (RegSetValueExA(k, "StorageFolder", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text) != 0)
            return 2;
        return RegDeleteTreeA(k, "Virtual Servers") == 0 ? 0 : 3;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(GetText(key, "StorageFolder"), "/new");
    EXPECT_EQ(RegQueryInfoKeyA(servers, nullptr, nullptr), E(ERROR_KEY_DELETED));
    RegCloseKey(servers);
    RegCloseKey(key);
}

TEST_F(RegistryTest, RegistryFileFollowsTheStateRoot)
{
    EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, "here", 1), OK);
    tqtest::TempFolder elsewhere;
    ::setenv("TQ_STATE_ROOT", elsewhere.Path().c_str(), 1);
    EXPECT_EQ(RegQueryValueExA(HKEY_LOCAL_MACHINE, "here", nullptr, nullptr, nullptr, nullptr),
              E(ERROR_FILE_NOT_FOUND));
    ::setenv("TQ_STATE_ROOT", Root().c_str(), 1);
    EXPECT_EQ(RegQueryValueExA(HKEY_LOCAL_MACHINE, "here", nullptr, nullptr, nullptr, nullptr), OK);
}

} // namespace

TEST_F(RegistryTest, ATransactionWritesAllItsChangesOnceOrNone)
{
    HKEY list = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\List");
    HKEY gone = Create(list, "Gone");
    SetText(gone, "Folder", "/gone/");
    const std::string before = FileText();

    // A change that fails part way writes nothing, and what was applied before it is not seen.
    CRegistryTransaction failing;
    failing.DeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\List\\Gone");
    failing.CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\List\\New");
    failing.SetText(HKEY_LOCAL_MACHINE, "SOFTWARE\\List\\Missing", "Folder", "/x/");
    EXPECT_EQ(failing.Commit(), E(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FileText(), before);
    EXPECT_EQ(SubkeyNames(list), Names{"Gone"});
    EXPECT_EQ(GetText(gone, "Folder"), "/gone/");

    CRegistryTransaction tx;
    tx.DeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\List\\Gone");
    tx.DeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\List\\Never There");
    tx.CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\List\\New");
    tx.SetText(HKEY_LOCAL_MACHINE, "SOFTWARE\\List\\New", "Folder", "/new/");
    EXPECT_FALSE(tx.Empty());
    struct stat st {};
    ASSERT_EQ(::stat(RegistryFilePath().c_str(), &st), 0);
    EXPECT_EQ(tx.Commit(), OK);
    EXPECT_TRUE(tx.Empty());
    struct stat after {};
    ASSERT_EQ(::stat(RegistryFilePath().c_str(), &after), 0);
    EXPECT_NE(st.st_ino, after.st_ino); // one replacement of the file
    EXPECT_EQ(SubkeyNames(list), Names{"New"});
    HKEY made = Open(list, "New");
    EXPECT_EQ(GetText(made, "Folder"), "/new/");
    // Handles of deleted keys know it.
    EXPECT_EQ(RegQueryInfoKeyA(gone, nullptr, nullptr), E(ERROR_KEY_DELETED));
    RegCloseKey(made);
    RegCloseKey(gone);
    RegCloseKey(list);
}
