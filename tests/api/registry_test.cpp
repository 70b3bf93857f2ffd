// Handles and records of the instance registry.
#include <gtest/gtest.h>

#include <memory>

#include "api/registry.h"

namespace zbx::api {
namespace {

using session::CZorbex;

std::uint32_t add(CSdkChain& chain, std::uint32_t seed, CZorbex** made = nullptr) {
    auto session = std::make_unique<CZorbex>();
    if (made != nullptr) *made = session.get();
    return chain.add_session(std::move(session), seed);
}

TEST(Registry, HandleIsSeedPlusOpenSessions) {
    CSdkChain chain;
    EXPECT_EQ(add(chain, 1000), 1000u);
    EXPECT_EQ(add(chain, 2000), 2001u);
    EXPECT_EQ(add(chain, 0xFFFFFFF0u), 0xFFFFFFF2u);  // wraps like the tick count
    for (std::uint32_t h : {1000u, 2001u, 0xFFFFFFF2u}) EXPECT_EQ(chain.release(h), 1);
}

TEST(Registry, CollidingOrZeroHandlesAreSteppedToFreeValues) {
    CSdkChain chain;
    CZorbex* first = nullptr;
    CZorbex* second = nullptr;
    CZorbex* third = nullptr;
    ASSERT_EQ(add(chain, 100, &first), 100u);
    // 99 + one open session = 100, taken: the next free value is used.
    ASSERT_EQ(add(chain, 99, &second), 101u);
    // 98 + 2 = 100 and 101 are both taken.
    ASSERT_EQ(add(chain, 98, &third), 102u);
    // A handle that comes out as 0 is never handed out.
    EXPECT_EQ(add(chain, 0u - 3u), 1u);

    // Each handle reaches its own session, whatever the cursor.
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(chain.find_session(100).get(), first);
        EXPECT_EQ(chain.find_session(102).get(), third);
        EXPECT_EQ(chain.find_session(101).get(), second);
    }
    EXPECT_EQ(chain.release(101), 1);
    EXPECT_EQ(chain.find_session(101), nullptr);
    EXPECT_EQ(chain.find_session(100).get(), first);
    EXPECT_EQ(chain.find_session(102).get(), third);
    for (std::uint32_t h : {100u, 102u, 1u}) EXPECT_EQ(chain.release(h), 1);
    EXPECT_EQ(chain.count(), 0u);
}

TEST(Registry, ReleaseRemovesTheRecordOnce) {
    CSdkChain chain;
    const std::uint32_t h = add(chain, 500);
    EXPECT_EQ(chain.release(h), 1);
    EXPECT_EQ(chain.current(), nullptr);  // the only record: the ring is empty
    EXPECT_EQ(chain.count(), 0u);
    EXPECT_EQ(chain.release(h), 0);
    EXPECT_EQ(chain.release(0), 0);
    EXPECT_EQ(add(chain, 40), 40u);  // a new ring with count 1
    EXPECT_EQ(chain.count(), 1u);
    EXPECT_EQ(chain.release(40), 1);
}

TEST(Registry, RecordWithoutSessionIsTreatedAsUnknown) {
    CSdkChain chain;
    ASSERT_TRUE(chain.Add(CSDKDATA{77, nullptr}));  // as during a release
    EXPECT_EQ(chain.find_session(77), nullptr);
    EXPECT_EQ(chain.release(77), 0);
    EXPECT_EQ(chain.count(), 1u);  // left for the release in progress
    // A new session never takes the handle of a record still in the ring.
    EXPECT_EQ(add(chain, 76), 78u);
    EXPECT_EQ(chain.release(78), 1);
}

}  // namespace
}  // namespace zbx::api
