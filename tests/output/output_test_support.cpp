#include "output_test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace zbx::output::testing {

ScratchDir::ScratchDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "zbx-output-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

TestImage::TestImage(std::int32_t w, std::int32_t h, std::uint16_t bits, std::int32_t stride_bytes,
                     int significant_bits)
    : width(w), height(h), stride(stride_bytes), bits_per_pixel(bits) {
    if (stride == 0) stride = AlignedStride(w, bits);
    // Padding bytes get a marker so tests see whether padding is copied.
    store.assign(std::size_t(stride) * std::size_t(h), 0xEE);
    const int channels = bits == 8 || bits == 16 ? 1 : (bits == 24 || bits == 48 ? 3 : 4);
    const unsigned max = bits == 16 || bits >= 48 ? (1u << significant_bits) - 1 : 255u;
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c) {
                // Smooth along x and y, distinct per channel, with a little
                // high-frequency detail so encoders have work to do.
                unsigned v = unsigned(x * 7 + y * 13 + c * 61 + ((x * y) % 5) * 3);
                set_sample(x, y, c, v % (max + 1));
            }
}

ImageView TestImage::view() const {
    ImageView v;
    v.pixels = store.data();
    v.width = width;
    v.height = height;
    v.stride = stride;
    v.bits_per_pixel = bits_per_pixel;
    return v;
}

unsigned TestImage::sample(std::int32_t x, std::int32_t y, int c) const {
    const int bytes = bits_per_pixel / 8;
    if (bits_per_pixel == 16 || bits_per_pixel >= 48)
        return Le16(row(y) + std::size_t(x) * bytes + 2 * c);
    return row(y)[std::size_t(x) * bytes + c];
}

void TestImage::set_sample(std::int32_t x, std::int32_t y, int c, unsigned v) {
    const int bytes = bits_per_pixel / 8;
    if (bits_per_pixel == 16 || bits_per_pixel >= 48) {
        std::uint8_t* p = row(y) + std::size_t(x) * bytes + 2 * c;
        p[0] = std::uint8_t(v);
        p[1] = std::uint8_t(v >> 8);
    } else {
        row(y)[std::size_t(x) * bytes + c] = std::uint8_t(v);
    }
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool HaveTool(const std::string& tool) {
    return RunCommand("command -v " + tool + " >/dev/null 2>&1").status == 0;
}

FullDiskFile::FullDiskFile() {
    fd_ = ::memfd_create("zbx-full-disk", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd_ < 0 || ::fcntl(fd_, F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) != 0)
        throw std::runtime_error("cannot make a sealed memory file");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

FullDiskFile::~FullDiskFile() {
    if (fd_ >= 0) ::close(fd_);
}

int OpenDescriptorCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) ++count;
        ::closedir(dir);
    }
    return count;
}

}  // namespace zbx::output::testing
