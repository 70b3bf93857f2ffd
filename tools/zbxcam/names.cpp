#include "names.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "args.h"
#include "zorbex/zorbex.h"

namespace zbxcam {

namespace {

constexpr std::array<ColorMode, 6> kColorModes{{
    {"mono8", 8, 8, "Monochrome 8bit"},
    {"mono16", 16, 12, "Monochrome 10bit *"},
    {"color24", 24, 24, "Color 24bit"},
    {"color32", 32, 32, "Color 32bit"},
    {"color48", 48, 44, "Color 48bit *"},
    {"color64", 64, 60, "Color 64bit *"},
}};

constexpr std::array<FileFormat, 7> kFileFormats{{
    {"bmp", ZBX_FILE_BMP, "bmp", "BMP"},
    {"raw", ZBX_FILE_RAW, "raw", "raw pixel dump, no header"},
    {"jpg-high", ZBX_FILE_JPEG_HIGH, "jpg", "JPEG, quality 100"},
    {"jpg-normal", ZBX_FILE_JPEG_NORMAL, "jpg", "JPEG, quality 70"},
    {"jpg-low", ZBX_FILE_JPEG_LOW, "jpg", "JPEG, quality 20"},
    {"png", ZBX_FILE_PNG, "png", "PNG"},
    {"tif", ZBX_FILE_TIFF, "tif", "TIFF"},
}};

constexpr std::array<FilterValue, 28> kFilterValues{{
    {1, "Brightness", "-255 to 255"},
    {2, "Contrast", "-127 to 127"},
    {3, "Hue", "-360 to 360"},
    {4, "Saturation", "-255 to 255"},
    {5, "Sharpness", "0 to 30"},
    {6, "BayerGainRGB", "red | green << 8 | blue << 16"},
    {7, "BayerGainRed", "0 to 400"},
    {8, "BayerGainGreen", "0 to 400"},
    {9, "BayerGainBlue", "0 to 400"},
    {10, "BayerGainAuto", "0 or 1"},
    {11, "Gamma", "0 to 200"},
    {12, "BayerMode", "0 to 3"},
    {13, "GlobalGain", "0 to 11"},
    {14, "ColorGainRed", "0 only"},
    {15, "ColorGainGreen1", "0 only"},
    {16, "ColorGainGreen2", "0 only"},
    {17, "ColorGainBlue", "0 only"},
    {18, "ExposureTime", "1 to 32767 lines"},
    {19, "GrayMode", "0 to 2"},
    {20, "GrayGainR", "0 to 255"},
    {21, "GrayGainG1", "0 to 255"},
    {22, "GrayGainG2", "0 to 255"},
    {23, "GrayGainB", "0 to 255"},
    {24, "GrayOffsetR", "-255 to 255"},
    {25, "GrayOffsetG1", "-255 to 255"},
    {26, "GrayOffsetG2", "-255 to 255"},
    {27, "GrayOffsetB", "-255 to 255"},
    // Id 28 has no named export; the name is ours.
    {28, "GrayAutoBalance", "0 or 1"},
}};

}  // namespace

std::string to_lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::span<const ColorMode> color_modes() { return kColorModes; }

const ColorMode* find_color_mode(std::string_view text) {
    const std::string lower = to_lower(text);
    // The 16-bit monochrome mode carries 12-bit samples; people call it by
    // either number.
    if (lower == "mono10" || lower == "mono12") return &kColorModes[1];
    if (lower == "mono" || lower == "gray" || lower == "grey") return &kColorModes[0];
    if (lower == "color" || lower == "colour") return &kColorModes[2];
    const std::optional<int> bits = parse_int(lower);
    for (const ColorMode& m : kColorModes) {
        if (m.token == lower) return &m;
        if (bits && *bits == m.set_bits) return &m;
    }
    if (lower.starts_with("colour")) return find_color_mode("color" + lower.substr(6));
    return nullptr;
}

const ColorMode* color_mode_from_reported(int reported_bits) {
    for (const ColorMode& m : kColorModes)
        if (m.reported_bits == reported_bits) return &m;
    return nullptr;
}

std::span<const FileFormat> file_formats() { return kFileFormats; }

const FileFormat* find_file_format(std::string_view token) {
    const std::string lower = to_lower(token);
    if (lower == "jpg" || lower == "jpeg" || lower == "jpeg-high") return &kFileFormats[2];
    if (lower == "jpeg-normal") return &kFileFormats[3];
    if (lower == "jpeg-low") return &kFileFormats[4];
    if (lower == "tiff") return &kFileFormats[6];
    for (const FileFormat& f : kFileFormats)
        if (f.token == lower) return &f;
    return nullptr;
}

const FileFormat* file_format_from_name(std::string_view file_name) {
    const std::size_t slash = file_name.rfind('/');
    const std::string_view base =
        slash == std::string_view::npos ? file_name : file_name.substr(slash + 1);
    const std::size_t dot = base.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return nullptr;
    const std::string ext = to_lower(base.substr(dot + 1));
    if (ext == "jpg" || ext == "jpeg") return &kFileFormats[2];
    if (ext == "tif" || ext == "tiff") return &kFileFormats[6];
    if (ext == "bmp" || ext == "png" || ext == "raw") return find_file_format(ext);
    return nullptr;
}

std::span<const FilterValue> filter_values() { return kFilterValues; }

const FilterValue* find_filter_value(std::string_view text) {
    if (const std::optional<int> id = parse_int(text)) {
        if (*id >= 1 && *id <= static_cast<int>(kFilterValues.size())) return &kFilterValues[*id - 1];
        return nullptr;
    }
    const std::string lower = to_lower(text);
    for (const FilterValue& f : kFilterValues)
        if (to_lower(f.name) == lower) return &f;
    return nullptr;
}

FilterAssignment parse_filter_assignment(std::string_view text) {
    FilterAssignment result;
    const std::size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
        result.error = "'" + std::string(text) + "' is not NAME=VALUE";
        return result;
    }
    const std::string_view name = text.substr(0, eq);
    result.filter = find_filter_value(name);
    if (!result.filter) {
        result.error = "there is no image value named '" + std::string(name) +
                       "' (see 'zbxcam info' for the names)";
        return result;
    }
    const std::optional<int> value = parse_int(text.substr(eq + 1));
    if (!value) {
        result.error = std::string(result.filter->name) + " wants a whole number, not '" +
                       std::string(text.substr(eq + 1)) + "'";
        result.filter = nullptr;
        return result;
    }
    result.value = *value;
    return result;
}

}  // namespace zbxcam
