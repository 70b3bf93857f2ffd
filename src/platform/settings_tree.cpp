#include "platform/settings_tree.h"

#include <algorithm>
#include <cstdio>

#include "platform/text.h"

namespace zbx::platform::settings {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr std::string_view kRoot = "HKEY_CURRENT_USER";

bool has_control(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

bool iequals(std::string_view a, std::string_view b) { return fold(a) == fold(b); }

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "aa,bb,..." (possibly empty) into bytes.
bool parse_hex_bytes(std::string_view text, std::vector<std::uint8_t>* bytes) {
    bytes->clear();
    text = trim(text);
    if (text.empty()) return true;
    while (true) {
        const std::string_view item = trim(text.substr(0, text.find(',')));
        if (item.size() != 2 || hex_digit(item[0]) < 0 || hex_digit(item[1]) < 0) return false;
        bytes->push_back(static_cast<std::uint8_t>(hex_digit(item[0]) * 16 + hex_digit(item[1])));
        const auto comma = text.find(',');
        if (comma == std::string_view::npos) return true;
        text.remove_prefix(comma + 1);
    }
}

// Reads a quoted, backslash-escaped string at the start of `text`; leaves
// `text` after the closing quote.
bool parse_quoted(std::string_view& text, std::string* out) {
    if (text.empty() || text.front() != '"') return false;
    out->clear();
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            text.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\') {
            if (++i == text.size() || (text[i] != '\\' && text[i] != '"')) return false;
            *out += text[i];
        } else {
            *out += c;
        }
    }
    return false;
}

std::string quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::string hex_list(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", bytes[i]);
        out += buf;
    }
    return out;
}

bool parse_value_data(std::string_view data, Value* value) {
    if (data.substr(0, 6) == "dword:") {
        const std::string_view digits = data.substr(6);
        if (digits.empty() || digits.size() > 8) return false;
        std::uint32_t v = 0;
        for (char c : digits) {
            if (hex_digit(c) < 0) return false;
            v = v * 16 + static_cast<std::uint32_t>(hex_digit(c));
        }
        value->kind = ValueKind::kDword;
        value->bytes = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                        static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
        return true;
    }
    if (data.substr(0, 4) == "hex:") {
        value->kind = ValueKind::kBinary;
        return parse_hex_bytes(data.substr(4), &value->bytes);
    }
    if (data.substr(0, 4) == "hex(") {
        const auto close = data.find("):");
        if (close == std::string_view::npos || close == 4 || close > 12) return false;
        std::uint32_t type = 0;
        for (char c : data.substr(4, close - 4)) {
            if (hex_digit(c) < 0) return false;
            type = type * 16 + static_cast<std::uint32_t>(hex_digit(c));
        }
        value->kind = ValueKind::kTyped;
        value->type_code = type;
        return parse_hex_bytes(data.substr(close + 2), &value->bytes);
    }
    if (!data.empty() && data.front() == '"') {
        std::string text;
        if (!parse_quoted(data, &text) || !trim(data).empty()) return false;
        const auto wide = to_utf16(text);
        if (!wide) return false;
        value->kind = ValueKind::kString;
        value->bytes.clear();
        for (char16_t u : *wide) {
            value->bytes.push_back(static_cast<std::uint8_t>(u));
            value->bytes.push_back(static_cast<std::uint8_t>(u >> 8));
        }
        value->bytes.push_back(0);
        value->bytes.push_back(0);
        return true;
    }
    return false;
}

std::string format_value(const Value& value) {
    std::string line = value.name.empty() ? std::string("@") : quote(value.name);
    line += '=';
    switch (value.kind) {
        case ValueKind::kDword: {
            const auto& b = value.bytes;
            const std::uint32_t v = b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t{b[3]} << 24);
            char buf[16];
            std::snprintf(buf, sizeof buf, "dword:%08x", v);
            line += buf;
            break;
        }
        case ValueKind::kBinary:
            line += "hex:" + hex_list(value.bytes);
            break;
        case ValueKind::kTyped: {
            char buf[16];
            std::snprintf(buf, sizeof buf, "hex(%x):", value.type_code);
            line += buf + hex_list(value.bytes);
            break;
        }
        case ValueKind::kString: {
            std::u16string wide;
            for (std::size_t i = 0; i + 1 < value.bytes.size(); i += 2)
                wide += static_cast<char16_t>(value.bytes[i] | (value.bytes[i + 1] << 8));
            if (!wide.empty() && wide.back() == u'\0') wide.pop_back();
            // Strings only ever come from a parsed file, so they convert back.
            line += quote(to_utf8(wide).value_or(std::string()));
            break;
        }
    }
    return line;
}

}  // namespace

