// tsumiki SOURCE: compiles the program in SOURCE and runs it at once.
// tsumiki --help and tsumiki --version print the usage with a word on the
// environment, and the version (a file of either name runs as ./--help).
//
// When standard error is a terminal, a compile or run-time error also shows
// there where it was found (driver/place.hpp), with the hint for a compile
// error (driver/hints.hpp); standard output is the same either way.
//
// Its messages and the read prompt are written in the encoding that
// TSUMIKI_ENCODING names.  When it is unset or empty: UTF-8 when standard
// output is a terminal whose locale is UTF-8 (driver/terminal.hpp), else the
// build's default, which a pipe or a file always gets.
// The environment variable TSUMIKI_ENGINE chooses the machine: `tiered`
// (the default: the native tier, then the optimising tier for a run that
// goes on; the interpreter where no native tier was built or can run),
// `native`, `optimising` or `interpreter`.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "diag/diag.hpp"
#include "driver/api.hpp"
#include "driver/hints.hpp"
#include "driver/place.hpp"
#include "driver/terminal.hpp"
#include "version.hpp"

namespace {

// The program in the file at `path`, read and compiled again with
// positions, after an error: a correct run never pays for them.  False
// when the file can't be read again (a pipe) or compiles differently now.
bool compile_again(const char* path, Encoding encoding, std::string& source, Compiled& again) {
    if (!read_source(path, source)) return false;
    CompileOptions options;
    options.encoding = encoding;
    options.large_stack = true;
    again = compile_text(source, options);
    return true;
}

// Where the compile error `failed` was found, and its hint; empty when
// that can't be known any more.
std::string compile_error_place(const char* path, const Compiled& failed, Encoding encoding) {
    std::string source;
    Compiled again;
    if (failed.error == ErrorKind::open || !compile_again(path, encoding, source, again) ||
        again.message != failed.message)
        return "";
    return show_place(path, again.where, MSG_I_POSITION, source, encoding) +
           hint_for(source, again.error, again.error_text, again.where, encoding);
}

// Where the run failed: the instruction that failed, or for a stack
// overflow the call that made the innermost frame; and the run's hint.
std::string run_error_place(const char* path, const Compiled& compiled, const RunResult& run,
                            Encoding encoding) {
    const std::int32_t pc = run.call_pc >= 0 ? run.call_pc : run.pc;
    std::string source;
    Compiled again;
    if (pc < 0 || pc >= compiled.code_size || !compile_again(path, encoding, source, again) ||
        again.error != ErrorKind::none || again.code_size != compiled.code_size)
        return "";
    return show_place(path, again.code_pos[static_cast<std::size_t>(pc)], MSG_I_RUN_POSITION,
                      source, encoding) +
           run_hint(run, encoding);
}

} // namespace

int main(int argc, char** argv) {
    Encoding encoding = default_encoding();
    const char* asked = std::getenv(ENCODING_VARIABLE);
    if (asked != nullptr && asked[0] != '\0') {
        if (!encoding_named(asked, encoding))
            finish_process(format_message(msg(MSG_BAD_ENCODING), asked), 1);
    } else if (utf8_terminal(STDOUT_FILENO)) {
        encoding = Encoding::utf8;
    }
    set_encoding(encoding);
    const char* name = argc > 0 && argv[0] != nullptr ? argv[0] : "tsumiki";
    if (argc < 2) finish_process(format_message(msg(MSG_USAGE), name), 1);
    if (std::strcmp(argv[1], "--help") == 0) {
        const char* encoding_name = default_encoding() == Encoding::utf8 ? "utf-8" : "sjis";
        finish_process(
            format_message(msg(MSG_USAGE), name) + format_message(msg(MSG_HELP), encoding_name), 0);
    }
    if (std::strcmp(argv[1], "--version") == 0)
        finish_process(format_message(msg(MSG_VERSION), tsumiki_version), 0);
    // The engine TSUMIKI_ENGINE names; any other value ends the process.
    const char* engine_name = std::getenv(ENGINE_VARIABLE);
    Engine engine = Engine::standard;
    if (!engine_named(engine_name, engine))
        finish_process(format_message(msg(MSG_ENGINE_UNKNOWN), engine_name), 1);
    CompileOptions compile_options;
    compile_options.encoding = encoding;
    compile_options.positions = false;
    compile_options.large_stack = true;
    Compiled compiled = compile_file(argv[1], compile_options);
    const bool terminal = isatty(STDERR_FILENO) != 0;
    if (compiled.error != ErrorKind::none)
        finish_process(compiled.message, 1,
                       terminal ? compile_error_place(argv[1], compiled, encoding) : "");

    RunOptions run_options;
    run_options.encoding = encoding;
    run_options.engine = engine;
    RunResult run = run_program(run_options);
    switch (run.end) {
    case RunEnd::halted: finish_process("", 0);
    case RunEnd::runtime_error:
        finish_process(run.message, 1,
                       terminal ? run_error_place(argv[1], compiled, run, encoding) : "");
    case RunEnd::output_failed:
    case RunEnd::budget_spent:
    case RunEnd::stopped:
    case RunEnd::check_failed: break;
    }
    end_output_failed();
}
