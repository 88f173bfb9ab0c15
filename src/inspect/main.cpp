// tsumiki-inspect COMMAND [OPTION...] SOURCE: shows how a program becomes
// stack code and how the machine runs it.
//
//   list   compiles and prints the code store, without running it (with
//          --native, each instruction's machine code under it; with
//          --source, each source line above the instructions made for it)
//   trace  compiles and runs with the trace hooks printing
//   check  compiles only; an error also shows where in the source it was
//          found, and a hint for the usual slips (driver/hints.hpp); a
//          program that compiles gets its warnings (parser/warnings.hpp),
//          and when standard error is a terminal a line there saying that
//          no error was found
//   run    compiles and runs, exactly as tsumiki does (--engine=NAME,
//          with a name TSUMIKI_ENGINE takes, chooses the machine; without
//          it, TSUMIKI_ENGINE does, as for tsumiki); with --check, a
//          checked run (vm/check.hpp) that stops at the first index outside
//          its bounds or read of a local not given a value, and shows where
//   debug  compiles and debugs the program in the manner of gdb, its
//          commands read from standard input (inspect/debugger.hpp); a
//          second file is the program's input; with --check, the session
//          is a checked run and stops where run --check would
//   compile  steps through the compile, forwards and backwards, its
//          commands read from standard input (inspect/compile_stepper.hpp)
//   format  prints each of any number of programs in the formatter's
//          layout; with --check, lists those whose layout would change
//          (inspect/format_command.hpp)
//
// It is built from the same sources as tsumiki, with the trace hooks
// compiled in, and writes UTF-8 unless told to write Shift_JIS (by --sjis
// or TSUMIKI_ENCODING).  A run-time error is followed by the place in the
// source of the instruction that failed.  list and run show the warnings
// too, on standard error, so that their standard output stays the listing
// and exactly what tsumiki prints; check shows them on standard output,
// with its errors.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "diag/diag.hpp"
#include "diag/trace.hpp"
#include "driver/api.hpp"
#include "driver/hints.hpp"
#include "driver/place.hpp"
#include "inspect/compile_stepper.hpp"
#include "inspect/debugger.hpp"
#include "inspect/format_command.hpp"
#include "version.hpp"
#include "vm/code.hpp"
#include "vm/listing.hpp"
#include "vm/native.hpp"

