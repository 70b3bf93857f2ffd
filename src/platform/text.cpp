#include "platform/text.h"

#include <cstdlib>
#include <cstring>

namespace zbx::platform {
namespace {

// Decodes one code point from UTF-16 at text[i]; advances i.  -1 for an
// unpaired surrogate.
long next_utf16(std::u16string_view text, std::size_t& i) {
    const char16_t u = text[i++];
    if (u < 0xD800 || u > 0xDFFF) return u;
    if (u >= 0xDC00 || i == text.size()) return -1;
    const char16_t low = text[i];
    if (low < 0xDC00 || low > 0xDFFF) return -1;
    ++i;
    return 0x10000 + ((static_cast<long>(u) - 0xD800) << 10) + (low - 0xDC00);
}

// Decodes one code point from UTF-8 at text[i]; advances i.  -1 when
// malformed.
long next_utf8(std::string_view text, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(text[i++]);
    if (b0 < 0x80) return b0;
    int extra;
    long cp;
    long min;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
        return -1;
    }
    for (int k = 0; k < extra; ++k) {
        if (i == text.size()) return -1;
        const auto b = static_cast<unsigned char>(text[i++]);
        if ((b & 0xC0) != 0x80) return -1;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    return cp;
}

void append_utf8(std::string& out, long cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void append_utf16(std::u16string& out, long cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

bool starts_japanese(const char* value) {
    return value[0] == 'j' && value[1] == 'a' &&
           (value[2] == '\0' || value[2] == '_' || value[2] == '.' || value[2] == '@' ||
            value[2] == '-');
}

}  // namespace

std::optional<std::string> to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const long cp = next_utf16(text, i);
        if (cp < 0) return std::nullopt;
        append_utf8(out, cp);
    }
    return out;
}

std::optional<std::u16string> to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const long cp = next_utf8(text, i);
        if (cp < 0) return std::nullopt;
        append_utf16(out, cp);
    }
    return out;
}

bool wide_to_narrow(const char16_t* text, char* out, std::size_t out_size, std::size_t* written) {
    if (written) *written = 0;
    if (out && out_size > 0) out[0] = '\0';
    if (text == nullptr || out == nullptr) return false;
    const auto narrow = to_utf8(std::u16string_view(text));
    if (!narrow || narrow->size() + 1 > out_size) return false;
    std::memcpy(out, narrow->c_str(), narrow->size() + 1);
    if (written) *written = narrow->size() + 1;
    return true;
}

bool narrow_to_wide(const char* text, char16_t* out, std::size_t out_size, std::size_t* written) {
    if (written) *written = 0;
    if (out && out_size > 0) out[0] = u'\0';
    if (text == nullptr || out == nullptr) return false;
    const auto wide = to_utf16(std::string_view(text));
    if (!wide || wide->size() + 1 > out_size) return false;
    std::memcpy(out, wide->c_str(), (wide->size() + 1) * sizeof(char16_t));
    if (written) *written = wide->size() + 1;
    return true;
}

std::uint16_t system_default_language() {
    // The precedence the C library itself gives these variables for the
    // language of messages.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return starts_japanese(value) ? kLanguageJapanese : kLanguageEnglishUs;
    }
    return kLanguageEnglishUs;
}

}  // namespace zbx::platform
