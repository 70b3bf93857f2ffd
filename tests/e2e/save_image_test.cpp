// Zorbex_SaveImage and Zorbex_SaveImageW through the exported functions:
// the frame-valid rule of the narrow form and its absence in the wide form,
// what is recorded and posted, wide names, files compared with the session's
// own buffer, saves in two sessions at once, and the frame lock left free
// while a file is being encoded.
#include <png.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "e2e_session.h"
#include "support/png_reader.h"
#include "support/temp_dir.h"
#include "zorbex/vcam.h"

namespace zbx::test {
namespace {

namespace fs = std::filesystem;
using Png = DecodedPng;

constexpr int kColourBits[] = {8, 16, 24, 32, 48, 64};

std::vector<std::uint8_t> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::u16string wide(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

Png read_png(const fs::path& path) { return ReadPng(path.string()); }

class SaveImage : public OpenSession {
protected:
    // A frame from the virtual camera through a snapshot.  Noise that
    // differs per seed makes every sample of the picture differ from one
    // frame to the next.  Closing afterwards clears the frame-valid flag
    // while the buffers keep the picture.
    void deliver_frame(int bits, unsigned seed, bool valid = true) {
        ASSERT_EQ(Zorbex_SetColorMode(h_, bits), 1);
        ZbxVcamScene scene{};
        ASSERT_EQ(ZbxVcam_GetScene(0, &scene), ZBX_VCAM_OK);
        scene.noise = 40 + static_cast<int32_t>(seed % 200);
        ASSERT_EQ(ZbxVcam_SetScene(0, &scene), ZBX_VCAM_OK);
        std::vector<std::uint8_t> frame(std::size_t(1280) * 720 * 8);
        ASSERT_EQ(Zorbex_SnapShot(h_, frame.data(), int(frame.size()), 1), 1);
        if (!valid) {
            ASSERT_EQ(Zorbex_Close(h_), 1);
        }
    }
    // The output buffer of the current colour mode, as the application
    // gets it (rows top first, padding included).
    std::vector<std::uint8_t> output_buffer() {
        const int bits = Zorbex_GetColorMode(h_);
        const int bytes = bits == 12 ? 2 : bits == 44 ? 6 : bits == 60 ? 8 : bits / 8;
        const int stride = (Zorbex_Width(h_) * bytes + 3) & ~3;
        std::vector<std::uint8_t> store(std::size_t(stride) * std::size_t(Zorbex_Height(h_)));
        EXPECT_EQ(Zorbex_GetImage(h_, store.data(), int(store.size()), 1), 1);
        return store;
    }
    // True when another thread can take the session's frame lock (getting
    // the image needs it, whether it then succeeds or not) within a
    // generous limit.  Leaves nothing in the history.
    bool frame_lock_is_free() {
        std::vector<std::uint8_t> store(std::size_t(1280) * 720 * 8);
        auto done = std::async(std::launch::async, [&] {
            return Zorbex_GetImage(h_, store.data(), int(store.size()), 1);
        });
        const bool ready = done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        if (ready && done.get() == 0) {
            history();
            posted();
        }
        return ready;
    }

    TempDir dir_{"zbx-save-"};
};

TEST_F(SaveImage, RightAfterOpeningNothingIsSaved) {
    const fs::path name = dir_ / "first.bmp";
    for (int format = 0; format <= 6; ++format) {
        EXPECT_EQ(Zorbex_SaveImage(h_, name.c_str(), format), 0) << format;
        // No frame has sized the buffers yet: there is no picture to save.
        EXPECT_EQ(Zorbex_SaveImageW(h_, wide(name.string()).c_str(), format), 0) << format;
    }
    EXPECT_FALSE(fs::exists(name));
    EXPECT_EQ(history(), std::vector<int>(14, ZBX_ERR_NOT_READY));
    EXPECT_EQ(posted(), std::vector<std::intptr_t>(14, ZBX_ERR_NOT_READY));
    EXPECT_TRUE(frame_lock_is_free());
}

// Once the stream has been closed the frame is no longer valid: the narrow
// form refuses, the wide form saves what the buffer still holds.
TEST_F(SaveImage, FrameValidRuleIsTheNarrowFormsOnly) {
    deliver_frame(24, 7, false);
    const fs::path narrow = dir_ / "n.raw";
    const fs::path wide_name = dir_ / "w.raw";
    EXPECT_EQ(Zorbex_SaveImage(h_, narrow.c_str(), ZBX_FILE_RAW), 0);
    EXPECT_EQ(history(), std::vector<int>{ZBX_ERR_NOT_READY});
    EXPECT_EQ(Zorbex_SaveImageW(h_, wide(wide_name.string()).c_str(), ZBX_FILE_RAW), 1);
    EXPECT_FALSE(fs::exists(narrow));
    EXPECT_EQ(read_file(wide_name), output_buffer());
    deliver_frame(24, 8, true);
    EXPECT_EQ(Zorbex_SaveImage(h_, narrow.c_str(), ZBX_FILE_RAW), 1);
    EXPECT_EQ(read_file(narrow), output_buffer());
    EXPECT_TRUE(history().empty());
}

// Every colour mode: the raw dump is the buffer byte for byte, PNG and TIFF
// decode to its samples (shifted, red first), BMP and JPEG are written.
TEST_F(SaveImage, FilesHoldTheSessionsBufferInEveryColourMode) {
    for (const int bits : kColourBits) {
        SCOPED_TRACE(bits);
        deliver_frame(bits, unsigned(bits));
        const std::vector<std::uint8_t> buffer = output_buffer();
        const std::string base = (dir_ / ("m" + std::to_string(bits))).string();
        for (int format = ZBX_FILE_BMP; format <= ZBX_FILE_TIFF; ++format) {
            EXPECT_EQ(Zorbex_SaveImage(h_, (base + "." + std::to_string(format)).c_str(), format), 1) << format;
        }
        EXPECT_EQ(read_file(base + ".1"), buffer);
        const bool wide_samples = bits == 16 || bits >= 48;
        const int channels = bits == 8 || bits == 16 ? 1 : bits == 24 || bits == 48 ? 3 : 4;
        const std::size_t width = std::size_t(Zorbex_Width(h_));
        const std::size_t stride = (width * std::size_t(bits / 8) + 3) & ~std::size_t{3};
        // Sample c (grey, or red, green, blue, fourth) of the buffer as
        // each file must hold it.
        auto source = [&](std::size_t x, std::size_t y, int c) -> unsigned {
            const int src_c = channels == 1 ? 0 : c < 3 ? 2 - c : 3;
            const std::uint8_t* p = &buffer[y * stride + x * std::size_t(bits / 8)];
            return wide_samples ? unsigned(p[2 * src_c] | p[2 * src_c + 1] << 8) : p[src_c];
        };
        const Png png = read_png(base + ".5");
        ASSERT_TRUE(png.ok);
        // "c": the one strip as stored, not chopped into smaller ones.
        TIFF* t = TIFFOpen((base + ".6").c_str(), "rc");
        ASSERT_NE(t, nullptr);
        std::vector<std::uint8_t> strip(std::size_t(TIFFStripSize(t)));
        ASSERT_EQ(TIFFReadEncodedStrip(t, 0, strip.data(), tmsize_t(strip.size())), tmsize_t(strip.size()));
        TIFFClose(t);
        for (std::size_t y = 0; y < png.height; y += 13)
            for (std::size_t x = 0; x < png.width; x += 7)
                for (int c = 0; c < channels; ++c) {
                    const std::size_t i = (y * width + x) * std::size_t(channels) + std::size_t(c);
                    unsigned in_png, in_tiff, want_png, want_tiff;
                    if (wide_samples) {
                        in_png = unsigned(png.pixels[2 * i] << 8 | png.pixels[2 * i + 1]);
                        std::uint16_t v;
                        std::memcpy(&v, &strip[2 * i], 2);
                        in_tiff = v;
                        want_png = want_tiff = c == 3 ? 0xFFFF : (source(x, y, c) << 4) & 0xFFFF;
                    } else {
                        in_png = png.pixels[i];
                        in_tiff = strip[i];
                        want_png = c == 3 ? 255 - source(x, y, c) : source(x, y, c);
                        want_tiff = c == 3 ? 0 : source(x, y, c);
                    }
                    ASSERT_EQ(in_png, want_png) << x << "," << y << " channel " << c;
                    ASSERT_EQ(in_tiff, want_tiff) << x << "," << y << " channel " << c;
                }
        const std::vector<std::uint8_t> bmp = read_file(base + ".0");
        ASSERT_GE(bmp.size(), 54u);
        EXPECT_EQ(bmp[28] | bmp[29] << 8, bits);
        EXPECT_EQ(bmp.size(), (bits == 8 ? 1078 : 54) + buffer.size());
        EXPECT_GT(fs::file_size(base + ".2"), fs::file_size(base + ".4"));
    }
    EXPECT_TRUE(history().empty());
    EXPECT_TRUE(posted().empty());
}

TEST_F(SaveImage, FailuresOfTheFileAreNotRecorded) {
    deliver_frame(24, 3);
    const std::u16string name = wide((dir_ / "x.png").string());
    for (int format : {-1, 7, 100}) {
        EXPECT_EQ(Zorbex_SaveImageW(h_, name.c_str(), format), 0) << format;
        EXPECT_EQ(Zorbex_SaveImage(h_, (dir_ / "x.png").c_str(), format), 0) << format;
    }
    const std::string readonly = (dir_ / "readonly.png").string();
    { std::ofstream(readonly) << "keep"; }
    ASSERT_EQ(::chmod(readonly.c_str(), 0444), 0);
    std::vector<std::string> unwritable = {(dir_ / "missing" / "x.png").string(), dir_.path().string(),
                                           "/proc/self/status"};
    if (::geteuid() != 0) unwritable.push_back(readonly);
    for (const std::string& bad : unwritable)
        for (int format = ZBX_FILE_BMP; format <= ZBX_FILE_TIFF; ++format) {
            testing::internal::CaptureStderr();  // libtiff reports the failed open
            EXPECT_EQ(Zorbex_SaveImageW(h_, wide(bad).c_str(), format), 0) << bad << " " << format;
            EXPECT_EQ(Zorbex_SaveImage(h_, bad.c_str(), format), 0) << bad << " " << format;
            (void)testing::internal::GetCapturedStderr();
        }
    EXPECT_TRUE(history().empty());
    EXPECT_TRUE(posted().empty());
    EXPECT_TRUE(frame_lock_is_free());
    EXPECT_FALSE(fs::exists(dir_ / "x.png"));
    EXPECT_EQ(read_file(readonly), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
}

TEST_F(SaveImage, ExistingFileIsTruncated) {
    deliver_frame(8, 5);
    const fs::path name = dir_ / "t.raw";
    { std::ofstream(name, std::ios::binary) << std::string(4 << 20, 'z'); }
    ASSERT_EQ(Zorbex_SaveImage(h_, name.c_str(), ZBX_FILE_RAW), 1);
    EXPECT_EQ(read_file(name), output_buffer());
}

// Names up to 1022 bytes (1023 with the terminator) are taken; longer ones,
// and names that are no UTF-16, fail with error 1 and the lock left free.
TEST_F(SaveImage, WideNamesAreConvertedIntoTheNameBuffer) {
    deliver_frame(8, 9);
    // Nested folders of at most 200 bytes a name, up to an exact length.
    auto path_of_length = [&](std::size_t length) {
        std::string path = dir_.path().string();
        while (path.size() + 1 + 200 < length) {
            path += "/" + std::string(199, 'd');
            fs::create_directories(path);
        }
        path += "/" + std::string(length - path.size() - 1, 'f');
        return path;
    };
    const std::string longest = path_of_length(1022);
    ASSERT_EQ(longest.size(), 1022u);
    EXPECT_EQ(Zorbex_SaveImageW(h_, wide(longest).c_str(), ZBX_FILE_RAW), 1);
    EXPECT_TRUE(fs::exists(longest));
    EXPECT_TRUE(history().empty());

    const std::string too_long = path_of_length(1023);
    EXPECT_EQ(Zorbex_SaveImageW(h_, wide(too_long).c_str(), ZBX_FILE_RAW), 0);
    EXPECT_FALSE(fs::exists(too_long));
    // Two bytes a character in UTF-8: 512 of them need 1025 bytes.
    const std::u16string two_byte_long(512, u'\u00e9');
    EXPECT_EQ(Zorbex_SaveImageW(h_, two_byte_long.c_str(), ZBX_FILE_RAW), 0);
    const char16_t unpaired[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(Zorbex_SaveImageW(h_, unpaired, ZBX_FILE_RAW), 0);
    EXPECT_EQ(Zorbex_SaveImageW(h_, nullptr, ZBX_FILE_RAW), 0);
    EXPECT_EQ(history(), std::vector<int>(4, ZBX_ERR_NOT_READY));
    EXPECT_EQ(posted(), std::vector<std::intptr_t>(4, ZBX_ERR_NOT_READY));
    EXPECT_TRUE(frame_lock_is_free());

    // Non-ASCII names reach the file system as UTF-8.
    const std::u16string photo = wide(dir_.path().string() + "/") + u"\u5199\u771f.bmp";
    EXPECT_EQ(Zorbex_SaveImageW(h_, photo.c_str(), ZBX_FILE_BMP), 1);
    EXPECT_TRUE(fs::exists(dir_ / "\xe5\x86\x99\xe7\x9c\x9f.bmp"));
}

TEST(SaveImageHandles, UnknownHandleDoesNothing) {
    TempDir dir("zbx-save-");
    const std::string name = (dir / "x.bmp").string();
    EXPECT_EQ(Zorbex_SaveImage(0, name.c_str(), ZBX_FILE_BMP), 0);
    EXPECT_EQ(Zorbex_SaveImageW(12345, wide(name).c_str(), ZBX_FILE_BMP), 0);
    EXPECT_FALSE(fs::exists(name));
}

// Two sessions save PNG files at the same moment, each its own picture.
TEST_F(SaveImage, TwoSessionsSavePngAtOnce) {
    deliver_frame(64, 1);
    ZbxHandle other = Zorbex_Initialize(window_);
    ASSERT_NE(other, 0u);
    std::swap(h_, other);
    deliver_frame(16, 2);
    std::swap(h_, other);
    std::atomic<int> failures{0};
    constexpr int kRounds = 3;
    auto saver = [&](ZbxHandle h, const std::string& prefix) {
        for (int i = 0; i < kRounds; ++i)
            if (Zorbex_SaveImageW(h, wide(prefix + std::to_string(i) + ".png").c_str(), ZBX_FILE_PNG) != 1)
                ++failures;
    };
    std::thread a(saver, h_, (dir_ / "a").string());
    std::thread b(saver, other, (dir_ / "b").string());
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
    for (int i = 0; i < kRounds; ++i) {
        const Png pa = read_png(dir_ / ("a" + std::to_string(i) + ".png"));
        const Png pb = read_png(dir_ / ("b" + std::to_string(i) + ".png"));
        ASSERT_TRUE(pa.ok);
        ASSERT_TRUE(pb.ok);
        EXPECT_EQ(pa.channels, 4);
        EXPECT_EQ(pa.bit_depth, 16);
        EXPECT_EQ(pb.channels, 1);
        EXPECT_EQ(pb.bit_depth, 16);
        // The opaque fourth sample of a 64-bit picture.
        EXPECT_EQ(pa.pixels[6], 0xFF);
        EXPECT_EQ(pa.pixels[7], 0xFF);
    }
    EXPECT_EQ(Zorbex_Release(other), 1);
}

// While a slow file (a 16-bit-per-channel PNG) is being encoded and
// written, the frame lock is free: getting the image, which needs that
// lock, completes again and again during the save.
TEST_F(SaveImage, FrameLockIsFreeWhileTheFileIsWritten) {
    deliver_frame(64, 4);
    const fs::path name = dir_ / "slow.png";
    std::atomic<bool> saved{false};
    std::thread save([&] {
        EXPECT_EQ(Zorbex_SaveImageW(h_, wide(name.string()).c_str(), ZBX_FILE_PNG), 1);
        saved = true;
    });
    std::vector<std::uint8_t> store(std::size_t(1280) * 720 * 8);
    int during_write = 0;
    while (!saved.load()) {
        const bool writing = fs::exists(name);
        ASSERT_EQ(Zorbex_GetImage(h_, store.data(), int(store.size()), 1), 1);
        if (writing && !saved.load()) ++during_write;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    save.join();
    EXPECT_GE(during_write, 3);
}

}  // namespace
}  // namespace zbx::test
