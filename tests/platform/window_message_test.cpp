// Message posting and waiting: window queues, thread queues, dead windows.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include "platform/window.h"
#include "zorbex/window.h"

namespace zbx::platform {
namespace {

using namespace std::chrono_literals;

struct MessageWindow {
    ZbxWindow handle = create_message_window();
    ~MessageWindow() { destroy_window(handle); }
};

TEST(WindowMessages, PostedMessagesArriveInOrderWithTheirValues) {
    MessageWindow w;
    ASSERT_NE(w.handle, nullptr);
    ASSERT_TRUE(post_message(w.handle, 0x8003, 0, 9));
    ASSERT_TRUE(post_message(w.handle, 0x8002, 0x1234, -1));

    ZbxMessage m{};
    ASSERT_TRUE(peek_message(w.handle, &m, false));
    EXPECT_EQ(m.message, 0x8003u);  // peeking without removing leaves it
    ASSERT_TRUE(peek_message(w.handle, &m, true));
    EXPECT_EQ(m.window, w.handle);
    EXPECT_EQ(m.message, 0x8003u);
    EXPECT_EQ(m.wparam, 0u);
    EXPECT_EQ(m.lparam, 9);
    ASSERT_TRUE(peek_message(w.handle, &m, true));
    EXPECT_EQ(m.message, 0x8002u);
    EXPECT_EQ(m.wparam, 0x1234u);
    EXPECT_EQ(m.lparam, -1);
    EXPECT_FALSE(peek_message(w.handle, &m, true));
}

TEST(WindowMessages, NullWindowUsesTheCallingThreadsOwnQueue) {
    ZbxMessage m{};
    while (peek_message(nullptr, &m, true)) {
    }
    ASSERT_TRUE(post_message(nullptr, 0x8003, 0, 11));

    std::atomic<bool> other_saw_it{true};
    std::thread other([&] {
        ZbxMessage mine{};
        other_saw_it = peek_message(nullptr, &mine, true);
    });
    other.join();
    EXPECT_FALSE(other_saw_it);

    ASSERT_TRUE(peek_message(nullptr, &m, true));
    EXPECT_EQ(m.window, nullptr);
    EXPECT_EQ(m.lparam, 11);
    EXPECT_FALSE(wait_message(nullptr, &m, 5));
}

TEST(WindowMessages, DestroyedAndMadeUpWindowsFailHarmlessly) {
    ZbxWindow w = create_message_window();
    ASSERT_TRUE(post_message(w, 1, 2, 3));
    ASSERT_TRUE(destroy_window(w));
    ZbxMessage m{};
    EXPECT_FALSE(post_message(w, 1, 2, 3));
    EXPECT_FALSE(peek_message(w, &m, true));
    EXPECT_FALSE(wait_message(w, &m, 0));
    EXPECT_FALSE(destroy_window(w));
    EXPECT_FALSE(is_window(w));

    auto made_up = reinterpret_cast<ZbxWindow>(std::uintptr_t{0xDEADBEE0});
    EXPECT_FALSE(post_message(made_up, 1, 2, 3));
    EXPECT_FALSE(is_window(made_up));

    // Handles are not reused, so the old one stays dead.
    ZbxWindow next = create_message_window();
    EXPECT_NE(next, w);
    EXPECT_FALSE(post_message(w, 1, 2, 3));
    destroy_window(next);
}

TEST(WindowMessages, WaitTimesOutOrWakesOnPost) {
    MessageWindow w;
    ZbxMessage m{};
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(wait_message(w.handle, &m, 50));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 45ms);

    std::thread poster([&] {
        std::this_thread::sleep_for(20ms);
        (void)post_message(w.handle, 0x8002, 7, 8);
    });
    EXPECT_TRUE(wait_message(w.handle, &m, 10000));
    EXPECT_EQ(m.wparam, 7u);
    poster.join();
}

TEST(WindowMessages, DestroyWakesAWaiter) {
    ZbxWindow w = create_message_window();
    std::atomic<int> result{-1};
    std::thread waiter([&] {
        ZbxMessage m{};
        result = wait_message(w, &m, kInfinite) ? 1 : 0;
    });
    std::this_thread::sleep_for(20ms);
    destroy_window(w);
    waiter.join();
    EXPECT_EQ(result, 0);
}

TEST(WindowMessages, SeveralPostingThreadsKeepEachThreadsOrder) {
    MessageWindow w;
    constexpr int kThreads = 4;
    constexpr int kEach = 500;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                ASSERT_TRUE(post_message(w.handle, 0x8002, static_cast<std::uintptr_t>(t), i));
            }
        });
    }
    std::map<std::uintptr_t, std::intptr_t> next;
    int received = 0;
    ZbxMessage m{};
    while (received < kThreads * kEach && wait_message(w.handle, &m, 5000)) {
        EXPECT_EQ(m.lparam, next[m.wparam]) << "thread " << m.wparam;
        next[m.wparam] = m.lparam + 1;
        ++received;
    }
    for (auto& p : posters) p.join();
    EXPECT_EQ(received, kThreads * kEach);
}

TEST(WindowMessages, AFullQueueRefusesFurtherPosts) {
    MessageWindow w;
    for (std::size_t i = 0; i < kMessageQueueLimit; ++i) {
        ASSERT_TRUE(post_message(w.handle, 1, i, 0));
    }
    EXPECT_FALSE(post_message(w.handle, 1, 0, 0));
    ZbxMessage m{};
    ASSERT_TRUE(peek_message(w.handle, &m, true));
    EXPECT_EQ(m.wparam, 0u);
    EXPECT_TRUE(post_message(w.handle, 1, 0, 0));

    std::thread([] {  // the thread queue is bounded the same way
        for (std::size_t i = 0; i < kMessageQueueLimit; ++i) (void)post_message(nullptr, 1, 0, 0);
        EXPECT_FALSE(post_message(nullptr, 1, 0, 0));
    }).join();
}

TEST(WindowMessages, CInterfaceMirrorsTheQueueOperations) {
    ZbxWindow w = ZbxWin_CreateMessageWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(ZbxWin_IsWindow(w), 1);
    EXPECT_EQ(ZbxWin_PostMessage(w, 0x8003, 0, 4), 1);
    ZbxMessage m{};
    EXPECT_EQ(ZbxWin_PeekMessage(w, &m, 0), 1);
    EXPECT_EQ(ZbxWin_WaitMessage(w, &m, 0), 1);
    EXPECT_EQ(m.lparam, 4);
    EXPECT_EQ(ZbxWin_WaitMessage(w, &m, 0), 0);
    EXPECT_EQ(ZbxWin_DestroyWindow(w), 1);
    EXPECT_EQ(ZbxWin_DestroyWindow(w), 0);
    EXPECT_EQ(ZbxWin_PostMessage(w, 0x8003, 0, 4), 0);
    EXPECT_EQ(ZbxWin_PeekMessage(nullptr, nullptr, 1), 0);
}

}  // namespace
}  // namespace zbx::platform
