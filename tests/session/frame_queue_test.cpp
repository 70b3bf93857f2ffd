// The frame queue alone, driven as the acquisition thread and a program
// drive it: delivery strategies, drop accounting, holding, lending, cancel.
#include "session/frame_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace zbx::session {
namespace {

ZbxFrameFormat format_of(int width, int height) {
    ZbxFrameFormat f{};
    f.width = width;
    f.height = height;
    f.stride = width;
    f.format = ZBX_FORMAT_MONO8;
    f.sample_bits = 8;
    f.size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    return f;
}

// Produces frame `sequence` filled with its own number; false when dropped.
bool produce(FrameQueue& q, std::uint64_t sequence, const ZbxFrameFormat& f = format_of(8, 2)) {
    FrameQueue::Buffer* b = q.acquire(sequence);
    if (b == nullptr) return false;
    std::memset(FrameQueue::pixels(b), static_cast<int>(sequence & 0xFF), f.size);
    ZbxFrame meta{};
    meta.width = f.width;
    meta.height = f.height;
    meta.stride = f.stride;
    meta.sequence = sequence;
    q.commit(b, meta);
    return true;
}

std::uint64_t take(FrameQueue& q, const ZbxFrame** out = nullptr) {
    const ZbxFrame* f = nullptr;
    EXPECT_EQ(q.wait(0, &f), ZBX_OK);
    if (f == nullptr) return 0;
    if (out != nullptr) *out = f;
    return f->sequence;
}

TEST(FrameQueue, EveryFrameDeliversInOrderAndDropsTheNewestWhenFull) {
    FrameQueue q(ZBX_DELIVER_ALL, ZBX_OUTPUT_DEVELOPED);
    ASSERT_EQ(q.add_own(3), ZBX_OK);
    ASSERT_EQ(q.prepare(format_of(8, 2)), ZBX_OK);
    for (std::uint64_t s = 1; s <= 3; ++s) EXPECT_TRUE(produce(q, s));
    EXPECT_FALSE(produce(q, 4));  // no free buffer: the newest goes
    const ZbxFrame* first = nullptr;
    EXPECT_EQ(take(q, &first), 1u);
    EXPECT_EQ(first->dropped, 0u);
    EXPECT_EQ(static_cast<const std::uint8_t*>(first->data)[0], 1);
    EXPECT_EQ(take(q), 2u);
    EXPECT_EQ(take(q), 3u);
    ASSERT_EQ(q.release(first), ZBX_OK);
    EXPECT_TRUE(produce(q, 5));
    const ZbxFrame* fifth = nullptr;
    EXPECT_EQ(take(q, &fifth), 5u);
    EXPECT_EQ(fifth->dropped, 1u);  // frame 4
    EXPECT_EQ(q.stats().dropped, 1u);
    EXPECT_EQ(q.stats().delivered, 4u);
    EXPECT_EQ(q.stats().held, 3u);
}

TEST(FrameQueue, LatestOnlyReplacesAWaitingFrameAndCountsIt) {
    FrameQueue q(ZBX_DELIVER_LATEST, ZBX_OUTPUT_DEVELOPED);
    ASSERT_EQ(q.add_own(2), ZBX_OK);
    ASSERT_EQ(q.prepare(format_of(8, 2)), ZBX_OK);
    const ZbxFrame* held = nullptr;
    EXPECT_TRUE(produce(q, 1));
    EXPECT_EQ(take(q, &held), 1u);
    // One buffer is held: the other takes each newer frame in turn.
    for (std::uint64_t s = 2; s <= 6; ++s) EXPECT_TRUE(produce(q, s));
    const ZbxFrame* newest = nullptr;
    EXPECT_EQ(take(q, &newest), 6u);
    EXPECT_EQ(newest->dropped, 4u);
    EXPECT_EQ(static_cast<const std::uint8_t*>(held->data)[0], 1);  // never overwritten while held
    EXPECT_EQ(q.stats().dropped, 4u);
}

TEST(FrameQueue, GapsInTheTransferCountAsDropped) {
    FrameQueue q(ZBX_DELIVER_ALL, ZBX_OUTPUT_DEVELOPED);
    ASSERT_EQ(q.add_own(4), ZBX_OK);
    ASSERT_EQ(q.prepare(format_of(8, 2)), ZBX_OK);
    EXPECT_TRUE(produce(q, 3));
    EXPECT_TRUE(produce(q, 7));
    const ZbxFrame* f = nullptr;
    take(q, &f);
    EXPECT_EQ(f->dropped, 2u);
    take(q, &f);
    EXPECT_EQ(f->dropped, 3u);
    EXPECT_EQ(q.stats().dropped, 5u);
}

TEST(FrameQueue, ReleaseRefusesWhatIsNotHeld) {
    FrameQueue q(ZBX_DELIVER_ALL, ZBX_OUTPUT_DEVELOPED);
    ASSERT_EQ(q.add_own(2), ZBX_OK);
    ASSERT_EQ(q.prepare(format_of(8, 2)), ZBX_OK);
    EXPECT_TRUE(produce(q, 1));
    const ZbxFrame* f = nullptr;
    take(q, &f);
    EXPECT_EQ(q.release(f), ZBX_OK);
    EXPECT_EQ(q.release(f), ZBX_ERR_NOT_HELD);
    ZbxFrame stranger{};
    EXPECT_EQ(q.release(&stranger), ZBX_ERR_NOT_HELD);
    EXPECT_EQ(q.release(nullptr), ZBX_ERR_PARAMETER);
}

TEST(FrameQueue, LentBuffersAreCheckedAndCarryTheirUserPointer) {
    FrameQueue q(ZBX_DELIVER_ALL, ZBX_OUTPUT_DEVELOPED);
    alignas(64) static std::uint8_t memory[2][64];
    int tag = 0;
    EXPECT_EQ(q.lend(nullptr, 64, nullptr, 16), ZBX_ERR_BUFFER);
    EXPECT_EQ(q.lend(memory[0] + 1, 63, nullptr, 16), ZBX_ERR_BUFFER);  // misaligned
    EXPECT_EQ(q.lend(memory[0], 8, nullptr, 16), ZBX_ERR_BUFFER);       // too small
    ASSERT_EQ(q.lend(memory[0], 64, &tag, 16), ZBX_OK);
    EXPECT_EQ(q.check(format_of(16, 8)), ZBX_ERR_BUFFER);  // 128 bytes would not fit
    ASSERT_EQ(q.prepare(format_of(8, 2)), ZBX_OK);
    EXPECT_EQ(q.lend(memory[1], 8, nullptr, 0), ZBX_ERR_BUFFER);  // checked against the running format too
    EXPECT_TRUE(produce(q, 1));
    const ZbxFrame* f = nullptr;
    take(q, &f);
    EXPECT_EQ(f->data, memory[0]);
    EXPECT_EQ(f->user, &tag);
}

TEST(FrameQueue, CancelWakesEveryWaiterUntilResumed) {
    FrameQueue q(ZBX_DELIVER_ALL, ZBX_OUTPUT_DEVELOPED);
    ASSERT_EQ(q.add_own(2), ZBX_OK);
    ASSERT_EQ(q.prepare(format_of(8, 2)), ZBX_OK);
    std::vector<std::thread> waiters;
    std::vector<int> results(3, -1);
    for (int& r : results)
        waiters.emplace_back([&q, &r] {
            const ZbxFrame* f = nullptr;
            r = q.wait(-1, &f);
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    q.cancel();
    for (auto& t : waiters) t.join();
    for (int r : results) EXPECT_EQ(r, ZBX_ERR_CANCELLED);
    const ZbxFrame* f = nullptr;
    EXPECT_EQ(q.wait(1000, &f), ZBX_ERR_CANCELLED);  // a wait that begins later too
    q.resume();
    EXPECT_EQ(q.wait(0, &f), ZBX_ERR_TIMEOUT);
}

TEST(FrameQueue, EndOfRunIsReportedOnceTheQueueIsEmpty) {
    FrameQueue q(ZBX_DELIVER_ALL, ZBX_OUTPUT_DEVELOPED);
    ASSERT_EQ(q.add_own(2), ZBX_OK);
    const ZbxFrame* f = nullptr;
    EXPECT_EQ(q.wait(-1, &f), ZBX_ERR_ENDED);  // never started: no wait forever
    ASSERT_EQ(q.prepare(format_of(8, 2)), ZBX_OK);
    EXPECT_TRUE(produce(q, 1));
    q.end_run(ZBX_ERR_FRAME_TIMEOUT);
    EXPECT_EQ(q.wait(-1, &f), ZBX_OK);  // what was delivered is kept
    EXPECT_EQ(q.wait(-1, &f), ZBX_ERR_FRAME_TIMEOUT);
    q.end_run(ZBX_OK);  // a stop after the failure keeps its reason
    EXPECT_EQ(q.stats().last_error, ZBX_ERR_FRAME_TIMEOUT);
}

TEST(FrameQueue, HeldFramesOutliveClose) {
    FrameQueue q(ZBX_DELIVER_ALL, ZBX_OUTPUT_DEVELOPED);
    ASSERT_EQ(q.add_own(2), ZBX_OK);
    ASSERT_EQ(q.prepare(format_of(8, 2)), ZBX_OK);
    EXPECT_TRUE(produce(q, 9));
    EXPECT_TRUE(produce(q, 10));
    const ZbxFrame* f = nullptr;
    take(q, &f);
    q.close();
    EXPECT_FALSE(produce(q, 11));
    EXPECT_EQ(static_cast<const std::uint8_t*>(f->data)[15], 9);
    EXPECT_EQ(q.held(), 1u);
    EXPECT_EQ(q.release(f), ZBX_OK);
    EXPECT_EQ(q.held(), 0u);
    const ZbxFrame* g = nullptr;
    EXPECT_EQ(q.wait(0, &g), ZBX_ERR_CANCELLED);
}

TEST(FrameQueue, BufferCountIsBounded) {
    FrameQueue q(ZBX_DELIVER_ALL, ZBX_OUTPUT_DEVELOPED);
    EXPECT_EQ(q.add_own(kMaxQueueBuffers + 1), ZBX_ERR_PARAMETER);
    EXPECT_EQ(q.prepare(format_of(8, 2)), ZBX_ERR_BUFFER);  // no buffer at all
}

}  // namespace
}  // namespace zbx::session
