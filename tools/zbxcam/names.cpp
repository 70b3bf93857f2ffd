#include "names.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <vector>

#include "args.h"
#include "zorbex/values.h"
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

// The image values of ids 1 to 28, from the library's table; their range
// texts live as long as the table.
struct FilterTable {
    std::vector<std::string> ranges;
    std::vector<FilterValue> values;
};

const FilterTable& filter_table() {
    static const FilterTable table = [] {
        FilterTable t;
        std::vector<ZbxValueInfo> infos;
        ZbxValueInfo info{};
        for (int i = 0; ZbxValues_At(i, &info) != 0; ++i)
            if (info.id >= ZBX_ID_BRIGHTNESS && info.id <= ZBX_ID_GRAY_AUTO_BALANCE) infos.push_back(info);
        t.ranges.reserve(infos.size());
        for (const ZbxValueInfo& v : infos) t.ranges.push_back(range_text(v));
        for (std::size_t i = 0; i < infos.size(); ++i) t.values.push_back({infos[i].id, infos[i].name, t.ranges[i]});
        return t;
    }();
    return table;
}

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

std::string range_text(const ZbxValueInfo& info) {
    if ((info.flags & ZBX_VALUE_PACKED) != 0) return "red | green << 8 | blue << 16";
    if ((info.flags & ZBX_VALUE_SWITCH) != 0 || (info.min == 0 && info.max == 1)) return "0 or 1";
    if (info.min == info.max) return std::to_string(info.min) + " only";
    std::string text = std::to_string(info.min) + " to " + std::to_string(info.max);
    if (info.unit != nullptr && info.unit[0] != '\0') text += std::string(" ") + info.unit;
    return text;
}

std::span<const FilterValue> filter_values() { return filter_table().values; }

const FilterValue* find_filter_value(std::string_view text) {
    const std::vector<FilterValue>& values = filter_table().values;
    if (const std::optional<int> id = parse_int(text)) {
        for (const FilterValue& f : values)
            if (f.id == *id) return &f;
        return nullptr;
    }
    const int index = ZbxValues_Find(std::string(text).c_str());
    ZbxValueInfo info{};
    if (index < 0 || ZbxValues_At(index, &info) == 0) return nullptr;
    for (const FilterValue& f : values)
        if (f.id == info.id) return &f;
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
