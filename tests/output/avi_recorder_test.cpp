// The record thread over a scripted frame source: timing of start and end,
// the new-frame handshake, stopping, the pictures recorded per output
// depth, and ending cleanly when the file cannot grow; then the Recorder's
// own thread against the real clock.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "output/recorder.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace zbx::output {
namespace {

using pipeline::CImageBuffer;
using Bytes = std::vector<std::uint8_t>;

Bytes read_file(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
std::uint32_t u32(const Bytes& b, std::size_t at) {
    return std::uint32_t{b.at(at)} | std::uint32_t{b.at(at + 1)} << 8 |
           std::uint32_t{b.at(at + 2)} << 16 | std::uint32_t{b.at(at + 3)} << 24;
}
std::uint32_t frames_in(const Bytes& b) { return u32(b, 48); }
// Bytes of stored frame k.
std::span<const std::uint8_t> frame(const Bytes& b, std::uint32_t k) {
    const std::uint32_t f = u32(b, 60) - 8;
    return std::span(b).subspan(232 + k * (8 + f) + 8, f);
}

std::string probe_frames(const std::string& p) {
    std::string out;
    FILE* pipe = ::popen(("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                          "stream=nb_read_frames -of default=nw=1:nk=1 '" + p + "' 2>&1")
                             .c_str(),
                         "r");
    if (pipe == nullptr) return out;
    std::array<char, 256> chunk;
    std::size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) out.append(chunk.data(), n);
    ::pclose(pipe);
    return out;
}

// A session stand-in whose clock and pauses are scripted: every pause runs
// `on_pause` with the pass number (from 1), which may advance the clock,
// raise the new-frame flag, change the picture or clear the recording flag.
class ScriptedSource : public RecordSource {
public:
    platform::CriticalSection& frame_lock() override { return lock; }
    CImageBuffer* output_buffer() override { return has_output ? &output : nullptr; }
    std::uint32_t now_ms() override { return clock; }
    bool stream_ended() override { return stream_over; }
    void pause_ms(std::uint32_t ms) override {
        pauses_ms += ms;
        ++pass;
        if (on_pause) on_pause(pass);
        if (pass > 100000) flags->recording.store(0);  // a broken script must not hang
    }

    platform::CriticalSection lock;
    CImageBuffer output;
    bool has_output = true;
    bool stream_over = false;
    std::uint32_t clock = 1000;
    int pass = 0;
    std::uint64_t pauses_ms = 0;
    std::function<void(int)> on_pause;
    RecordFlags* flags = nullptr;
};

class AviRecorderTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(source_.output.Create(5, 3, 24), 1);
        source_.flags = &flags_;
    }
    std::string path(const char* name) const { return (dir_ / name).string(); }
    // Record steps before the thread, then the thread body on this thread.
    RecordEnd record(const char* name, std::uint32_t duration) {
        EXPECT_EQ(BeginRecording(writer_, source_, flags_, path(name).c_str(), duration), 1);
        EXPECT_EQ(recording_.load(), 1);
        return RunRecordThread(writer_, flags_, source_);
    }
    void raise() { new_frame_.store(1); }

    test::TempDir dir_{"zbxtest-rec-"};
    ScriptedSource source_;
    CAviWriter writer_;
    std::atomic<std::int32_t> recording_{0}, new_frame_{0};
    std::atomic<std::uint32_t> start_{0}, end_{0};
    RecordFlags flags_{recording_, new_frame_, start_, end_};
};

TEST_F(AviRecorderTest, DurationZeroRecordsTheFirstFrameAndTheNext) {
    source_.on_pause = [&](int) {
        source_.clock += 7;
        raise();
    };
    EXPECT_EQ(record("zero.avi", 0), RecordEnd::kDuration);
    const Bytes b = read_file(path("zero.avi"));
    EXPECT_EQ(frames_in(b), 2u);
    EXPECT_EQ(u32(b, 4), b.size() - 8);
    // Two frames 7 ms apart: 2 x 100000 / 7 hundredths of a frame per second.
    EXPECT_EQ(u32(b, 32), 100000000u / (200000u / 7));
    // The recording is over and every trace of it cleared.
    EXPECT_EQ(recording_.load(), 0);
    EXPECT_EQ(start_.load(), 0u);
    EXPECT_EQ(end_.load(), 0u);
    EXPECT_EQ(writer_.frame_count(), 0u);
    EXPECT_EQ(writer_.rate(), 0u);
    EXPECT_FALSE(writer_.is_open());
    EXPECT_EQ(source_.pauses_ms, 2u * kRecordPollMs);
}

