// Recording the live stream of the virtual camera through the record
// exports, with the files read back by ffprobe.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "e2e_session.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace zbx::test {
namespace {

namespace fs = std::filesystem;

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

// Reads one "key=value" field of ffprobe's description of the video stream,
// counting frames by decoding them.
std::string probe(const fs::path& file, const std::string& key) {
    const std::string out = run(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,pix_fmt,width,height,nb_read_frames -of default=nw=1 '" +
        file.string() + "' 2>&1");
    const std::string prefix = key + "=";
    const std::size_t at = out.find(prefix);
    if (at == std::string::npos) return "missing in: " + out;
    return out.substr(at + prefix.size(), out.find('\n', at) - at - prefix.size());
}

std::uint32_t header_word(const fs::path& file, std::size_t at) {
    std::ifstream in(file, std::ios::binary);
    std::array<unsigned char, 52> head{};
    if (!in.read(reinterpret_cast<char*>(head.data()), head.size())) return 0;
    return head[at] | head[at + 1] << 8 | head[at + 2] << 16 | static_cast<std::uint32_t>(head[at + 3]) << 24;
}

// The frame count in the main header: kept up to date as frames are written.
std::uint32_t header_frame_count(const fs::path& file) { return header_word(file, 48); }

// The RIFF size at offset 4: file size - 8 once the file is finished.
std::uint32_t riff_size(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::array<unsigned char, 8> head{};
    if (!in.read(reinterpret_cast<char*>(head.data()), head.size())) return 0;
    return head[4] | head[5] << 8 | head[6] << 16 | static_cast<std::uint32_t>(head[7]) << 24;
}

// Frames are written as they come: a file past its headers holds a first
// frame.
bool wait_for_first_frame(const fs::path& file, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        std::error_code error;
        if (fs::file_size(file, error) > 232 + 8 && !error) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool wait_until_finished(const fs::path& file, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        // The index flag is set last, once the index is written.
        if ((header_word(file, 44) & 0x10) != 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void expect_720p_bgr(const fs::path& file) {
    EXPECT_EQ(probe(file, "codec_name"), "rawvideo");
    EXPECT_EQ(probe(file, "pix_fmt"), "bgr24");
    EXPECT_EQ(probe(file, "width"), "1280");
    EXPECT_EQ(probe(file, "height"), "720");
    EXPECT_GT(std::atoi(probe(file, "nb_read_frames").c_str()), 0);
}

class Record : public OpenSession {
protected:
    TempDir dir_{"zbxtest-record-"};
};

TEST_F(Record, RecordsTheLiveStreamForTheDurationAndFinishesTheFile) {
    const fs::path file = dir_ / "clip.avi";
    ASSERT_EQ(Zorbex_Record(h_, file.c_str(), 300, 0), 1);
    ASSERT_TRUE(wait_until_finished(file, std::chrono::seconds(20)));
    expect_720p_bgr(file);
    EXPECT_EQ(header_frame_count(file), static_cast<std::uint32_t>(std::atoi(probe(file, "nb_read_frames").c_str())));
    EXPECT_TRUE(history().empty());
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
}

TEST_F(Record, StopBeforeTheDurationStillLeavesAPlayableFile) {
    const fs::path file = dir_ / "stopped.avi";
    ASSERT_EQ(Zorbex_Record(h_, file.c_str(), 600000, 0), 1);
    // Slow builds (sanitizers) may take long for a first frame.
    ASSERT_TRUE(wait_for_first_frame(file, std::chrono::seconds(20)));
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
    // Nothing is written after Stop returns, and the file is complete.
    const auto size = fs::file_size(file);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(fs::file_size(file), size);
    expect_720p_bgr(file);

    // A second recording of the same session starts afresh.
    ASSERT_EQ(Zorbex_Record(h_, file.c_str(), 0, 0), 1);
    ASSERT_TRUE(wait_until_finished(file, std::chrono::seconds(20)));
    expect_720p_bgr(file);
    EXPECT_EQ(Zorbex_Close(h_), 1);
    EXPECT_TRUE(history().empty());
}

TEST_F(Record, NamesThatAreMissingOrCannotBeConverted) {
    EXPECT_EQ(Zorbex_Record(h_ + 1, (dir_ / "x.avi").c_str(), 100, 0), 0);
    EXPECT_EQ(Zorbex_Record(h_, nullptr, 100, 0), 0);
    EXPECT_EQ(Zorbex_Record(h_, "", 100, 0), 0);
    EXPECT_EQ(Zorbex_RecordW(h_, u"", 100, 0), 0);
    EXPECT_EQ(history(), (std::vector<int>{9, 9, 9}));

    const char16_t unpaired[] = {u'a', 0xD800, u'.', u'a', u'v', u'i', 0};
    EXPECT_EQ(Zorbex_RecordW(h_, unpaired, 100, 0), 0);
    EXPECT_EQ(Zorbex_RecordW(h_, nullptr, 100, 0), 0);
    // 1023 bytes with the terminator fit; one more does not.
    std::u16string too_long = (dir_ / "").u16string();
    too_long.append(1023 - too_long.size(), u'n');
    EXPECT_EQ(Zorbex_RecordW(h_, too_long.c_str(), 100, 0), 0);
    EXPECT_EQ(history(), (std::vector<int>{12, 12, 12}));
    EXPECT_EQ(posted(), (std::vector<std::intptr_t>{9, 9, 9, 12, 12, 12}));
    EXPECT_TRUE(fs::is_empty(dir_.path()));

    // A UTF-16 name reaches the file system as UTF-8.
    const fs::path file = dir_ / u8"caf\u00e9.avi";
    ASSERT_EQ(Zorbex_RecordW(h_, file.u16string().c_str(), 0, 0), 1);
    ASSERT_TRUE(wait_until_finished(file, std::chrono::seconds(20)));
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
    EXPECT_TRUE(history().empty());
}

TEST_F(Record, AFileThatCannotBeCreatedFailsWith12AndLeavesNothingRunning) {
    const fs::path file = dir_ / "missing" / "clip.avi";
    EXPECT_EQ(Zorbex_Record(h_, file.c_str(), 100, 0), 0);
    EXPECT_EQ(history(), std::vector<int>{12});
    EXPECT_EQ(posted(), std::vector<std::intptr_t>{12});
    EXPECT_FALSE(fs::exists(file));
    // Streaming was stopped again: single frames can be read.
    std::vector<unsigned char> image(1280 * 720 * 3);
    EXPECT_EQ(Zorbex_SnapShot(h_, image.data(), static_cast<int>(image.size()), 1), 1);
    EXPECT_TRUE(history().empty());
}

// A stream that dies under a recording (unplugged camera) finishes the file
// at once, without Stop, and its error 13 reaches the application.
TEST_F(Record, AStreamThatDiesFinishesTheFileWithoutStop) {
    const fs::path file = dir_ / "unplugged.avi";
    ASSERT_EQ(Zorbex_Record(h_, file.c_str(), 600000, 0), 1);
    ASSERT_TRUE(wait_for_first_frame(file, std::chrono::seconds(20)));
    ASSERT_EQ(ZbxVcam_Unplug(0), ZBX_VCAM_OK);
    ASSERT_TRUE(wait_until_finished(file, std::chrono::seconds(5)));
    EXPECT_EQ(riff_size(file), fs::file_size(file) - 8);
    expect_720p_bgr(file);
    EXPECT_EQ(history(), std::vector<int>{13});
    EXPECT_EQ(posted(), std::vector<std::intptr_t>{13});
    ASSERT_EQ(ZbxVcam_Replug(0), ZBX_VCAM_OK);
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
}

// A frame the file system refuses (the file size limit stands in for a full
// disk) ends the recording: the file is finished with the frames written,
// nothing lies beyond its end, and error 12 is posted.
TEST_F(Record, ARefusedFrameWriteFinishesTheFileAndPosts12) {
    const fs::path file = dir_ / "full.avi";
    const std::uint64_t frame = 1280 * 720 * 3;
    const std::uint64_t limit = 232 + 2 * (8 + frame) + frame / 2;
    const int status = run_in_child([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) return 10;
        if (Zorbex_Record(h_, file.c_str(), 600000, 0) != 1) return 11;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < until) {
            const std::vector<std::intptr_t> codes = posted();
            if (codes.empty()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            const bool reported = codes == std::vector<std::intptr_t>{12} && history() == std::vector<int>{12};
            // No thread may outlive the child's exit.
            return Zorbex_StopPreview(h_) == 1 && reported ? 0 : 12;
        }
        (void)Zorbex_StopPreview(h_);
        return 13;
    });
    ASSERT_EQ(status, 0);
    EXPECT_EQ(header_frame_count(file), 2u);
    EXPECT_EQ(riff_size(file), fs::file_size(file) - 8);
    EXPECT_EQ(fs::file_size(file), 232 + 2 * (8 + frame) + 8 + 2 * 16);
    EXPECT_EQ(probe(file, "nb_read_frames"), "2");
}

// A recording process killed outright leaves a file that plays with every
// frame its headers count, at about the measured rate.
TEST_F(Record, ARecordingKilledOutrightStillPlays) {
    const fs::path file = dir_ / "killed.avi";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (Zorbex_Record(h_, file.c_str(), 600000, 0) != 1) ::_exit(10);
        for (;;) ::pause();
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (header_frame_count(file) < 3 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the recording did not start";
    const std::uint32_t frames = header_frame_count(file);
    ASSERT_GE(frames, 3u);
    EXPECT_EQ(riff_size(file), 232 + frames * (8 + 1280 * 720 * 3) - 8);
    expect_720p_bgr(file);
    EXPECT_EQ(probe(file, "nb_read_frames"), std::to_string(frames));
}

}  // namespace
}  // namespace zbx::test
