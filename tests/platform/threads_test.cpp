#include "platform/threads.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/clock.h"
#include "platform/sync.h"

namespace zbx::platform {
namespace {

TEST(Thread, RunsTheBodyAndJoins) {
    std::atomic<bool> ran{false};
    Thread thread;
    EXPECT_FALSE(thread.joinable());
    ASSERT_TRUE(thread.start([&] { ran = true; }));
    EXPECT_TRUE(thread.joinable());
    EXPECT_NE(thread.id(), std::this_thread::get_id());
    thread.join();
    EXPECT_TRUE(ran);
    EXPECT_FALSE(thread.joinable());
    thread.join();  // harmless a second time
}

// The name is set by start(), so the body reads it only after start returned.
TEST(Thread, CarriesTheGivenName) {
    Event started(true, false);
    char name[16] = {};
    Thread thread;
    ASSERT_TRUE(thread.start(
        [&] {
            if (started.wait(5000)) (void)pthread_getname_np(pthread_self(), name, sizeof name);
        },
        "zbx-test"));
    started.set();
    thread.join();
    EXPECT_STREQ(name, "zbx-test");
}

TEST(Thread, RefusesASecondBodyAndAnEmptyOne) {
    Event release(true, false);
    Thread thread;
    EXPECT_FALSE(thread.start({}));
    ASSERT_TRUE(thread.start([&] { (void)release.wait(kInfinite); }));
    EXPECT_FALSE(thread.start([] {}));
    release.set();
    thread.join();
    EXPECT_TRUE(thread.start([] {}));  // reusable after join
}

TEST(Thread, DestructorWaitsForTheBody) {
    std::atomic<bool> finished{false};
    {
        Thread thread;
        ASSERT_TRUE(thread.start([&] {
            sleep_ms(50);
            finished = true;
        }));
    }
    EXPECT_TRUE(finished);
}

TEST(Thread, JoinFromInsideTheBodyDoesNotDeadlock) {
    Event started(true, false), done(true, false);
    Thread thread;
    ASSERT_TRUE(thread.start([&] {
        (void)started.wait(kInfinite);  // until start() has stored the thread
        thread.join();
        done.set();
    }));
    started.set();
    EXPECT_TRUE(done.wait(5000));
    sleep_ms(10);
    EXPECT_FALSE(thread.joinable());
}

int current_nice() {
    errno = 0;
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
}

TEST(Thread, PriorityRaiseIsBestEffort) {
    // Whether the system grants it depends on privileges; either way the
    // thread runs on, and the result says truthfully what happened.
    std::atomic<int> before{0}, after{0};
    std::atomic<bool> raised{false}, continued{false};
    Thread thread;
    ASSERT_TRUE(thread.start([&] {
        before = current_nice();
        raised = raise_current_thread_priority();
        after = current_nice();
        continued = true;
    }));
    thread.join();
    EXPECT_TRUE(continued);
    if (raised)
        EXPECT_LT(after, before);
    else
        EXPECT_EQ(after, before);
    // Only the thread that asked is affected.
    EXPECT_EQ(current_nice(), before.load());
}

}  // namespace
}  // namespace zbx::platform
