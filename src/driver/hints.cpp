#include "driver/hints.hpp"

#include <cstddef>
#include <string>

namespace {

constexpr char CTRL_Z = 0x1A;
constexpr std::size_t NOWHERE = std::string_view::npos;

// The source as the reader sees it: nothing from a Ctrl-Z on.
std::string_view as_read(std::string_view source) {
    std::size_t end = source.find(CTRL_Z);
    return end == NOWHERE ? source : source.substr(0, end);
}

// The offset of the byte at `where`, counted as the reader counts (lines
// end at a line feed, carriage returns take no column); NOWHERE when the
// text has no byte there.
std::size_t offset_of(std::string_view text, SourcePos where) {
    int line = 1;
    int column = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') continue;
        if (line == where.line && column == where.column) return i;
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return NOWHERE;
}

bool is_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The identifier or keyword that starts at text[i]; empty when none does.
std::string_view word_at(std::string_view text, std::size_t i) {
    if (i >= text.size() || !is_letter(text[i])) return {};
    std::size_t end = i;
    while (end < text.size() && (is_letter(text[end]) || is_digit(text[end])))
        ++end;
    return text.substr(i, end - i);
}

// Whether a word can start a statement: a name, or one of the keywords
// that open a statement.
bool starts_statement(std::string_view word) {
    if (word.empty()) return false;
    for (const char* opener : {"begin", "if", "while", "read", "write"})
        if (word == opener) return true;
    for (const char* keyword :
         {"div", "end", "then", "else", "do", "program", "procedure", "function", "var"})
        if (word == keyword) return false;
    return true;
}

// A full-width character that looks like one of the language's own: its
// bytes in UTF-8 and in Shift_JIS, and the character meant.
struct LookAlike {
    const char* utf8;
    const char* sjis;
    const char* meant; // empty: the ideographic space
};

const LookAlike look_alikes[] = {
    {"\xE3\x80\x80", "\x81\x40", ""},  {"\xEF\xBC\x9B", "\x81\x47", ";"},
    {"\xEF\xBC\x9A", "\x81\x46", ":"}, {"\xEF\xBC\x9D", "\x81\x81", "="},
    {"\xEF\xBC\x88", "\x81\x69", "("}, {"\xEF\xBC\x89", "\x81\x6A", ")"},
    {"\xEF\xBC\x90", "\x82\x4F", "0"}, {"\xEF\xBC\x91", "\x82\x50", "1"},
    {"\xEF\xBC\x92", "\x82\x51", "2"}, {"\xEF\xBC\x93", "\x82\x52", "3"},
    {"\xEF\xBC\x94", "\x82\x53", "4"}, {"\xEF\xBC\x95", "\x82\x54", "5"},
    {"\xEF\xBC\x96", "\x82\x55", "6"}, {"\xEF\xBC\x97", "\x82\x56", "7"},
    {"\xEF\xBC\x98", "\x82\x57", "8"}, {"\xEF\xBC\x99", "\x82\x58", "9"},
};

const LookAlike* look_alike_at(std::string_view text, std::size_t i) {
    std::string_view rest = text.substr(i);
    for (const LookAlike& l : look_alikes)
        if (rest.substr(0, 3) == l.utf8 || rest.substr(0, 2) == l.sjis) return &l;
    return nullptr;
}

// Whether the file ends with "end." and no line break after it.
bool ends_without_break(std::string_view text) {
    while (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    if (text.empty() || text.back() != '.') return false;
    text.remove_suffix(1);
    while (!text.empty() && is_blank(text.back()))
        text.remove_suffix(1);
    if (text.size() < 3 || text.substr(text.size() - 3) != "end") return false;
    text.remove_suffix(3);
    return text.empty() || !(is_letter(text.back()) || is_digit(text.back()));
}

// Whether a line break, and nothing but blanks, separates text[i] from the
// token before it (which is not a ";").
bool follows_line_break(std::string_view text, std::size_t i) {
    bool line_break = false;
    while (i > 0 && is_blank(text[i - 1])) {
        line_break = line_break || text[i - 1] == '\n';
        --i;
    }
    return line_break && i > 0 && text[i - 1] != ';';
}

bool is_undeclared(Msg text) {
    return text == MSG_UNDECLARED_AS || text == MSG_UNDECLARED_RR || text == MSG_UNDECLARED_K ||
           text == MSG_UNDECLARED_L || text == MSG_UNDECLARED_A || text == MSG_UNDECLARED_I;
}

} // namespace

std::string hint_for(std::string_view source, ErrorKind kind, Msg text, SourcePos where,
                     Encoding encoding) {
    const std::string_view read = as_read(source);
    if (kind == ErrorKind::lexical && text == MSG_END_OF_FILE)
        return ends_without_break(read) ? msg_in(MSG_HINT_FINAL_BREAK, encoding) : "";

    const std::size_t i = offset_of(read, where);
    if (i == NOWHERE) return "";
    if (kind == ErrorKind::lexical && text == MSG_BAD_TOKEN) {
        if (i == 0 && read.substr(0, 3) == "\xEF\xBB\xBF") return msg_in(MSG_HINT_BOM, encoding);
        // A ":" is rejected where it stands when no "=" follows it.
        const LookAlike* l = look_alike_at(read, read[i] == ':' ? i + 1 : i);
        if (l == nullptr) return "";
        if (l->meant[0] == '\0') return msg_in(MSG_HINT_FULL_WIDTH_SPACE, encoding);
        return format_message(msg_in(MSG_HINT_FULL_WIDTH, encoding), l->meant);
    }
    if (kind != ErrorKind::syntax) return "";
    std::string_view word = word_at(read, i);
    if (is_undeclared(text) && !word.empty())
        return format_message(msg_in(MSG_HINT_UNDECLARED, encoding), std::string(word).c_str());
    if ((text == MSG_NO_BLOCK_END || text == MSG_NO_END) && starts_statement(word) &&
        follows_line_break(read, i))
        return msg_in(MSG_HINT_MISSING_SEMI, encoding);
    return "";
}

std::string run_hint(const RunResult& run, Encoding encoding) {
    if (run.end != RunEnd::runtime_error || run.call_pc < 0 || run.recursion_depth < 2) return "";
    return format_message(msg_in(MSG_HINT_ENDLESS_RECURSION, encoding),
                          std::to_string(run.call_depth).c_str());
}