TEST_F(AviRecorderTest, TimingRunsFromTheFirstFrameTakenToTheFirstPastTheDuration) {
    // Polls with no frame before the first: the clock starts at the first
    // frame taken, not at the call.
    std::vector<std::uint32_t> seen_start, seen_end;
    source_.on_pause = [&](int pass) {
        seen_start.push_back(start_.load());
        seen_end.push_back(end_.load());
        if (pass <= 3) {
            source_.clock += 500;
            return;
        }
        // Ten frames from 5000 to 6000 ms: the tenth is the first past 999.
        const int k = pass - 4;
        source_.clock = 5000 + static_cast<std::uint32_t>(k * 1000 / 9);
        raise();
    };
    source_.clock = 3500;
    EXPECT_EQ(record("ten.avi", 999), RecordEnd::kDuration);
    const Bytes b = read_file(path("ten.avi"));
    ASSERT_EQ(frames_in(b), 10u);
    EXPECT_EQ(u32(b, 32), 100000u);     // 10 frames per second
    EXPECT_EQ(u32(b, 128), 1000000u);
    EXPECT_EQ(u32(b, 132), 10000000u);
    // Until the first frame, end holds the duration and start 0; after it
    // start = its tick and end = start + duration.
    ASSERT_GE(seen_start.size(), 6u);
    EXPECT_EQ(seen_start[3], 0u);
    EXPECT_EQ(seen_end[3], 999u);
    EXPECT_EQ(seen_start[5], 5000u);
    EXPECT_EQ(seen_end[5], 5999u);
}

// While the recording runs the file already describes the frames written
// and, from the first second on, the measured rate: a recording that is
// never finished still plays at about its speed.
TEST_F(AviRecorderTest, TheOpenFileCarriesFramesAndTheMeasuredRate) {
    Bytes seen;
    source_.on_pause = [&](int pass) {
        if (pass == 17) seen = read_file(path("open.avi"));
        if (pass == 20) recording_.store(0);
        source_.clock = 1000 + static_cast<std::uint32_t>(pass - 1) * 100;  // 10 frames per second
        raise();
    };
    EXPECT_EQ(record("open.avi", 100000), RecordEnd::kStopped);
    ASSERT_GT(seen.size(), 232u);
    EXPECT_EQ(frames_in(seen), 16u);
    EXPECT_EQ(u32(seen, 140), 16u);
    EXPECT_EQ(u32(seen, 4), 232 + 16 * (8 + 48) - 8);
    // Eleven frames over the first 1000 ms: 11 frames per second.
    EXPECT_EQ(u32(seen, 32), 100000000u / 1100);
    EXPECT_EQ(u32(seen, 44) & kAvifHasIndex, 0u) << "no index until the end";
    const Bytes done = read_file(path("open.avi"));
    EXPECT_EQ(frames_in(done), 19u);
    EXPECT_NE(u32(done, 44) & kAvifHasIndex, 0u);
}

TEST_F(AviRecorderTest, TakesAtMostOneFramePerPollAndClearsTheFlag) {
    std::vector<std::int32_t> flag_after_pass;
    // Pass:    1   2   3     4   5   6  7
    // raises:  0   1   2     0   1   0  1 (then past the duration)
    source_.on_pause = [&](int pass) {
        flag_after_pass.push_back(new_frame_.load());  // what the previous pass left
        source_.clock += 10;
        if (pass == 2 || pass == 5) raise();
        if (pass == 3) {
            raise();
            raise();  // two frames developed between polls: one recorded
        }
        if (pass == 7) {
            source_.clock += 1000;
            raise();
        }
    };
    EXPECT_EQ(record("poll.avi", 500), RecordEnd::kDuration);
    EXPECT_EQ(frames_in(read_file(path("poll.avi"))), 4u);
    for (std::int32_t f : flag_after_pass) EXPECT_EQ(f, 0);
    EXPECT_EQ(source_.pass, 7);
}

