// Text conversion and the system language.  Narrow text is UTF-8, the
// narrow code page of this platform; wide text is UTF-16 (char16_t).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zbx::platform {

// Language ids as the dialogs and messages know them.
inline constexpr std::uint16_t kLanguageJapanese = 1041;
inline constexpr std::uint16_t kLanguageEnglishUs = 1033;

// Converts the NUL-terminated UTF-16 `text` to UTF-8 in `out`, terminator
// included.  False, with `out` left as an empty string when out_size > 0,
// when a pointer is null, the text holds an unpaired surrogate, or the
// result with its terminator needs more than `out_size` bytes.  *written
// (optional) receives the bytes written, terminator included.
[[nodiscard]] bool wide_to_narrow(const char16_t* text, char* out, std::size_t out_size,
                                  std::size_t* written = nullptr);

// The reverse: NUL-terminated UTF-8 to UTF-16 in `out` (out_size in
// char16_t units, terminator included).  Fails on malformed UTF-8
// (overlong forms, encoded surrogates, values past U+10FFFF, cut-off
// sequences) and on overflow, leaving `out` empty.
[[nodiscard]] bool narrow_to_wide(const char* text, char16_t* out, std::size_t out_size,
                                  std::size_t* written = nullptr);

// Whole-string forms; nullopt on invalid input.
[[nodiscard]] std::optional<std::string> to_utf8(std::u16string_view text);
[[nodiscard]] std::optional<std::u16string> to_utf16(std::string_view text);

// 1041 when the user's locale for messages is Japanese (the first set of
// LC_ALL, LC_MESSAGES, LANG begins with "ja"), 1033 otherwise.
[[nodiscard]] std::uint16_t system_default_language();

}  // namespace zbx::platform
