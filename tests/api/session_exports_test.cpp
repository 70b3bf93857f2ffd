// Opening and releasing sessions, the error history and the notification
// message, through the exported functions.
#include <gtest/gtest.h>

#include <vector>

#include "api/registry.h"
#include "messages.h"
#include "zorbex/zorbex.h"

namespace {

using zbx::test::error_codes;
using zbx::test::take_messages;

// A session with a message window of its own, released at the end.
class Session : public testing::Test {
protected:
    void SetUp() override {
        take_messages(nullptr);
        window_ = ZbxWin_CreateMessageWindow();
        ASSERT_NE(window_, nullptr);
        handle_ = Zorbex_Initialize(window_);
        ASSERT_NE(handle_, 0u);
    }
    void TearDown() override {
        if (handle_ != 0) {
            EXPECT_EQ(Zorbex_Release(handle_), 1);
        }
        ZbxWin_DestroyWindow(window_);
    }
    // Records a failure as a session operation would.
    void fail(int code) { zbx::api::registry().find_session(handle_)->report(code); }

    ZbxWindow window_ = nullptr;
    ZbxHandle handle_ = 0;
};

TEST_F(Session, HistoryPopsNewestFirst) {
    for (int code : {9, 1, 5}) fail(code);
    EXPECT_EQ(Zorbex_GetLastError(handle_), 5);
    EXPECT_EQ(Zorbex_GetLastError(handle_), 1);
    EXPECT_EQ(Zorbex_GetLastError(handle_), 9);
    EXPECT_EQ(Zorbex_GetLastError(handle_), 0);
    EXPECT_EQ(error_codes(take_messages(window_)), (std::vector<std::intptr_t>{9, 1, 5}));
}

TEST_F(Session, FailuresArePostedToTheNotificationWindow) {
    fail(ZBX_ERR_PARAMETER);
    ZbxMessage message{};
    ASSERT_EQ(ZbxWin_WaitMessage(window_, &message, 1000), 1);
    EXPECT_EQ(message.window, window_);
    EXPECT_EQ(message.message, ZBX_MSG_ERROR);
    EXPECT_EQ(message.wparam, 0u);
    EXPECT_EQ(message.lparam, ZBX_ERR_PARAMETER);
    EXPECT_TRUE(take_messages(nullptr).empty());
}

TEST_F(Session, UnsupportedNamesPostCode11WithoutRecordingIt) {
    int ok = 12345;
    EXPECT_EQ(Zorbex_Fpga_ReadRegister(handle_, 1, &ok), 0);
    EXPECT_EQ(ok, 12345);  // every argument but the handle is ignored
    EXPECT_EQ(Zorbex_Fpga_WriteRegister(handle_, 1, 2), 0);
    EXPECT_EQ(Zorbex_Fps(handle_), 0);
    EXPECT_EQ(Zorbex_GetHalfClock(handle_), 0);
    EXPECT_EQ(Zorbex_SetHalfClock(handle_, 1), 0);
    EXPECT_EQ(Zorbex_SetCrossbar(handle_, 1, 2), 0);
    EXPECT_EQ(Zorbex_SetSamplingRate(handle_, 3), 0);
    EXPECT_EQ(error_codes(take_messages(window_)), std::vector<std::intptr_t>(7, ZBX_ERR_UNSUPPORTED));
    EXPECT_EQ(Zorbex_GetLastError(handle_), 0);
}

TEST(UnsupportedNames, ShareOneEntryPoint) {
    const auto entry = reinterpret_cast<void (*)()>(&Zorbex_Fps);
    EXPECT_EQ(reinterpret_cast<void (*)()>(&Zorbex_Fpga_ReadRegister), entry);
    EXPECT_EQ(reinterpret_cast<void (*)()>(&Zorbex_Fpga_WriteRegister), entry);
    EXPECT_EQ(reinterpret_cast<void (*)()>(&Zorbex_GetHalfClock), entry);
    EXPECT_EQ(reinterpret_cast<void (*)()>(&Zorbex_SetHalfClock), entry);
    EXPECT_EQ(reinterpret_cast<void (*)()>(&Zorbex_SetCrossbar), entry);
    EXPECT_EQ(reinterpret_cast<void (*)()>(&Zorbex_SetSamplingRate), entry);
}

TEST_F(Session, StatusIsAlwaysZero) {
    EXPECT_EQ(Zorbex_GetStatus(handle_, 7), 0);
    EXPECT_EQ(Zorbex_GetLastError(handle_), 0);
}

TEST(SessionWithoutWindow, ReportRecordsButPostsNothing) {
    take_messages(nullptr);
    const ZbxHandle h = Zorbex_Initialize(nullptr);
    ASSERT_NE(h, 0u);
    zbx::api::registry().find_session(h)->report(ZBX_ERR_MEMORY);
    EXPECT_TRUE(take_messages(nullptr).empty());
    EXPECT_EQ(Zorbex_GetLastError(h), ZBX_ERR_MEMORY);
    EXPECT_EQ(Zorbex_Release(h), 1);
}

TEST(SessionWithoutWindow, UnsupportedPostsToTheCallingThreadsQueue) {
    take_messages(nullptr);
    const ZbxHandle h = Zorbex_Initialize(nullptr);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(Zorbex_SetSamplingRate(h, 1), 0);
    const std::vector<ZbxMessage> messages = take_messages(nullptr);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].window, nullptr);
    EXPECT_EQ(error_codes(messages), std::vector<std::intptr_t>{ZBX_ERR_UNSUPPORTED});
    EXPECT_EQ(Zorbex_GetLastError(h), 0);
    EXPECT_EQ(Zorbex_Release(h), 1);
}

