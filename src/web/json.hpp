// The few pieces of JSON the playground's module writes for its worker:
// numbers, booleans, and strings escaped as JSON wants them.  What the
// worker gets is always an object built from these.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Appends `text` as a JSON string (quoted, with ", \ and control
// characters escaped; other bytes, UTF-8, as they are).
void json_string(std::string& out, std::string_view text);

// Appends `"key":`.
void json_key(std::string& out, std::string_view key);

inline void json_number(std::string& out, std::int64_t n) {
    out += std::to_string(n);
}

inline void json_bool(std::string& out, bool b) {
    out += b ? "true" : "false";
}
