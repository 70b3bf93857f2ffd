// The library's error codes as a person wants to read them: the code's
// name and a plain sentence about what went wrong.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zbxcam {

// What the tool knows about the failed operation, to make the sentence
// concrete.
struct ErrorContext {
    int camera = 0;                      // device number in use
    std::optional<bool> camera_present;  // known after asking the library
    std::string file;                    // the file being written, if any
    std::string value;                   // the value being set, e.g. "ExposureTime 99999"
    std::string range;                   // what that value accepts, e.g. "1 to 32767 lines"
};

// "ERR_DEVICE_UNAVAILABLE"; "error 10" for numbers the library does not use.
std::string error_name(int code);
// "camera 0 is in use by another process".
std::string error_sentence(int code, const ErrorContext& context);
// "ERR_DEVICE_UNAVAILABLE (2): camera 0 is in use by another process".
std::string describe_error(int code, const ErrorContext& context);

// The most telling code of the codes one failed operation reported, oldest
// first: the library reports the cause first and a general "not ready" on
// top of it, so the first code is the cause.
std::optional<int> root_cause(std::span<const int> codes_oldest_first);

}  // namespace zbxcam