TEST_F(AviRecorderTest, ClearingTheRecordingFlagEndsWithAFinishedFile) {
    source_.on_pause = [&](int pass) {
        source_.clock += 33;
        raise();
        if (pass == 5) recording_.store(0);  // Stop, during the pause
    };
    EXPECT_EQ(record("stop.avi", 60000), RecordEnd::kStopped);
    const std::string p = path("stop.avi");
    const Bytes b = read_file(p);
    EXPECT_EQ(frames_in(b), 4u);
    EXPECT_EQ(u32(b, 4), b.size() - 8);
    EXPECT_EQ(probe_frames(p), "4\n");
    // Four frames over 3 x 33 ms.
    EXPECT_EQ(u32(b, 32), 100000000u / (400000u / 99));

    // Stopped before any frame: an empty, valid file at 30 frames per second.
    source_.pass = 0;
    source_.on_pause = [&](int) { recording_.store(0); };
    EXPECT_EQ(record("none.avi", 1000), RecordEnd::kStopped);
    const Bytes e = read_file(path("none.avi"));
    EXPECT_EQ(frames_in(e), 0u);
    EXPECT_EQ(u32(e, 32), 33333u);
    EXPECT_EQ(e.size(), 240u);
}

// A stream that ends under the recording ends it at the next poll, with a
// finished file: no Stop is needed for a playable file.
TEST_F(AviRecorderTest, AStreamThatEndsEndsTheRecordingWithAFinishedFile) {
    source_.on_pause = [&](int pass) {
        source_.clock += 33;
        raise();
        if (pass == 4) source_.stream_over = true;
    };
    EXPECT_EQ(record("ended.avi", 60000), RecordEnd::kStreamEnded);
    EXPECT_EQ(recording_.load(), 0);
    const Bytes b = read_file(path("ended.avi"));
    EXPECT_EQ(frames_in(b), 3u);
    EXPECT_EQ(u32(b, 4), b.size() - 8);
    EXPECT_EQ(probe_frames(path("ended.avi")), "3\n");
}

TEST_F(AviRecorderTest, DurationSpansAClockWrap) {
    source_.clock = 0xFFFFFFF0u;
    source_.on_pause = [&](int) {
        source_.clock += 10;  // wraps after the second pass
        raise();
    };
    EXPECT_EQ(record("wrap.avi", 40), RecordEnd::kDuration);
    // Frames at start, +10 ... +50: the sixth is the first past 40 ms.
    const Bytes b = read_file(path("wrap.avi"));
    EXPECT_EQ(frames_in(b), 6u);
    EXPECT_EQ(u32(b, 32), 100000000u / (600000u / 50));
}

// One frame of the given output depth, recorded and read back.
class AviRecorderPictureTest : public AviRecorderTest {
protected:
    Bytes record_one(std::uint16_t bits, const std::function<void(CImageBuffer&)>& fill) {
        EXPECT_EQ(source_.output.Create(kW, kH, bits), 1);
        fill(source_.output);
        source_.pass = 0;
        source_.on_pause = [&](int) {
            source_.clock += 1;
            raise();
        };
        const std::string name = "pic" + std::to_string(bits) + ".avi";
        EXPECT_EQ(record(name.c_str(), 0), RecordEnd::kDuration);
        const Bytes b = read_file(path(name.c_str()));
        EXPECT_EQ(frames_in(b), 2u);
        const auto f = frame(b, 0);
        return Bytes(f.begin(), f.end());
    }
    // Stored row r holds picture row kH - 1 - r; rows 16 bytes (5 x 3 + 1).
    static const std::uint8_t* stored(const Bytes& f, int picture_row, int x) {
        return f.data() + (kH - 1 - picture_row) * 16 + x * 3;
    }
    static constexpr int kW = 5, kH = 3;
};

