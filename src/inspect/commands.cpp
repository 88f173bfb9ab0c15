#include "inspect/commands.hpp"

#include <charconv>

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

NumberText read_number(std::string_view text, long long& value) {
    text = trimmed(text);
    if (text.empty() || text.front() == '+') return NumberText::none;
    const char* end = text.data() + text.size();
    long long n = 0;
    auto [ptr, error] = std::from_chars(text.data(), end, n);
    if (ptr != end) return NumberText::none;
    if (error == std::errc::result_out_of_range) return NumberText::too_large;
    if (error != std::errc()) return NumberText::none;
    value = n;
    return NumberText::ok;
}

bool number_argument(std::string_view text, long long& value, Msg otherwise) {
    std::string shown(trimmed(text));
    switch (read_number(text, value)) {
    case NumberText::ok: return true;
    case NumberText::too_large: std::printf(msg(MSG_DBG_NUMBER_RANGE), shown.c_str()); return false;
    case NumberText::none: break;
    }
    std::printf(msg(otherwise), shown.c_str());
    return false;
}
