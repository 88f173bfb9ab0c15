#include "judge/markup.hpp"

#include "judge/text.hpp"

namespace {

std::string escape(std::string_view text, bool attribute) {
    // Names of files may be any bytes: those that are not UTF-8 are replaced.
    std::string repaired = to_utf8(text, Encoding::utf8);
    std::string_view utf8 = repaired;
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        auto c = static_cast<unsigned char>(utf8[i]);
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        case '\n': out += attribute ? "&#10;" : "\n"; break;
        case '\t': out += attribute ? "&#9;" : "\t"; break;
        case '\r': out += "&#13;"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out += "\xEF\xBF\xBD";
            } else if (c == 0xEF && i + 2 < utf8.size() &&
                       static_cast<unsigned char>(utf8[i + 1]) == 0xBF &&
                       (static_cast<unsigned char>(utf8[i + 2]) == 0xBE ||
                        static_cast<unsigned char>(utf8[i + 2]) == 0xBF)) {
                out += "\xEF\xBF\xBD"; // U+FFFE and U+FFFF
                i += 2;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

} // namespace

std::string escape_markup(std::string_view text) {
    return escape(text, true);
}

std::string escape_text(std::string_view text) {
    return escape(text, false);
}