TEST_F(AviRecorderPictureTest, ColourPicturesAreStoredBottomRowFirstInBlueGreenRed) {
    const Bytes f24 = record_one(24, [](CImageBuffer& b) {
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                std::uint8_t* p = b.pixels() + y * b.stride() + x * 3;
                p[0] = static_cast<std::uint8_t>(10 + y * 10 + x);
                p[1] = static_cast<std::uint8_t>(100 + y);
                p[2] = static_cast<std::uint8_t>(200 + x);
            }
    });
    ASSERT_EQ(f24.size(), 48u);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const std::uint8_t* p = stored(f24, y, x);
            EXPECT_EQ(p[0], 10 + y * 10 + x);
            EXPECT_EQ(p[1], 100 + y);
            EXPECT_EQ(p[2], 200 + x);
        }

    const Bytes f32 = record_one(32, [](CImageBuffer& b) {
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                std::uint8_t* p = b.pixels() + y * b.stride() + x * 4;
                p[0] = static_cast<std::uint8_t>(y);
                p[1] = static_cast<std::uint8_t>(x);
                p[2] = 77;
                p[3] = 0xAB;  // dropped
            }
    });
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const std::uint8_t* p = stored(f32, y, x);
            EXPECT_EQ(p[0], y);
            EXPECT_EQ(p[1], x);
            EXPECT_EQ(p[2], 77);
        }

    for (std::uint16_t bits : {48, 64}) {
        const Bytes f = record_one(bits, [bits](CImageBuffer& b) {
            const int bpp = bits / 8;
            for (int y = 0; y < kH; ++y)
                for (int x = 0; x < kW; ++x) {
                    auto* p = b.pixels() + y * b.stride() + x * bpp;
                    const std::uint16_t v[4] = {4095, 2048, static_cast<std::uint16_t>(16 * (y * kW + x)),
                                                0xFFFF};
                    std::memcpy(p, v, bpp);
                }
        });
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const std::uint8_t* p = stored(f, y, x);
                EXPECT_EQ(p[0], 255) << bits;
                EXPECT_EQ(p[1], 128) << bits;
                EXPECT_EQ(p[2], y * kW + x) << bits;
            }
    }
}

TEST_F(AviRecorderPictureTest, GreyPicturesBecomeThreeEqualBytes) {
    const Bytes f8 = record_one(8, [](CImageBuffer& b) {
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) b.pixels()[y * b.stride() + x] = static_cast<std::uint8_t>(40 * y + x);
    });
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const std::uint8_t* p = stored(f8, y, x);
            EXPECT_EQ(p[0], 40 * y + x);
            EXPECT_EQ(p[1], 40 * y + x);
            EXPECT_EQ(p[2], 40 * y + x);
        }

    const Bytes f16 = record_one(16, [](CImageBuffer& b) {
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const std::uint16_t v = y == 0 ? 4095 : y == 1 ? 2048 : static_cast<std::uint16_t>(x << 4);
                std::memcpy(b.pixels() + y * b.stride() + x * 2, &v, 2);
            }
    });
    for (int x = 0; x < kW; ++x) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(stored(f16, 0, x)[c], 255);
            EXPECT_EQ(stored(f16, 1, x)[c], 128);
            EXPECT_EQ(stored(f16, 2, x)[c], x);
        }
    }
}

