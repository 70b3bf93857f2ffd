// The image copy into caller buffers and Zorbex_GetImage.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "api/registry.h"
#include "pipeline/image_buffer.h"
#include "platform/settings_store.h"
#include "session/image_copy.h"
#include "session/settings_apply.h"
#include "session/zorbex.h"
#include "zorbex/vcam.h"
#include "zorbex/zorbex.h"

namespace zbx::session {
namespace {

std::vector<std::intptr_t> messages(ZbxWindow window, std::uint32_t message) {
    std::vector<std::intptr_t> codes;
    ZbxMessage m{};
    while (ZbxWin_PeekMessage(window, &m, 1) != 0)
        if (m.message == message) codes.push_back(m.lparam);
    return codes;
}

class ImageCopy : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ZbxVcam_Reset(), ZBX_VCAM_OK);
        (void)platform::delete_settings_tree("Software\\Tevrun\\Zorbex530RDNQTSdk");
        window_ = ZbxWin_CreateMessageWindow();
        h_ = Zorbex_Initialize(window_);
        ASSERT_NE(h_, 0u);
        s_ = api::registry().find_session(h_).get();
        ASSERT_NE(s_, nullptr);
        while (Zorbex_GetLastError(h_) != 0) {
        }
        messages(window_, 0x8003);
    }
    void TearDown() override {
        EXPECT_EQ(Zorbex_Release(h_), 1);
        ZbxWin_DestroyWindow(window_);
    }
    // Applies mode 0 at 5 x 3: stride 8; row r filled with r + 1.
    pipeline::CImageBuffer& small_grey_image() {
        EXPECT_EQ(Zorbex_SetColorMode(h_, 8), 1);
        s_->geometry().width = 5;
        s_->geometry().height = 3;
        EXPECT_EQ(apply_settings(*s_), 1);
        pipeline::CImageBuffer& b = *s_->image_buffer(0);
        for (int r = 0; r < b.height(); ++r)
            for (int c = 0; c < b.stride(); ++c) b.pixels()[r * b.stride() + c] = static_cast<std::uint8_t>(16 * (r + 1) + c);
        return b;
    }

    ZbxWindow window_ = nullptr;
    ZbxHandle h_ = 0;
    CZorbex* s_ = nullptr;
};

TEST_F(ImageCopy, RowOrderFollowsTheCopyFlagPaddingIncluded) {
    const pipeline::CImageBuffer& b = small_grey_image();
    ASSERT_EQ(b.stride(), 8);
    std::vector<std::uint8_t> top(24), bottom(24);
    ASSERT_EQ(Zorbex_GetImage(h_, top.data(), 24, 1), 1);
    ASSERT_EQ(Zorbex_GetImage(h_, bottom.data(), 24, 0), 1);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 8; ++c) {
            EXPECT_EQ(top[r * 8 + c], 16 * (r + 1) + c);
            EXPECT_EQ(bottom[r * 8 + c], 16 * (3 - r) + c);
        }
}

TEST_F(ImageCopy, ABufferTooSmallGivesCode5Twice) {
    small_grey_image();
    std::vector<std::uint8_t> out(24, 0xEE);
    EXPECT_EQ(Zorbex_GetImage(h_, out.data(), 23, 1), 0);
    EXPECT_EQ(out, std::vector<std::uint8_t>(24, 0xEE));
    EXPECT_EQ(Zorbex_GetLastError(h_), 5);
    EXPECT_EQ(Zorbex_GetLastError(h_), 5);
    EXPECT_EQ(Zorbex_GetLastError(h_), 0);
    EXPECT_EQ(messages(window_, 0x8003), (std::vector<std::intptr_t>{5, 5}));
}

TEST_F(ImageCopy, ACallbackWindowHearsOfTheFailedCopy) {
    const pipeline::CImageBuffer& b = small_grey_image();
    ZbxWindow callback = ZbxWin_CreateMessageWindow();
    s_->capture_target().callback_window = callback;
    std::vector<std::uint8_t> out(24);
    EXPECT_EQ(copy_image(*s_, b, 1, out.data(), 23), 0);
    EXPECT_EQ(messages(callback, 0x8002), std::vector<std::intptr_t>{5});
    EXPECT_EQ(Zorbex_GetLastError(h_), 5);
    EXPECT_EQ(copy_image(*s_, b, 0, out.data(), 24), 1);
    EXPECT_TRUE(messages(callback, 0x8002).empty());
    s_->capture_target().callback_window = nullptr;
    ZbxWin_DestroyWindow(callback);

    // With the notification window as callback window, one queue shows the
    // order: the code is recorded (0x8003) before the failure is announced.
    messages(window_, 0x8003);
    s_->capture_target().callback_window = window_;
    EXPECT_EQ(copy_image(*s_, b, 1, out.data(), 23), 0);
    std::vector<std::uint32_t> order;
    ZbxMessage m{};
    while (ZbxWin_PeekMessage(window_, &m, 1) != 0)
        if (m.lparam == 5) order.push_back(m.message);
    EXPECT_EQ(order, (std::vector<std::uint32_t>{0x8003, 0x8002}));
    s_->capture_target().callback_window = nullptr;
}

TEST_F(ImageCopy, TheFullColourImageNeedsItsWholeSize) {
    ASSERT_EQ(Zorbex_SetColorMode(h_, 24), 1);
    ASSERT_EQ(apply_settings(*s_), 1);
    ASSERT_EQ(s_->image_buffer(2)->stride(), 3840);
    std::vector<std::uint8_t> out(2'764'800);
    EXPECT_EQ(Zorbex_GetImage(h_, out.data(), 2'764'799, 0), 0);
    EXPECT_EQ(Zorbex_GetImage(h_, out.data(), 2'764'800, 0), 1);
}

TEST_F(ImageCopy, NothingToCopyYet) {
    std::vector<std::uint8_t> out(16);
    EXPECT_EQ(Zorbex_GetImage(h_, out.data(), 16, 1), 0);
    EXPECT_EQ(Zorbex_GetLastError(h_), 5);
    small_grey_image();
    EXPECT_EQ(Zorbex_GetImage(h_, nullptr, 100, 1), 0);
    EXPECT_EQ(Zorbex_GetLastError(h_), 5);
    // A stored mode outside 0 to 5 has no image at all.
    s_->acquisition().color_mode = 7;
    EXPECT_EQ(Zorbex_GetImage(h_, out.data(), 16, 1), 0);
    EXPECT_EQ(Zorbex_GetLastError(h_), 1);
}

}  // namespace
}  // namespace zbx::session