TEST(SessionLifetime, HandlesAreDistinctAndReleasedOnce) {
    const ZbxHandle a = Zorbex_Initialize(nullptr);
    const ZbxHandle b = Zorbex_Initialize(nullptr);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(Zorbex_Release(a), 1);
    EXPECT_EQ(Zorbex_Release(a), 0);
    EXPECT_EQ(Zorbex_GetStatus(b, 0), 0);
    EXPECT_EQ(Zorbex_Release(b), 1);
    EXPECT_EQ(Zorbex_Release(b), 0);
}

// Unknown, zero and released handles: the failure value, nothing posted,
// no output written.
void expect_no_session(ZbxHandle h) {
    SCOPED_TRACE(h);
    take_messages(nullptr);
    int ok = 12345;
    EXPECT_EQ(Zorbex_Release(h), 0);
    EXPECT_EQ(Zorbex_GetLastError(h), 0);
    EXPECT_EQ(Zorbex_GetStatus(h, 0), 0);
    EXPECT_EQ(Zorbex_Fpga_ReadRegister(h, 0, &ok), 0);
    EXPECT_EQ(Zorbex_Fpga_WriteRegister(h, 0, 0), 0);
    EXPECT_EQ(Zorbex_Fps(h), 0);
    EXPECT_EQ(Zorbex_GetHalfClock(h), 0);
    EXPECT_EQ(Zorbex_SetHalfClock(h, 1), 0);
    EXPECT_EQ(Zorbex_SetCrossbar(h, 1, 2), 0);
    EXPECT_EQ(Zorbex_SetSamplingRate(h, 1), 0);
    EXPECT_EQ(ok, 12345);
    EXPECT_TRUE(take_messages(nullptr).empty());
}

TEST(NoSession, EveryExportFailsQuietly) {
    expect_no_session(0);
    expect_no_session(0xDEADBEEFu);

    ZbxWindow window = ZbxWin_CreateMessageWindow();
    const ZbxHandle released = Zorbex_Initialize(window);
    ASSERT_NE(released, 0u);
    zbx::api::registry().find_session(released)->report(ZBX_ERR_PARAMETER);
    take_messages(window);
    ASSERT_EQ(Zorbex_Release(released), 1);
    expect_no_session(released);
    EXPECT_TRUE(take_messages(window).empty());
    ZbxWin_DestroyWindow(window);
}

}  // namespace
