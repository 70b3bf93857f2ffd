// The AVI writer: header bytes at Open, sizes and counts kept up with every
// frame (a killed recording stays playable), timing and index at Finish,
// frame chunks, independent decoding by ffprobe/ffmpeg,
// and the file left behind when the disk refuses writes or the 32-bit
// size limit is reached.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "output/avi_writer.h"
#include "output_test_support.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace zbx::output {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t u32(const Bytes& b, std::size_t at) {
    return std::uint32_t{b.at(at)} | std::uint32_t{b.at(at + 1)} << 8 |
           std::uint32_t{b.at(at + 2)} << 16 | std::uint32_t{b.at(at + 3)} << 24;
}
std::uint16_t u16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8);
}
std::string id(const Bytes& b, std::size_t at) {
    return std::string(reinterpret_cast<const char*>(b.data() + at), 4);
}

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    std::array<char, 512> chunk;
    std::size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) out.append(chunk.data(), n);
    ::pclose(pipe);
    return out;
}

// "key=value" lines of ffprobe's stream description, counting frames by
// decoding them.
std::string probe(const std::filesystem::path& p) {
    return run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
               "stream=codec_name,pix_fmt,width,height,nb_read_frames -of default=nw=1 '" +
               p.string() + "' 2>&1");
}

// A picture whose every byte tells frame, row and column apart.
Bytes picture(std::uint32_t size, int frame) {
    Bytes p(size);
    for (std::uint32_t i = 0; i < size; ++i) p[i] = static_cast<std::uint8_t>(frame * 31 + i * 7 + i / 97);
    return p;
}

class AviWriterTest : public ::testing::Test {
protected:
    test::TempDir dir_{"zbxtest-avi-"};
    std::string path(const char* name) const { return (dir_ / name).string(); }
};

TEST_F(AviWriterTest, OpenWritesEveryHeaderByte) {
    CAviWriter w;
    w.set_size(640, 480);
    ASSERT_EQ(w.Open(path("a.avi").c_str()), 1);
    EXPECT_EQ(w.frame_size(), 640u * 480 * 3);
    EXPECT_EQ(w.rate(), 30u);
    EXPECT_EQ(w.riff_size(), 224u);
    EXPECT_EQ(w.movi_size(), 4u);
    const std::uint32_t f = w.frame_size();
    w.Close();

    const Bytes b = read_file(dir_ / "a.avi");
    ASSERT_EQ(b.size(), 232u);
    EXPECT_EQ(id(b, 0), "RIFF");
    EXPECT_EQ(u32(b, 4), 224u);  // an empty file, valid as it stands
    EXPECT_EQ(id(b, 8), "AVI ");
    EXPECT_EQ(id(b, 12), "LIST");
    EXPECT_EQ(u32(b, 16), 200u);
    EXPECT_EQ(id(b, 20), "hdrl");
    EXPECT_EQ(id(b, 24), "avih");
    EXPECT_EQ(u32(b, 28), 56u);
    EXPECT_EQ(u32(b, 32), 33333u);
    EXPECT_EQ(u32(b, 36), (f + 8) * 30);
    EXPECT_EQ(u32(b, 40), 0u);
    EXPECT_EQ(u32(b, 44), 0x10000u);  // no index yet
    EXPECT_EQ(u32(b, 48), 0u);
    EXPECT_EQ(u32(b, 52), 0u);
    EXPECT_EQ(u32(b, 56), 1u);
    EXPECT_EQ(u32(b, 60), f + 8);
    EXPECT_EQ(u32(b, 64), 640u);
    EXPECT_EQ(u32(b, 68), 480u);
    for (std::size_t at = 72; at < 88; at += 4) EXPECT_EQ(u32(b, at), 0u) << at;
    EXPECT_EQ(id(b, 88), "LIST");
    EXPECT_EQ(u32(b, 92), 124u);
    EXPECT_EQ(id(b, 96), "strl");
    EXPECT_EQ(id(b, 100), "strh");
    EXPECT_EQ(u32(b, 104), 64u);
    EXPECT_EQ(id(b, 108), "vids");
    EXPECT_EQ(id(b, 112), "DIB ");
    EXPECT_EQ(u32(b, 116), 0u);
    EXPECT_EQ(u16(b, 120), 0u);
    EXPECT_EQ(u16(b, 122), 0u);
    EXPECT_EQ(u32(b, 124), 0u);
    EXPECT_EQ(u32(b, 128), 333333u);
    EXPECT_EQ(u32(b, 132), 10000000u);
    EXPECT_EQ(u32(b, 136), 0u);
    EXPECT_EQ(u32(b, 140), 0u);
    EXPECT_EQ(u32(b, 144), f + 8);
    for (std::size_t at = 148; at < 172; at += 4) EXPECT_EQ(u32(b, at), 0u) << at;
    EXPECT_EQ(id(b, 172), "strf");
    EXPECT_EQ(u32(b, 176), 40u);
    EXPECT_EQ(u32(b, 180), 40u);
    EXPECT_EQ(u32(b, 184), 640u);
    EXPECT_EQ(u32(b, 188), 480u);  // positive: bottom-up
    EXPECT_EQ(u16(b, 192), 1u);
    EXPECT_EQ(u16(b, 194), 24u);
    for (std::size_t at = 196; at < 220; at += 4) EXPECT_EQ(u32(b, at), 0u) << at;
    EXPECT_EQ(id(b, 220), "LIST");
    EXPECT_EQ(u32(b, 224), 4u);
    EXPECT_EQ(id(b, 228), "movi");
}

