// The in-memory form of the settings file: keys by path, each with its
// values, and the registry-export text they are stored as.  Used only by
// the settings store.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zbx::platform::settings {

enum class ValueKind {
    kDword,   // dword:xxxxxxxx, 4 bytes little-endian
    kBinary,  // hex:aa,bb,...
    kTyped,   // hex(n):aa,bb,...  (kept as found)
    kString,  // "text"  (bytes: UTF-16LE with terminator, as stored)
};

struct Value {
    std::string name;  // as first written
    ValueKind kind = ValueKind::kBinary;
    std::uint32_t type_code = 0;  // kTyped only
    std::vector<std::uint8_t> bytes;
};

struct Key {
    std::string path;  // as first written, '\'-separated, "" for the root
    std::vector<Value> values;

    const Value* find(std::string_view name) const;
    Value* find(std::string_view name);
};

// Case-insensitive (ASCII) form of key paths and value names, as the
// registry compares them.
std::string fold(std::string_view text);

// True when `path` is "" or components separated by single backslashes,
// each 1 to 255 characters with no control characters.
bool valid_key_path(std::string_view path);
// True for 0 to 16383 characters with no control characters.
bool valid_value_name(std::string_view name);

class Tree {
public:
    [[nodiscard]] bool has_key(std::string_view path) const;
    [[nodiscard]] const Key* find(std::string_view path) const;
    [[nodiscard]] Key* find(std::string_view path);
    // The key at `path`, created with its missing ancestors when absent.
    Key& ensure(std::string_view path, bool* created = nullptr);
    // Removes the key and everything below; false when it was absent.
    bool remove_tree(std::string_view path);
    [[nodiscard]] bool empty() const { return keys_.empty(); }

    // Registry-export text.  parse() returns nullopt for text that is not
    // such a file (a corrupt file); empty text parses as an empty tree.
    [[nodiscard]] std::string format() const;
    [[nodiscard]] static std::optional<Tree> parse(std::string_view text);

private:
    std::map<std::string, Key> keys_;  // by folded path; parents sort first
};

}  // namespace zbx::platform::settings
