#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace zbx::platform {
namespace {

using namespace std::chrono_literals;

// Spins (with short sleeps) until `pred` holds or 5 s pass.
template <class Pred>
bool eventually(Pred pred) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class EventWaiters {
public:
    EventWaiters(Event& event, int count) {
        for (int i = 0; i < count; ++i)
            threads_.emplace_back([&event, this] {
                ready_.fetch_add(1);
                if (event.wait(10000)) released_.fetch_add(1);
            });
        eventually([&] { return ready_.load() == count; });
        std::this_thread::sleep_for(50ms);  // let them block inside wait()
    }
    ~EventWaiters() {
        for (auto& t : threads_) t.join();
    }
    int released() const { return released_.load(); }

private:
    std::vector<std::thread> threads_;
    std::atomic<int> ready_{0};
    std::atomic<int> released_{0};
};

TEST(Event, AutoResetReleasesOneWaiterPerSignal) {
    Event event(false, false);
    EventWaiters waiters(event, 4);
    EXPECT_EQ(waiters.released(), 0);

    event.set();
    ASSERT_TRUE(eventually([&] { return waiters.released() == 1; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(waiters.released(), 1);
    EXPECT_FALSE(event.is_set());  // consumed by the waiter it let through

    for (int n = 2; n <= 4; ++n) {
        event.set();
        ASSERT_TRUE(eventually([&] { return waiters.released() == n; }));
    }
    EXPECT_FALSE(event.is_set());
}

TEST(Event, AutoResetSignalWithoutWaiterIsKeptForTheNextWait) {
    Event event(false, false);
    EXPECT_FALSE(event.wait(0));
    event.set();
    event.set();  // signals do not accumulate
    EXPECT_TRUE(event.wait(0));
    EXPECT_FALSE(event.wait(0));

    Event initially(false, true);
    EXPECT_TRUE(initially.wait(kInfinite));
    EXPECT_FALSE(initially.wait(0));
}

TEST(Event, ManualResetReleasesAllWaitersAndStaysSet) {
    Event event(true, false);
    {
        EventWaiters waiters(event, 4);
        event.set();
        ASSERT_TRUE(eventually([&] { return waiters.released() == 4; }));
    }
    EXPECT_TRUE(event.is_set());
    EXPECT_TRUE(event.wait(0));
    EXPECT_TRUE(event.wait(kInfinite));

    event.reset();
    EXPECT_FALSE(event.wait(0));
    EXPECT_FALSE(Event(true, false).is_set());
    EXPECT_TRUE(Event(true, true).wait(0));
}

TEST(Event, TimedWaitTimesOutOrWakesOnSignal) {
    Event event(false, false);
    const std::uint32_t start = tick_count();
    EXPECT_FALSE(event.wait(60));
    EXPECT_GE(ticks_between(start, tick_count()), 59u);

    std::thread setter([&] {
        std::this_thread::sleep_for(30ms);
        event.set();
    });
    EXPECT_TRUE(event.wait(10000));
    setter.join();
}

TEST(Event, MayBeDestroyedAsSoonAsTheWaitReturns) {
    // A thread's end event is signalled as its last act and closed by the
    // waiter right away; the signal must not touch the event afterwards.
    // (The sanitizer builds turn a violation into a report.)
    for (int round = 0; round < 200; ++round) {
        auto event = std::make_unique<Event>(round % 2 == 0, false);
        std::thread signaller([e = event.get()] { e->set(); });
        ASSERT_TRUE(event->wait(kInfinite));
        event.reset();
        signaller.join();
    }
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
    CriticalSection cs;
    std::atomic<int> other_got_it{-1};
    auto probe = [&] {
        std::thread t([&] {
            const bool got = cs.try_lock();
            if (got) cs.unlock();
            other_got_it = got ? 1 : 0;
        });
        t.join();
        return other_got_it.load();
    };

    cs.lock();
    ASSERT_TRUE(cs.try_lock());  // the owner may enter again
    {
        std::lock_guard again(cs);
        EXPECT_EQ(probe(), 0);
    }
    cs.unlock();
    EXPECT_EQ(probe(), 0);  // still held once
    cs.unlock();
    EXPECT_EQ(probe(), 1);
}

TEST(CriticalSection, GuardsASharedCounter) {
    CriticalSection cs;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            for (int k = 0; k < 20000; ++k) {
                std::scoped_lock outer(cs);
                std::lock_guard inner(cs);
                ++counter;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 80000);
}

}  // namespace
}  // namespace zbx::platform
