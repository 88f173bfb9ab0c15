#include "judge/compare.hpp"

#include <algorithm>

#include "judge/text.hpp"

namespace {

// The most characters of a line that a message quotes, and how many of
// them, at least, come after the first that differs.
constexpr std::size_t QUOTED_CHARS = 60;
constexpr std::size_t QUOTED_AFTER = 20;

std::string_view trim_end(std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

std::string_view without_break(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    return line;
}

// The byte where the UTF-8 text's character `chars` (from 0) starts.
std::size_t byte_of_char(std::string_view utf8, std::size_t chars) {
    std::size_t at = 0;
    while (at < utf8.size() && chars > 0) {
        ++at;
        while (at < utf8.size() && (static_cast<unsigned char>(utf8[at]) & 0xC0) == 0x80)
            ++at;
        --chars;
    }
    return at;
}

std::size_t char_count(std::string_view utf8) {
    std::size_t chars = 0;
    for (char c : utf8)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++chars;
    return chars;
}

// A UTF-8 line to quote, from its character `from` on ("…" before it when
// that is not its start).
std::string quote(std::string_view line, std::size_t from = 0) {
    line = without_break(line);
    if (from == 0) return visible(line, QUOTED_CHARS);
    return "\xE2\x80\xA6" + visible(line.substr(byte_of_char(line, from)), QUOTED_CHARS);
}

// The character (from 0) where two UTF-8 lines first differ.
std::size_t first_different_char(std::string_view a, std::string_view b) {
    std::size_t same = 0, chars = 0;
    while (same < a.size() && same < b.size() && a[same] == b[same]) {
        if ((static_cast<unsigned char>(a[same]) & 0xC0) != 0x80) ++chars;
        ++same;
    }
    // Within a character that differs, it is that character.
    if (same < a.size() && (static_cast<unsigned char>(a[same]) & 0xC0) == 0x80 && chars > 0)
        --chars;
    return chars;
}

} // namespace

std::vector<std::string_view> output_lines(std::string_view text, bool ignore_trailing_space) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
        std::string_view line = text.substr(0, length);
        if (ignore_trailing_space) {
            if (line.back() == '\n') line.remove_suffix(1);
            line = trim_end(line);
        }
        lines.push_back(line);
        text.remove_prefix(length);
    }
    if (ignore_trailing_space)
        while (!lines.empty() && lines.back().empty())
            lines.pop_back();
    return lines;
}

bool same_output(std::string_view expected, std::string_view actual, bool ignore_trailing_space) {
    if (!ignore_trailing_space) return expected == actual;
    return output_lines(expected, true) == output_lines(actual, true);
}

Encoding encoding_of_expected(std::string_view bytes) {
    return is_utf8(bytes) ? Encoding::utf8 : Encoding::cp932;
}

std::string expected_text(std::string_view bytes) {
    // A byte order mark (an editor's, on Windows) is not text.
    constexpr std::string_view BOM = "\xEF\xBB\xBF";
    if (bytes.substr(0, BOM.size()) == BOM && is_utf8(bytes)) bytes.remove_prefix(BOM.size());
    return to_utf8(bytes, encoding_of_expected(bytes));
}

bool same_text(std::string_view expected, std::string_view actual, Encoding encoding,
               bool ignore_trailing_space) {
    if (same_output(expected, actual, ignore_trailing_space)) return true;
    return same_output(expected_text(expected), to_utf8(actual, encoding), ignore_trailing_space);
}

long first_different_line(const std::vector<std::string_view>& expected,
                          const std::vector<std::string_view>& actual) {
    std::size_t shorter = std::min(expected.size(), actual.size());
    for (std::size_t i = 0; i < shorter; ++i)
        if (expected[i] != actual[i]) return static_cast<long>(i);
    return expected.size() == actual.size() ? -1 : static_cast<long>(shorter);
}

std::string difference_message(std::string_view expected_bytes, std::string_view actual_bytes,
                               bool ignore_trailing_space, Encoding encoding) {
    std::string expected = expected_text(expected_bytes);
    std::string actual = to_utf8(actual_bytes, encoding);
    auto want = output_lines(expected, ignore_trailing_space);
    auto got = output_lines(actual, ignore_trailing_space);
    long i = first_different_line(want, got);
    if (i < 0) return "";
    auto index = static_cast<std::size_t>(i);
    std::string line = number(index + 1);
    if (index >= got.size()) return say(MSG_J_WA_MISSING, {line, quote(want[index])});
    if (index >= want.size()) return say(MSG_J_WA_EXTRA, {line, quote(got[index])});
    // The same text, one line with its break and the other without.
    std::string_view a = without_break(want[index]), b = without_break(got[index]);
    if (a == b) return say(MSG_J_WA_LINE_END, {line});
    // Where the difference would fall past the quote of a long line, the
    // quote begins before it (but no later than it must to end where the
    // longer line ends), so that the characters that differ are shown.
    std::size_t differs = first_different_char(a, b);
    std::size_t longer = std::max(char_count(a), char_count(b));
    std::size_t from = 0;
    if (longer > QUOTED_CHARS && differs + QUOTED_AFTER > QUOTED_CHARS)
        from = std::min(differs + QUOTED_AFTER - QUOTED_CHARS, longer - QUOTED_CHARS);
    return say(MSG_J_WA_LINE, {line, quote(a, from), quote(b, from)});
}
