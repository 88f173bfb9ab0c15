#include "judge/text.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <iconv.h>
#include <vector>

namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD"; // U+FFFD

// The length of the UTF-8 sequence at the front of `s`, 0 if it is not one.
std::size_t utf8_sequence(std::string_view s) {
    auto c = static_cast<unsigned char>(s[0]);
    std::size_t n = c < 0x80                 ? 1
                    : c >= 0xC2 && c <= 0xDF ? 2
                    : c >= 0xE0 && c <= 0xEF ? 3
                    : c >= 0xF0 && c <= 0xF4 ? 4
                                             : 0;
    if (n == 0 || n > s.size()) return 0;
    for (std::size_t i = 1; i < n; ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0;
    auto c1 = static_cast<unsigned char>(s.size() > 1 ? s[1] : 0);
    // No overlong forms, no surrogates, nothing past U+10FFFF.
    if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0) || (c == 0xF0 && c1 < 0x90) ||
        (c == 0xF4 && c1 >= 0x90))
        return 0;
    return n;
}

char32_t decode(std::string_view s, std::size_t n) {
    auto c = static_cast<unsigned char>(s[0]);
    char32_t code = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
    for (std::size_t i = 1; i < n; ++i)
        code = code << 6 | (static_cast<unsigned char>(s[i]) & 0x3F);
    return code;
}

// Valid UTF-8 as it is, anything else replaced.
std::string repair_utf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    while (!s.empty()) {
        std::size_t n = utf8_sequence(s);
        if (n == 0) {
            out += REPLACEMENT;
            n = 1;
        } else {
            out.append(s.substr(0, n));
        }
        s.remove_prefix(n);
    }
    return out;
}

