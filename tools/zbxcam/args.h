// Command-line option parsing for zbxcam: long and short options, values
// given as "--name value" or "--name=value", repeatable options, positionals.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zbxcam {

struct OptionSpec {
    std::string_view name;        // long name without the dashes
    char short_name = 0;          // 0: none
    std::string_view value_name;  // empty: the option is a switch
    std::string_view help;
    bool repeatable = false;
};

struct ParsedOption {
    std::string name;
    std::string value;  // empty for switches
};

class ParsedArgs {
public:
    [[nodiscard]] bool has(std::string_view name) const;
    // The last value given for the option, if any.
    [[nodiscard]] std::optional<std::string> value(std::string_view name) const;
    [[nodiscard]] std::vector<std::string> values(std::string_view name) const;

    std::vector<ParsedOption> options;  // in command-line order
    std::vector<std::string> positionals;
};

struct ParseResult {
    ParsedArgs args;
    std::string error;  // empty on success
    [[nodiscard]] bool ok() const { return error.empty(); }
};

// Parses every token against specs.  With stop_at_positional, parsing ends
// at the first positional, which is left unconsumed (its index in *rest).
ParseResult parse_args(std::span<const std::string> tokens, std::span<const OptionSpec> specs,
                       bool stop_at_positional = false, std::size_t* rest = nullptr);

// Whole numbers in decimal or 0x hexadecimal, with an optional sign.
std::optional<int> parse_int(std::string_view text);
// A non-negative decimal number such as 2 or 2.5.
std::optional<double> parse_seconds(std::string_view text);
// on/off, yes/no, true/false, 1/0.
std::optional<bool> parse_flag(std::string_view text);

// The option list of a help text, one option a line, values aligned.
std::string format_options(std::span<const OptionSpec> specs);

}  // namespace zbxcam