TEST_F(AviRecorderTest, GreyExpansionByHandMatchesThePlatformCopy) {
    CImageBuffer grey, by_copy, by_hand;
    ASSERT_EQ(grey.Create(7, 4, 8), 1);
    ASSERT_EQ(by_copy.Create(7, 4, 24), 1);
    ASSERT_EQ(by_hand.Create(7, 4, 24), 1);
    for (std::size_t i = 0; i < grey.store_size(); ++i) grey.pixels()[i] = static_cast<std::uint8_t>(i * 37);
    ASSERT_NE(by_copy.DrawFrom(grey, nullptr, 0, 0), 0);
    ASSERT_EQ(pipeline::TransferRect(by_hand, &Gray8To24, grey, nullptr, 0, 0,
                                     const_cast<pipeline::RgbQuad*>(grey.color_table()), nullptr),
              1);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(0, std::memcmp(by_copy.pixels() + y * by_copy.stride(),
                                 by_hand.pixels() + y * by_hand.stride(), 7 * 3))
            << y;
}

TEST_F(AviRecorderTest, FramesOfAnotherFormatAreSkippedNotMisread) {
    source_.on_pause = [&](int pass) {
        source_.clock += 10;
        raise();
        // The output buffer changes size under the recording.
        if (pass == 3) {
            ASSERT_EQ(source_.output.Create(64, 64, 24), 1);
        }
        if (pass == 5) {
            ASSERT_EQ(source_.output.Create(5, 3, 24), 1);
        }
        if (pass == 6) source_.clock += 1000;
    };
    EXPECT_EQ(record("resize.avi", 500), RecordEnd::kDuration);
    EXPECT_EQ(frames_in(read_file(path("resize.avi"))), 4u);  // passes 1, 2, 5, 6
}

TEST_F(AviRecorderTest, NoOutputBufferMeansNoRecording) {
    source_.has_output = false;
    EXPECT_EQ(BeginRecording(writer_, source_, flags_, path("x.avi").c_str(), 100), 0);
    EXPECT_EQ(recording_.load(), 0);
    EXPECT_FALSE(writer_.is_open());
    EXPECT_EQ(BeginRecording(writer_, source_, flags_, path("no/dir.avi").c_str(), 100), 0);

    // The buffer vanishes between the call and the thread: the file is
    // finished empty and the recording ends.
    source_.has_output = true;
    ASSERT_EQ(BeginRecording(writer_, source_, flags_, path("y.avi").c_str(), 100), 1);
    source_.has_output = false;
    EXPECT_EQ(RunRecordThread(writer_, flags_, source_), RecordEnd::kNoBuffers);
    EXPECT_EQ(recording_.load(), 0);
    EXPECT_EQ(frames_in(read_file(path("y.avi"))), 0u);
}

TEST_F(AviRecorderTest, FullFileEndsTheRecordingWithEveryFrameIndexed) {
    const std::uint32_t f = AviFrameSize(5, 3);
    ASSERT_EQ(BeginRecording(writer_, source_, flags_, path("full.avi").c_str(), 60000), 1);
    writer_.set_size_limit(232 + 8 + 5 * (8 + f + 16));
    source_.on_pause = [&](int) {
        source_.clock += 20;
        raise();
    };
    EXPECT_EQ(RunRecordThread(writer_, flags_, source_), RecordEnd::kFileFull);
    EXPECT_EQ(recording_.load(), 0);
    const Bytes b = read_file(path("full.avi"));
    EXPECT_EQ(frames_in(b), 5u);
    EXPECT_EQ(u32(b, 4), b.size() - 8);
    // Rate from the five frames written (80 ms), not the refused sixth.
    EXPECT_EQ(u32(b, 32), 100000000u / (500000u / 80));
}

TEST_F(AviRecorderTest, RefusedWriteEndsTheRecordingWithWhatWasWritten) {
    const std::string name = path("refused.avi");
    const std::uint32_t f = AviFrameSize(5, 3);
    const std::uint64_t limit = 232 + 3 * (8 + f) + 20;
    const int status = test::run_in_child([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) return 10;
        source_.on_pause = [&](int) {
            source_.clock += 10;
            raise();
        };
        if (BeginRecording(writer_, source_, flags_, name.c_str(), 60000) != 1) return 11;
        if (RunRecordThread(writer_, flags_, source_) != RecordEnd::kWriteFailed) return 12;
        return recording_.load() == 0 ? 0 : 13;
    });
    ASSERT_EQ(status, 0);
    const Bytes b = read_file(name);
    EXPECT_EQ(frames_in(b), 3u);
    EXPECT_EQ(probe_frames(name), "3\n");
}