TEST_F(AviWriterTest, FrameSizeRoundsRowsToFourBytes) {
    EXPECT_EQ(AviFrameSize(5, 3), 16u * 3);   // 15 picture bytes + 1 padding per row
    EXPECT_EQ(AviFrameSize(4, 3), 12u * 3);
    EXPECT_EQ(AviFrameSize(1, 1), 4u);
    EXPECT_EQ(AviFrameSize(1280, 720), 1280u * 720 * 3);
    EXPECT_EQ(AviFrameSize(0, 10), 0u);
    EXPECT_EQ(AviFrameSize(10, -1), 0u);
    // A frame that could never fit a 4 GiB file is refused, not wrapped.
    EXPECT_EQ(AviFrameSize(40000, 40000), 0u);
    EXPECT_EQ(AviFrameSize(0x7FFFFFFF, 1), 0u);
}

TEST_F(AviWriterTest, FinishPatchesSizesCountsTimingAndIndex) {
    CAviWriter w;
    w.set_size(5, 3);
    ASSERT_EQ(w.Open(path("b.avi").c_str()), 1);
    const std::uint32_t f = w.frame_size();
    ASSERT_EQ(f, 48u);
    std::vector<Bytes> frames;
    for (int k = 0; k < 10; ++k) {
        frames.push_back(picture(f, k));
        ASSERT_EQ(w.AddFrame(frames.back()), AviStatus::kOk);
    }
    EXPECT_EQ(w.frame_count(), 10u);
    w.set_rate(1000);  // 10 frames over 1000 ms
    EXPECT_EQ(w.Finish(), 1);
    EXPECT_FALSE(w.is_open());

    const Bytes b = read_file(dir_ / "b.avi");
    const std::size_t n = 10;
    ASSERT_EQ(b.size(), 232 + n * (8 + f) + 8 + 16 * n);
    EXPECT_EQ(u32(b, 4), b.size() - 8);
    EXPECT_EQ(u32(b, 224), 4 + n * (8 + f));
    EXPECT_EQ(u32(b, 48), n);
    EXPECT_EQ(u32(b, 140), n);
    EXPECT_EQ(u32(b, 32), 100000u);
    EXPECT_EQ(u32(b, 128), 1000000u);
    EXPECT_EQ(u32(b, 132), 10000000u);
    EXPECT_EQ(u32(b, 44), 0x10010u);
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t at = 232 + k * (8 + f);
        EXPECT_EQ(id(b, at), "00db");
        EXPECT_EQ(u32(b, at + 4), f);
        EXPECT_TRUE(std::equal(frames[k].begin(), frames[k].end(), b.begin() + at + 8)) << k;
    }
    const std::size_t idx = 232 + n * (8 + f);
    EXPECT_EQ(id(b, idx), "idx1");
    EXPECT_EQ(u32(b, idx + 4), 16 * n);
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t e = idx + 8 + 16 * k;
        EXPECT_EQ(id(b, e), "00db");
        EXPECT_EQ(u32(b, e + 4), 0x10u);
        EXPECT_EQ(u32(b, e + 8), 4 + k * (8 + f));
        EXPECT_EQ(u32(b, e + 12), f);
        // The offset points at the chunk, counted from "movi".
        EXPECT_EQ(id(b, 228 + u32(b, e + 8)), "00db");
    }
}

