// The running program killed at random moments under write load from
// several clients: after every restart each write a client was told had
// succeeded is there, both lists pass SQLite's integrity check, and the
// settings file loads. TQ_CRASH_ROUNDS sets the number of kills (the soak
// run sets some hundreds), TQ_CRASH_SEED the random choices.
#include "tests/server/host/program/TqwlProcess.h"

#include "bench/RpcSession.h"

#include "server/dispatch/WinFileImpl.h"
#include "server/storage/attributes/Attribute.h"
#include "server/storage/attributes/AttributeDirectory.h"
#include "server/storage/container/DynIO.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <thread>

using tqtest::InvokeOverRpc;
using tqtest::RunProgram;
using tqtest::TqwlProcess;

namespace {

constexpr int kPort = 34347;
constexpr DWORD kItemAppId = 7;
constexpr int kKeysPerClient = 6;
constexpr int kFiles = 4;
constexpr LONG kUpdateIntervalId = 11004;

int EnvInt(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

// Bytes that tell one write from every other.
std::string Content(std::uint64_t seed, size_t size)
{
    std::string out(size, '\0');
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        c = static_cast<char>(x);
    }
    return out;
}

// One value a single client writes, one call at a time: after a kill the
// store holds the last acknowledged value or the one still unanswered.
struct Slot {
    std::optional<std::string> acked;
    std::optional<std::string> pending;

    // Whether found may be what the store holds; the store's value is the
    // acknowledged one from then on.
    bool Settle(const std::optional<std::string>& found)
    {
        const bool allowed = found == acked || (pending && found == pending);
        if (allowed)
            acked = found;
        pending.reset();
        return allowed;
    }
};

struct Figures {
    long acked = 0;
    long killedMidCall = 0;
};

// The writes of all rounds so far and what each client has in flight.
class Model {
public:
    std::mutex lock;
    std::set<std::string> users;
    Slot defaultGroup{std::string("Default"), std::nullopt};
    std::map<std::string, Slot> items; // computer name -> its item
    Slot interval;
    std::map<std::string, Slot> files;
    std::map<std::string, long> acked; // per kind of write
    long refused = 0;
    std::string firstRefusal;
};

class Client {
public:
    Client(Model& model, int index, std::uint64_t seed, const std::atomic<bool>& stop)
        : model_(model), index_(index), random_(seed), stop_(stop)
    {
    }

    void Run(int round)
    {
        // One connection for the round: a connection per call would leave
        // thousands of local ports waiting, one of them perhaps a port the
        // next test needs.
        if (session_.Connect(kPort) != RPC_S_OK)
            return;
        for (int n = 0; !stop_; ++n)
            if (!Step(round, n))
                return;
    }

private:
    // One write; false when the server is gone.
    bool Step(int round, int n)
    {
        switch (index_) {
        case 0: return WriteUser(round, n);
        case 1:
        case 2: return WriteItem(round, n);
        default: return n % 2 == 0 ? WriteSetting(round, n) : WriteFile(round, n);
        }
    }

    // Calls and books the answer; the slot's pending value stays when the
    // server died before it answered.
    bool Book(CInvokeData& request, const char* kind, Slot* slot, const std::string& value,
              const std::function<void()>& onAck = {})
    {
        if (slot != nullptr) {
            std::lock_guard<std::mutex> guard(model_.lock);
            slot->pending = value;
        }
        CInvokeData reply;
        LONG procedure = 0;
        if (!session_.Invoke(request, reply, &procedure) || procedure != 0)
            return false;
        const HRESULT result = reply.result;
        std::lock_guard<std::mutex> guard(model_.lock);
        if (result != S_OK) {
            if (model_.refused++ == 0)
                model_.firstRefusal = std::string(kind) + " answered " + std::to_string(result);
            if (slot != nullptr)
                slot->pending.reset(); // refused: not in the store
            return true;
        }
        ++model_.acked[kind];
        if (slot != nullptr) {
            slot->acked = value;
            slot->pending.reset();
        }
        if (onAck)
            onAck();
        return true;
    }

    bool WriteUser(int round, int n)
    {
        if (n % 7 == 5) {
            CInvokeData r(2012);
            r.PushInString("Other");
            return Book(r, "CreateTessaryGroup", nullptr, "Other");
        }
        if (n % 7 == 6) {
            // A transaction of the user list: the default group flips.
            const std::string group = (n / 7) % 2 == 0 ? "Other" : "Default";
            CInvokeData r(2027);
            r.PushInString(group.c_str());
            return Book(r, "SetDefaultGroup", &model_.defaultGroup, group);
        }
        const std::string user = "u" + std::to_string(round) + "x" + std::to_string(n);
        CInvokeData r(2004);
        r.PushInString(user.c_str());
        return Book(r, "CreateUser", nullptr, user, [&] { model_.users.insert(user); });
    }

