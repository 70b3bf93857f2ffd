// Cursor rules of the registry ring.
#include <gtest/gtest.h>

#include <vector>

#include "api/registry.h"

namespace zbx::api {
namespace {

using Ring = CTRing<CSDKDATA>;

void add(Ring& ring, std::uint32_t handle) { ASSERT_TRUE(ring.Add(CSDKDATA{handle, nullptr})); }

std::uint32_t cursor(Ring& ring) { return ring.current() != nullptr ? ring.current()->handle : 0; }

// Handles in ring order from the cursor, read by removing every node.
std::vector<std::uint32_t> drain(Ring& ring) {
    std::vector<std::uint32_t> order;
    while (ring.current() != nullptr) {
        order.push_back(cursor(ring));
        EXPECT_TRUE(ring.remove_current());
    }
    return order;
}

TEST(Ring, InsertionPutsTheNewestBeforeTheCursorAndOnIt) {
    Ring ring;
    EXPECT_EQ(ring.current(), nullptr);
    EXPECT_EQ(ring.count(), 0u);
    add(ring, 1);
    EXPECT_EQ(cursor(ring), 1u);
    add(ring, 2);
    add(ring, 3);
    EXPECT_EQ(cursor(ring), 3u);
    EXPECT_EQ(ring.count(), 3u);
    // Each record sits just before the former cursor, so the order from the
    // cursor is newest first.
    EXPECT_EQ(drain(ring), (std::vector<std::uint32_t>{3, 2, 1}));
}

TEST(Ring, SearchMovesTheCursor) {
    Ring ring;
    for (std::uint32_t h : {1u, 2u, 3u}) add(ring, h);  // order from cursor: 3 2 1

    EXPECT_TRUE(ring.find(3));  // found at the cursor: it stays
    EXPECT_EQ(cursor(ring), 3u);
    EXPECT_TRUE(ring.find(1));  // found further on: the cursor stands on it
    EXPECT_EQ(cursor(ring), 1u);

    // A miss ends on the predecessor of the node where it began.
    EXPECT_FALSE(ring.find(99));
    EXPECT_EQ(cursor(ring), 2u);
    EXPECT_FALSE(ring.find(99));
    EXPECT_EQ(cursor(ring), 3u);
    EXPECT_EQ(ring.count(), 3u);
}

TEST(Ring, SearchOfOneRecordOrNone) {
    Ring ring;
    EXPECT_FALSE(ring.find(5));
    add(ring, 7);
    EXPECT_FALSE(ring.find(5));
    EXPECT_EQ(cursor(ring), 7u);
    EXPECT_TRUE(ring.find(7));
}

TEST(Ring, SearchStopsAtTheFirstHandleEqualToTheStartingPredecessor) {
    Ring ring;
    // Order from the cursor: 3, 1, 2, 1; the cursor's predecessor holds 1.
    for (std::uint32_t h : {1u, 2u, 1u, 3u}) add(ring, h);
    EXPECT_FALSE(ring.find(2));  // 2 is there, but the walk stops at the first 1
    EXPECT_EQ(cursor(ring), 1u);
    EXPECT_TRUE(ring.contains(2));
    // From the new cursor the stop value is 3, so 2 is reached now.
    EXPECT_TRUE(ring.find(2));
    EXPECT_EQ(cursor(ring), 2u);
}

TEST(Ring, RemovalMovesTheCursorToTheSuccessor) {
    Ring ring;
    EXPECT_FALSE(ring.remove_current());
    for (std::uint32_t h : {1u, 2u, 3u}) add(ring, h);  // 3 2 1
    ASSERT_TRUE(ring.find(2));
    EXPECT_TRUE(ring.remove_current());
    EXPECT_EQ(cursor(ring), 1u);
    EXPECT_EQ(ring.count(), 2u);
    EXPECT_FALSE(ring.contains(2));
    EXPECT_EQ(drain(ring), (std::vector<std::uint32_t>{1, 3}));  // links still close the ring

    add(ring, 9);  // the only node
    EXPECT_TRUE(ring.remove_current());
    EXPECT_EQ(ring.current(), nullptr);
    EXPECT_EQ(ring.count(), 0u);
    add(ring, 4);
    EXPECT_EQ(ring.count(), 1u);
}

TEST(Ring, ContainsLeavesTheCursor) {
    Ring ring;
    for (std::uint32_t h : {1u, 2u, 3u}) add(ring, h);
    EXPECT_TRUE(ring.contains(1));
    EXPECT_FALSE(ring.contains(4));
    EXPECT_EQ(cursor(ring), 3u);
}

}  // namespace
}  // namespace zbx::api
