// tsumiki SOURCE: compiles the program in SOURCE and runs it at once.
//
// Its messages and the read prompt are written in the encoding that
// TSUMIKI_ENCODING names, the build's default when it is unset or empty.
// The environment variable TSUMIKI_ENGINE chooses the machine: `native`
// (the default; the interpreter where no native tier was built or can run)
// or `interpreter`.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "diag/diag.hpp"
#include "driver/api.hpp"

int main(int argc, char** argv) {
    Encoding encoding = default_encoding();
    const char* asked = std::getenv(ENCODING_VARIABLE);
    if (asked != nullptr && asked[0] != '\0' && !encoding_named(asked, encoding))
        finish_process(format_message(msg(MSG_BAD_ENCODING), asked), 1);
    set_encoding(encoding);
    if (argc < 2) {
        const char* name = argc > 0 && argv[0] != nullptr ? argv[0] : "tsumiki";
        finish_process(format_message(msg(MSG_USAGE), name), 1);
    }
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
    if (compiled.error != ErrorKind::none) finish_process(compiled.message, 1);

    RunOptions run_options;
    run_options.encoding = encoding;
    run_options.engine = engine;
    RunResult run = run_program(run_options);
    switch (run.end) {
    case RunEnd::halted: finish_process("", 0);
    case RunEnd::runtime_error: finish_process(run.message, 1);
    case RunEnd::output_failed:
    case RunEnd::budget_spent:
    case RunEnd::stopped:
    case RunEnd::check_failed: break;
    }
    end_output_failed();
}
