#include "inspect/location.hpp"

#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "diag/diag.hpp"

namespace {

constexpr int CTRL_Z = 0x1A;

// The most bytes of a source line that are shown.
constexpr std::size_t LINE_SHOWN_MAX = 4096;

bool is_plain_file(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

// Line `number` of the file at `path`, as the reader saw it: carriage
// returns dropped, nothing after a Ctrl-Z.  At most LINE_SHOWN_MAX bytes of
// it are kept.  False when the file is not a plain file (a pipe can't be
// read twice) or has no such line.
bool read_line(const char* path, int number, std::string& line) {
    if (!is_plain_file(path)) return false;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    int current = 1;
    int c;
    while ((c = std::getc(f)) != EOF && c != CTRL_Z) {
        if (c == '\r') continue;
        if (c == '\n') {
            if (current == number) break;
            ++current;
        } else if (current == number && line.size() < LINE_SHOWN_MAX) {
            line += static_cast<char>(c);
        }
    }
    std::fclose(f);
    return current == number;
}

bool is_control(unsigned char c) {
    return (c < 0x20 && c != '\t') || c == 0x7F;
}

bool in(unsigned char c, unsigned lo, unsigned hi) {
    return c >= lo && c <= hi;
}

// The length in bytes of the character of `encoding` that starts at
// line[i], or 0 when the bytes there form none.
std::size_t char_length(const std::string& line, std::size_t i, Encoding encoding) {
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
    if (!is_plain_file(path)) return false;
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

namespace {

// The source line of `where` and the caret under it.
void show_line(const char* path, SourcePos where, std::FILE* out) {
    std::string line;
    if (!read_line(path, where.line, line)) return;

    // The line as shown, and under it the blanks and tabs that lead to the
    // caret.
    const std::size_t spot = static_cast<std::size_t>(where.column > 0 ? where.column - 1 : 0);
    if (spot > line.size()) return; // the file has changed since it was read
    std::string shown;
    std::string lead;
    std::size_t i = 0;
    while (i < line.size()) {
        auto c = static_cast<unsigned char>(line[i]);
        std::size_t length = is_control(c) ? 0 : char_length(line, i, current_encoding());
        if (c == '\t') {
            shown += '\t';
            length = 1;
        } else if (length == 0) {
            shown += '?';
            length = 1;
        } else {
            shown.append(line, i, length);
        }
        if (i < spot) lead += c == '\t' ? '\t' : ' ';
        i += length;
    }

    const int width = digits(where.line) > 4 ? digits(where.line) : 4;
    if (shown.empty())
        std::fprintf(out, msg(MSG_I_EMPTY_LINE), width, where.line);
    else
        std::fprintf(out, msg(MSG_I_SOURCE_LINE), width, where.line, shown.c_str());
    std::fprintf(out, msg(MSG_I_CARET), width, "", lead.c_str());
}

} // namespace

void show_location(const char* path, SourcePos where, Msg heading, std::FILE* out) {
    std::fprintf(out, msg(heading), path, where.line, where.column);
    show_line(path, where, out);
}

void show_warning(const char* path, const Warning& warning, std::FILE* out) {
    std::fprintf(out, msg(MSG_I_WARNING), path, warning.where.line, warning.where.column,
                 warning.message.c_str());
    show_line(path, warning.where, out);
}
