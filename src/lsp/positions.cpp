// Conversions between the compiler's and the protocol's positions.
#include "lsp/positions.hpp"

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
    LineIndex index{text, {0}};
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n') index.starts.push_back(i + 1);
    return index;
}

std::string_view line_text(const LineIndex& index, int line) {
    if (line < 0 || static_cast<std::size_t>(line) >= index.starts.size()) return {};
    std::size_t begin = index.starts[static_cast<std::size_t>(line)];
    std::size_t end = static_cast<std::size_t>(line) + 1 < index.starts.size()
                          ? index.starts[static_cast<std::size_t>(line) + 1] - 1
                          : index.text.size();
    return index.text.substr(begin, end - begin);
}

std::size_t utf8_step(std::string_view bytes, int* units) {
    *units = 1;
    auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    unsigned char c = b(0);
    std::size_t n = 0;
    unsigned min = 0;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) n = 2, min = 0x80;
    else if (c >= 0xE0 && c <= 0xEF) n = 3, min = 0x800;
    else if (c >= 0xF0 && c <= 0xF4) n = 4, min = 0x10000;
    else return 1;
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

LspPosition to_lsp(const LineIndex& index, SourcePos pos) {
    int last = static_cast<int>(index.starts.size()) - 1;
    int line = pos.line - 1;
    if (line < 0) line = 0;
    if (line > last) return LspPosition{last, to_lsp(index, SourcePos{last + 1, 1 << 30}).character};
    std::string_view text = line_text(index, line);
    long long bytes_left = static_cast<long long>(pos.column) - 1; // bytes the compiler counted
    int character = 0;
    std::size_t i = 0;
    while (i < text.size() && bytes_left > 0) {
        if (text[i] == '\r') {
            ++i;
            continue;
        }
        int units = 0;
        std::size_t step = utf8_step(text.substr(i), &units);
        // Carriage returns inside a sequence would make it malformed, so
        // the step counts only bytes the compiler counted too.
        if (static_cast<long long>(step) > bytes_left) step = 1, units = 1;
        character += units;
        bytes_left -= static_cast<long long>(step);
        i += step;
    }
    return LspPosition{line, character};
}

SourcePos from_lsp(const LineIndex& index, LspPosition pos) {
    if (pos.line < 0 || static_cast<std::size_t>(pos.line) >= index.starts.size())
        return SourcePos{pos.line < 0 ? 1 : pos.line + 1, 1};
    std::string_view text = line_text(index, pos.line);
    int column = 1;
    int character = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\r') {
            ++i;
            continue;
        }
        int units = 0;
        std::size_t step = utf8_step(text.substr(i), &units);
        if (character + units > pos.character) break;
        character += units;
        column += static_cast<int>(step);
        i += step;
    }
    return SourcePos{pos.line + 1, column};
}

std::size_t byte_offset(const LineIndex& index, SourcePos pos) {
    int line = pos.line - 1;
    if (line < 0) return 0;
    if (static_cast<std::size_t>(line) >= index.starts.size()) return index.text.size();
    std::string_view text = line_text(index, line);
    std::size_t begin = index.starts[static_cast<std::size_t>(line)];
    long long bytes_left = static_cast<long long>(pos.column) - 1;
    std::size_t i = 0;
    while (i < text.size() && (bytes_left > 0 || text[i] == '\r')) {
        if (text[i] != '\r') --bytes_left;
        ++i;
    }
    return begin + i;
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
