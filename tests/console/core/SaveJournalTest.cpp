#include "console/core/SaveJournal.h"

#include "console/core/ServerConfiguration.h"
#include "console/core/ServiceCommands.h"
#include "console/core/StoredConfiguration.h"
#include "platform/win/StateRoot.h"
#include "tests/console/core/ConsoleRegistry.h"
#include "tests/console/core/FakeServiceController.h"
#include "tests/console/widgets/RecordingPrompt.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sys/stat.h>

using namespace consoletest;
namespace fs = std::filesystem;

namespace {

enum class State { Moving, Finishing };
// What an administrator did between the crash and the next console start.
enum class Act {
    None, PointNew, PointOld, DeleteRecord, MoveBack, RemoveFolder, OtherRecord, StateRemoved, StateChanged,
    EntryRemoved, Restored
};

// A folder's files and their text, one level deep: what "the same data" means here.
using Content = std::map<std::string, std::string>;

Content Read(const std::string& folder)
{
    Content content;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.is_regular_file())
            content[entry.path().filename()] = tqtest::ReadFileText(entry.path());
    return content;
}

ino_t InodeOf(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class SaveJournalTest : public tqtest::StateRootTest {
protected:
    void SetUp() override
    {
        StateRootTest::SetUp();
        SetMainText("Path", Install(""));
        SetMainText("StorageFolder", Install("default/"));
    }
    std::string Install(const std::string& name) const { return Root() + "/install/" + name; }

    // The save renames A to A2 across file systems (a copy) and B to B2 (a
    // rename), and adds N; it is killed once every move is made, before or
    // after the new list is stored.
    void CrashedSave(State state)
    {
        for (const char* name : {"default", "A", "B"}) {
            fs::create_directories(Install(name));
            tqtest::WriteFileText(Install(name) + "/" + (name[0] == 'd' ? "appmgr.ad" : "userlist.fdb"),
                                  std::string(name) + " data");
        }
        StoreServer("A", 35001, Install("A/"));
        StoreServer("B", 35002, Install("B/"));
        std::vector<CFolderMove> moves;
        moves.emplace_back("A", "A2", Install("A/"), copyTo_ + "/");
        moves.emplace_back("B", "B2", Install("B/"), Install("B2/"));
        moves.emplace_back("", "N", "", Install("N/"));
        CSaveJournal journal(std::move(moves));
        const CFolderMove* failed = nullptr;
        ASSERT_EQ(journal.Begin(failed), S_OK);
        ASSERT_EQ(journal.Apply(Install("default/"), failed), S_OK);
        if (state == State::Finishing) {
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, ServerKey("A").c_str());
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, ServerKey("B").c_str());
            StoreServer("A2", 35001, copyTo_ + "/");
            StoreServer("B2", 35002, Install("B2/"));
            StoreServer("N", 35003, Install("N/"));
            SetText(CSaveJournal::kKey, "State", "finishing");
        }
    } // the console dies: its locks go with it

    void Do(Act act, State state)
    {
        const bool moving = state == State::Moving;
        const std::string a = moving ? "A" : "A2", b = moving ? "B" : "B2";
        switch (act) {
        case Act::None:
            break;
        case Act::PointNew:
            StoreServer(a, 35001, copyTo_ + "/");
            StoreServer(b, 35002, Install("B2/"));
            StoreServer("N", 35003, Install("N/"));
            break;
        case Act::PointOld:
            StoreServer(a, 35001, Install("A/"));
            StoreServer(b, 35002, Install("B/"));
            break;
        case Act::DeleteRecord:
            for (const std::string& name : {a, b, std::string("N")})
                RegDeleteTreeA(HKEY_LOCAL_MACHINE, ServerKey(name).c_str());
            break;
        case Act::MoveBack:
            fs::rename(Install("B2"), Install("B"));
            break;
        case Act::RemoveFolder:
            for (const std::string& folder : {copyTo_, Install("B2"), Install("N")})
                fs::remove_all(folder);
            break;
        case Act::OtherRecord:
            // Each journaled folder that its own server's record does not name.
            StoreServer("X", 35011, moving ? copyTo_ + "/" : Install("A/"));
            StoreServer("Y", 35012, moving ? Install("B2/") : Install("B/"));
            if (moving)
                StoreServer("Z", 35013, Install("N/"));
            break;
        case Act::StateRemoved:
            DeleteJournalValue("State");
            break;
        case Act::StateChanged:
            SetText(CSaveJournal::kKey, "State", moving ? "finishing" : "moving");
            break;
        case Act::EntryRemoved:
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(CSaveJournal::kKey) + "\\1").c_str());
            break;
        case Act::Restored:
            Restore();
            break;
        }
    }

    // A copy of the registry taken now is put back after the save ended and
    // newer folders took the freed names; ext4 gives them the inode numbers
    // the journal noted.
    void Restore()
    {
        const std::string registry = RegistryFilePath();
        fs::copy_file(registry, Root() + "/backup.reg");
        std::map<std::string, ino_t> noted;
        for (const std::string& folder : Journaled())
            noted[folder] = InodeOf(folder);
        CServerConfiguration().Load();
        for (const auto& [folder, inode] : noted) {
            if (inode == 0 || fs::exists(folder))
                continue;
            // Lower free numbers are used up first, in folders kept aside.
            for (int tries = 0; tries < 2000; ++tries) {
                fs::create_directory(folder);
                if (InodeOf(folder) == inode) {
                    reused_ += fs::path(folder).filename().string() + " ";
                    break;
                }
                fs::rename(folder, fs::path(folder).parent_path() / (".spare" + std::to_string(tries)));
            }
            fs::create_directory(folder);
            tqtest::WriteFileText(folder + "/userlist.fdb", "a newer server's data");
        }
        fs::rename(Root() + "/backup.reg", registry);
    }

    std::vector<std::string> Journaled() const
    {
        return {Install("A"), copyTo_, Install("B"), Install("B2"), Install("N")};
    }

    static void DeleteJournalValue(const char* name)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, CSaveJournal::kKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        RegDeleteValueA(key, name);
        RegCloseKey(key);
    }

    tqtest::TempFolder elsewhere_{"/dev/shm"};
    std::string copyTo_ = elsewhere_.Path() + "/A2";
    std::string reused_;
};

} // namespace