namespace {

enum class Command { none, list, trace, check, run, debug, compile, format };

struct CommandName {
    const char* name;
    Command command;
};

const CommandName commands[] = {
    {"list", Command::list},     {"trace", Command::trace}, {"check", Command::check},
    {"run", Command::run},       {"debug", Command::debug}, {"compile", Command::compile},
    {"format", Command::format},
};

// What the command line asks for.
struct Request {
    Command command = Command::none;
    const char* command_text = nullptr;
    const char* path = nullptr;
    const char* input_path = nullptr;    // debug: the program's input
    TraceSwitches traces;                // the trace options given
    const char* trace_option = nullptr;  // the first of them, for an error
    const char* native_option = nullptr; // list --native
    const char* engine_option = nullptr; // run --engine=...
    const char* check_option = nullptr;  // run --check, debug --check, format --check
    std::vector<const char*> files;      // format: every file named
    const char* source_option = nullptr; // list --source
    Engine engine = Engine::standard;
};

const char* program_name = "tsumiki-inspect";

[[noreturn]] void usage_error(Msg text, const char* argument) {
    std::printf(msg(text), program_name, argument);
    std::printf(msg(MSG_I_HINT), program_name);
    std::exit(1);
}

void print_help() {
    std::printf(msg(MSG_I_USAGE), program_name);
    std::fputs(msg(MSG_I_HELP_COMMANDS), stdout);
    std::fputs(msg(MSG_I_HELP_TRACE), stdout);
    std::fputs(msg(MSG_I_HELP_ENGINE), stdout);
    std::fputs(msg(MSG_I_HELP_COMMON), stdout);
}

bool is(const char* argument, const char* name) {
    return std::strcmp(argument, name) == 0;
}

// Chooses the encoding of everything written: the last of --sjis and
// --utf8 before "--", else the one TSUMIKI_ENCODING names, else UTF-8.  A
// value of TSUMIKI_ENCODING that names none ends the process.
void choose_encoding(int argc, char** argv) {
    bool chosen = false;
    for (int i = 1; i < argc && !is(argv[i], "--"); ++i) {
        if (is(argv[i], "--sjis") || is(argv[i], "--utf8")) {
            set_encoding(is(argv[i], "--sjis") ? Encoding::cp932 : Encoding::utf8);
            chosen = true;
        }
    }
    const char* asked = std::getenv(ENCODING_VARIABLE);
    if (chosen || asked == nullptr || asked[0] == '\0') return;
    Encoding encoding = Encoding::utf8;
    if (!encoding_named(asked, encoding)) {
        std::printf(msg(MSG_BAD_ENCODING), asked);
        std::exit(1);
    }
    set_encoding(encoding);
}

// Reads the command line: options, the command and the file in any order.
// The first argument that names a command is the command, any other the
// file.  The help, the version and the encoding are looked at first, so that every
// complaint comes in the encoding asked for; then the first unusable
// option, in order, or else the first unusable argument is reported.
Request read_command_line(int argc, char** argv) {
    choose_encoding(argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (is(argv[i], "--")) break;
        if (is(argv[i], "--help") || is(argv[i], "-h")) {
            print_help();
            std::exit(0);
        }
        if (is(argv[i], "--version")) {
            std::printf(msg(MSG_I_VERSION), tsumiki_version);
            std::exit(0);
        }
    }

    Request request;
    bool options_end = false;
    const char* others[3] = {nullptr, nullptr, nullptr}; // the first arguments but the command
    int other_count = 0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!options_end && a[0] == '-' && a[1] != '\0') {
            bool trace_option = true;
            if (is(a, "--")) {
                options_end = true;
                continue;
            } else if (is(a, "--parse")) {
                request.traces.parse = true;
            } else if (is(a, "--lex")) {
                request.traces.lex = true;
            } else if (is(a, "--emit")) {
                request.traces.emit = true;
            } else if (is(a, "--run")) {
                request.traces.run = true;
            } else if (is(a, "--sjis") || is(a, "--utf8")) {
                trace_option = false;
            } else if (is(a, "--native")) {
                trace_option = false;
                request.native_option = a;
            } else if (is(a, "--source")) {
                trace_option = false;
                request.source_option = a;
            } else if (is(a, "--check")) {
                trace_option = false;
                request.check_option = a;
            } else if (std::strncmp(a, "--engine=", 9) == 0 &&
                       engine_named(a + 9, request.engine)) {
                trace_option = false;
                request.engine_option = a;
            } else {
                usage_error(MSG_I_UNKNOWN_OPTION, a);
            }
            if (trace_option && request.trace_option == nullptr) request.trace_option = a;
            continue;
        }
        if (request.command == Command::none) {
            for (const CommandName& c : commands)
                if (is(a, c.name)) request.command = c.command;
            if (request.command != Command::none) {
                request.command_text = a;
                continue;
            }
        }
        if (other_count < 3) others[other_count] = a;
        ++other_count;
        request.files.push_back(a);
    }

    if (request.command == Command::none) {
        if (other_count > 0) usage_error(MSG_I_UNKNOWN_COMMAND, others[0]);
        std::printf(msg(MSG_I_USAGE), program_name);
        std::printf(msg(MSG_I_HINT), program_name);
        std::exit(1);
    }
    if (request.trace_option != nullptr && request.command != Command::trace) {
        std::printf(msg(MSG_I_OPTION_NOT_HERE), program_name, request.trace_option,
                    request.command_text);
        std::printf(msg(MSG_I_HINT), program_name);
        std::exit(1);
    }
    const bool listing = request.command == Command::list;
    const bool running = request.command == Command::run;
    const bool debugging = request.command == Command::debug;
    const char* misplaced = request.native_option != nullptr && !listing   ? request.native_option
                            : request.source_option != nullptr && !listing ? request.source_option
                            : request.engine_option != nullptr && !running &&
                                    !(listing && request.native_option != nullptr)
                                ? request.engine_option
                            : request.check_option != nullptr && !running && !debugging &&
                                    request.command != Command::format
                                ? request.check_option
                                : nullptr;
    if (misplaced != nullptr) {
        std::printf(msg(MSG_I_OPTION_NOT_HERE), program_name, misplaced, request.command_text);
        std::printf(msg(MSG_I_HINT), program_name);
        std::exit(1);
    }
    // The interpreter makes no machine code to list.
    if (listing && request.engine_option != nullptr && request.engine == Engine::interpreter)
        usage_error(MSG_I_NO_MACHINE_CODE, request.engine_option);
    if (other_count == 0) usage_error(MSG_I_NO_SOURCE, "");
    // format takes any number of files.
    if (request.command == Command::format) return request;
    // debug takes the program's input as a second file.
    int files = request.command == Command::debug ? 2 : 1;
    if (other_count > files)
        usage_error(files == 2 ? MSG_I_EXTRA_DEBUG_ARGUMENT : MSG_I_EXTRA_ARGUMENT, others[files]);
    request.path = others[0];
    if (other_count > 1) request.input_path = others[1];
    // Without --engine, `run` takes the engine TSUMIKI_ENGINE names, as
    // tsumiki does.
    if (request.command == Command::run && request.engine_option == nullptr) {
        const char* named = std::getenv(ENGINE_VARIABLE);
        if (!engine_named(named, request.engine)) {
            std::printf(msg(MSG_ENGINE_UNKNOWN), named);
            std::exit(1);
        }
    }
    return request;
}