    bool WriteItem(int round, int n)
    {
        const std::string computer = "C" + std::to_string(index_) + "K" + std::to_string(random_() % kKeysPerClient);
        const size_t size = 100 + random_() % (60 * 1024 - 100 + 1);
        const std::string data = Content((std::uint64_t(round) << 32) ^ (std::uint64_t(index_) << 24) ^ n, size);
        CInvokeData r(4010);
        r.PushInString(computer.c_str());
        r.PushInDword(kItemAppId);
        r.PushInDword(1);
        r.PushInBytes(data.data(), static_cast<DWORD>(data.size()));
        Slot* slot;
        {
            std::lock_guard<std::mutex> guard(model_.lock);
            slot = &model_.items[computer];
        }
        return Book(r, "SetComputerInformation", slot, data);
    }

    bool WriteSetting(int round, int n)
    {
        const DWORD value = static_cast<DWORD>(1000 + round * 10000 + n);
        CInvokeData r(5);
        r.PushInDword(value);
        return Book(r, "SetUpdateInterval", &model_.interval, std::to_string(value));
    }

    bool WriteFile(int round, int n)
    {
        const std::string name = "f" + std::to_string(random_() % kFiles) + ".bin";
        const std::string data = Content((std::uint64_t(round) << 32) ^ 0xF00000u ^ n, 1 + random_() % 100000);
        CInvokeData r(1011);
        r.PushInString(name.c_str());
        r.PushInBytes(data.data(), static_cast<DWORD>(data.size()));
        Slot* slot;
        {
            std::lock_guard<std::mutex> guard(model_.lock);
            slot = &model_.files[name];
        }
        return Book(r, "WriteWholeFile", slot, data);
    }

    Model& model_;
    tqbench::RpcSession session_;
    int index_;
    std::mt19937_64 random_;
    const std::atomic<bool>& stop_;
};

// A database as the next open finds it (a journal a kill left is rolled back).
class Database {
public:
    explicit Database(const std::string& path) { ok_ = sqlite3_open(path.c_str(), &db_) == SQLITE_OK; }
    ~Database() { sqlite3_close(db_); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Every row's first column as bytes.
    std::vector<std::string> Column(const std::string& sql, const std::string& parameter = {}) const
    {
        std::vector<std::string> out;
        sqlite3_stmt* s = nullptr;
        if (!ok_ || sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
            out.push_back("<error: " + std::string(sqlite3_errmsg(db_)) + ">");
            return out;
        }
        if (!parameter.empty())
            sqlite3_bind_text(s, 1, parameter.c_str(), -1, SQLITE_TRANSIENT);
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            const auto* bytes = static_cast<const char*>(sqlite3_column_blob(s, 0));
            out.emplace_back(bytes == nullptr ? "" : std::string(bytes, sqlite3_column_bytes(s, 0)));
        }
        if (rc != SQLITE_DONE)
            out.push_back("<error: " + std::string(sqlite3_errstr(rc)) + ">");
        sqlite3_finalize(s);
        return out;
    }

private:
    sqlite3* db_ = nullptr;
    bool ok_ = false;
};

std::string Describe(const std::optional<std::string>& value)
{
    if (!value)
        return "(none)";
    return value->size() > 24 ? std::to_string(value->size()) + " bytes" : "\"" + *value + "\"";
}

class TqwlCrashTest : public tqtest::StateRootTest {
protected:
    void SetUp() override
    {
        StateRootTest::SetUp();
        storage_ = Root() + "/storage";
        ASSERT_EQ(RunProgram({TQWL_SETUP, "seed", storage_}), 0);
    }

