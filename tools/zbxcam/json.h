// A small writer of JSON objects for --json output: one object a line,
// members in the order they are added.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zbxcam {

class JsonObject {
public:
    JsonObject& add(std::string_view key, std::string_view text);
    JsonObject& add(std::string_view key, const char* text) { return add(key, std::string_view(text)); }
    JsonObject& add(std::string_view key, std::int64_t number);
    JsonObject& add(std::string_view key, int number) { return add(key, static_cast<std::int64_t>(number)); }
    JsonObject& add(std::string_view key, std::uint64_t number) { return add(key, static_cast<std::int64_t>(number)); }
    JsonObject& add(std::string_view key, double number);
    JsonObject& add(std::string_view key, bool flag);
    JsonObject& add_null(std::string_view key);
    // Already written JSON (an object or array) as the member's value.
    JsonObject& add_raw(std::string_view key, std::string_view json);

    [[nodiscard]] std::string str() const { return "{" + body_ + "}"; }

private:
    void key(std::string_view name);
    std::string body_;
};

// "text" with quotes, backslashes and control characters escaped.
std::string json_quote(std::string_view text);

}  // namespace zbxcam
