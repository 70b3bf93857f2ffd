#include "platform/files.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "support/fifo.h"
#include "support/temp_dir.h"

namespace zbx::platform {
namespace {

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void put(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

TEST(OpenForWrite, CreatesANewFileOrEmptiesAnExistingOne) {
    test::TempDir dir;
    const auto path = dir / "frame.raw";

    File created = open_for_write(path.c_str());
    ASSERT_TRUE(created);
    EXPECT_EQ(created.size(), 0);
    ASSERT_TRUE(created.write("0123456789", 10));
    ASSERT_TRUE(created.close());
    EXPECT_EQ(slurp(path), "0123456789");

    File again = open_for_write(path.c_str());
    ASSERT_TRUE(again);
    EXPECT_EQ(again.size(), 0);  // emptied at once, before any write
    ASSERT_TRUE(again.write("abc", 3));
    again.close();
    EXPECT_EQ(slurp(path), "abc");
}

TEST(OpenForWrite, SeekAndPatchLikeAHeaderRewrite) {
    test::TempDir dir;
    const auto path = dir / "movie.avi";
    File file = open_for_write(path.c_str());
    ASSERT_TRUE(file);
    ASSERT_TRUE(file.write("RIFF....AVI ", 12));
    ASSERT_TRUE(file.write_at(4, "\x10\x20\x30\x40", 4));
    EXPECT_EQ(file.position(), 12);
    ASSERT_TRUE(file.seek(8));
    ASSERT_TRUE(file.write("WAV", 3));
    ASSERT_TRUE(file.seek_to_end());
    ASSERT_TRUE(file.write("idx1", 4));
    EXPECT_EQ(file.size(), 16);
    file.close();
    EXPECT_EQ(slurp(path), std::string("RIFF\x10\x20\x30\x40WAV idx1", 16));
}

TEST(OpenForWrite, FailuresAreReported) {
    test::TempDir dir;
    EXPECT_FALSE(open_for_write(nullptr));
    EXPECT_FALSE(open_for_write(""));
    EXPECT_FALSE(open_for_write((dir / "missing" / "x.raw").c_str()));
    EXPECT_FALSE(open_for_write(dir.path().c_str()));  // a directory
    put(dir / "plain", "data");
    EXPECT_FALSE(open_for_write((dir / "plain" / "x.raw").c_str()));

    File closed;
    EXPECT_FALSE(closed.write("x", 1));
    EXPECT_FALSE(closed.seek(0));
    EXPECT_EQ(closed.size(), -1);
    EXPECT_TRUE(closed.close());

    // A full disk shows up as a failed write.
    if (::access("/dev/full", W_OK) == 0) {
        File full{::open("/dev/full", O_WRONLY | O_CLOEXEC)};
        ASSERT_TRUE(full);
        EXPECT_FALSE(full.write("x", 1));
    }
}

// A name that is not a regular file is refused at once, for reading and for
// writing: a FIFO is never waited on, and a device never sees a truncation.
TEST(Files, OnlyRegularFilesAreOpened) {
    const test::Fifo fifo;
    MemoryReader reader;
    const std::function<int()> calls[] = {
        [&] { return reader.load(fifo.path()) != nullptr ? 1 : 0; },
        [&] { return open_for_write(fifo.path()).is_open() ? 1 : 0; },
        [&] { return open_for_write(fifo.path(), true).is_open() ? 1 : 0; },
        [&] {
            std::FILE* stream = open_stream_for_write(fifo.path());
            if (stream != nullptr) std::fclose(stream);
            return stream != nullptr ? 1 : 0;
        },
    };
    for (std::size_t i = 0; i < std::size(calls); ++i) {
        SCOPED_TRACE(i);
        bool stuck = false;
        EXPECT_EQ(fifo.run(calls[i], &stuck), 0);
        EXPECT_FALSE(stuck) << "waited for a peer on the FIFO";
    }
    for (const char* device : {"/dev/null", "/dev/zero"}) {
        EXPECT_FALSE(open_for_write(device)) << device;
        EXPECT_EQ(reader.load(device), nullptr) << device;
    }
}

TEST(OpenForWrite, ReadOnlyFileIsNeitherOpenedNorReplaced) {
    if (::geteuid() == 0) GTEST_SKIP() << "root ignores file permissions";
    test::TempDir dir;
    const auto path = dir / "locked.bmp";
    put(path, "keep me");
    ::chmod(path.c_str(), 0444);
    EXPECT_FALSE(open_for_write(path.c_str()));
    EXPECT_EQ(slurp(path), "keep me");

    ::chmod(dir.path().c_str(), 0555);
    EXPECT_FALSE(open_for_write((dir / "new.bmp").c_str()));
    ::chmod(dir.path().c_str(), 0755);
}

TEST(File, MovesOwnership) {
    test::TempDir dir;
    File a = open_for_write((dir / "m").c_str());
    ASSERT_TRUE(a);
    const int fd = a.fd();
    File b = std::move(a);
    EXPECT_FALSE(a);
    EXPECT_EQ(b.fd(), fd);
    File c;
    c = std::move(b);
    EXPECT_EQ(c.fd(), fd);
    EXPECT_TRUE(c.write("z", 1));
}

TEST(MemoryReader, LoadsTheWholeFile) {
    test::TempDir dir;
    std::string bytes(20, '\0');
    for (int i = 0; i < 20; ++i) bytes[i] = static_cast<char>(i * 13);
    put(dir / "defects.dat", bytes);

    MemoryReader reader;
    const std::uint8_t* data = reader.load((dir / "defects.dat").c_str());
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data, reader.data());
    ASSERT_EQ(reader.size(), 20u);
    EXPECT_EQ(reader.end(), data + 20);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 20), bytes);

    reader.release();
    EXPECT_EQ(reader.data(), nullptr);
    EXPECT_EQ(reader.end(), nullptr);
    EXPECT_EQ(reader.size(), 0u);
}

TEST(MemoryReader, EmptyFileHasDataEqualToEnd) {
    test::TempDir dir;
    put(dir / "empty", "");
    MemoryReader reader;
    ASSERT_NE(reader.load((dir / "empty").c_str()), nullptr);
    EXPECT_EQ(reader.data(), reader.end());
    EXPECT_EQ(reader.size(), 0u);
}

TEST(MemoryReader, UnreadableInputLeavesTheReaderEmpty) {
    test::TempDir dir;
    put(dir / "first", "12345678");
    MemoryReader reader;
    ASSERT_NE(reader.load((dir / "first").c_str()), nullptr);

    EXPECT_EQ(reader.load((dir / "missing").c_str()), nullptr);
    EXPECT_EQ(reader.data(), nullptr);  // the earlier file is gone too
    EXPECT_EQ(reader.size(), 0u);
    EXPECT_EQ(reader.load(dir.path().c_str()), nullptr);
    EXPECT_EQ(reader.load(nullptr), nullptr);
    EXPECT_EQ(reader.load(""), nullptr);
}

}  // namespace
}  // namespace zbx::platform
