// Shared helpers of the writer tests: a scratch directory, hand-made
// pictures in the library's layouts, file and command helpers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "output/image_view.h"

namespace zbx::output::testing {

// A fresh directory, removed with everything in it at the end of the test.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// A regular file on which every write fails as on a full disk: a memory
// file sealed against growing, reached by name through /proc.  (The
// writers refuse devices such as /dev/full.)
class FullDiskFile {
public:
    FullDiskFile();
    ~FullDiskFile();
    FullDiskFile(const FullDiskFile&) = delete;
    FullDiskFile& operator=(const FullDiskFile&) = delete;
    [[nodiscard]] const char* path() const { return path_.c_str(); }

private:
    int fd_ = -1;
    std::string path_;
};

// A picture owned by the test, rows top first, with a chosen stride.  The
// samples are a deterministic pattern that differs per pixel, channel and
// row; 16-bit samples hold `significant_bits` bits.
struct TestImage {
    std::vector<std::uint8_t> store;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 0;
    std::uint16_t bits_per_pixel = 0;

    TestImage(std::int32_t w, std::int32_t h, std::uint16_t bits, std::int32_t stride_bytes = 0,
              int significant_bits = 12);
    [[nodiscard]] ImageView view() const;
    [[nodiscard]] std::uint8_t* row(std::int32_t y) { return store.data() + std::size_t(y) * stride; }
    [[nodiscard]] const std::uint8_t* row(std::int32_t y) const {
        return store.data() + std::size_t(y) * stride;
    }
    // Sample c (0 = blue, or grey) of pixel (x, y), 8 or 16 bits.
    [[nodiscard]] unsigned sample(std::int32_t x, std::int32_t y, int c) const;
    void set_sample(std::int32_t x, std::int32_t y, int c, unsigned v);
};

[[nodiscard]] std::vector<std::uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Runs a shell command; its standard output (and error when asked), and
// its exit status.
struct CommandResult {
    int status = -1;
    std::string output;
};
[[nodiscard]] CommandResult RunCommand(const std::string& command);
[[nodiscard]] bool HaveTool(const std::string& tool);

// Open descriptors of this process, to see that failed writes leak none.
[[nodiscard]] int OpenDescriptorCount();

[[nodiscard]] inline std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
[[nodiscard]] inline std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t(Le16(p)) | (std::uint32_t(Le16(p + 2)) << 16);
}

}  // namespace zbx::output::testing
