// Every writer facing names it cannot use: existing files are truncated, missing directories and read-only files
// give 0 and leave nothing behind, a full disk gives 0 without ending the
// process.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include <gtest/gtest.h>

#include "output/bmp_writer.h"
#include "output/jpeg_writer.h"
#include "output/png_writer.h"
#include "output/tiff_writer.h"
#include "output_test_support.h"
#include "support/fifo.h"

namespace zbx::output {
namespace {

using testing::FullDiskFile;
using testing::OpenDescriptorCount;
using testing::ReadBytes;
using testing::ScratchDir;
using testing::TestImage;
using testing::WriteBytes;

// Every writer behind one signature, on a picture it accepts.
struct Writer {
    const char* label;
    std::uint16_t bits;
    std::function<int(const ImageView&, const char*)> write;
};

std::vector<Writer> AllWriters() {
    return {
        {"bmp", 24, [](const ImageView& v, const char* n) { return WriteBmpFile(v, n); }},
        {"raw", 16, [](const ImageView& v, const char* n) { return WriteRawFile(v, n); }},
        {"png", 48, [](const ImageView& v, const char* n) { return WritePngFile(n, v); }},
        {"jpeg", 24, [](const ImageView& v, const char* n) { return WriteJpegFile(n, v, 70, 1); }},
        {"tiff", 64, [](const ImageView& v, const char* n) { return WriteTiffFile(n, v, 12); }},
    };
}

TEST(WriterFiles, ExistingFilesAreTruncated) {
    ScratchDir dir;
    for (const Writer& w : AllWriters()) {
        SCOPED_TRACE(w.label);
        TestImage img(40, 30, w.bits);
        const std::string fresh = dir.file(std::string("fresh.") + w.label);
        const std::string old = dir.file(std::string("old.") + w.label);
        ASSERT_EQ(w.write(img.view(), fresh.c_str()), 1);
        WriteBytes(old, std::vector<std::uint8_t>(200000, 0x55));
        ASSERT_EQ(w.write(img.view(), old.c_str()), 1);
        EXPECT_EQ(ReadBytes(old), ReadBytes(fresh));
    }
}

TEST(WriterFiles, MissingDirectoryGivesZeroAndLeaksNothing) {
    ScratchDir dir;
    const int fds = OpenDescriptorCount();
    for (const Writer& w : AllWriters()) {
        SCOPED_TRACE(w.label);
        TestImage img(8, 8, w.bits);
        const std::string name = dir.file("missing/picture");
        EXPECT_EQ(w.write(img.view(), name.c_str()), 0);
        EXPECT_EQ(w.write(img.view(), dir.path().c_str()), 0);  // a directory
    }
    EXPECT_EQ(OpenDescriptorCount(), fds);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// A FIFO (or a device) under the name is refused at once: no writer waits
// in the open for a reader to appear.
TEST(WriterFiles, NonRegularFilesAreRefusedWithoutWaiting) {
    const test::Fifo fifo;
    for (const Writer& w : AllWriters()) {
        SCOPED_TRACE(w.label);
        TestImage img(16, 16, w.bits);
        bool stuck = false;
        EXPECT_EQ(fifo.run([&] { return w.write(img.view(), fifo.path()); }, &stuck), 0);
        EXPECT_FALSE(stuck) << "waited for a reader on the FIFO";
        EXPECT_EQ(w.write(img.view(), "/dev/null"), 0);
    }
}

// A full disk makes every writer fail, after the file was opened: the
// libraries' error mechanisms must come back to the writer, not end the
// process.
TEST(WriterFiles, FullDiskGivesZeroAndTheProcessLives) {
    const FullDiskFile full;
    const int fds = OpenDescriptorCount();
    for (const Writer& w : AllWriters()) {
        SCOPED_TRACE(w.label);
        TestImage img(256, 128, w.bits);
        EXPECT_EQ(w.write(img.view(), full.path()), 0);
        // A tiny picture whose bytes all sit in the stream buffer until the
        // file is closed fails as well.
        TestImage tiny(2, 2, w.bits);
        EXPECT_EQ(w.write(tiny.view(), full.path()), 0);
    }
    EXPECT_EQ(OpenDescriptorCount(), fds);
}

// Writes to a read-only file; 0 and the old content kept.  The superuser
// ignores file modes, so then the writers run in a child without
// privileges.
TEST(WriterFiles, ReadOnlyFileGivesZeroAndStaysUnchanged) {
    ScratchDir dir;
    const std::vector<std::uint8_t> content(1000, 0x42);
    std::vector<std::string> names;
    for (const Writer& w : AllWriters()) {
        names.push_back(dir.file(std::string("locked.") + w.label));
        WriteBytes(names.back(), content);
        ASSERT_EQ(::chmod(names.back().c_str(), 0444), 0);
    }
    auto run_all = [&]() -> int {
        int failures = 0;
        std::size_t i = 0;
        for (const Writer& w : AllWriters()) {
            TestImage img(16, 16, w.bits);
            if (w.write(img.view(), names[i++].c_str()) != 0) ++failures;
        }
        return failures;
    };
    if (::geteuid() != 0) {
        EXPECT_EQ(run_all(), 0);
    } else {
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
            ::_exit(run_all());
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "writers that succeeded on a read-only file";
    }
    for (const std::string& name : names) EXPECT_EQ(ReadBytes(name), content) << name;
}

}  // namespace
}  // namespace zbx::output