// Prints where in the file at `path` the error was found, after its
// message: the heading, and the source line with a caret when the file can
// be read again.  For a compile error, also the hint, if any.
void show_location(const char* path, SourcePos where, Msg heading,
                   const Compiled* compile_error = nullptr) {
    std::string source;
    std::optional<std::string_view> text;
    if (read_source(path, source)) text = source;
    std::string out = show_place(path, where, heading, text, current_encoding());
    if (compile_error != nullptr && text)
        out += hint_for(source, compile_error->error, compile_error->error_text, where,
                        current_encoding());
    std::fwrite(out.data(), 1, out.size(), stdout);
}

// Compiles as tsumiki does, with the traces asked for; an error ends the
// process with its message (and, for `check`, the place it was found).
Compiled compile(const Request& request, const TraceSwitches& traces) {
    CompileOptions options;
    options.encoding = current_encoding();
    options.traces = traces;
    options.large_stack = true;
    options.warnings = request.command != Command::trace;
    options.checks = request.check_option != nullptr;
    Compiled compiled = compile_file(request.path, options);
    if (compiled.error == ErrorKind::none) {
        std::FILE* out = request.command == Command::check ? stdout : stderr;
        std::string source;
        std::optional<std::string_view> text;
        if (!compiled.warnings.empty() && read_source(request.path, source)) text = source;
        for (const Warning& w : compiled.warnings) {
            std::string shown =
                show_warning(request.path, w.where, w.message, text, current_encoding());
            std::fwrite(shown.data(), 1, shown.size(), out);
        }
        if (out == stderr) std::fflush(stderr);
        return compiled;
    }
    if (request.command == Command::check && compiled.error != ErrorKind::open) {
        // The message, then on the next line where it was found: without
        // the empty line that ends some messages on standard output.
        std::string_view message = compiled.message;
        while (message.size() > 1 && message.substr(message.size() - 2) == "\n\n")
            message.remove_suffix(1);
        std::fwrite(message.data(), 1, message.size(), stdout);
        show_location(request.path, compiled.where, MSG_I_POSITION, &compiled);
    } else {
        std::fwrite(compiled.message.data(), 1, compiled.message.size(), stdout);
    }
    finish_process("", 1);
}

// Every line of `text`, indented under an instruction of the listing.
void print_indented(const std::string& text) {
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        text_printf("        %.*s\n", static_cast<int>(end - from), text.data() + from);
        from = end + 1;
    }
}

// The listing with, under each instruction, the machine instructions the
// native tier makes for it, and before and after them the code that enters
// and leaves the machine code.
void list_with_native(bool with_source) {
#if TSUMIKI_NATIVE
    NativeListing native = list_native();
    if (native.instructions.size() == static_cast<std::size_t>(cx)) {
        text_printf("%s", msg(MSG_LIST_HEADING));
        text_printf("%s", msg(MSG_I_NATIVE_ENTRY));
        print_indented(native.entry);
        for (int i = 0; i < cx; ++i) {
            if (with_source) list_source_before(i);
            text_printf(msg(MSG_LIST_LINE), i, mnemonic(code[i].op), code[i].l, code[i].a);
            print_indented(native.instructions[static_cast<std::size_t>(i)]);
        }
        text_printf("%s", msg(MSG_I_NATIVE_EXITS));
        print_indented(native.exits);
        text_printf("%s", msg(MSG_LIST_END));
        return;
    }
#else
    (void)with_source;
#endif
    // Nothing to show: no native tier here, or an empty store.
    list_code();
    text_printf("%s", msg(MSG_I_NO_NATIVE));
}

