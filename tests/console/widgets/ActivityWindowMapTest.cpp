#include "console/widgets/ActivityWindowMap.h"

#include "tests/console/widgets/FakeActivityWindow.h"

#include <gtest/gtest.h>

#include <QTest>

#include <map>

namespace {

// Makes fakes and remembers them by port, with a deletion flag each.
struct FakeFactory {
    std::map<DWORD, FakeActivityWindow*> last;
    std::map<FakeActivityWindow*, bool> deleted;
    std::vector<std::unique_ptr<bool>> flags;

    ActivityWindowFactory Make()
    {
        return [this](DWORD port) {
            flags.push_back(std::make_unique<bool>(false));
            auto window = std::make_unique<FakeActivityWindow>(flags.back().get());
            last[port] = window.get();
            return window;
        };
    }
};

} // namespace

TEST(ActivityWindowMap, OneObjectPerPortAndANewOneReplacesAClosedOne)
{
    FakeFactory factory;
    CActivityWindowMap map(factory.Make());
    FakeActivityWindow::EndAllOnExit endAll;
    IActivityWindow* first = map.Create(34347);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(map.Find(34347), first);
    EXPECT_EQ(map.FindOpen(34347), first);
    EXPECT_EQ(map.Find(35001), nullptr);

    factory.last[34347]->open = false; // the user closed it
    EXPECT_EQ(map.FindOpen(34347), nullptr);
    EXPECT_EQ(map.Find(34347), first); // stays until replaced

    FakeActivityWindow* old = factory.last[34347];
    old->ended = true;
    int oldCloses = 0; // read after old is freed
    old->closeCounter = &oldCloses;
    IActivityWindow* second = map.Create(34347);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(map.Count(), 1u);
    EXPECT_EQ(map.WaitingForThreads(), 0u); // its threads had ended: freed at once
    EXPECT_EQ(oldCloses, 0);                // it was closed already
}

TEST(ActivityWindowMap, ObjectIsFreedOnlyAfterItsThreadsEndWithoutBlocking)
{
    bool deleted = false;
    FakeActivityWindow* fake = nullptr;
    CActivityWindowMap map([&](DWORD) {
        auto window = std::make_unique<FakeActivityWindow>(&deleted);
        fake = window.get();
        return window;
    });
    map.Create(35001);
    map.Retire(35001); // closes the open window without waiting
    EXPECT_EQ(fake->closeCalls, 1);
    EXPECT_FALSE(fake->open);
    EXPECT_EQ(map.Count(), 0u);
    EXPECT_EQ(map.WaitingForThreads(), 1u);
    EXPECT_FALSE(deleted);

    QTest::qWait(300); // the reaper runs, but the threads still run
    EXPECT_FALSE(deleted);

    fake->ended = true;
    EXPECT_TRUE(QTest::qWaitFor([&] { return deleted; }, 2000));
    EXPECT_EQ(map.WaitingForThreads(), 0u);
}

TEST(ActivityWindowMap, CloseAllClosesOpenWindowsAndEmptiesTheMap)
{
    FakeFactory factory;
    CActivityWindowMap map(factory.Make());
    map.Create(34347);
    map.Create(35001);
    map.Create(35002);
    factory.last[35001]->open = false;
    int visited = 0;
    map.ForEachOpen([&](DWORD port, IActivityWindow&) {
        EXPECT_NE(port, 35001u);
        ++visited;
    });
    EXPECT_EQ(visited, 2);

    FakeActivityWindow* open = factory.last[34347];
    map.CloseAll();
    EXPECT_EQ(map.Count(), 0u);
    EXPECT_EQ(open->closeCalls, 1);
    EXPECT_EQ(factory.last[35001]->closeCalls, 0); // closed already
    EXPECT_EQ(map.WaitingForThreads(), 3u);
    for (auto& [port, fake] : factory.last)
        fake->ended = true;
    map.Reap();
    EXPECT_EQ(map.WaitingForThreads(), 0u);
}

TEST(ActivityWindowMap, WaitForThreadsKeepsEventsFlowingUntilTheThreadsEnd)
{
    FakeActivityWindow* fake = nullptr;
    CActivityWindowMap map([&](DWORD) {
        auto window = std::make_unique<FakeActivityWindow>();
        fake = window.get();
        return window;
    });
    map.Create(34347);
    map.CloseAll();
    // The "thread" ends from a queued call, which only a turning event loop delivers.
    QMetaObject::invokeMethod(&map, [&] { fake->ended = true; }, Qt::QueuedConnection);
    EXPECT_TRUE(map.WaitForThreads(5000));
    EXPECT_EQ(map.WaitingForThreads(), 0u);
}

TEST(ActivityWindowMap, WaitForThreadsGivesUpOnThreadsThatRunOn)
{
    CActivityWindowMap map([](DWORD) { return std::make_unique<FakeActivityWindow>(); });
    FakeActivityWindow::EndAllOnExit endAll;
    map.Create(34347);
    map.CloseAll();
    EXPECT_FALSE(map.WaitForThreads(300));
    EXPECT_EQ(map.WaitingForThreads(), 1u); // never freed under a running thread
}
