// The library's numbers as a person types and reads them: colour modes,
// still-image formats and image adjustment values.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "zorbex/values.h"

namespace zbxcam {

struct ColorMode {
    std::string_view token;         // what the user types and file names use
    int set_bits;                   // the value Zorbex_SetColorMode takes
    int reported_bits;              // the value Zorbex_GetColorMode returns
    std::string_view display_name;  // the library's own name of the mode
};

// The six colour modes in mode order 0 to 5.
std::span<const ColorMode> color_modes();
// By token (mono8, mono16, color24 ...), a few aliases, or the bits that
// Zorbex_SetColorMode takes (8, 16, 24, 32, 48, 64).
const ColorMode* find_color_mode(std::string_view text);
// By the value Zorbex_GetColorMode returns.
const ColorMode* color_mode_from_reported(int reported_bits);

struct FileFormat {
    std::string_view token;      // bmp, raw, jpg-high ...
    int number;                  // the format number of Zorbex_SaveImage
    std::string_view extension;  // without the dot
    std::string_view description;
};

// The seven formats in format-number order 0 to 6.
std::span<const FileFormat> file_formats();
const FileFormat* find_file_format(std::string_view token);
// The format a file name's extension implies (.jpg/.jpeg: the high quality);
// null when the extension says nothing.
const FileFormat* file_format_from_name(std::string_view file_name);

struct FilterValue {
    int id;
    std::string_view name;   // the name of the named exports, or the table's name for id 28
    std::string_view range;  // what the library accepts, for messages
};

// What the library accepts for a value of its table, for messages:
// "0 to 400", "1 to 32767 lines", "0 or 1", "0 only".
std::string range_text(const ZbxValueInfo& info);

// Ids 1 to 28 in order.
std::span<const FilterValue> filter_values();
// By name (any letter case; '_' and '-' ignored) or by id number.
const FilterValue* find_filter_value(std::string_view text);

struct FilterAssignment {
    const FilterValue* filter = nullptr;
    int value = 0;
    std::string error;  // empty on success
};
// "NAME=VALUE" as given to --set.
FilterAssignment parse_filter_assignment(std::string_view text);

// Lower-case copy, for matching names typed in any case.
std::string to_lower(std::string_view text);

}  // namespace zbxcam
