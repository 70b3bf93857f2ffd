// snap, stream and demo against the virtual camera, in process: files
// written, the live status and summary, and the messages for a bad path,
// an empty slot and a camera another process is streaming from.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "zorbex/vcam.h"
#include "zorbex/zorbex.h"

namespace zbxcam {
namespace {


struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class AcquisitionTest : public testing::Test {
protected:
    void SetUp() override { ZbxVcam_Reset(); }
    void TearDown() override { ZbxVcam_Reset(); }

    static Outcome zbxcam(std::vector<std::string> args) {
        std::ostringstream out, err;
        Io io{out, err, false};
        const int status = run(args, io);
        return {status, out.str(), err.str()};
    }

    static std::string head(const std::filesystem::path& file, std::size_t n) {
        std::ifstream in(file, std::ios::binary);
        std::string bytes(n, '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(n));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        return bytes;
    }
};

TEST_F(AcquisitionTest, SnapWritesTheFormatTheNameAsksFor) {
    zbx::test::TempDir dir("zbxcam-snap-");
    const std::string png = (dir / "frame.png").string();
    const Outcome r = zbxcam({"snap", png, "--unpaced", "--mode", "color24"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(head(png, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(r.out.rfind("wrote " + png + " (PNG, 1280 x 720, Color 24bit, ", 0), 0u) << r.out;

    const std::string bmp = (dir / "frame.bmp").string();
    ASSERT_EQ(zbxcam({"snap", bmp, "--unpaced", "-m", "mono8"}).status, 0);
    EXPECT_EQ(head(bmp, 2), "BM");
    // Mono8: 1078-byte header and grey table, then 720 rows of 1280 bytes.
    EXPECT_EQ(std::filesystem::file_size(bmp), 1078u + 1280u * 720u);

    const std::string raw = (dir / "frame").string();
    ASSERT_EQ(zbxcam({"snap", raw, "--unpaced", "-m", "mono16", "--format", "raw"}).status, 0);
    EXPECT_EQ(std::filesystem::file_size(raw), 2u * 1280u * 720u);
}

TEST_F(AcquisitionTest, SnapFailuresSayWhy) {
    zbx::test::TempDir dir("zbxcam-snap-");
    const std::string missing = (dir / "nope" / "a.png").string();
    const Outcome bad_path = zbxcam({"snap", missing, "--unpaced"});
    EXPECT_EQ(bad_path.status, 1);
    EXPECT_EQ(bad_path.err, "zbxcam snap: cannot write " + missing + ": ERR_FILE (12): the file " + missing +
                                " could not be created (the folder " + (dir / "nope").string() + " does not exist)\n");

    const Outcome absent = zbxcam({"snap", (dir / "a.png").string(), "--slots", "1"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_EQ(absent.err, "zbxcam snap: could not open camera 0: ERR_DEVICE_UNAVAILABLE (2): camera 0 is not attached\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "a.png"));

    ZbxVcam_Reset();  // the slots chosen above hold for this process
    const Outcome refused = zbxcam({"snap", (dir / "a.png").string(), "--gain", "12"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "zbxcam snap: could not set the gain: ERR_PARAMETER (9): the library refused gain 12 (it accepts 0 to 11)\n");
}

TEST_F(AcquisitionTest, ACameraStreamingInAnotherProcessIsInUse) {
    int to_parent[2];
    int to_child[2];
    ASSERT_EQ(::pipe(to_parent), 0);
    ASSERT_EQ(::pipe(to_child), 0);
    zbx::test::ChildProcess child([&] {
        ZbxWindow window = ZbxWin_CreateMessageWindow();
        const ZbxHandle h = Zorbex_Initialize(window);
        const char started = Zorbex_StartPreview(h) ? 'y' : 'n';
        if (::write(to_parent[1], &started, 1) != 1) return 2;
        char done = 0;
        if (::read(to_child[0], &done, 1) != 1) return 3;
        Zorbex_StopPreview(h);
        Zorbex_Release(h);
        ZbxWin_DestroyWindow(window);
        return started == 'y' ? 0 : 1;
    });
    char started = 0;
    ASSERT_EQ(::read(to_parent[0], &started, 1), 1);
    ASSERT_EQ(started, 'y');

    zbx::test::TempDir dir("zbxcam-snap-");
    const Outcome busy = zbxcam({"snap", (dir / "a.png").string()});
    const char done = 'x';
    ASSERT_EQ(::write(to_child[1], &done, 1), 1);
    EXPECT_EQ(child.wait(), 0);
    for (int fd : {to_parent[0], to_parent[1], to_child[0], to_child[1]}) ::close(fd);

    EXPECT_EQ(busy.status, 1);
    EXPECT_EQ(busy.err.rfind("zbxcam snap: could not take a frame: ERR_DEVICE_UNAVAILABLE (2): camera 0 is in use by another process\n", 0), 0u)
        << busy.err;
}

TEST_F(AcquisitionTest, StreamShowsStatusAndSummary) {
    const Outcome r = zbxcam({"stream", "--seconds", "1", "--mode", "mono8"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("frames "), std::string::npos);
    EXPECT_NE(r.out.find(" fps | failures 0 | "), std::string::npos);
    EXPECT_NE(r.out.find("of 1280 x 720 at 8 bits per pixel"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("no failures"), std::string::npos);
}

TEST_F(AcquisitionTest, AStreamThatLosesItsCameraEndsWithASummaryAndFails) {
    // Failed frame reads are a transfer fault: the library ends the stream.
    ASSERT_EQ(ZbxVcam_FailFrameReads(0, 3), ZBX_VCAM_OK);
    const Outcome r = zbxcam({"stream", "--seconds", "2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("1 failure (1 x ERR_FRAME_TIMEOUT)"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "zbxcam stream: streaming ended: ERR_FRAME_TIMEOUT (13): camera 0 stopped delivering "
                     "frames (none for 6 seconds, or a transfer failed)\n");
}

TEST_F(AcquisitionTest, DemoWritesEveryModeInEveryFormat) {
    zbx::test::TempDir dir("zbxcam-demo-");
    const std::string out = (dir / "out").string();
    const Outcome r = zbxcam({"demo", "--out", out, "--seconds", "0.5", "--unpaced"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(out)) {
        EXPECT_GT(entry.file_size(), 0u) << entry.path();
        ++files;
    }
    EXPECT_EQ(files, 6u * 7u);
    for (const char* name : {"mono8.bmp", "mono16.raw", "color24-q100.jpg", "color32-q70.jpg",
                             "color48-q20.jpg", "color64.png", "color24.tif"})
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(out) / name)) << name;
    EXPECT_NE(r.out.find("wrote 42 files into " + out + "/"), std::string::npos);
    EXPECT_NE(r.out.find("streamed "), std::string::npos);
}


}  // namespace
}  // namespace zbxcam
