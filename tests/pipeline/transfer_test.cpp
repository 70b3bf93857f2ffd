#include <gtest/gtest.h>

#include "pipeline/image_buffer.h"
#include "pipeline/transfer.h"

namespace zbx::pipeline {
namespace {

struct Seen {
    int calls = 0;
    Rect rect;
    std::int32_t dst_x = -1, dst_y = -1;
    std::uint16_t dst_bpp = 0, src_bpp = 0;
    std::int32_t dst_stride = 0, src_stride = 0;
    const std::uint8_t* dst = nullptr;
    const std::uint8_t* src = nullptr;
};

int record(std::uint8_t* dst, const std::uint8_t* src, const Rect* r, std::int32_t dx,
           std::int32_t dy, std::uint16_t dbpp, std::uint16_t sbpp, std::int32_t ds,
           std::int32_t ss, void* params, void*) {
    auto* s = static_cast<Seen*>(params);
    ++s->calls;
    s->rect = *r;
    s->dst_x = dx;
    s->dst_y = dy;
    s->dst_bpp = dbpp;
    s->src_bpp = sbpp;
    s->dst_stride = ds;
    s->src_stride = ss;
    s->dst = dst;
    s->src = src;
    return 4242;
}

void expect_rect(const Rect& r, int l, int t, int rr, int b) {
    EXPECT_EQ(r.left, l);
    EXPECT_EQ(r.top, t);
    EXPECT_EQ(r.right, rr);
    EXPECT_EQ(r.bottom, b);
}

TEST(Transfer, WholeBufferArrivesUnchangedWithArguments) {
    CImageBuffer dst, src;
    ASSERT_EQ(dst.Create(10, 6, 24), 1);
    ASSERT_EQ(src.Create(10, 6, 8), 1);
    Seen s;
    EXPECT_EQ(TransferRect(dst, record, src, nullptr, 0, 0, &s, nullptr), 4242);
    EXPECT_EQ(s.calls, 1);
    expect_rect(s.rect, 0, 0, 10, 6);
    EXPECT_EQ(s.dst_x, 0);
    EXPECT_EQ(s.dst_y, 0);
    EXPECT_EQ(s.dst_bpp, 3);
    EXPECT_EQ(s.src_bpp, 1);
    EXPECT_EQ(s.dst_stride, 32);
    EXPECT_EQ(s.src_stride, 12);
    EXPECT_EQ(s.dst, dst.pixels());
    EXPECT_EQ(s.src, src.pixels());
}

TEST(Transfer, PictureRowsTurnIntoMemoryRows) {
    CImageBuffer a, b;
    ASSERT_EQ(a.Create(10, 10, 8), 1);
    ASSERT_EQ(b.Create(10, 10, 8), 1);
    Seen s;
    const Rect r{2, 3, 6, 5};
    EXPECT_EQ(TransferRect(b, record, a, &r, 0, 0, &s, nullptr), 4242);
    expect_rect(s.rect, 2, 5, 6, 7);
    EXPECT_EQ(s.dst_x, 0);
    EXPECT_EQ(s.dst_y, 8);
}

TEST(Transfer, ClipsToTheSmallerBuffer) {
    CImageBuffer big, small;
    ASSERT_EQ(big.Create(20, 12, 8), 1);
    ASSERT_EQ(small.Create(8, 5, 8), 1);
    Seen s;
    TransferRect(small, record, big, nullptr, 0, 0, &s, nullptr);
    expect_rect(s.rect, 0, 7, 8, 12);  // the top 5 picture rows of the big buffer
    EXPECT_EQ(s.dst_y, 0);

    // Negative destination position cuts the source's left and top.
    Rect r{0, 0, 8, 5};
    std::int32_t x = -3, y = -2;
    ASSERT_TRUE(ClipTransfer(big, small, r, x, y));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 12 - 3);
    expect_rect(r, 3, 0, 8, 3);