TEST_F(AviWriterTest, UnusualRatesStillGiveValidTiming) {
    CAviWriter w;
    w.set_size(4, 4);
    // Rate 0 (under one frame per 100 s) would divide by zero.
    ASSERT_EQ(w.Open(path("slow.avi").c_str()), 1);
    ASSERT_EQ(w.AddFrame(picture(w.frame_size(), 0)), AviStatus::kOk);
    w.set_rate(0);
    EXPECT_EQ(w.Finish(), 1);
    Bytes b = read_file(dir_ / "slow.avi");
    EXPECT_EQ(u32(b, 32), 100000000u);
    EXPECT_EQ(u32(b, 128), 1000000000u);

    // A rate above 10^9 hundredths must not leave a zero time scale.
    ASSERT_EQ(w.Open(path("fast.avi").c_str()), 1);
    ASSERT_EQ(w.AddFrame(picture(w.frame_size(), 0)), AviStatus::kOk);
    w.set_rate(0xFFFFFFFFu);
    EXPECT_EQ(w.Finish(), 1);
    b = read_file(dir_ / "fast.avi");
    EXPECT_EQ(u32(b, 128), 1u);
}

TEST_F(AviWriterTest, FfprobeReadsRawBgr24WithEveryFrame) {
    CAviWriter w;
    w.set_size(64, 48);
    ASSERT_EQ(w.Open(path("c.avi").c_str()), 1);
    for (int k = 0; k < 7; ++k) ASSERT_EQ(w.AddFrame(picture(w.frame_size(), k)), AviStatus::kOk);
    w.set_rate(2500);
    ASSERT_EQ(w.Finish(), 1);

    const std::string out = probe(dir_ / "c.avi");
    EXPECT_NE(out.find("codec_name=rawvideo"), std::string::npos) << out;
    EXPECT_NE(out.find("pix_fmt=bgr24"), std::string::npos) << out;
    EXPECT_NE(out.find("width=64"), std::string::npos) << out;
    EXPECT_NE(out.find("height=48"), std::string::npos) << out;
    EXPECT_NE(out.find("nb_read_frames=7"), std::string::npos) << out;
    const std::string rate = run("ffprobe -v error -select_streams v:0 -show_entries "
                                 "stream=avg_frame_rate -of default=nw=1:nk=1 '" +
                                 (dir_ / "c.avi").string() + "'");
    EXPECT_EQ(rate, "25/1\n");
}

// A writer killed at any point leaves a file whose headers describe every
// complete frame, which ffprobe decodes; the rate given meanwhile is in it.
TEST_F(AviWriterTest, AKilledWriterLeavesAPlayableFile) {
    const std::string name = path("killed.avi");
    const std::uint32_t f = AviFrameSize(64, 48);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CAviWriter w;
        w.set_size(64, 48);
        if (w.Open(name.c_str()) != 1) ::_exit(10);
        w.set_rate(1250);  // 12.5 frames per second
        for (int k = 0;; ++k) {
            if (w.AddFrame(picture(f, k)) != AviStatus::kOk) ::_exit(11);
            if (k == 4 && ::write(ready[1], "r", 1) != 1) ::_exit(12);
        }
    }
    ::close(ready[1]);
    char c = 0;
    const bool five = ::read(ready[0], &c, 1) == 1;
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(ready[0]);
    ASSERT_TRUE(five) << "the writer failed before its fifth frame";
    ASSERT_TRUE(WIFSIGNALED(status));

    const Bytes b = read_file(name);
    const std::uint32_t n = u32(b, 48);
    EXPECT_GE(n, 5u);
    EXPECT_EQ(u32(b, 140), n);
    EXPECT_EQ(u32(b, 224), 4 + n * (8 + f));
    EXPECT_EQ(u32(b, 4), 232 + n * (8 + f) - 8);
    EXPECT_GE(b.size(), 232 + n * (8 + f));
    EXPECT_EQ(u32(b, 128), 800000u);
    // A kill between a frame's bytes and the header update leaves that frame
    // complete beyond what the headers say: a decoder may read it too.
    const std::string out = probe(name);
    const std::size_t at = out.find("nb_read_frames=");
    ASSERT_NE(at, std::string::npos) << out;
    const unsigned long read = std::stoul(out.substr(at + 15));
    EXPECT_GE(read, n) << out;
    EXPECT_LE(read, n + 1) << out;
}

