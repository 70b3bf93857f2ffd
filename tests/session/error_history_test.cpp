// The 20-entry error history.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "session/error_history.h"

namespace zbx::session {
namespace {

TEST(ErrorHistory, KeepsTheLastTwentyNewestFirst) {
    ErrorHistory history;
    EXPECT_EQ(history.snapshot(), ErrorHistory::Codes{});
    for (int code = 1; code <= 21; ++code) history.record(code);
    const ErrorHistory::Codes codes = history.snapshot();
    for (std::size_t i = 0; i < ErrorHistory::kDepth; ++i) EXPECT_EQ(codes[i], 21 - static_cast<int>(i));
    // The first code is gone: popping everything ends at 2, then zeros.
    for (int expected = 21; expected >= 2; --expected) EXPECT_EQ(history.pop(), expected);
    EXPECT_EQ(history.pop(), 0);
    EXPECT_EQ(history.pop(), 0);
}

TEST(ErrorHistory, PopsInReverseOrderThenZero) {
    ErrorHistory history;
    for (int code : {9, 1, 5}) history.record(code);
    EXPECT_EQ(history.pop(), 5);
    EXPECT_EQ(history.pop(), 1);
    EXPECT_EQ(history.pop(), 9);
    EXPECT_EQ(history.pop(), 0);
    // A pop makes room: a new code lands on top of what is left.
    history.record(3);
    history.record(4);
    EXPECT_EQ(history.pop(), 4);
    history.record(6);
    EXPECT_EQ(history.snapshot()[0], 6);
    EXPECT_EQ(history.snapshot()[1], 3);
    EXPECT_EQ(history.snapshot()[2], 0);
}

// Concurrent records and pops never lose or duplicate a code: whatever was
// recorded is either popped or still in the history.
TEST(ErrorHistory, ConcurrentRecordsAndPopsStayWhole) {
    ErrorHistory history;
    constexpr int kWriters = 4;
    constexpr int kPerWriter = 5;  // 20 in all: none can age out
    std::vector<int> popped;
    std::thread reader([&] {
        for (int i = 0; i < 2000; ++i)
            if (const int code = history.pop(); code != 0) popped.push_back(code);
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&history, w] {
            for (int i = 0; i < kPerWriter; ++i) history.record(1 + w * kPerWriter + i);
        });
    for (auto& t : writers) t.join();
    reader.join();
    for (int code = history.pop(); code != 0; code = history.pop()) popped.push_back(code);
    std::sort(popped.begin(), popped.end());
    std::vector<int> all(kWriters * kPerWriter);
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i) + 1;
    EXPECT_EQ(popped, all);
}

}  // namespace
}  // namespace zbx::session
