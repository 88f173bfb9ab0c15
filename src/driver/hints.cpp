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
    {"\xEF\xBC\x8B", "\x81\x7B", "+"}, {"\xEF\xBC\x8D", "\x81\x7C", "-"},
    {"\xEF\xBC\x8A", "\x81\x96", "*"}, {"\xEF\xBC\x9C", "\x81\x83", "<"},
    {"\xEF\xBC\x9E", "\x81\x84", ">"}, {"\xEF\xBC\x8C", "\x81\x43", ","},
    {"\xEF\xBC\x8E", "\x81\x44", "."}, {"\xEF\xBC\xBB", "\x81\x6D", "["},
    {"\xEF\xBC\xBD", "\x81\x6E", "]"},
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

// The offset just past the token before text[i], blanks skipped; 0 when
// only blanks come before it.
std::size_t end_of_previous(std::string_view text, std::size_t i) {
    while (i > 0 && is_blank(text[i - 1]))
        --i;
    return i;
}

// The line and column of the byte at `offset`, counted as the reader counts
// (the inverse of offset_of), as "LINE:COLUMN".
std::string place_of(std::string_view text, std::size_t offset) {
    int line = 1;
    int column = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\r') continue;
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return std::to_string(line) + ":" + std::to_string(column);
}

// The name of the routine called with an argument list whose first
// argument, or one after a ",", is the single variable (perhaps an array
// element) that ends just before text[i]; empty when text[i] does not
// follow such an argument.  Nothing but a var parameter stops the parser
// there: a value parameter takes the whole expression.
std::string_view callee_of_variable_argument(std::string_view text, std::size_t i) {
    std::size_t k = end_of_previous(text, i);
    if (k > 0 && text[k - 1] == ']') { // an element: back to its "["
        int depth = 0;
        while (k > 0) {
            --k;
            if (text[k] == ']') ++depth;
            if (text[k] == '[' && --depth == 0) break;
        }
        if (depth != 0) return {};
        k = end_of_previous(text, k);
    }
    const std::size_t name_end = k;
    while (k > 0 && (is_letter(text[k - 1]) || is_digit(text[k - 1])))
        --k;
    if (k == name_end || !is_letter(text[k])) return {};
    // Back over the arguments before it to the "(" of the list.
    k = end_of_previous(text, k);
    int depth = 0;
    while (k > 0) {
        const char c = text[k - 1];
        if (c == ';') return {};
        if (c == ')' || c == ']') ++depth;
        if (c == '(' || c == '[') {
            if (depth == 0) break;
            --depth;
        }
        --k;
    }
    if (k == 0 || text[k - 1] != '(') return {};
    std::size_t end = end_of_previous(text, k - 1);
    std::size_t start = end;
    while (start > 0 && (is_letter(text[start - 1]) || is_digit(text[start - 1])))
        --start;
    std::string_view callee = text.substr(start, end - start);
    if (callee.empty() || !is_letter(callee[0]) || callee == "read" || callee == "write") return {};
    return callee;
}

// Whether text[i] starts an operator that would go on an expression.
bool starts_operator(std::string_view text, std::size_t i) {
    const char c = text[i];
    return c == '+' || c == '-' || c == '*' || c == '=' || c == '<' || c == '>' ||
           word_at(text, i) == "div";
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
    if (text == MSG_NO_BECOM && read[i] == '=') return msg_in(MSG_HINT_ASSIGN, encoding);
    if (word == "else" && end_of_previous(read, i) > 0 && read[end_of_previous(read, i) - 1] == ';')
        return msg_in(MSG_HINT_SEMI_BEFORE_ELSE, encoding);
    if ((text == MSG_NO_SEMI_AFTER_VARS || text == MSG_NO_SEMI_AFTER_HEADING) &&
        follows_line_break(read, i))
        return format_message(msg_in(MSG_HINT_DECLARATION_SEMI, encoding),
                              place_of(read, end_of_previous(read, i)).c_str());
    if (text == MSG_NO_RPAREN && starts_operator(read, i)) {
        std::string_view callee = callee_of_variable_argument(read, i);
        if (!callee.empty())
            return format_message(msg_in(MSG_HINT_VAR_ARGUMENT, encoding),
                                  std::string(callee).c_str());
    }
    return "";
}

std::string run_hint(const RunResult& run, Encoding encoding) {
    if (run.end != RunEnd::runtime_error || run.call_pc < 0 || run.recursion_depth < 2) return "";
    return format_message(msg_in(MSG_HINT_ENDLESS_RECURSION, encoding),
                          std::to_string(run.call_depth).c_str());
}