TEST_F(SaveJournalTest, RecoveryNeverActsAgainstWhatTheStoredListNames)
{
    const char* const acts[] = {"none", "record to new", "record to old", "record deleted", "moved back",
                                "folder removed", "other record", "state removed", "state changed", "entry removed",
                                "restored from a copy"};
    std::string reusedAll;
    for (const State state : {State::Moving, State::Finishing})
        for (int i = 0; i < static_cast<int>(std::size(acts)); ++i) {
            const Act act = static_cast<Act>(i);
            SCOPED_TRACE(std::string(state == State::Moving ? "moving, " : "finishing, ") + acts[i]);
            CrashedSave(state);
            Do(act, state);

            // What the records name, and every journaled folder's data, before the console opens.
            std::map<std::string, Content> named, held;
            CStoredConfiguration before;
            ASSERT_EQ(before.Read(), ERROR_SUCCESS);
            for (const auto& folder : before.Folders())
                if (fs::exists(folder.folder))
                    named[folder.folder] = Read(folder.folder);
            for (const std::string& folder : Journaled())
                if (!Read(folder).empty())
                    held[folder] = Read(folder);

            CServerConfiguration config;
            const std::string box = config.Load();
            CStoredConfiguration after;
            ASSERT_EQ(after.Read(), ERROR_SUCCESS);
            for (const auto& [folder, content] : named)
                EXPECT_EQ(Read(folder), content) << folder << " is named by a record\n" << box;
            for (const auto& [folder, content] : held) {
                const bool kept = fs::exists(folder) ||
                                  std::any_of(after.Folders().begin(), after.Folders().end(),
                                              [&](const auto& f) { return Read(f.folder) == content; });
                EXPECT_TRUE(kept) << folder << " went with no copy where a record names it\n" << box;
                // The box names what no record names, but what a removed entry moved.
                const bool lost = act == Act::EntryRemoved && (folder == Install("A") || folder == copyTo_);
                if (fs::exists(folder) && !after.Protects(folder) && !lost) {
                    EXPECT_NE(box.find("\"" + folder + "\""), std::string::npos) << folder << "\n" << box;
                }
            }
            EXPECT_FALSE(KeyExists(CSaveJournal::kKey)) << box;

            // A later ordinary save works: the stray records go, a server is added.
            FakeServiceController service;
            service.query = {ServiceQuery::Outcome::State, SERVICE_RUNNING};
            RecordingPrompt prompt;
            CServiceCommands commands{service, prompt, [](const std::string&) {}, [](int) {}};
            for (size_t i = config.Count(); i-- > 1;)
                if (config.At(i)->Name().size() == 1 && std::string("XYZ").find(config.At(i)->Name()) != std::string::npos)
                    config.Delete(i);
            config.NewServer(prompt);
            EXPECT_EQ(config.SaveConfiguration(commands, prompt, {}), CServerConfiguration::SaveResult::Saved)
                << (prompt.records.empty() ? "" : prompt.records.back().text);

            reusedAll += reused_;
            reused_.clear();
            fs::remove_all(Install(""));
            fs::remove_all(copyTo_);
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, tq::kVirtualServersKey);
        }
    // The restored cases meant something only where a newer folder took a noted inode number.
    EXPECT_NE(reusedAll, "") << "no inode number came back";
}
