#include "support.hpp"

#include "diag/diag.hpp"
#include "diag/stream.hpp"
#include "driver/api.hpp"
#include "driver/reset.hpp"
#include "lexer/reader.hpp"
#include "parser/blocks.hpp"
#include "vm/code.hpp"
#include "vm/machine.hpp"
#include "vm/runtime.hpp"

namespace {

// The source and the standard input of the piece under test; the reader
// and the machine read them in place.
std::string source_text;
std::string input_text;
std::string_view input_rest;

} // namespace

void reset_all() {
    reset_state();
    set_encoding(Encoding::utf8);
    positions_on = false;
    set_machine_input("");
}

Outcome capture(const std::function<void()>& fn) {
    Outcome result;
    text_out = string_writer(result.out);
    begin_io(text_out, view_reader(input_rest), false);
    try {
        fn();
        flush_output();
    } catch (const Fatal& fatal) {
        try {
            flush_output();
        } catch (const Fatal&) {
        }
        result.out += fatal_message(fatal, current_encoding());
        result.status = fatal.kind == FatalKind::budget_spent ? 2 : 1;
    }
    text_out = Writer{};
    return result;
}

void open_source_text(const std::string& text) {
    source_text = text;
    open_source_memory(source_text.data(), source_text.size());
}

void set_machine_input(const std::string& text) {
    input_text = text;
    input_rest = input_text;
}

Outcome compile(const std::string& source) {
    reset_all();
    source_text = source;
    CompileOptions options;
    options.encoding = Encoding::utf8;
    options.positions = false;
    Compiled compiled = compile_text(source_text, options);
    Outcome result;
    if (compiled.error != ErrorKind::none) {
        result.out = compiled.message;
        result.status = 1;
    }
    return result;
}

std::string listing() {
    std::string out;
    char line[80];
    for (int i = 0; i < cx; ++i) {
        std::snprintf(line, sizeof line, "%d: %s(%d,%d)\n", i, mnemonic(code[i].op), code[i].l,
                      code[i].a);
        out += line;
    }
    return out;
}

Outcome compile_and_run(const std::string& source, const std::string& input) {
    Outcome compiled = compile(source);
    if (compiled.status != -1) return compiled;
    set_machine_input(input);
    RunOptions options;
    options.encoding = Encoding::utf8;
    options.input = view_reader(input_rest);
    Outcome ran;
    options.output = string_writer(ran.out);
    RunResult result = run_program(options);
    ran.out += result.message;
    if (result.end != RunEnd::halted) ran.status = result.end == RunEnd::budget_spent ? 2 : 1;
    return ran;
}
