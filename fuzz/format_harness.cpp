// libFuzzer harness of the formatter: formats each input as a program and
// checks what the formatter promises, through the library interface.
//
//   - a program that does not compile is refused with the compile's own
//     error, and nothing formatted;
//   - a program that compiles compiles, formatted, to exactly the same
//     code (every instruction's opcode and operands);
//   - formatting the formatted program changes nothing;
//   - the edit for any one line leaves a text that compiles to that code.
//
// Any difference aborts, so that libFuzzer keeps the input.  Inputs are
// those of harness.cpp; what follows a Ctrl-Z is never read as source,
// but the formatter keeps it after the final ".", so it is fuzzed too.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "driver/api.hpp"
#include "format/format.hpp"
#include "vm/code.hpp"

namespace {

// The code store after compiling `source`, or its error's message.
std::string code_of(std::string_view source) {
    Compiled c = compile_text(source, utf8_compile_options());
    if (c.error != ErrorKind::none) return "error " + c.message;
    std::string out;
    for (int i = 0; i < c.code_size; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%d %d %d\n", static_cast<int>(code[i].op), code[i].l,
                      code[i].a);
        out += line;
    }
    return out;
}

[[noreturn]] void fail(const char* what, std::string_view a, std::string_view b) {
    std::fprintf(stderr, "format: %s\n--- before\n%.*s\n--- after\n%.*s\n", what,
                 static_cast<int>(a.size()), a.data(), static_cast<int>(b.size()), b.data());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view source(reinterpret_cast<const char*>(data), size);
    Formatted once = format_source(source, utf8_compile_options());
    if (once.error != ErrorKind::none) {
        Compiled c = compile_text(source, utf8_compile_options());
        if (c.message != once.message || c.error != once.error || !once.text.empty())
            fail("refused with another error", c.message, once.message);
        return 0;
    }
    const std::string before = code_of(source);
    if (code_of(once.text) != before) fail("the code changed", source, once.text);
    Formatted twice = format_source(once.text, utf8_compile_options());
    if (twice.error != ErrorKind::none || twice.text != once.text)
        fail("formatting twice changed it again", once.text, twice.text);
    // One line's edit, the line chosen by the input's size.
    int lines = 1;
    for (char c : source)
        if (c == '\n') ++lines;
    const int line = 1 + static_cast<int>(size % static_cast<std::size_t>(lines));
    Formatted part = format_lines(source, line, line, utf8_compile_options());
    std::string edited(source);
    for (auto e = part.edits.rbegin(); e != part.edits.rend(); ++e)
        edited.replace(e->first, e->last - e->first, e->text);
    if (code_of(edited) != before) fail("a line's edit changed the code", source, edited);
    return 0;
}
