#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "device/zbx_sdk_lib.h"
#include "fake_driver.h"

namespace zbx::device {
namespace {

using testing::FakeDriver;
using testing::Outcome;
using testing::Request;

// The link on device 0 of the fake driver.
class Link : public CZBXSdkLib {
public:
    Link() {
        set_device_stem("Zbrx530RDNQT");
        (void)select_device(0);
    }
    using CZBXSdkLib::set_large_frame;
};

bool wait_until(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<Request> image_reads(const FakeDriver& driver) {
    std::vector<Request> out;
    for (const auto& r : driver.requests()) {
        if (r.pipe == 2) out.push_back(r);
    }
    return out;
}

TEST(Geometry, RefusalsSampleCountsAndFrameSizeCommand) {
    FakeDriver driver;
    Link link;
    EXPECT_EQ(link.set_geometry(0, 0, 0, 10, 0, 10, 4), kCodeBadWidths);
    EXPECT_EQ(link.set_geometry(10, 0, 11, 10, 0, 10, 4), kCodeBadWidths);
    EXPECT_EQ(link.set_geometry(10, 3, 8, 10, 0, 10, 4), kCodeBadWidths);  // window past the line end
    EXPECT_EQ(link.set_geometry(10, -1, 8, 10, 0, 10, 4), kCodeBadWidths);
    EXPECT_EQ(link.set_geometry(10, 0, 10, 0, 0, 1, 4), kCodeBadLines);
    EXPECT_EQ(link.set_geometry(10, 0, 10, 10, 1, 10, 4), kCodeBadLines);
    EXPECT_EQ(link.set_geometry(10, 0, 10, 10, -1, 5, 4), kCodeBadLines);
    EXPECT_EQ(link.set_geometry(10, 0, 10, 10, 0, 10, 1), kCodeRingCount);
    EXPECT_TRUE(driver.commands().empty());

    ASSERT_EQ(link.set_geometry(1280, 0, 1280, 720, 0, 720, 4), 0);
    EXPECT_EQ(link.frame_sample_count(), 921'600u);
    EXPECT_EQ(link.transfer_byte_count(), 921'600u);
    EXPECT_EQ(link.ring_count(), 4);
    std::vector<std::uint8_t> size_packet(64, 0);
    size_packet[0] = 0x09;
    size_packet[2] = 0x10;
    size_packet[3] = 0x0E;
    EXPECT_EQ(driver.commands().back(), size_packet);
    link.set_sample_width(true);
    EXPECT_EQ(link.transfer_byte_count(), 1'843'200u);

    ASSERT_EQ(link.set_geometry(4, 0, 4, 1, 0, 1, 2), 0);
    EXPECT_EQ(link.frame_sample_count(), 1024u);
    EXPECT_EQ(driver.open_handles(), 0u);
}

TEST(Geometry, ResetRestoresDefaultsAndClosesTheSingleFrameHandle) {
    FakeDriver driver;
    Link link;
    ASSERT_EQ(link.set_geometry(8, 0, 8, 4, 0, 4, 4), 0);
    link.set_readout_option(2);
    ASSERT_EQ(link.read_single_frame(), 0);
    EXPECT_EQ(driver.open_handles(), 1u);
    link.reset_to_defaults();
    EXPECT_EQ(driver.open_handles(), 0u);
    EXPECT_EQ(link.pitch(), 1339);
    EXPECT_EQ(link.x_offset(), 50);
    EXPECT_EQ(link.output_width(), 1280);
    EXPECT_EQ(link.total_lines(), 1040);
    EXPECT_EQ(link.first_line(), 10);
    EXPECT_EQ(link.line_count(), 1028);
    EXPECT_EQ(link.readout_option(), 0);
    EXPECT_EQ(link.transfer_timeout(), 3000u);
    // Until the next geometry there are no buffers: frames are refused.
    driver.clear_log();
    EXPECT_EQ(link.read_single_frame(), kCodeTransferError);
    EXPECT_EQ(link.start_streaming(), kCodeNoMemory);
    std::vector<std::uint8_t> raw(link.window_bytes());
    EXPECT_EQ(link.copy_single_frame(raw), kCodeNullBuffer);
    EXPECT_EQ(link.copy_newest_frame(raw), kCodeNullBuffer);
    EXPECT_TRUE(driver.requests().empty());
    EXPECT_EQ(link.frame_sample_count(), 1339u * 1038u / 1024u * 1024u + 1024u);
    ASSERT_EQ(link.set_geometry(8, 0, 8, 4, 0, 4, 4), 0);
    EXPECT_EQ(link.read_single_frame(), 0);
    link.close_single_frame_handle();
}

TEST(Geometry, ReadoutOptionAndTimeout) {
    FakeDriver driver;
    Link link;
    EXPECT_EQ(link.set_readout_option(2), 1);
    EXPECT_EQ(link.readout_option(), 2);
    EXPECT_EQ(link.set_readout_option(7), 1);
    EXPECT_EQ(link.readout_option(), 1);
    link.set_transfer_timeout(60000);
    EXPECT_EQ(link.transfer_timeout(), 60000u);
    EXPECT_EQ(driver.requests().back().code, 0x2220A0u);
}

TEST(FrameCopy, WholeFrameAndWindowedCopies) {
    FakeDriver driver;
    Link link;
    // Window of 3 x 2 samples at (2, 1) in lines of 6, 16-bit samples.
    ASSERT_EQ(link.set_geometry(6, 2, 3, 4, 1, 2, 2), 0);
    link.set_sample_width(true);
    std::vector<std::uint8_t> source(2 * link.frame_sample_count());
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>(i);
    std::vector<std::uint8_t> out(link.window_bytes(), 0xEE);
    ASSERT_EQ(out.size(), 12u);
    EXPECT_EQ(link.copy_frame(out.data(), source.data()), 0);
    // Line 1 starts at sample 6 (byte 12); column 2 adds 4 bytes.
    const std::vector<std::uint8_t> expected = {16, 17, 18, 19, 20, 21, 28, 29, 30, 31, 32, 33};
    EXPECT_EQ(out, expected);

    ASSERT_EQ(link.set_geometry(3, 0, 3, 2, 0, 2, 2), 0);
    link.set_sample_width(false);
    std::vector<std::uint8_t> whole(6, 0);
    EXPECT_EQ(link.copy_frame(whole.data(), source.data()), 0);
    EXPECT_EQ(whole, (std::vector<std::uint8_t>{0, 1, 2, 3, 4, 5}));
}

TEST(Streaming, DeliversFramesAndStopsOnRequest) {
    FakeDriver driver;
    Link link;
    ASSERT_EQ(link.set_geometry(64, 0, 64, 16, 0, 16, 4), 0);
    driver.clear_log();
    driver.gate_frames();
    ASSERT_EQ(link.start_streaming(), 0);
    EXPECT_TRUE(link.streaming());
    EXPECT_EQ(link.start_streaming(), kCodeRunActive);
    // Prepare frame on a short handle before the thread starts.
    EXPECT_EQ(driver.commands().at(0)[0], 0x01);

    std::vector<std::uint8_t> raw(link.window_bytes());
    EXPECT_EQ(link.copy_newest_frame({}), kCodeNullBuffer);
    driver.allow_frames(1);
    ASSERT_TRUE(wait_until([&] { return link.frames() == 1; }));
    EXPECT_EQ(link.wait_for_newest_frame(), kWaitNewestSelected);
    EXPECT_EQ(link.copy_newest_frame(raw), 0);
    EXPECT_EQ(raw[0], 1);
    EXPECT_EQ(raw.back(), 1);
    // Nothing pending: the wait returns when the next frame arrives.
    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        driver.allow_frames(1);
    });
    EXPECT_EQ(link.wait_for_newest_frame(), kWaitFrameArrived);
    producer.join();
    // The wake-up may be the first frame's signal: the second one is
    // published only once the thread has read it.
    ASSERT_TRUE(wait_until([&] { return link.frames() == 2; }));
    EXPECT_EQ(link.wait_for_newest_frame(), kWaitNewestSelected);
    EXPECT_EQ(link.copy_newest_frame(raw), 0);
    EXPECT_EQ(raw[0], 2);

    driver.release_gate();
    EXPECT_EQ(link.stop_streaming(), 0);
    EXPECT_FALSE(link.streaming());
    EXPECT_EQ(link.end_code(), 0);
    EXPECT_EQ(link.wait_for_newest_frame(), kWaitStopped);
    EXPECT_EQ(link.stop_streaming(), 0);
    EXPECT_EQ(driver.open_handles(), 0u);

    // The thread sends start frame with form A and reads form B, 8-bit size.
    const auto log = driver.requests();
    bool saw_start = false;
    for (const auto& r : log) {
        if (r.pipe == 0 && r.data.size() == 64 && r.data[0] == 0x02) {
            EXPECT_EQ(r.code, 0x22204Eu);
            saw_start = true;
        }
        if (r.pipe == 2) {
            EXPECT_EQ(r.code, 0x222051u);
            EXPECT_EQ(r.length, 1024u);
        }
    }
    EXPECT_TRUE(saw_start);

    // A new run starts afresh.
    ASSERT_EQ(link.start_streaming(), 0);
    ASSERT_TRUE(wait_until([&] { return link.frames() >= 3; }));
    EXPECT_EQ(link.stop_streaming(), 0);
    EXPECT_GE(link.frames(), 3u);
}

TEST(Streaming, SkipsTheSlotAtTheReadIndex) {
    FakeDriver driver;
    Link link;
    ASSERT_EQ(link.set_geometry(32, 0, 32, 32, 0, 32, 4), 0);
    driver.gate_frames();
    ASSERT_EQ(link.start_streaming(), 0);
    std::vector<std::uint8_t> raw(link.window_bytes());
    for (std::uint32_t n = 1; n <= 2; ++n) {
        driver.allow_frames(1);
        ASSERT_TRUE(wait_until([&] { return link.frames() == n; }));
        ASSERT_EQ(link.wait_for_newest_frame(), kWaitNewestSelected);
        ASSERT_EQ(link.copy_newest_frame(raw), 0);
    }
    driver.allow_frames(3);
    ASSERT_TRUE(wait_until([&] { return link.frames() == 5; }));
    ASSERT_EQ(link.read_index(), 2u);
    ASSERT_EQ(link.write_index(), 1u);
    driver.allow_frames(1);
    ASSERT_TRUE(wait_until([&] { return link.frames() == 6; }));
    EXPECT_EQ(link.write_index(), 3u);
    // Slot 2 still holds the third frame: the thread never wrote it again.
    EXPECT_EQ(link.wait_for_newest_frame(), kWaitNewestSelected);
    EXPECT_EQ(link.read_index(), 2u);
    EXPECT_EQ(link.copy_newest_frame(raw), 0);
    EXPECT_EQ(raw[0], 3);
    driver.release_gate();
    EXPECT_EQ(link.stop_streaming(), 0);
}

TEST(Streaming, TransferErrorEndsTheRunAndTwoStopsFollow) {
    FakeDriver driver;
    Link link;
    ASSERT_EQ(link.set_geometry(16, 0, 16, 4, 0, 4, 4), 0);
    std::atomic<int> reads{0};
    driver.hook = [&](const Request& r, std::size_t) -> std::optional<Outcome> {
        if (r.pipe == 2 && ++reads == 3) return Outcome{false, 0};
        if (r.pipe == 2) return Outcome{true, r.length};
        return std::nullopt;
    };
    ASSERT_EQ(link.start_streaming(), 0);
    ASSERT_TRUE(wait_until([&] { return !link.streaming(); }));
    EXPECT_EQ(link.end_code(), kCodeTransferError);
    EXPECT_EQ(link.frames(), 3u);  // the failed read counts as the run's last frame
    EXPECT_EQ(link.wait_for_newest_frame(), kWaitFailed);
    EXPECT_EQ(link.wait_for_newest_frame(), kWaitFailed);
    EXPECT_EQ(link.stop_streaming(), kCodeTransferError);
    EXPECT_EQ(link.wait_for_newest_frame(), kWaitStopped);
    EXPECT_EQ(link.stop_streaming(), 0);
    EXPECT_EQ(driver.open_handles(), 0u);
}

TEST(Streaming, FailedSlotIsNeverSelected) {
    FakeDriver driver;
    Link link;
    ASSERT_EQ(link.set_geometry(16, 0, 16, 4, 0, 4, 4), 0);
    std::atomic<int> reads{0};
    driver.hook = [&](const Request& r, std::size_t) -> std::optional<Outcome> {
        if (r.pipe != 2) return std::nullopt;
        return ++reads == 2 ? Outcome{false, 0} : Outcome{true, r.length};
    };
    // Hold the thread after its failed read, before it reports the end.
    platform::Event release(true, false);
    std::atomic<bool> holding{false};
    driver.close_hook = [&](platform::DriverHandle) {
        if (reads.load() >= 2) {
            holding = true;
            (void)release.wait(5000);
        }
    };
    ASSERT_EQ(link.start_streaming(), 0);
    ASSERT_TRUE(wait_until([&] { return holding.load(); }));
    EXPECT_EQ(link.frames(), 2u);
    EXPECT_TRUE(link.streaming());
    // The failed read was published as a frame, but is never selected.
    EXPECT_EQ(link.wait_for_newest_frame(), kWaitFailed);
    release.set();
    ASSERT_TRUE(wait_until([&] { return !link.streaming(); }));
    EXPECT_EQ(link.wait_for_newest_frame(), kWaitFailed);
    EXPECT_EQ(link.stop_streaming(), kCodeTransferError);
}

TEST(Streaming, OneShortFramePerRunIsReadAgain) {
    FakeDriver driver;
    Link link;
    ASSERT_EQ(link.set_geometry(16, 0, 16, 4, 0, 4, 4), 0);
    std::atomic<int> reads{0};
    driver.hook = [&](const Request& r, std::size_t) -> std::optional<Outcome> {
        if (r.pipe != 2) return std::nullopt;
        const int n = ++reads;
        if (n == 2 || n == 4) return Outcome{true, r.length - 1};
        return Outcome{true, r.length};
    };
    ASSERT_EQ(link.start_streaming(), 0);
    ASSERT_TRUE(wait_until([&] { return !link.streaming(); }));
    // Reads: good, short (same slot again), good, short (ends the run, counted).
    EXPECT_EQ(reads.load(), 4);
    EXPECT_EQ(link.frames(), 3u);
    EXPECT_EQ(link.end_code(), kCodeTransferError);
    const auto reads_log = image_reads(driver);
    ASSERT_EQ(reads_log.size(), 4u);
    EXPECT_EQ(link.stop_streaming(), kCodeTransferError);
}

TEST(Streaming, DeviceThatCannotBeOpenedEndsWithCode10) {
    FakeDriver driver;
    Link link;
    ASSERT_EQ(link.set_geometry(16, 0, 16, 4, 0, 4, 4), 0);
    ASSERT_EQ(link.select_device(3), 0);  // absent
    ASSERT_EQ(link.start_streaming(), 0);
    ASSERT_TRUE(wait_until([&] { return !link.streaming(); }));
    EXPECT_EQ(link.end_code(), kCodeNoDevice);
    EXPECT_EQ(link.frames(), 0u);
    EXPECT_EQ(link.wait_for_newest_frame(), kWaitStopped);
    EXPECT_EQ(link.stop_streaming(), 0);
    // The ended thread is reclaimed: a second run can start.
    ASSERT_EQ(link.select_device(0), 0);
    ASSERT_EQ(link.start_streaming(), 0);
    EXPECT_EQ(link.stop_streaming(), 0);
}

TEST(Streaming, StopWakesAWaitingConsumerAndGeometryWaitsForTheRun) {
    FakeDriver driver;
    Link link;
    ASSERT_EQ(link.set_geometry(16, 0, 16, 4, 0, 4, 4), 0);
    driver.gate_frames();
    ASSERT_EQ(link.start_streaming(), 0);
    EXPECT_EQ(link.set_geometry(8, 0, 8, 4, 0, 4, 4), kCodeRunActive);
    std::atomic<int> result{-1};
    const auto begun = std::chrono::steady_clock::now();
    std::thread consumer([&] { result = link.wait_for_newest_frame(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::thread stopper([&] { EXPECT_EQ(link.stop_streaming(), 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    driver.release_gate();  // the thread finishes the frame it is reading
    stopper.join();
    consumer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(3));
    EXPECT_NE(result.load(), kWaitFailed);
    EXPECT_EQ(link.wait_for_newest_frame(), kWaitStopped);
}

TEST(Streaming, LargeFramesUseTheLargeTransferCode) {
    FakeDriver driver;
    Link link;
    ASSERT_EQ(link.set_geometry(16, 0, 16, 4, 0, 4, 4), 0);
    link.set_large_frame(true);
    driver.clear_log();
    ASSERT_EQ(link.start_streaming(), 0);
    ASSERT_TRUE(wait_until([&] { return link.frames() >= 1; }));
    EXPECT_EQ(link.stop_streaming(), 0);
    EXPECT_EQ(image_reads(driver).at(0).code, 0x2220A9u);
    ASSERT_EQ(link.read_single_frame(), 0);
    EXPECT_EQ(image_reads(driver).back().code, 0x2220A9u);
    link.close_single_frame_handle();
}

TEST(SingleFrame, KeepsItsHandleAndClosesItOnFailure) {
    FakeDriver driver;
    Link link;
    ASSERT_EQ(link.set_geometry(16, 2, 8, 4, 1, 2, 4), 0);
    link.set_sample_width(true);
    driver.clear_log();
    ASSERT_EQ(link.read_single_frame(), 0);
    EXPECT_TRUE(link.single_frame_handle_open());
    EXPECT_EQ(driver.open_handles(), 1u);
    const auto log = driver.requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].data.at(0), 0x01);  // prepare frame on its own handle
    EXPECT_NE(log[0].handle, log[1].handle);
    EXPECT_EQ(log[1].code, 0x222051u);  // start frame, form B, on the kept handle
    EXPECT_EQ(log[1].data, [] { std::vector<std::uint8_t> p(64, 0); p[0] = 2; return p; }());
    EXPECT_EQ(log[2].handle, log[1].handle);
    EXPECT_EQ(log[2].code, 0x222051u);
    EXPECT_EQ(log[2].length, 2048u);  // 1024 samples of 2 bytes

    std::vector<std::uint8_t> raw(link.window_bytes());
    EXPECT_EQ(link.copy_single_frame({}), kCodeNullBuffer);
    EXPECT_EQ(link.copy_single_frame(std::span(raw).first(raw.size() - 1)), kCodeNullBuffer);
    EXPECT_EQ(link.copy_single_frame(raw), 0);
    EXPECT_EQ(raw[0], 1);

    const std::size_t opens = driver.opens();
    ASSERT_EQ(link.read_single_frame(), 0);
    EXPECT_EQ(driver.opens(), opens + 1);  // only the prepare-frame handle

    driver.hook = [](const Request& r, std::size_t) -> std::optional<Outcome> {
        if (r.pipe == 2) return Outcome{true, 100};
        return std::nullopt;
    };
    EXPECT_EQ(link.read_single_frame(), kCodeTransferError);
    EXPECT_EQ(link.last_transfer_error(), kCodeTransferError);
    EXPECT_FALSE(link.single_frame_handle_open());
    EXPECT_EQ(driver.open_handles(), 0u);

    driver.hook = nullptr;
    ASSERT_EQ(link.select_device(4), 0);  // absent
    EXPECT_EQ(link.read_single_frame(), kCodeNoDevice);
    EXPECT_EQ(driver.open_handles(), 0u);
}

TEST(Conversions, GreyAndLumaChromaToBgr) {
    FakeDriver driver;
    Link link;
    ASSERT_EQ(link.set_geometry(4, 1, 2, 3, 1, 2, 2), 0);
    std::vector<std::uint8_t> frame(2 * link.frame_sample_count(), 0);
    // 8-bit grey: sample (x, y) of the window is frame[(1 + y) * 4 + 1 + x].
    frame[5] = 10;
    frame[6] = 20;
    frame[9] = 30;
    frame[10] = 40;
    std::vector<std::uint8_t> bgr(2 * 2 * 3);
    EXPECT_EQ(link.convert_frame_to_24(bgr.data(), frame.data(), 1), 0);
    EXPECT_EQ(bgr, (std::vector<std::uint8_t>{10, 10, 10, 20, 20, 20, 30, 30, 30, 40, 40, 40}));
    EXPECT_EQ(link.convert_rect_to_24(bgr.data(), frame.data(), 1, {1, 1, 1, 1}), 0);
    EXPECT_EQ(bgr[0], 40);
    EXPECT_EQ(link.convert_rect_to_24(bgr.data(), frame.data(), 1, {0, 0, 2, 0}), kCodeBadRect);
    EXPECT_EQ(link.convert_rect_to_24(bgr.data(), frame.data(), 1, {0, 0, 0, 3}), kCodeBadRect);
    EXPECT_EQ(link.convert_rect_to_24(nullptr, frame.data(), 1, {0, 0, 0, 0}), kCodeNullBuffer);
    EXPECT_EQ(link.convert_rect_to_24(bgr.data(), nullptr, 1, {0, 0, 0, 0}), kCodeNullBuffer);

    // 16-bit luma/chroma: Y = 128 with V = +50 and U = 0 for the pair.
    link.set_sample_width(true);
    std::fill(frame.begin(), frame.end(), 0);
    auto put = [&](int x, int y, int luma, int chroma) {
        const std::size_t i = static_cast<std::size_t>((1 + y) * 4 + 1 + x) * 2;
        frame[i] = static_cast<std::uint8_t>(luma);
        frame[i + 1] = static_cast<std::uint8_t>(chroma);
    };
    put(0, 0, 128, 178);
    put(1, 0, 128, 128);
    EXPECT_EQ(link.convert_rect_to_24(bgr.data(), frame.data(), 1, {0, 0, 1, 0}), 0);
    // Y' = 1.164 * 112 = 130.4; R = Y' + 1.596 * 50; G = Y' - 0.813 * 50.
    EXPECT_EQ(bgr[0], 130);
    EXPECT_EQ(bgr[1], 90);
    EXPECT_EQ(bgr[2], 210);
    EXPECT_EQ(bgr[3], 130);
    // Colour flag 0 keeps the top eight of twelve bits.
    put(0, 0, 0x30, 0x0A);  // 0x0A30 -> 0xA3
    EXPECT_EQ(link.convert_rect_to_24(bgr.data(), frame.data(), 0, {0, 0, 0, 0}), 0);
    EXPECT_EQ(bgr[0], 0xA3);
}

TEST(Conversions, FieldsInterleaveIntoRows) {
    FakeDriver driver;
    Link link;
    ASSERT_EQ(link.set_geometry(4, 0, 2, 8, 0, 4, 2), 0);
    FieldGeometry fields;
    fields.lines_per_field = 3;
    fields.first_line = 0;
    fields.lines = 2;
    fields.x_offset[0] = 0;
    fields.x_offset[1] = 2;
    EXPECT_EQ(link.set_field_geometry(true, FieldGeometry{}), kCodeBadLines);
    ASSERT_EQ(link.set_field_geometry(true, fields), 0);
    std::vector<std::uint8_t> frame(2 * link.frame_sample_count());
    for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i);
    std::vector<std::uint8_t> out(8);
    EXPECT_EQ(link.copy_interlaced_frame(out.data(), frame.data()), 0);
    // Rows: field 1 line 0, field 2 line 0 (= line 2, column 2), field 1 line 1, field 2 line 1.
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0, 1, 10, 11, 4, 5, 14, 15}));
}

}  // namespace
}  // namespace zbx::device
