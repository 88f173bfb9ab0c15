// tsumiki-inspect COMMAND [OPTION...] SOURCE: shows how a program becomes
// stack code and how the machine runs it.
//
//   list   compiles and prints the code store, without running it (with
//          --native, each instruction's machine code under it)
//   trace  compiles and runs with the trace hooks printing
//   check  compiles only; an error also shows where in the source it was found
//   run    compiles and runs, exactly as tsumiki does (--engine=native or
//          --engine=interpreter chooses the machine)
//
// It is built from the same sources as tsumiki, with the trace hooks
// compiled in, and writes UTF-8 unless told to write Shift_JIS.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "diag/diag.hpp"
#include "diag/trace.hpp"
#include "driver/api.hpp"
#include "inspect/location.hpp"
#include "vm/code.hpp"
#include "vm/native.hpp"

namespace {

enum class Command { none, list, trace, check, run };

struct CommandName {
    const char* name;
    Command command;
};

const CommandName commands[] = {
    {"list", Command::list},
    {"trace", Command::trace},
    {"check", Command::check},
    {"run", Command::run},
};

// What the command line asks for.
struct Request {
    Command command = Command::none;
    const char* command_text = nullptr;
    const char* path = nullptr;
    TraceSwitches traces;               // the trace options given
    const char* trace_option = nullptr; // the first of them, for an error
    const char* native_option = nullptr; // list --native
    const char* engine_option = nullptr; // run --engine=...
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

// Reads the command line.  The help and the encoding options are looked at
// first, so that every complaint comes in the encoding asked for; then the
// first unusable argument, in order, is reported.
Request read_command_line(int argc, char** argv) {
    bool options_end = false;
    for (int i = 1; i < argc && !options_end; ++i) {
        if (is(argv[i], "--"))
            options_end = true;
        else if (is(argv[i], "--sjis"))
            set_encoding(Encoding::cp932);
        else if (is(argv[i], "--utf8"))
            set_encoding(Encoding::utf8);
    }
    for (int i = 1; i < argc; ++i) {
        if (is(argv[i], "--")) break;
        if (is(argv[i], "--help") || is(argv[i], "-h")) {
            print_help();
            std::exit(0);
        }
    }

    Request request;
    options_end = false;
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
            } else if (is(a, "--engine=native") || is(a, "--engine=interpreter")) {
                trace_option = false;
                request.engine_option = a;
                request.engine = is(a, "--engine=native") ? Engine::native : Engine::interpreter;
            } else {
                usage_error(MSG_I_UNKNOWN_OPTION, a);
            }
            if (trace_option && request.trace_option == nullptr) request.trace_option = a;
        } else if (request.command == Command::none) {
            for (const CommandName& c : commands)
                if (is(a, c.name)) request.command = c.command;
            if (request.command == Command::none) usage_error(MSG_I_UNKNOWN_COMMAND, a);
            request.command_text = a;
        } else if (request.path == nullptr) {
            request.path = a;
        } else {
            usage_error(MSG_I_EXTRA_ARGUMENT, a);
        }
    }

    if (request.command == Command::none) {
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
    const char* misplaced = request.native_option != nullptr && request.command != Command::list
                                ? request.native_option
                            : request.engine_option != nullptr && request.command != Command::run
                                ? request.engine_option
                                : nullptr;
    if (misplaced != nullptr) {
        std::printf(msg(MSG_I_OPTION_NOT_HERE), program_name, misplaced, request.command_text);
        std::printf(msg(MSG_I_HINT), program_name);
        std::exit(1);
    }
    if (request.path == nullptr) usage_error(MSG_I_NO_SOURCE, "");
    return request;
}

// Ends the process after one text on standard output; output that can't be
// written is reported on standard error.
[[noreturn]] void finish(const std::string& text, int status) {
    bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    if (std::fflush(stdout) != 0 || !written || std::ferror(stdout) != 0) {
        std::fputs(msg(MSG_OUTPUT_FAILED), stderr);
        std::_Exit(1);
    }
    std::exit(status);
}

// Compiles as tsumiki does, with the traces asked for; an error ends the
// process with its message (and, for `check`, the place it was found).
void compile(const Request& request, const TraceSwitches& traces) {
    CompileOptions options;
    options.encoding = current_encoding();
    options.traces = traces;
    options.large_stack = true;
    Compiled compiled = compile_file(request.path, options);
    if (compiled.error == ErrorKind::none) return;
    std::fwrite(compiled.message.data(), 1, compiled.message.size(), stdout);
    if (request.command == Command::check && compiled.error != ErrorKind::open)
        show_location(request.path, compiled.where);
    finish("", 1);
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
void list_with_native() {
#if TSUMIKI_NATIVE
    NativeListing native = list_native();
    if (native.instructions.size() == static_cast<std::size_t>(cx)) {
        text_printf("%s", msg(MSG_LIST_HEADING));
        text_printf("%s", msg(MSG_I_NATIVE_ENTRY));
        print_indented(native.entry);
        for (int i = 0; i < cx; ++i) {
            text_printf(msg(MSG_LIST_LINE), i, mnemonic(code[i].op), code[i].l, code[i].a);
            print_indented(native.instructions[static_cast<std::size_t>(i)]);
        }
        text_printf("%s", msg(MSG_I_NATIVE_EXITS));
        print_indented(native.exits);
        text_printf("%s", msg(MSG_LIST_END));
        return;
    }
#endif
    // Nothing to show: no native tier here, or an empty store.
    list_code();
    text_printf("%s", msg(MSG_I_NO_NATIVE));
}

// Runs the compiled program as tsumiki does, with the run trace if asked.
void run(bool trace, Engine engine) {
    RunOptions options;
    options.encoding = current_encoding();
    options.trace = trace;
    options.engine = engine;
    RunResult result = run_program(options);
    switch (result.end) {
    case RunEnd::halted: return;
    case RunEnd::runtime_error: finish(result.message, 1);
    case RunEnd::output_failed:
    case RunEnd::budget_spent:
    case RunEnd::stopped: break;
    }
    std::fputs(msg(MSG_OUTPUT_FAILED), stderr);
    std::_Exit(1);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 0 && argv[0] != nullptr) program_name = argv[0];
    set_encoding(Encoding::utf8);
    Request request = read_command_line(argc, argv);

    switch (request.command) {
    case Command::list:
        compile(request, TraceSwitches{});
        if (request.native_option != nullptr)
            list_with_native();
        else
            list_code();
        break;
    case Command::trace: {
        TraceSwitches on = request.traces;
        if (!on.parse && !on.lex && !on.emit && !on.run) on = TraceSwitches{true, true, true, true};
        compile(request, on);
        run(on.run, Engine::interpreter);
        break;
    }
    case Command::check: compile(request, TraceSwitches{}); break;
    case Command::run:
        compile(request, TraceSwitches{});
        run(false, request.engine);
        break;
    case Command::none: break;
    }
    finish("", 0);
}
