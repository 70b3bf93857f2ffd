// Every writer takes rows top of the picture first and turns them itself
// where its file wants bottom-up rows, so the dispatcher converts only what
// a format cannot take as stored: 16-bit samples, a fourth channel, and
// colour depths a JPEG does not have.  At most one temporary picture per
// call, owned by this frame.
#include "output/save_image.h"

#include "output/bmp_writer.h"
#include "output/jpeg_writer.h"
#include "output/png_writer.h"
#include "output/tiff_writer.h"
#include "pipeline/conversions.h"
#include "pipeline/image_buffer.h"

namespace zbx::output {
namespace {

using pipeline::CImageBuffer;
using pipeline::Rect;
using pipeline::RectCallback;

// 48- or 64-bit colour of 10 significant bits to 24-bit, each of blue,
// green, red (v >> 2) & 0xFF, rows in the same order: the 10-bit partner
// of Color48To24By4, which the conversion catalogue lacks.
int Color48To24By2(std::uint8_t* dst, const std::uint8_t* src, const Rect* r, std::int32_t dst_x,
                   std::int32_t dst_y, std::uint16_t dst_bpp, std::uint16_t src_bpp,
                   std::int32_t dst_stride, std::int32_t src_stride, void*, void*) {
    const std::int32_t w = r->width();
    for (std::int32_t i = 0; i < r->height(); ++i) {
        const std::uint8_t* s = src + std::ptrdiff_t(r->top + i) * src_stride +
                                std::ptrdiff_t(r->left) * src_bpp;
        std::uint8_t* d =
            dst + std::ptrdiff_t(dst_y + i) * dst_stride + std::ptrdiff_t(dst_x) * dst_bpp;
        for (std::int32_t x = 0; x < w; ++x, s += src_bpp, d += dst_bpp) {
            d[0] = static_cast<std::uint8_t>((s[0] | (s[1] << 8)) >> 2);
            d[1] = static_cast<std::uint8_t>((s[2] | (s[3] << 8)) >> 2);
            d[2] = static_cast<std::uint8_t>((s[4] | (s[5] << 8)) >> 2);
        }
    }
    return 1;
}

// Fills `tmp` with `convert` of the whole source: a picture of `bits` per
// pixel, or of the source's own format when `bits` is 0.
bool convert_into(CImageBuffer& tmp, const CImageBuffer& src, std::uint16_t bits,
                  RectCallback convert) {
    const int made =
        bits == 0 ? tmp.CreateLike(&src) : tmp.Create(src.width(), src.height(), bits);
    if (made == 0) return false;
    // The transfer only reads its source.
    return pipeline::TransferRect(tmp, convert, const_cast<CImageBuffer&>(src), nullptr, 0, 0,
                                  nullptr, nullptr) != 0;
}

int jpeg_quality(int format) {
    switch (format) {
        case kSaveJpeg100: return 100;
        case kSaveJpeg70: return 70;
        default: return 20;
    }
}

int save_jpeg(const char* name, const CImageBuffer& src, int quality, bool ten_bits) {
    constexpr int kProgressive = 1;
    CImageBuffer tmp;
    switch (src.bits_per_pixel()) {
        case 8:
        case 24:
            return WriteJpegFile(name, ViewOf(src), quality, kProgressive);
        case 16:
            if (ten_bits) {
                // The catalogue's 10-bit grey reduction comes row-reversed;
                // the view turns it upright again without a copy.
                if (!convert_into(tmp, src, 8, pipeline::Gray16To8By2Flipped)) return 0;
                return WriteJpegFile(name, ViewOf(tmp).flipped(), quality, kProgressive);
            }
            if (!convert_into(tmp, src, 8, pipeline::Gray16To8By4)) return 0;
            break;
        case 32:
            if (!convert_into(tmp, src, 24, pipeline::Color32To24)) return 0;
            break;
        case 48:
        case 64:
            if (!convert_into(tmp, src, 24,
                              ten_bits ? Color48To24By2 : pipeline::Color48To24By4))
                return 0;
            break;
        default:
            return 0;
    }
    return WriteJpegFile(name, ViewOf(tmp), quality, kProgressive);
}

int save_png(const char* name, const CImageBuffer& src, bool ten_bits) {
    RectCallback convert = nullptr;
    switch (src.bits_per_pixel()) {
        case 8:
        case 24:
            return WritePngFile(name, ViewOf(src));
        case 16: convert = ten_bits ? pipeline::Gray10To16 : pipeline::Gray12To16; break;
        case 32: convert = pipeline::Color32Alpha; break;
        case 48: convert = ten_bits ? pipeline::Color48To48By6 : pipeline::Color48To48By4; break;
        case 64: convert = ten_bits ? pipeline::Color64By6Alpha : pipeline::Color64By4Alpha; break;
        default: return 0;
    }
    CImageBuffer tmp;
    if (!convert_into(tmp, src, 0, convert)) return 0;
    return WritePngFile(name, ViewOf(tmp));
}

}  // namespace

ImageView ViewOf(const CImageBuffer& buffer) {
    ImageView v;
    v.pixels = buffer.pixels();
    v.width = buffer.width();
    v.height = buffer.height();
    v.stride = buffer.stride();
    v.bits_per_pixel = buffer.bits_per_pixel();
    v.color_table = buffer.color_table();
    return v;
}

int SaveImageFile(const char* name, const CImageBuffer* src, int format, int significant_bits) {
    if (format < kSaveBmp || format > kSaveTiff) return 0;
    if (name == nullptr || src == nullptr || src->empty()) return 0;
    // The conversions exist for these two sample widths only.
    if (significant_bits != 12 && significant_bits != 10) return 0;
    const bool ten_bits = significant_bits == 10;

    switch (format) {
        case kSaveBmp: {
            // A bitmap file carries the grey ramp for 8 bits whatever table
            // the source holds, as a fresh picture of its format would.
            ImageView view = ViewOf(*src);
            view.color_table = nullptr;
            return WriteBmpFile(view, name);
        }
        case kSaveRaw:
            return WriteRawFile(ViewOf(*src), name);
        case kSaveJpeg100:
        case kSaveJpeg70:
        case kSaveJpeg20:
            return save_jpeg(name, *src, jpeg_quality(format), ten_bits);
        case kSavePng:
            return save_png(name, *src, ten_bits);
        default:
            return WriteTiffFile(name, ViewOf(*src), significant_bits);
    }
}

}  // namespace zbx::output