// The Recorder's thread against the real clock, fed by a streaming stand-in.
class AviRecorderThreadTest : public testing::Test {
protected:
    struct Source : RecordSource {
        platform::CriticalSection& frame_lock() override { return lock; }
        CImageBuffer* output_buffer() override { return &output; }
        void recording_ended(RecordEnd end) override { ends.push_back(end); }
        platform::CriticalSection lock;
        CImageBuffer output;
        std::vector<RecordEnd> ends;  // read once the record thread is joined
    };
    void SetUp() override {
        ASSERT_EQ(source_.output.Create(32, 24, 24), 1);
        streaming_ = std::thread([this] {
            while (!quit_.load()) {
                {
                    std::lock_guard lock(source_.frame_lock());
                    std::memset(source_.output.pixels(), developed_++ & 0xFF, source_.output.store_size());
                    recorder_.NotifyNewFrame();
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
            }
        });
    }
    void TearDown() override {
        quit_.store(true);
        streaming_.join();
    }
    bool wait_until_idle(std::chrono::milliseconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (recorder_.recording()) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    std::string path(const char* name) const { return (dir_ / name).string(); }

    test::TempDir dir_{"zbxtest-recthr-"};
    Source source_;
    Recorder recorder_{source_};
    std::atomic<bool> quit_{false};
    int developed_ = 0;
    std::thread streaming_;
};

TEST_F(AviRecorderThreadTest, RecordsForTheDurationAndFinishesOnItsOwn) {
    ASSERT_EQ(recorder_.Start(path("live.avi").c_str(), 150), Recorder::StartResult::kStarted);
    EXPECT_TRUE(recorder_.recording());
    ASSERT_TRUE(wait_until_idle(std::chrono::seconds(10)));
    recorder_.Stop();  // joins the finished thread
    EXPECT_EQ(recorder_.last_end(), RecordEnd::kDuration);
    // The session learns how the recording ended, once, after the file.
    EXPECT_EQ(source_.ends, std::vector<RecordEnd>{RecordEnd::kDuration});
    const Bytes b = read_file(path("live.avi"));
    const std::uint32_t n = frames_in(b);
    // One frame per poll at most: 150 ms at 10 ms polls is about 15 frames.
    EXPECT_GE(n, 2u);
    EXPECT_LE(n, 17u);
    EXPECT_EQ(u32(b, 4), b.size() - 8);
    EXPECT_EQ(probe_frames(path("live.avi")), std::to_string(n) + "\n");
}

TEST_F(AviRecorderThreadTest, StopAndRestartEachFinishTheirFile) {
    ASSERT_EQ(recorder_.Start(path("one.avi").c_str(), 600000), Recorder::StartResult::kStarted);
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    // A second Start ends the first recording before reusing the writer.
    ASSERT_EQ(recorder_.Start(path("two.avi").c_str(), 600000), Recorder::StartResult::kStarted);
    EXPECT_EQ(recorder_.last_end(), RecordEnd::kStopped);
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    recorder_.Stop();
    EXPECT_FALSE(recorder_.recording());
    EXPECT_EQ(recorder_.last_end(), RecordEnd::kStopped);
    for (const char* name : {"one.avi", "two.avi"}) {
        const Bytes b = read_file(path(name));
        EXPECT_GE(frames_in(b), 1u) << name;
        EXPECT_EQ(u32(b, 4), b.size() - 8) << name;
        EXPECT_EQ(probe_frames(path(name)), std::to_string(frames_in(b)) + "\n") << name;
    }
    // Nothing is written once Stop has returned.
    const auto size = read_file(path("two.avi")).size();
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(read_file(path("two.avi")).size(), size);

    EXPECT_EQ(recorder_.Start(path("no/such/dir.avi").c_str(), 100), Recorder::StartResult::kOpenFailed);
    EXPECT_FALSE(recorder_.recording());
}

}  // namespace
}  // namespace zbx::output
