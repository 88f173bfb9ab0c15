#include "vm/listing.hpp"

#include <string>
#include <vector>

#include "diag/diag.hpp"
#include "diag/stream.hpp"
#include "vm/code.hpp"

namespace {

constexpr char CTRL_Z = 0x1A;

// The source's lines as the reader saw them (carriage returns dropped,
// nothing after a Ctrl-Z), each made printable.  Written by
// begin_source_listing.
std::vector<std::string> lines;
int lines_shown = 0;   // lines 1 to lines_shown have been printed
int previous_line = 0; // the line of the instruction printed last

// A byte that is neither printable ASCII nor a tab shows as "?": what
// follows the final "." was never read, and may be anything.
char printable(char c) {
    auto u = static_cast<unsigned char>(c);
    return c == '\t' || (u >= 0x20 && u < 0x7F) ? c : '?';
}

void print_line(int number) {
    const std::string& text = lines[static_cast<std::size_t>(number - 1)];
    if (text.empty())
        text_printf(msg(MSG_I_EMPTY_LINE), 4, number);
    else
        text_printf(msg(MSG_I_SOURCE_LINE), 4, number, text.c_str());
}

} // namespace

void begin_source_listing(std::string_view source) {
    lines.assign(1, std::string{});
    for (char c : source) {
        if (c == CTRL_Z) break;
        if (c == '\r') continue;
        if (c == '\n')
            lines.emplace_back();
        else
            lines.back() += printable(c);
    }
    lines_shown = 0;
    previous_line = 0;
}

void list_source_before(int i) {
    if (i < 0 || i >= cx) return;
    const int line = code_pos[i].line;
    if (line < 1 || static_cast<std::size_t>(line) > lines.size()) return;
    if (line > lines_shown) {
        while (lines_shown < line)
            print_line(++lines_shown);
    } else if (line != previous_line) {
        print_line(line);
    }
    previous_line = line;
}

void list_code_with_source(std::string_view source) {
    begin_source_listing(source);
    text_printf("%s", msg(MSG_LIST_HEADING));
    for (int i = 0; i < cx; ++i) {
        list_source_before(i);
        text_printf(msg(MSG_LIST_LINE), i, mnemonic(code[i].op), code[i].l, code[i].a);
    }
    text_printf("%s", msg(MSG_LIST_END));
}
