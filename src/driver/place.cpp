#include "driver/place.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "diag/diag.hpp"

namespace {

constexpr char CTRL_Z = 0x1A;

// The most bytes of a source line that are shown.
constexpr std::size_t LINE_SHOWN_MAX = 4096;

// Line `number` of `text` as the reader saw it: carriage returns dropped,
// nothing after a Ctrl-Z.  At most LINE_SHOWN_MAX bytes of it are kept.
// False when the text has no such line.
bool line_of(std::string_view text, int number, std::string& line) {
    int current = 1;
    for (char c : text) {
        if (c == CTRL_Z) break;
        if (c == '\r') continue;
        if (c == '\n') {
            if (current == number) break;
            ++current;
        } else if (current == number && line.size() < LINE_SHOWN_MAX) {
            line += c;
        }
    }
    return current == number;
}

// printf at the end of `out`.
void append(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void append(std::string& out, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n > 0) {
        std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out.data() + at, static_cast<std::size_t>(n) + 1, format, again);
        out.resize(at + static_cast<std::size_t>(n));
    }
    va_end(again);
}

bool is_control(unsigned char c) {
    return (c < 0x20 && c != '\t') || c == 0x7F;
}

bool in(unsigned char c, unsigned lo, unsigned hi) {
    return c >= lo && c <= hi;
}

// The length in bytes of the character of `encoding` that starts at
// line[i], or 0 when the bytes there form none.
std::size_t char_length(std::string_view line, std::size_t i, Encoding encoding) {
    auto at = [&](std::size_t k) -> unsigned char {
        return i + k < line.size() ? static_cast<unsigned char>(line[i + k]) : 0;
    };
    unsigned char c = at(0);
    if (c < 0x80) return 1;
    if (encoding == Encoding::cp932) {
        if (in(c, 0xA1, 0xDF)) return 1; // half-width katakana
        bool lead = in(c, 0x81, 0x9F) || in(c, 0xE0, 0xFC);
        bool trail = in(at(1), 0x40, 0x7E) || in(at(1), 0x80, 0xFC);
        return lead && trail ? 2 : 0;
    }
    // UTF-8, without overlong forms, surrogates or values past U+10FFFF.
    auto cont = [&](std::size_t k) { return in(at(k), 0x80, 0xBF); };
    if (in(c, 0xC2, 0xDF)) return cont(1) ? 2 : 0;
    if (c == 0xE0) return in(at(1), 0xA0, 0xBF) && cont(2) ? 3 : 0;
    if (c == 0xED) return in(at(1), 0x80, 0x9F) && cont(2) ? 3 : 0;
    if (in(c, 0xE1, 0xEF)) return cont(1) && cont(2) ? 3 : 0;
    if (c == 0xF0) return in(at(1), 0x90, 0xBF) && cont(2) && cont(3) ? 4 : 0;
    if (in(c, 0xF1, 0xF3)) return cont(1) && cont(2) && cont(3) ? 4 : 0;
    if (c == 0xF4) return in(at(1), 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 0;
    return 0;
}

int digits(int n) {
    int count = 1;
    for (; n >= 10; n /= 10)
        ++count;
    return count;
}

} // namespace

bool read_source(const char* path, std::string& text) {
    constexpr std::size_t SOURCE_READ_MAX = std::size_t{64} << 20;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    char buffer[8192];
    std::size_t n;
    bool ok = true;
    while (ok && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        text.append(buffer, n);
        ok = text.size() <= SOURCE_READ_MAX;
    }
    ok = ok && std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

std::string printable_line(std::string_view line, Encoding encoding) {
    std::string shown;
    std::size_t i = 0;
    while (i < line.size()) {
        auto c = static_cast<unsigned char>(line[i]);
        std::size_t length = is_control(c) ? 0 : char_length(line, i, encoding);
        if (c == '\t') {
            shown += '\t';
            length = 1;
        } else if (length == 0) {
            shown += '?';
            length = 1;
        } else {
            shown.append(line, i, length);
        }
        i += length;
    }
    return shown;
}

int line_number_width(int line) {
    return digits(line) > 4 ? digits(line) : 4;
}

std::string show_line(std::string_view line, int number, int column, Encoding encoding) {
    std::string out;
    // The line as shown, and under it the blanks and tabs that lead to the
    // caret: one per character before the spot, whatever its bytes.
    const std::size_t spot = static_cast<std::size_t>(column > 0 ? column - 1 : 0);
    if (spot > line.size()) return out; // the file has changed since it was compiled
    std::string shown = printable_line(line, encoding);
    std::string lead;
    for (std::size_t i = 0; i < spot && i < line.size();) {
        auto c = static_cast<unsigned char>(line[i]);
        std::size_t length = is_control(c) ? 0 : char_length(line, i, encoding);
        lead += c == '\t' ? '\t' : ' ';
        i += length == 0 ? 1 : length;
    }

    const int width = line_number_width(number);
    if (shown.empty())
        append(out, msg_in(MSG_I_EMPTY_LINE, encoding), width, number);
    else
        append(out, msg_in(MSG_I_SOURCE_LINE, encoding), width, number, shown.c_str());
    if (column > 0) append(out, msg_in(MSG_I_CARET, encoding), width, "", lead.c_str());
    return out;
}

std::string show_range(std::string_view source, SourceRange range, Encoding encoding) {
    std::string out;
    const SourcePos first = range.first;
    const SourcePos last = range.last;
    if (first.line < 1 || first.column < 1 || last.line < first.line) return out;
    for (int number = first.line; number <= last.line; ++number) {
        std::string line;
        if (!line_of(source, number, line)) return out;
        // The part marked: from the range's first character, or the line's
        // first one that is not blank, to just past the range or the line.
        std::size_t from = number == first.line ? static_cast<std::size_t>(first.column - 1)
                                                : line.find_first_not_of(" \t");
        std::size_t to = number == last.line
                             ? static_cast<std::size_t>(std::max(last.column - 1, 0))
                             : line.size();
        if (from == std::string::npos || from >= to) continue;
        if (to > line.size()) return out; // the file has changed since it was compiled
        std::string lead;
        std::string marks(number == first.line ? "^" : "~");
        for (std::size_t i = 0; i < to;) {
            auto c = static_cast<unsigned char>(line[i]);
            std::size_t length = is_control(c) ? 0 : char_length(line, i, encoding);
            if (i < from)
                lead += c == '\t' ? '\t' : ' ';
            else if (i > from)
                marks += '~';
            i += length == 0 ? 1 : length;
        }
        const int width = line_number_width(last.line);
        append(out, msg_in(MSG_I_SOURCE_LINE, encoding), width, number,
               printable_line(line, encoding).c_str());
        append(out, msg_in(MSG_I_RANGE_MARKS, encoding), width, "", lead.c_str(), marks.c_str());
    }
    return out;
}

std::string show_place(const char* name, SourcePos where, Msg heading,
                       std::optional<std::string_view> source, Encoding encoding) {
    std::string out;
    append(out, msg_in(heading, encoding), name, where.line, where.column);
    std::string line;
    if (source && line_of(*source, where.line, line))
        out += show_line(line, where.line, where.column > 0 ? where.column : 1, encoding);
    return out;
}

std::string show_warning(const char* name, SourcePos where, const std::string& text,
                         std::optional<std::string_view> source, Encoding encoding) {
    std::string out;
    append(out, msg_in(MSG_I_WARNING, encoding), name, where.line, where.column, text.c_str());
    std::string line;
    if (source && line_of(*source, where.line, line))
        out += show_line(line, where.line, where.column > 0 ? where.column : 1, encoding);
    return out;
}