// The listing (with the source lines, for --source), then the machine code
// the optimising tier makes of the whole program, routine by routine.
void list_with_optimised(bool with_source, const std::string& source) {
    if (with_source)
        list_code_with_source(source);
    else
        list_code();
    std::string why;
    std::string text = list_optimised(why);
    if (text.empty()) {
        text_printf("%s", msg(MSG_I_NO_OPTIMISED));
        return;
    }
    text_printf("%s", msg(MSG_I_OPTIMISED));
    print_indented(text);
}

// Runs the compiled program as tsumiki does, with the run trace if asked.
// A run-time error is followed by the place in the source of the
// instruction that failed (of the call, for a stack overflow) and its hint.
void run(const Request& request, const Compiled& compiled, bool trace, Engine engine) {
    RunOptions options;
    options.encoding = current_encoding();
    options.trace = trace;
    options.engine = engine;
    options.check = request.check_option != nullptr;
    RunResult result = run_program(options);
    switch (result.end) {
    case RunEnd::halted: return;
    case RunEnd::runtime_error: {
        std::fwrite(result.message.data(), 1, result.message.size(), stdout);
        // A stack overflow is shown at the call that made the innermost frame.
        const std::int32_t pc = result.call_pc >= 0 ? result.call_pc : result.pc;
        if (pc >= 0 && static_cast<std::size_t>(pc) < compiled.code_pos.size())
            show_location(request.path, compiled.code_pos[static_cast<std::size_t>(pc)],
                          MSG_I_RUN_POSITION);
        const std::string hint = run_hint(result, current_encoding());
        std::fwrite(hint.data(), 1, hint.size(), stdout);
        finish_process("", 1);
    }
    case RunEnd::check_failed:
        std::fwrite(result.message.data(), 1, result.message.size(), stdout);
        show_location(request.path, result.where, MSG_I_CHECK_POSITION);
        finish_process("", 1);
    case RunEnd::output_failed:
    case RunEnd::budget_spent:
    case RunEnd::stopped: break;
    }
    end_output_failed();
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 0 && argv[0] != nullptr) program_name = argv[0];
    set_encoding(Encoding::utf8);
    Request request = read_command_line(argc, argv);

    switch (request.command) {
    case Command::list: {
        compile(request, TraceSwitches{});
        // The source as compiled, for --source; a file that can't be read
        // twice (a pipe) gets the listing alone.
        std::string source;
        const bool with_source =
            request.source_option != nullptr && read_source(request.path, source);
        if (with_source) begin_source_listing(source);
        // --native shows the machine code of the engine --engine names:
        // the native tier's by default, or the optimising tier's.
        const Engine shown = request.engine_option != nullptr ? request.engine : Engine::native;
        if (request.native_option != nullptr && shown == Engine::optimising) {
            list_with_optimised(with_source, source);
        } else if (request.native_option != nullptr)
            list_with_native(with_source);
        else if (with_source)
            list_code_with_source(source);
        else
            list_code();
        break;
    }
    case Command::trace: {
        TraceSwitches on = request.traces;
        if (!on.parse && !on.lex && !on.emit && !on.run) on = TraceSwitches{true, true, true, true};
        run(request, compile(request, on), on.run, Engine::interpreter);
        break;
    }
    case Command::check: {
        const Compiled compiled = compile(request, TraceSwitches{});
        // Silence is success for a script; a person at a terminal is told.
        if (isatty(STDERR_FILENO) != 0) {
            std::fflush(stdout);
            if (compiled.warnings.empty())
                std::fprintf(stderr, msg(MSG_I_CHECK_CLEAN), request.path);
            else
                std::fprintf(stderr, msg(MSG_I_CHECK_CLEAN_WARNINGS), request.path,
                             static_cast<int>(compiled.warnings.size()));
        }
        break;
    }
    case Command::run:
        run(request, compile(request, TraceSwitches{}), false, request.engine);
        break;
    case Command::debug:
        finish_process(
            "", run_debugger(request.path, request.input_path, request.check_option != nullptr));
    case Command::compile: finish_process("", run_compile_stepper(request.path));
    case Command::format: run_format(request.files, request.check_option != nullptr);
    case Command::none: break;
    }
    finish_process("", 0);
}
