#include "platform/shared_memory.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/clock.h"
#include "support/child_process.h"

namespace zbx::platform {
namespace {

using test::ChildProcess;
using test::run_in_child;

constexpr std::size_t kSize = 0x4C0000;  // the camera block's size

TEST(SharedMemory, OpenFindsOnlyExistingBlocks) {
    SharedMemory block;
    EXPECT_FALSE(block.open("NoSuchBlock"));
    EXPECT_FALSE(block.is_open());
    EXPECT_EQ(block.data(), nullptr);
    EXPECT_EQ(block.size(), 0u);

    bool created = false;
    ASSERT_TRUE(block.open_or_create("Table", kSize, &created));
    EXPECT_TRUE(created);
    ASSERT_EQ(block.size(), kSize);
    // New blocks start zeroed, end to end.
    EXPECT_EQ(block.data()[0], 0);
    EXPECT_EQ(block.data()[kSize - 1], 0);
    block.data()[2125568] = 0x5A;

    SharedMemory second;
    ASSERT_TRUE(second.open("Table"));
    EXPECT_EQ(second.size(), kSize);
    EXPECT_EQ(second.data()[2125568], 0x5A);
    second.data()[7] = 9;
    EXPECT_EQ(block.data()[7], 9);  // one block, two views

    SharedMemory third;
    ASSERT_TRUE(third.open_or_create("Table", kSize, &created));
    EXPECT_FALSE(created);
    EXPECT_EQ(third.data()[7], 9);
}

TEST(SharedMemory, LastCloseRemovesTheBlock) {
    {
        SharedMemory a, b;
        ASSERT_TRUE(a.open_or_create("Lifetime", 4096, nullptr));
        ASSERT_TRUE(b.open("Lifetime"));
        a.data()[0] = 1;
        a.close();
        EXPECT_FALSE(a.is_open());
        a.close();  // harmless twice
        SharedMemory c;
        ASSERT_TRUE(c.open("Lifetime"));  // b still holds it
        EXPECT_EQ(c.data()[0], 1);
    }
    SharedMemory again;
    EXPECT_FALSE(again.open("Lifetime"));
    bool created = false;
    ASSERT_TRUE(again.open_or_create("Lifetime", 4096, &created));
    EXPECT_TRUE(created);
    EXPECT_EQ(again.data()[0], 0);
}

TEST(SharedMemory, TwoProcessesShareOneBlock) {
    SharedMemory block;
    bool created = false;
    ASSERT_TRUE(block.open_or_create("TEVRUN_USBCAMERA", kSize, &created));
    ASSERT_TRUE(created);
    std::memcpy(block.data() + 2125568 + 24, "parent", 7);

    // The child opens the block on its own, as a second application would,
    // finds the parent's bytes and leaves an answer.
    const int status = run_in_child([] {
        SharedMemory mine;
        bool made = true;
        if (!mine.open_or_create("TEVRUN_USBCAMERA", kSize, &made) || made) return 1;
        if (std::strcmp(reinterpret_cast<const char*>(mine.data() + 2125568 + 24), "parent") != 0)
            return 2;
        std::memcpy(mine.data() + 2125568 + 152 + 24, "child", 6);
        mine.close();  // not the last holder: the block stays
        return 0;
    });
    ASSERT_EQ(status, 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(block.data() + 2125568 + 152 + 24), "child");

    SharedMemory check;
    EXPECT_TRUE(check.open("TEVRUN_USBCAMERA"));
}

TEST(SharedMemory, BlockOfAProcessThatDiedCountsAsGone) {
    // The child creates a block and dies without closing it.
    ASSERT_EQ(run_in_child([] {
                  static SharedMemory leaked;
                  if (!leaked.open_or_create("Orphan", 4096, nullptr)) return 1;
                  leaked.data()[0] = 0xEE;
                  return 0;
              }),
              0);
    SharedMemory block;
    EXPECT_FALSE(block.open("Orphan"));
    bool created = false;
    ASSERT_TRUE(block.open_or_create("Orphan", 4096, &created));
    EXPECT_TRUE(created);
    EXPECT_EQ(block.data()[0], 0);
}

TEST(SharedMemory, ChildClosingAnInheritedHolderKeepsTheBlock) {
    SharedMemory block;
    ASSERT_TRUE(block.open_or_create("Inherited", 4096, nullptr));
    ASSERT_EQ(run_in_child([&block] {
                  block.close();
                  return 0;
              }),
              0);
    SharedMemory other;
    EXPECT_TRUE(other.open("Inherited"));
}

TEST(SharedMemory, NamespacesKeepBlocksApart) {
    const std::string original = shared_memory_namespace();
    SharedMemory block;
    ASSERT_TRUE(block.open_or_create("Table", 4096, nullptr));

    set_shared_memory_namespace(original + "-other");
    SharedMemory elsewhere;
    EXPECT_FALSE(elsewhere.open("Table"));
    remove_shared_memory_lock();
    set_shared_memory_namespace(original);
    EXPECT_TRUE(elsewhere.open("Table"));
}

TEST(SharedMemory, BadRequestsFail) {
    SharedMemory block;
    bool created = true;
    EXPECT_FALSE(block.open(nullptr));
    EXPECT_FALSE(block.open(""));
    EXPECT_FALSE(block.open_or_create(nullptr, 4096, &created));
    EXPECT_FALSE(created);
    EXPECT_FALSE(block.open_or_create("Empty", 0, nullptr));
    EXPECT_FALSE(block.open_or_create(std::string(300, 'x').c_str(), 4096, nullptr));

    // Slashes in a name do not escape the namespace.
    ASSERT_TRUE(block.open_or_create("a/b", 4096, nullptr));
    SharedMemory same;
    EXPECT_TRUE(same.open("a/b"));

    // An existing block smaller than asked for is refused rather than
    // mapped short.
    SharedMemory small, big;
    ASSERT_TRUE(small.open_or_create("Small", 4096, nullptr));
    EXPECT_FALSE(big.open_or_create("Small", kSize, nullptr));
    EXPECT_TRUE(big.open_or_create("Small", 4096, nullptr));
}

}  // namespace
}  // namespace zbx::platform
