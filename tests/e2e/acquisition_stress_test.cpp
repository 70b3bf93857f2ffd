// Several application threads change settings, start and stop, take
// snapshots and copy images while streaming runs, as a busy application
// might.  Nothing may hang or crash, and the session must end idle; run it
// under the thread sanitizer for the data races.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "e2e/e2e_session.h"
#include "zorbex/vcam.h"
#include "zorbex/window.h"
#include "zorbex/zorbex.h"

namespace zbx::test {
namespace {

class AcquisitionStress : public OpenSession {};

TEST_F(AcquisitionStress, SettingsStartsAndStopsWhileStreaming) {
    ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_UNPACED), ZBX_VCAM_OK);
    const ZbxWindow frames = ZbxWin_CreateMessageWindow();
    ZbxWindow parent = ZbxWin_CreateWindow(nullptr, 0, 0, 400, 300, 1);
    ASSERT_EQ(Zorbex_SetPreviewWindow(h_, parent, 0, 0, 200, 150), 1);
    ASSERT_EQ(Zorbex_SetWaitTime(h_, 0), 1);
    std::vector<std::uint8_t> caller(1280 * 720 * 8);
    std::vector<std::uint8_t> small(100);
    ASSERT_EQ(Zorbex_CallBackPreview(h_, frames, caller.data(), static_cast<int>(caller.size()), 1), 1);

    std::atomic<bool> done{false};
    std::atomic<int> frame_messages{0};
    std::vector<std::thread> threads;
    // The application's message loop.
    threads.emplace_back([&] {
        ZbxMessage m{};
        while (!done)
            if (ZbxWin_WaitMessage(frames, &m, 20) != 0 && m.wparam != 0) {
                const auto* record = reinterpret_cast<const ZbxFrameRecord*>(m.wparam);
                if (__atomic_load_n(&record->size, __ATOMIC_RELAXED) == 32) ++frame_messages;
            }
    });
    // Setters that program the sensor at once, against the settings apply
    // of the starts below.
    threads.emplace_back([&] {
        for (int i = 0; !done; ++i) {
            (void)Zorbex_SetMirrorH(h_, i & 1);
            (void)Zorbex_SetMirrorV(h_, (i >> 1) & 1);
            (void)Zorbex_SetGlobalGain(h_, i % 12);
            (void)Zorbex_SetExposureTime(h_, 200 + i % 600);
            (void)Zorbex_WriteRegister(h_, 35, 0x0303);  // a gain code, as the gain setter writes
            int ok = 0;
            (void)Zorbex_ReadRegister(h_, 15, &ok);
            (void)Zorbex_GetMirrorH(h_);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    // Adjustments and other values that development reads per frame.
    threads.emplace_back([&] {
        for (int i = 0; !done; ++i) {
            (void)Zorbex_SetBrightness(h_, i % 50);
            (void)Zorbex_SetContrast(h_, i % 40);
            (void)Zorbex_SetGamma(h_, 80 + i % 40);
            (void)Zorbex_SetSharpness(h_, i % 3);
            (void)Zorbex_SetBayerGainRed(h_, 90 + i % 20);
            (void)Zorbex_SetWaitTime(h_, i % 2);
            (void)Zorbex_SetColorMode(h_, (i % 3 == 0) ? 8 : (i % 3 == 1) ? 24 : 64);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    // Starts and stops, with and without a window; snapshots in between.
    threads.emplace_back([&] {
        for (int i = 0; !done; ++i) {
            switch (i % 4) {
                case 0:
                    (void)Zorbex_StopPreview(h_);
                    (void)Zorbex_SnapShot(h_, nullptr, 0, 1);
                    break;
                case 1:
                    // While streaming this only swaps the caller buffer: a
                    // small one must never be filled with the large one's length.
                    if (i & 2)
                        (void)Zorbex_CallBackPreview(h_, frames, small.data(), static_cast<int>(small.size()), 1);
                    else
                        (void)Zorbex_CallBackPreview(h_, frames, caller.data(), static_cast<int>(caller.size()), 0);
                    break;
                case 2:
                    (void)Zorbex_StartPreview(h_);
                    break;
                default:
                    (void)Zorbex_Close(h_);
                    (void)Zorbex_CallBackPreview(h_, frames, caller.data(), static_cast<int>(caller.size()), 1);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    });
    // Image copies and snapshot attempts racing with the others.
    threads.emplace_back([&] {
        std::vector<std::uint8_t> image(1280 * 720 * 8);
        while (!done) {
            (void)Zorbex_GetImage(h_, image.data(), static_cast<int>(image.size()), 0);
            (void)Zorbex_SnapShot(h_, image.data(), static_cast<int>(image.size()), 1);
            (void)Zorbex_GetLastError(h_);
        }
    });

    // At least 4 s, and on until a frame came through: under a sanitizer a
    // start and a developed frame can take longer than a run lasts here.
    const auto begin = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - begin < std::chrono::seconds(4) ||
           (frame_messages == 0 && std::chrono::steady_clock::now() - begin < std::chrono::seconds(60)))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    done = true;
    for (std::thread& t : threads) t.join();

    EXPECT_EQ(Zorbex_Close(h_), 1);
    EXPECT_GT(frame_messages.load(), 0);
    // Idle again: the camera can be used as usual.
    ASSERT_EQ(Zorbex_SetColorMode(h_, 24), 1);
    std::vector<std::uint8_t> image(1280 * 720 * 3);
    EXPECT_EQ(Zorbex_SnapShot(h_, image.data(), static_cast<int>(image.size()), 1), 1);
    ZbxWin_DestroyWindow(parent);
    ZbxWin_DestroyWindow(frames);
}

}  // namespace
}  // namespace zbx::test
