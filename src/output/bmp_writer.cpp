#include "output/bmp_writer.h"

#include <sys/uio.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "output/output_file.h"

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

// Zeros that pad rows of views narrower than the file's row length.
constexpr std::array<std::uint8_t, 4> kPad{};

::iovec part(const void* p, std::size_t n) {
    return ::iovec{const_cast<void*>(p), n};
}

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
                t[0] = q.blue;
                t[1] = q.green;
                t[2] = q.red;
                t[3] = q.reserved;
            } else {
                t[0] = t[1] = t[2] = static_cast<std::uint8_t>(i);
            }
        }
    }

    // Gather the rows straight from the caller's store, bottom of the
    // picture first: no copy of the pixels.
    const std::size_t row_bytes = std::min<std::size_t>(image.abs_stride(), file_stride);
    const std::size_t pad = file_stride - row_bytes;
    std::vector<::iovec> parts;
    try {
        parts.reserve(1 + std::size_t(image.height) * (pad ? 2 : 1));
    } catch (const std::bad_alloc&) {
        return 0;
    }
    parts.push_back(part(head.data(), offset));
    for (std::int32_t y = image.height - 1; y >= 0; --y) {
        parts.push_back(part(image.row(y), row_bytes));
        if (pad) parts.push_back(part(kPad.data(), pad));
    }

    OutputFile file = OpenForWrite(name);
    if (!file.is_open()) return 0;
    const bool written = file.write_all(parts);
    const bool closed = file.close();
    return written && closed ? 1 : 0;
}

int WriteRawFile(const ImageView& image, const char* name) {
    if (!image.valid()) return 0;
    OutputFile file = OpenForWrite(name);
    if (!file.is_open()) return 0;
    const std::size_t row_bytes = image.abs_stride();
    bool written = true;
    if (image.stride > 0) {
        written = file.write_all({image.pixels, row_bytes * std::size_t(image.height)});
    } else {
        for (std::int32_t y = 0; y < image.height && written; ++y)
            written = file.write_all({image.row(y), row_bytes});
    }
    const bool closed = file.close();
    return written && closed ? 1 : 0;
}

}  // namespace zbx::output
