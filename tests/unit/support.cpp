#include "support.hpp"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "diag/diag.hpp"
#include "driver/reset.hpp"
#include "lexer/lexer.hpp"
#include "lexer/reader.hpp"
#include "parser/blocks.hpp"
#include "symtab/symtab.hpp"
#include "vm/code.hpp"
#include "vm/machine.hpp"

namespace {

struct Exit {
    int status;
};

void throw_exit(int status) {
    throw Exit{status};
}

std::FILE* text_stream(const std::string& text) {
    std::FILE* f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    return f;
}

std::FILE* input_stream = nullptr;

} // namespace

void reset_all() {
    reset_state();
    set_encoding(Encoding::utf8);
    set_exit_handler(throw_exit);
    if (input_stream != nullptr) std::fclose(input_stream);
    input_stream = text_stream("");
    machine_input = input_stream;
}

Outcome capture(const std::function<void()>& fn) {
    Outcome result;
    std::fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    std::FILE* sink = std::tmpfile();
    dup2(fileno(sink), STDOUT_FILENO);
    try {
        fn();
    } catch (const Exit& e) {
        result.status = e.status;
    }
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::rewind(sink);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, sink)) > 0)
        result.out.append(buf, n);
    std::fclose(sink);
    return result;
}

void open_source_text(const std::string& text) {
    open_source_stream(text_stream(text));
}

void set_machine_input(const std::string& text) {
    if (input_stream != nullptr) std::fclose(input_stream);
    input_stream = text_stream(text);
    machine_input = input_stream;
}

Outcome compile(const std::string& source) {
    reset_all();
    return capture([&] {
        open_source_text(source);
        parse_program();
        close_source();
    });
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
    Outcome ran = capture([] { interpret(); });
    ran.out = compiled.out + ran.out;
    return ran;
}