TEST_F(AviWriterTest, StoredRowsAreBottomUpForDecoders) {
    // Width 5: every stored row carries one padding byte the decoder drops.
    constexpr int kW = 5, kH = 4;
    CAviWriter w;
    w.set_size(kW, kH);
    ASSERT_EQ(w.Open(path("d.avi").c_str()), 1);
    const std::uint32_t stride = 16;
    Bytes pic(w.frame_size(), 0xEE);
    for (int stored = 0; stored < kH; ++stored)
        for (int x = 0; x < kW; ++x) {
            std::uint8_t* px = &pic[stored * stride + x * 3];
            px[0] = static_cast<std::uint8_t>(10 * stored + x);  // blue
            px[1] = static_cast<std::uint8_t>(100 + stored);     // green
            px[2] = static_cast<std::uint8_t>(200 + x);          // red
        }
    ASSERT_EQ(w.AddFrame(pic), AviStatus::kOk);
    ASSERT_EQ(w.Finish(), 1);

    // ffmpeg hands the picture over top row first, in blue-green-red.
    const std::string raw = run("ffmpeg -v error -i '" + (dir_ / "d.avi").string() +
                                "' -f rawvideo -pix_fmt bgr24 -");
    ASSERT_EQ(raw.size(), std::size_t{kW * kH * 3});
    for (int top = 0; top < kH; ++top) {
        const int stored = kH - 1 - top;
        for (int x = 0; x < kW; ++x) {
            const auto* px = reinterpret_cast<const std::uint8_t*>(raw.data()) + (top * kW + x) * 3;
            EXPECT_EQ(px[0], 10 * stored + x) << top << "," << x;
            EXPECT_EQ(px[1], 100 + stored);
            EXPECT_EQ(px[2], 200 + x);
        }
    }
}

TEST_F(AviWriterTest, OpenRefusesBadSizesAndNamesAndTruncatesOldFiles) {
    CAviWriter w;
    EXPECT_EQ(w.Open(path("nosize.avi").c_str()), 0);  // no size set
    w.set_size(4, 4);
    EXPECT_EQ(w.Open(nullptr), 0);
    EXPECT_EQ(w.Open(""), 0);
    EXPECT_EQ(w.Open(path("missing/dir.avi").c_str()), 0);
    EXPECT_FALSE(w.is_open());
    EXPECT_EQ(w.AddFrame(picture(48, 0)), AviStatus::kNotOpen);
    EXPECT_EQ(w.Finish(), 0);

    {
        std::ofstream old(dir_ / "e.avi", std::ios::binary);
        old << std::string(5000, 'x');
    }
    ASSERT_EQ(w.Open(path("e.avi").c_str()), 1);
    EXPECT_EQ(w.AddFrame(Bytes(w.frame_size() - 1)), AviStatus::kBadPicture);
    EXPECT_EQ(w.frame_count(), 0u);
    ASSERT_EQ(w.AddFrame(picture(w.frame_size(), 1)), AviStatus::kOk);
    // Reopening abandons the first file and starts the count afresh.
    ASSERT_EQ(w.Open(path("f.avi").c_str()), 1);
    EXPECT_EQ(w.frame_count(), 0u);
    EXPECT_TRUE(w.index().empty());
    EXPECT_EQ(w.Finish(), 1);
    EXPECT_EQ(read_file(dir_ / "e.avi").size(), 232u + 8 + 48);
    const Bytes b = read_file(dir_ / "f.avi");
    EXPECT_EQ(b.size(), 232u + 8);
    EXPECT_EQ(u32(b, 4), b.size() - 8);

    w.Close();
    EXPECT_EQ(w.main_header().dwStreams, 0u);
    EXPECT_EQ(w.format().biSize, 0u);
    EXPECT_EQ(w.riff_size(), 0u);
    EXPECT_EQ(w.width(), 4);  // the size stays for the next Open
}

