#include "args.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace zbxcam {

bool ParsedArgs::has(std::string_view name) const {
    return std::any_of(options.begin(), options.end(),
                       [&](const ParsedOption& o) { return o.name == name; });
}

std::optional<std::string> ParsedArgs::value(std::string_view name) const {
    for (auto it = options.rbegin(); it != options.rend(); ++it)
        if (it->name == name) return it->value;
    return std::nullopt;
}

std::vector<std::string> ParsedArgs::values(std::string_view name) const {
    std::vector<std::string> result;
    for (const ParsedOption& o : options)
        if (o.name == name) result.push_back(o.value);
    return result;
}

namespace {

const OptionSpec* find_long(std::span<const OptionSpec> specs, std::string_view name) {
    for (const OptionSpec& s : specs)
        if (s.name == name) return &s;
    return nullptr;
}

const OptionSpec* find_short(std::span<const OptionSpec> specs, char c) {
    for (const OptionSpec& s : specs)
        if (s.short_name != 0 && s.short_name == c) return &s;
    return nullptr;
}

}  // namespace

ParseResult parse_args(std::span<const std::string> tokens, std::span<const OptionSpec> specs,
                       bool stop_at_positional, std::size_t* rest) {
    ParseResult result;
    bool options_ended = false;
    std::size_t i = 0;
    for (; i < tokens.size(); ++i) {
        const std::string& token = tokens[i];
        const bool is_option = !options_ended && token.size() > 1 && token[0] == '-';
        if (!is_option) {
            if (stop_at_positional) break;
            result.args.positionals.push_back(token);
            continue;
        }
        if (token == "--") {
            options_ended = true;
            continue;
        }
        const OptionSpec* spec = nullptr;
        std::optional<std::string> inline_value;
        std::string shown;  // the option as the user wrote it, for messages
        if (token.starts_with("--")) {
            std::string_view body = std::string_view(token).substr(2);
            const std::size_t eq = body.find('=');
            if (eq != std::string_view::npos) {
                inline_value = std::string(body.substr(eq + 1));
                body = body.substr(0, eq);
            }
            spec = find_long(specs, body);
            shown = "--" + std::string(body);
        } else {
            if (token.size() != 2) {
                // "-c3" style: a short option glued to its value.
                spec = find_short(specs, token[1]);
                if (spec && !spec->value_name.empty()) inline_value = token.substr(2);
                else spec = nullptr;
            } else {
                spec = find_short(specs, token[1]);
            }
            shown = token.substr(0, 2);
        }
        if (!spec) {
            result.error = "unknown option '" + (token.starts_with("--") ? shown : token) + "'";
            return result;
        }
        ParsedOption parsed{std::string(spec->name), {}};
        if (spec->value_name.empty()) {
            if (inline_value) {
                result.error = "option '" + shown + "' takes no value";
                return result;
            }
        } else if (inline_value) {
            parsed.value = *inline_value;
        } else if (i + 1 < tokens.size()) {
            parsed.value = tokens[++i];
        } else {
            result.error = "option '" + shown + "' needs a value (" + std::string(spec->value_name) + ")";
            return result;
        }
        if (!spec->repeatable && !spec->value_name.empty() && result.args.has(spec->name)) {
            result.error = "option '--" + std::string(spec->name) + "' is given twice";
            return result;
        }
        result.args.options.push_back(std::move(parsed));
    }
    if (rest) *rest = i;
    return result;
}

std::optional<int> parse_int(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (negative) value = -value;
    if (value < -2147483648LL || value > 2147483647LL) return std::nullopt;
    return static_cast<int>(value);
}

std::optional<double> parse_seconds(std::string_view text) {
    if (text.empty() || text.size() > 32) return std::nullopt;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.') return std::nullopt;
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<bool> parse_flag(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "on" || lower == "yes" || lower == "true" || lower == "1") return true;
    if (lower == "off" || lower == "no" || lower == "false" || lower == "0") return false;
    return std::nullopt;
}

std::string format_options(std::span<const OptionSpec> specs) {
    std::vector<std::string> heads;
    std::size_t width = 0;
    for (const OptionSpec& s : specs) {
        std::string head = s.short_name ? std::string("-") + s.short_name + ", " : "    ";
        head += "--" + std::string(s.name);
        if (!s.value_name.empty()) head += " " + std::string(s.value_name);
        width = std::max(width, head.size());
        heads.push_back(std::move(head));
    }
    std::string text;
    for (std::size_t i = 0; i < specs.size(); ++i) {
        text += "  " + heads[i] + std::string(width - heads[i].size() + 2, ' ');
        text += std::string(specs[i].help) + "\n";
    }
    return text;
}

}  // namespace zbxcam