std::string from_cp932(std::string_view s) {
    // One converter for the process; the judge converts from one thread.
    static iconv_t converter = iconv_open("UTF-8", "CP932");
    if (converter == reinterpret_cast<iconv_t>(-1)) return repair_utf8(s);
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    std::vector<char> buffer(4096);
    char* in = const_cast<char*>(s.data());
    std::size_t in_left = s.size();
    while (in_left > 0) {
        char* to = buffer.data();
        std::size_t to_left = buffer.size();
        std::size_t done = iconv(converter, &in, &in_left, &to, &to_left);
        out.append(buffer.data(), static_cast<std::size_t>(to - buffer.data()));
        if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // A byte that starts no character, or a character cut off.
            out += REPLACEMENT;
            ++in;
            --in_left;
            iconv(converter, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

// Characters that show nothing, or reorder the text around them: the
// bidi controls and marks, zero-width characters, the byte order mark,
// soft hyphen, tags.
bool invisible(char32_t c) {
    return c == 0xAD || c == 0x61C || c == 0x180E || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF ||
           (c >= 0xFFF9 && c <= 0xFFFB) || (c >= 0xE0000 && c <= 0xE007F) ||
           (c >= 0x80 && c <= 0x9F);
}

const char hex_digits[] = "0123456789abcdef";

void hex_byte(std::string& out, unsigned char c) {
    out += "\\x";
    out += hex_digits[c >> 4];
    out += hex_digits[c & 15];
}

void code_point(std::string& out, char32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "\\u{%04X}", static_cast<unsigned>(c));
    out += text;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool wide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
           (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x20000 && c <= 0x3FFFD);
}

} // namespace

std::string say(Msg text, std::initializer_list<std::string_view> arguments) {
    std::string_view format = msg_in(text, Encoding::utf8);
    const std::string_view* next = arguments.begin();
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            if (format[i + 1] == 's' && next != arguments.end()) {
                out.append(*next++);
                ++i;
                continue;
            }
            if (format[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

std::string number(std::uint64_t n) {
    return std::to_string(n);
}

bool is_utf8(std::string_view bytes) {
    while (!bytes.empty()) {
        std::size_t n = utf8_sequence(bytes);
        if (n == 0) return false;
        bytes.remove_prefix(n);
    }
    return true;
}

std::string to_utf8(std::string_view bytes, Encoding encoding) {
    return encoding == Encoding::utf8 ? repair_utf8(bytes) : from_cp932(bytes);
}

std::string source_to_utf8(std::string_view bytes) {
    return is_utf8(bytes) ? std::string(bytes) : from_cp932(bytes);
}

std::string visible(std::string_view utf8, std::size_t max_chars) {
    std::string out;
    std::size_t chars = 0;
    while (!utf8.empty()) {
        if (chars == max_chars) {
            out += "\xE2\x80\xA6"; // …
            break;
        }
        std::size_t n = utf8_sequence(utf8);
        if (n == 0) n = 1;
        auto c = static_cast<unsigned char>(utf8[0]);
        if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            hex_byte(out, c);
        } else if (n > 1 && invisible(decode(utf8, n))) {
            code_point(out, decode(utf8, n));
        } else {
            out.append(utf8.substr(0, n));
        }
        utf8.remove_prefix(n);
        ++chars;
    }
    return out;
}

std::size_t display_width(std::string_view utf8) {
    std::size_t width = 0;
    while (!utf8.empty()) {
        std::size_t n = utf8_sequence(utf8);
        if (n == 0) n = 1;
        width += n > 1 && wide(decode(utf8, n)) ? 2 : 1;
        utf8.remove_prefix(n);
    }
    return width;
}

std::string_view without_final_breaks(std::string_view text) {
    while (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    return text;
}

std::string refusal_words(FileRefusal refusal, std::size_t limit) {
    switch (refusal) {
    case FileRefusal::none: break;
    case FileRefusal::missing: return say(MSG_J_FILE_MISSING, {});
    case FileRefusal::not_regular: return say(MSG_J_FILE_NOT_REGULAR, {});
    case FileRefusal::too_large: return say(MSG_J_FILE_TOO_LARGE, {number(limit)});
    case FileRefusal::outside: return say(MSG_J_FILE_OUTSIDE, {});
    case FileRefusal::unreadable: break;
    }
    return say(MSG_J_FILE_UNREADABLE, {});
}

std::string name_for_json(std::string_view bytes) {
    // First the pieces (a character, or an escaped byte), then each
    // backslash doubled when what follows it starts with "x" or "\\".
    std::string pieces;
    std::vector<bool> literal_backslash;
    while (!bytes.empty()) {
        std::size_t n = utf8_sequence(bytes);
        if (n == 0) {
            hex_byte(pieces, static_cast<unsigned char>(bytes[0]));
            literal_backslash.insert(literal_backslash.end(), 4, false);
            n = 1;
        } else {
            pieces.append(bytes.substr(0, n));
            literal_backslash.push_back(bytes[0] == '\\');
            literal_backslash.insert(literal_backslash.end(), n - 1, false);
        }
        bytes.remove_prefix(n);
    }
    std::string out;
    out.reserve(pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        out += pieces[i];
        if (literal_backslash[i] && i + 1 < pieces.size() &&
            (pieces[i + 1] == 'x' || pieces[i + 1] == '\\'))
            out += '\\';
    }
    return out;
}

std::string name_from_json(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
                   hex_value(text[i + 2]) >= 0 && hex_value(text[i + 3]) >= 0) {
            out += static_cast<char>(hex_value(text[i + 2]) * 16 + hex_value(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string shown_name(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        std::size_t n = utf8_sequence(bytes);
        auto c = static_cast<unsigned char>(bytes[0]);
        if (n == 0 || c < 0x20 || c == 0x7F) {
            hex_byte(out, c);
            n = 1;
        } else if (c == '\\') {
            out += "\\\\";
        } else if (n > 1 && invisible(decode(bytes, n))) {
            code_point(out, decode(bytes, n));
        } else {
            out.append(bytes.substr(0, n));
        }
        bytes.remove_prefix(n);
    }
    return out;
}