    // Everything the model says must be in the storage folder, checked with
    // the program stopped; failures are added to *problems.
    void CheckStorage(Model& model, std::vector<std::string>* problems)
    {
        std::lock_guard<std::mutex> guard(model.lock);
        auto problem = [&](const std::string& text) {
            if (problems->size() < 20)
                problems->push_back(text);
        };
        {
            Database users(storage_ + "/userlist.fdb");
            const auto check = users.Column("PRAGMA integrity_check");
            if (check != std::vector<std::string>{"ok"})
                problem("userlist.fdb integrity: " + (check.empty() ? "" : check.front()));
            const auto listed = users.Column("SELECT user_name FROM wl_users");
            const std::set<std::string> have(listed.begin(), listed.end());
            for (const std::string& user : model.users)
                if (have.count(user) == 0)
                    problem("acknowledged user " + user + " is missing");
            {
                const auto group = users.Column("SELECT group_name FROM wl_groups WHERE is_default<>0");
                std::optional<std::string> found;
                if (group.size() == 1)
                    found = group.front();
                if (!model.defaultGroup.Settle(found))
                    problem("default group " + Describe(found) + ", acknowledged " +
                            Describe(model.defaultGroup.acked));
            }
        }
        {
            Database computers(storage_ + "/complist.fdb");
            const auto check = computers.Column("PRAGMA integrity_check");
            if (check != std::vector<std::string>{"ok"})
                problem("complist.fdb integrity: " + (check.empty() ? "" : check.front()));
            for (auto& [computer, slot] : model.items) {
                const auto rows = computers.Column("SELECT s.data FROM cl_sysinfo s INNER JOIN cl_computers c ON "
                                                   "c.cpu_id=s.cpu_id WHERE c.cpu_name=? AND s.app_id=7 AND s.id=1",
                                                   computer);
                std::optional<std::string> found;
                if (rows.size() == 1)
                    found = rows.front();
                if (rows.size() > 1 || !slot.Settle(found))
                    problem("item of " + computer + ": " + std::to_string(rows.size()) + " rows, " +
                            Describe(found) + ", acknowledged " + Describe(slot.acked));
            }
        }
        {
            CWinFileImpl files;
            files.SetFolder(nullptr, storage_.c_str());
            CAttributeDirectory directory;
            const HRESULT loaded = CDynIO(&files).Load("settings.ad", &directory);
            {
                std::optional<std::string> found;
                CAttribute* attribute = nullptr;
                if (SUCCEEDED(loaded) &&
                    SUCCEEDED(directory.GetFirstAttribute(&attribute)) && attribute != nullptr) {
                    do {
                        LONG id = 0;
                        DWORD value = 0;
                        attribute->GetId(&id);
                        if (id == kUpdateIntervalId && SUCCEEDED(attribute->GetNumber(&value)))
                            found = std::to_string(value);
                        attribute->Release();
                        attribute = nullptr;
                    } while (SUCCEEDED(directory.GetNextAttribute(&attribute)) && attribute != nullptr);
                }
                const bool missing = loaded == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
                if ((FAILED(loaded) && !missing) || !model.interval.Settle(found))
                    problem("settings.ad loads with " + std::to_string(loaded) + ", interval " + Describe(found) +
                            ", acknowledged " + Describe(model.interval.acked));
            }
            for (auto& [name, slot] : model.files) {
                std::optional<std::string> found;
                if (std::filesystem::exists(storage_ + "/" + name))
                    found = tqtest::ReadFileText(storage_ + "/" + name);
                if (!slot.Settle(found))
                    problem(name + " holds " + Describe(found) + ", acknowledged " + Describe(slot.acked));
            }
        }
    }

    std::string storage_;
};

TEST_F(TqwlCrashTest, AcknowledgedWritesSurviveKills)
{
    const int rounds = EnvInt("TQ_CRASH_ROUNDS", 30);
    const auto seed = static_cast<std::uint64_t>(EnvInt("TQ_CRASH_SEED", static_cast<int>(std::random_device()() & 0x7FFFFFFF)));
    std::mt19937_64 random(seed);
    Model model;
    TqwlProcess tqwl(Root());
    const auto started = std::chrono::steady_clock::now();
    long midCall = 0;

    for (int round = 0; round < rounds; ++round) {
        tqwl.Start();
        ASSERT_TRUE(tqwl.WaitForPort(kPort)) << "round " << round << ": " << tqwl.Output();

        std::atomic<bool> stop{false};
        std::vector<std::thread> clients;
        for (int index = 0; index < 4; ++index)
            clients.emplace_back([&, index, clientSeed = random()] { Client(model, index, clientSeed, stop).Run(round); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + random() % 900));
        tqwl.Signal(SIGKILL);
        EXPECT_EQ(tqwl.Wait(), -1);
        stop = true;
        for (auto& client : clients)
            client.join();
        {
            std::lock_guard<std::mutex> guard(model.lock);
            midCall += model.defaultGroup.pending.has_value() || model.interval.pending.has_value();
            for (const auto& slots : {&model.items, &model.files})
                for (const auto& [name, slot] : *slots)
                    midCall += slot.pending.has_value();
        }

        std::vector<std::string> problems;
        CheckStorage(model, &problems);
        ASSERT_TRUE(problems.empty()) << "seed " << seed << ", after kill " << round + 1 << ":\n"
                                      << [&] {
                                             std::string all;
                                             for (const auto& p : problems)
                                                 all += "  " + p + "\n";
                                             return all;
                                         }();
    }

    // The program starts on what the last kill left and serves the settings.
    tqwl.Start();
    ASSERT_TRUE(tqwl.WaitForPort(kPort)) << tqwl.Output();
    CInvokeData get(4), reply;
    ASSERT_EQ(InvokeOverRpc(kPort, get, reply), 0);
    EXPECT_EQ(reply.result, S_OK);
    tqwl.Signal(SIGTERM);
    EXPECT_EQ(tqwl.Wait(), 0);

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::lock_guard<std::mutex> guard(model.lock);
    EXPECT_EQ(model.refused, 0) << model.firstRefusal;
    std::string counts;
    long total = 0;
    for (const auto& [kind, count] : model.acked) {
        counts += " " + kind + "=" + std::to_string(count);
        total += count;
    }
    std::printf("crash run: seed %llu, %d kills in %.1f s, %ld acknowledged writes (%s ), %ld unanswered writes "
                "cut by a kill, all acknowledged writes found after every restart\n",
                static_cast<unsigned long long>(seed), rounds, seconds, total, counts.c_str() + 1, midCall);
    EXPECT_GT(total, rounds) << "the load reached the server";
}

} // namespace