TEST_F(AviWriterTest, SizeLimitStopsBeforeTheFileOutgrowsIt) {
    CAviWriter w;
    w.set_size(16, 16);
    const std::uint32_t f = AviFrameSize(16, 16);
    // Room for exactly three frames with their index entries.
    w.set_size_limit(232 + 3 * (8 + f) + 8 + 3 * 16);
    ASSERT_EQ(w.Open(path("g.avi").c_str()), 1);
    for (int k = 0; k < 3; ++k) ASSERT_EQ(w.AddFrame(picture(f, k)), AviStatus::kOk);
    EXPECT_EQ(w.AddFrame(picture(f, 3)), AviStatus::kFull);
    EXPECT_EQ(w.frame_count(), 3u);
    ASSERT_EQ(w.Finish(), 1);
    const Bytes b = read_file(dir_ / "g.avi");
    EXPECT_EQ(b.size(), 232 + 3 * (8 + f) + 8 + 3 * 16);
    EXPECT_EQ(u32(b, 48), 3u);
    EXPECT_NE(probe(dir_ / "g.avi").find("nb_read_frames=3"), std::string::npos);

    // The real limit: a 1280 x 720 recording stops after 1553 frames, just
    // under 4 GiB, without writing them (frame chunks are checked first).
    const std::uint64_t per_frame = 8 + AviFrameSize(1280, 720) + 16;
    EXPECT_LE(232 + 8 + 1553 * per_frame, kAviSizeLimit);
    EXPECT_GT(232 + 8 + 1554 * per_frame, kAviSizeLimit);
}

TEST_F(AviWriterTest, DiskFullAtOpenLeavesNothingOpen) {
    const testing::FullDiskFile full;
    CAviWriter w;
    w.set_size(8, 8);
    EXPECT_EQ(w.Open(full.path()), 0);
    EXPECT_FALSE(w.is_open());
}

// In a child process whose file size limit cuts the fourth frame short: the
// frame is refused and not counted, and the finished file describes exactly
// the three complete frames.
TEST_F(AviWriterTest, FailedFrameWriteIsNotCounted) {
    const std::string name = path("h.avi");
    const std::uint32_t f = AviFrameSize(32, 32);
    const std::uint64_t limit = 232 + 3 * (8 + f) + (8 + f) / 2;
    const int status = test::run_in_child([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) return 10;
        CAviWriter w;
        w.set_size(32, 32);
        if (w.Open(name.c_str()) != 1) return 11;
        for (int k = 0; k < 3; ++k)
            if (w.AddFrame(picture(f, k)) != AviStatus::kOk) return 12;
        if (w.AddFrame(picture(f, 3)) != AviStatus::kWriteFailed) return 13;
        if (w.frame_count() != 3 || w.index().size() != 3) return 14;
        if (w.AddFrame(picture(f, 4)) != AviStatus::kWriteFailed) return 15;
        w.set_rate(3000);
        // The index fits where the broken frame began.
        return w.Finish() == 1 ? 0 : 16;
    });
    ASSERT_EQ(status, 0);
    const Bytes b = read_file(name);
    EXPECT_EQ(u32(b, 48), 3u);
    EXPECT_EQ(u32(b, 140), 3u);
    EXPECT_EQ(u32(b, 224), 4 + 3 * (8 + f));
    const std::size_t idx = 232 + 3 * (8 + f);
    EXPECT_EQ(id(b, idx), "idx1");
    EXPECT_EQ(u32(b, idx + 4), 48u);
    EXPECT_EQ(u32(b, 4), idx + 8 + 48 - 8);
    EXPECT_EQ(b.size(), idx + 8 + 48) << "the broken frame's tail is cut off";
    EXPECT_NE(probe(name).find("nb_read_frames=3"), std::string::npos) << probe(name);
}

// When not even the index fits, the file still describes its frames: the
// index flag is cleared and the RIFF size ends at the last frame.
TEST_F(AviWriterTest, IndexThatCannotBeWrittenIsNotClaimed) {
    const std::string name = path("i.avi");
    const std::uint32_t f = AviFrameSize(32, 32);
    const std::uint64_t limit = 232 + 2 * (8 + f) + 4;
    const int status = test::run_in_child([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) return 10;
        CAviWriter w;
        w.set_size(32, 32);
        if (w.Open(name.c_str()) != 1) return 11;
        for (int k = 0; k < 2; ++k)
            if (w.AddFrame(picture(f, k)) != AviStatus::kOk) return 12;
        w.set_rate(3000);
        return w.Finish() == 0 ? 0 : 13;
    });
    ASSERT_EQ(status, 0);
    const Bytes b = read_file(name);
    EXPECT_EQ(u32(b, 44), 0x10000u);
    EXPECT_EQ(u32(b, 48), 2u);
    EXPECT_EQ(u32(b, 4), 232 + 2 * (8 + f) - 8);
    EXPECT_EQ(b.size(), 232 + 2 * (8 + f)) << "the index's first bytes are cut off";
    EXPECT_NE(probe(name).find("nb_read_frames=2"), std::string::npos) << probe(name);
}

}  // namespace
}  // namespace zbx::output