    // Partly off the destination's right and bottom edges.
    r = Rect{0, 0, 8, 5};
    x = 15;
    y = 10;
    ASSERT_TRUE(ClipTransfer(big, small, r, x, y));
    EXPECT_EQ(x, 15);
    EXPECT_EQ(y, 0);
    expect_rect(r, 0, 3, 5, 5);
}

TEST(Transfer, NothingLeftMeansNoCall) {
    CImageBuffer a, b, empty;
    ASSERT_EQ(a.Create(10, 10, 8), 1);
    ASSERT_EQ(b.Create(10, 10, 8), 1);
    Seen s;
    EXPECT_EQ(TransferRect(empty, record, a, nullptr, 0, 0, &s, nullptr), 0);
    EXPECT_EQ(TransferRect(a, record, empty, nullptr, 0, 0, &s, nullptr), 0);
    EXPECT_EQ(TransferRect(a, record, b, nullptr, 10, 0, &s, nullptr), 0);
    EXPECT_EQ(TransferRect(a, record, b, nullptr, 0, -10, &s, nullptr), 0);
    const Rect outside{12, 0, 20, 4};
    EXPECT_EQ(TransferRect(a, record, b, &outside, 0, 0, &s, nullptr), 0);
    const Rect reversed{6, 0, 2, 4};
    EXPECT_EQ(TransferRect(a, record, b, &reversed, 0, 0, &s, nullptr), 0);
    EXPECT_EQ(TransferRect(a, nullptr, b, nullptr, 0, 0, &s, nullptr), 0);
    EXPECT_EQ(s.calls, 0);

    Rect r{0, 0, 4, 4};
    std::int32_t x = 50, y = 0;
    EXPECT_FALSE(ClipTransfer(a, b, r, x, y));
    expect_rect(r, 0, 0, 0, 0);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
}

TEST(Transfer, WindowOnItselfAsTheExposureStepUsesIt) {
    CImageBuffer raw;
    ASSERT_EQ(raw.Create(100, 50, 8), 1);
    Seen s;
    const Rect w{10, 5, 20, 10};
    TransferRect(raw, record, raw, &w, w.left, w.top, &s, nullptr);
    expect_rect(s.rect, 10, 40, 20, 45);
    EXPECT_EQ(s.dst_x, 10);
    EXPECT_EQ(s.dst_y, 40);
}

struct ScaledSeen {
    Rect d, s;
    Size ds, ss;
    int calls = 0;
};

int record_scaled(std::uint8_t*, const std::uint8_t*, const Rect* d, const Rect* s, Size ds,
                  Size ss, std::uint16_t, std::uint16_t, std::int32_t, std::int32_t, void* p,
                  void*) {
    auto* seen = static_cast<ScaledSeen*>(p);
    ++seen->calls;
    seen->d = *d;
    seen->s = *s;
    seen->ds = ds;
    seen->ss = ss;
    return 9;
}

TEST(Transfer, ScaledHandsWholeBuffersUnclipped) {
    CImageBuffer dst, src, empty;
    ASSERT_EQ(dst.Create(64, 36, 24), 1);
    ASSERT_EQ(src.Create(128, 72, 24), 1);
    ScaledSeen seen;
    EXPECT_EQ(TransferScaled(dst, record_scaled, src, nullptr, nullptr, &seen, nullptr), 9);
    expect_rect(seen.d, 0, 0, 64, 36);
    expect_rect(seen.s, 0, 0, 128, 72);
    EXPECT_EQ(seen.ds.width, 64);
    EXPECT_EQ(seen.ss.height, 72);
    EXPECT_EQ(TransferScaled(dst, nullptr, src, nullptr, nullptr, &seen, nullptr), 0);
    EXPECT_EQ(TransferScaled(empty, record_scaled, src, nullptr, nullptr, &seen, nullptr), 0);
    EXPECT_EQ(seen.calls, 1);
}

}  // namespace
}  // namespace zbx::pipeline