std::string fold(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool valid_key_path(std::string_view path) {
    if (path.empty()) return true;
    if (has_control(path)) return false;
    std::size_t start = 0;
    while (true) {
        const auto end = path.find('\\', start);
        const auto length = (end == std::string_view::npos ? path.size() : end) - start;
        if (length == 0 || length > 255) return false;
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

bool valid_value_name(std::string_view name) { return name.size() <= 16383 && !has_control(name); }

const Value* Key::find(std::string_view name) const {
    for (const auto& v : values)
        if (iequals(v.name, name)) return &v;
    return nullptr;
}

Value* Key::find(std::string_view name) {
    return const_cast<Value*>(static_cast<const Key*>(this)->find(name));
}

bool Tree::has_key(std::string_view path) const { return path.empty() || find(path) != nullptr; }

const Key* Tree::find(std::string_view path) const {
    const auto it = keys_.find(fold(path));
    return it == keys_.end() ? nullptr : &it->second;
}

Key* Tree::find(std::string_view path) {
    const auto it = keys_.find(fold(path));
    return it == keys_.end() ? nullptr : &it->second;
}

Key& Tree::ensure(std::string_view path, bool* created) {
    if (created) *created = false;
    // Ancestors first, as creating a nested key creates every level.
    for (std::size_t pos = path.find('\\'); pos != std::string_view::npos; pos = path.find('\\', pos + 1)) {
        const std::string_view prefix = path.substr(0, pos);
        keys_.try_emplace(fold(prefix), Key{std::string(prefix), {}});
    }
    const auto [it, inserted] = keys_.try_emplace(fold(path), Key{std::string(path), {}});
    if (created) *created = inserted;
    return it->second;
}

bool Tree::remove_tree(std::string_view path) {
    const std::string folded = fold(path);
    bool removed = false;
    for (auto it = keys_.begin(); it != keys_.end();) {
        const std::string& k = it->first;
        const bool below = folded.empty() ||
                           k == folded ||
                           (k.size() > folded.size() && k.compare(0, folded.size(), folded) == 0 &&
                            k[folded.size()] == '\\');
        if (below) {
            it = keys_.erase(it);
            removed = true;
        } else {
            ++it;
        }
    }
    return removed;
}

std::string Tree::format() const {
    std::string out(kHeader);
    out += "\n";
    for (const auto& [folded, key] : keys_) {
        if (key.path.empty() && key.values.empty()) continue;  // the root is implied
        out += "\n[";
        out += kRoot;
        if (!key.path.empty()) out += "\\" + key.path;
        out += "]\n";
        for (const auto& value : key.values) out += format_value(value) + "\n";
    }
    return out;
}

// Splits the text into logical lines: trimmed, blank lines and comments
// dropped, hex data continued with a trailing backslash joined.
static std::vector<std::string> logical_lines(std::string_view text) {
    std::vector<std::string> lines;
    bool continuing = false;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        const std::string_view line = trim(text.substr(0, nl));
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (continuing) {
            lines.back() += line;
        } else {
            if (line.empty() || line.front() == ';') continue;
            lines.emplace_back(line);
        }
        std::string& last = lines.back();
        continuing = !last.empty() && last.back() == '\\' && last.find("=hex") != std::string::npos &&
                     (last.front() == '"' || last.front() == '@');
        if (continuing) last.pop_back();
    }
    return lines;
}

std::optional<Tree> Tree::parse(std::string_view text) {
    Tree tree;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    const std::vector<std::string> lines = logical_lines(text);
    if (lines.empty()) return tree;
    if (lines.front() != kHeader && lines.front() != kOldHeader) return std::nullopt;

    Key* current = nullptr;
    for (std::size_t n = 1; n < lines.size(); ++n) {
        const std::string_view line = lines[n];
        if (line.front() == '[') {
            if (line.back() != ']') return std::nullopt;
            std::string_view full = line.substr(1, line.size() - 2);
            std::string_view path;
            if (iequals(full, kRoot)) {
                path = {};
            } else if (full.size() > kRoot.size() + 1 && iequals(full.substr(0, kRoot.size()), kRoot) &&
                       full[kRoot.size()] == '\\') {
                path = full.substr(kRoot.size() + 1);
            } else {
                return std::nullopt;  // another hive, or a deletion entry
            }
            if (!valid_key_path(path)) return std::nullopt;
            current = &tree.ensure(path);
            continue;
        }
        if (current == nullptr) return std::nullopt;
        Value value;
        std::string_view rest = line;
        if (rest.front() == '@') {
            rest.remove_prefix(1);
        } else if (!parse_quoted(rest, &value.name) || !valid_value_name(value.name)) {
            return std::nullopt;
        }
        rest = trim(rest);
        if (rest.empty() || rest.front() != '=') return std::nullopt;
        rest = trim(rest.substr(1));
        if (!parse_value_data(rest, &value)) return std::nullopt;
        if (Value* existing = current->find(value.name))
            *existing = std::move(value);  // a later line wins, as on import
        else
            current->values.push_back(std::move(value));
    }
    return tree;
}

}  // namespace zbx::platform::settings
