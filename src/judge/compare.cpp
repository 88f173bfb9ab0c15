#include "judge/compare.hpp"

#include <algorithm>

#include "judge/text.hpp"

namespace {

// The most characters of a line that a message quotes.
constexpr std::size_t QUOTED_CHARS = 60;

std::string_view trim_end(std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

std::string quote(std::string_view line, Encoding encoding) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    return visible(to_utf8(line, encoding), QUOTED_CHARS);
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

long first_different_line(const std::vector<std::string_view>& expected,
                          const std::vector<std::string_view>& actual) {
    std::size_t shorter = std::min(expected.size(), actual.size());
    for (std::size_t i = 0; i < shorter; ++i)
        if (expected[i] != actual[i]) return static_cast<long>(i);
    return expected.size() == actual.size() ? -1 : static_cast<long>(shorter);
}

std::string difference_message(std::string_view expected, std::string_view actual,
                               bool ignore_trailing_space, Encoding encoding) {
    auto want = output_lines(expected, ignore_trailing_space);
    auto got = output_lines(actual, ignore_trailing_space);
    long i = first_different_line(want, got);
    if (i < 0) return "";
    auto index = static_cast<std::size_t>(i);
    std::string line = number(index + 1);
    if (index >= got.size()) return say(MSG_J_WA_MISSING, {line, quote(want[index], encoding)});
    if (index >= want.size()) return say(MSG_J_WA_EXTRA, {line, quote(got[index], encoding)});
    // The same text, one line with its break and the other without.
    auto text = [](std::string_view l) { return l.substr(0, l.find('\n')); };
    if (text(want[index]) == text(got[index])) return say(MSG_J_WA_LINE_END, {line});
    return say(MSG_J_WA_LINE, {line, quote(want[index], encoding), quote(got[index], encoding)});
}
