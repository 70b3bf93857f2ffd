#include "output/bmp_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "platform/files.h"

namespace zbx::output {
namespace {

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
    put16(p, static_cast<std::uint16_t>(v));
    put16(p + 2, static_cast<std::uint16_t>(v >> 16));
}

// Rows go out through a bounded buffer: large enough that a frame takes a
// handful of writes, small enough to stay in cache.
constexpr std::size_t kChunkBytes = 256 * 1024;

}  // namespace

int WriteBmpFile(const ImageView& image, const char* name) {
    if (!image.valid()) return 0;
    const std::uint32_t file_stride =
        static_cast<std::uint32_t>(AlignedStride(image.width, image.bits_per_pixel));
    const bool has_table = image.bits_per_pixel <= 8;
    const std::uint32_t offset =
        kBmpFileHeaderBytes + kBmpInfoHeaderBytes + (has_table ? kBmpColorTableBytes : 0);
    const std::uint64_t data_bytes = std::uint64_t{file_stride} * std::uint64_t(image.height);
    // The file header's size field has 32 bits.
    if (data_bytes + offset > std::numeric_limits<std::uint32_t>::max()) return 0;

    std::array<std::uint8_t, kBmpFileHeaderBytes + kBmpInfoHeaderBytes + kBmpColorTableBytes>
        head{};
    std::uint8_t* h = head.data();
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, offset + static_cast<std::uint32_t>(data_bytes));
    put32(h + 10, offset);
    std::uint8_t* info = h + kBmpFileHeaderBytes;
    put32(info + 0, kBmpInfoHeaderBytes);
    put32(info + 4, static_cast<std::uint32_t>(image.width));
    put32(info + 8, static_cast<std::uint32_t>(image.height));
    put16(info + 12, 1);
    put16(info + 14, image.bits_per_pixel);
    if (has_table) {
        std::uint8_t* t = info + kBmpInfoHeaderBytes;
        for (int i = 0; i < kColorTableEntries; ++i, t += 4) {
            if (image.color_table != nullptr) {
                const RgbQuad& q = image.color_table[i];
                t[0] = q.rgbBlue;
                t[1] = q.rgbGreen;
                t[2] = q.rgbRed;
                t[3] = q.rgbReserved;
            } else {
                t[0] = t[1] = t[2] = static_cast<std::uint8_t>(i);
            }
        }
    }

    // Rows bottom of the picture first, each padded to the file's row
    // length, copied through the chunk buffer.
    const std::size_t row_bytes = std::min<std::size_t>(image.abs_stride(), file_stride);
    const std::size_t rows_per_chunk = std::max<std::size_t>(1, kChunkBytes / file_stride);
    std::unique_ptr<std::uint8_t[]> chunk(new (std::nothrow) std::uint8_t[rows_per_chunk * file_stride]);
    if (!chunk) return 0;

    platform::File file = platform::open_for_write(name);
    if (!file) return 0;
    bool written = file.write(head.data(), offset);
    // A bottom-up store of the file's own layout goes out in one piece.
    std::int32_t y = image.stride == -std::ptrdiff_t(file_stride) ? -1 : image.height - 1;
    if (written && y < 0) written = file.write(image.row(image.height - 1), data_bytes);
    while (written && y >= 0) {
        std::uint8_t* out = chunk.get();
        for (std::size_t n = 0; n < rows_per_chunk && y >= 0; ++n, --y, out += file_stride) {
            std::memcpy(out, image.row(y), row_bytes);
            std::memset(out + row_bytes, 0, file_stride - row_bytes);
        }
        written = file.write(chunk.get(), std::size_t(out - chunk.get()));
    }
    const bool closed = file.close();
    return written && closed ? 1 : 0;
}

int WriteRawFile(const ImageView& image, const char* name) {
    if (!image.valid()) return 0;
    platform::File file = platform::open_for_write(name);
    if (!file) return 0;
    const std::size_t row_bytes = image.abs_stride();
    bool written = true;
    if (image.stride > 0) {
        written = file.write(image.pixels, row_bytes * std::size_t(image.height));
    } else {
        for (std::int32_t y = 0; y < image.height && written; ++y)
            written = file.write(image.row(y), row_bytes);
    }
    const bool closed = file.close();
    return written && closed ? 1 : 0;
}

}  // namespace zbx::output
