// Conversions between the compiler's and the protocol's positions.
#include "lsp/positions.hpp"

#include <algorithm>
#include <cctype>

namespace {

bool continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

bool word_byte(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

} // namespace

LineIndex index_lines(std::string_view text) {
    LineIndex index{text, {0}, {0}};
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            index.starts.push_back(i + 1);
            index.lsp_starts.push_back(i + 1);
        } else if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) {
            index.lsp_starts.push_back(i + 1);
        }
    }
    return index;
}

std::size_t utf8_step(std::string_view bytes, int* units) {
    *units = 1;
    auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    unsigned char c = b(0);
    std::size_t n = 0;
    unsigned min = 0;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2, min = 0x80;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, min = 0x800;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, min = 0x10000;
    else
        return 1;
    if (bytes.size() < n) return 1;
    unsigned cp = c & (0x7F >> n);
    for (std::size_t i = 1; i < n; ++i) {
        if (!continuation(b(i))) return 1;
        cp = (cp << 6) | (b(i) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 1;
    *units = cp >= 0x10000 ? 2 : 1;
    return n;
}

namespace {

// The line (from 0) of `starts` that holds `offset`.
std::size_t line_of(const std::vector<std::size_t>& starts, std::size_t offset) {
    return static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), offset) -
                                    starts.begin()) -
           1;
}

// Where the protocol's line `line` ends (before its break).
std::size_t lsp_line_end(const LineIndex& index, std::size_t line) {
    if (line + 1 >= index.lsp_starts.size()) return index.text.size();
    std::size_t end = index.lsp_starts[line + 1] - 1; // the LF or lone CR
    if (index.text[end] == '\n' && end > index.lsp_starts[line] && index.text[end - 1] == '\r')
        --end;
    return end;
}

} // namespace

std::size_t byte_offset(const LineIndex& index, SourcePos pos) {
    int line = pos.line - 1;
    if (line < 0) return 0;
    if (static_cast<std::size_t>(line) >= index.starts.size()) return index.text.size();
    std::size_t i = index.starts[static_cast<std::size_t>(line)];
    long long bytes_left = static_cast<long long>(pos.column) - 1;
    while (i < index.text.size() && index.text[i] != '\n' &&
           (bytes_left > 0 || index.text[i] == '\r')) {
        if (index.text[i] != '\r') --bytes_left;
        ++i;
    }
    return i;
}

SourcePos source_pos(const LineIndex& index, std::size_t offset) {
    offset = std::min(offset, index.text.size());
    std::size_t line = line_of(index.starts, offset);
    int column = 1;
    for (std::size_t i = index.starts[line]; i < offset; ++i)
        if (index.text[i] != '\r') ++column;
    return SourcePos{static_cast<int>(line) + 1, column};
}

std::size_t lsp_offset(const LineIndex& index, LspPosition pos) {
    if (pos.line < 0) return 0;
    if (static_cast<std::size_t>(pos.line) >= index.lsp_starts.size()) return index.text.size();
    std::size_t line = static_cast<std::size_t>(pos.line);
    std::size_t i = index.lsp_starts[line];
    std::size_t end = lsp_line_end(index, line);
    int character = 0;
    while (i < end) {
        int units = 0;
        std::size_t step = utf8_step(index.text.substr(i, end - i), &units);
        if (character + units > pos.character) break;
        character += units;
        i += step;
    }
    return i;
}

LspPosition lsp_pos(const LineIndex& index, std::size_t offset) {
    offset = std::min(offset, index.text.size());
    std::size_t line = line_of(index.lsp_starts, offset);
    std::size_t end = std::min(offset, lsp_line_end(index, line));
    int character = 0;
    for (std::size_t i = index.lsp_starts[line]; i < end;) {
        int units = 0;
        std::size_t step = utf8_step(index.text.substr(i, end - i), &units);
        character += units;
        i += step;
    }
    return LspPosition{static_cast<int>(line), character};
}

LspPosition to_lsp(const LineIndex& index, SourcePos pos) {
    return lsp_pos(index, byte_offset(index, pos));
}

SourcePos from_lsp(const LineIndex& index, LspPosition pos) {
    if (pos.line >= 0 && static_cast<std::size_t>(pos.line) >= index.lsp_starts.size())
        return SourcePos{pos.line + 1, 1};
    return source_pos(index, lsp_offset(index, pos));
}

std::size_t token_length(std::string_view text, std::size_t offset) {
    if (offset >= text.size() || text[offset] == '\n' || text[offset] == '\r') return 0;
    if (word_byte(text[offset])) {
        std::size_t end = offset;
        while (end < text.size() && word_byte(text[end]))
            ++end;
        return end - offset;
    }
    std::string_view two = text.substr(offset, 2);
    if (two == ":=" || two == "<=" || two == ">=" || two == "<>" || two == "..") return 2;
    int units = 0;
    return utf8_step(text.substr(offset), &units);
}
