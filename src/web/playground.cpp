// The playground's way into the compiler and the machine: a handful of C
// functions that the page's worker (worker.js) calls in the WebAssembly
// module.  Text goes back to JavaScript as UTF-8 bytes through one callback,
// tagged with the pane it belongs to; each call starts from a clean state
// (driver/api.hpp), so one module serves run after run.
//
//   tsu_compile(source, n)   compiles; 0, or the ErrorKind of the error
//   tsu_program()            the program compiled last, as JSON (program_json.hpp)
//   tsu_run(input, n, trace, check)
//                            runs it with that input, checked if `check` is
//                            not 0 (vm/check.hpp); the RunEnd's name
//                            (run_end_name: "halted", ...).  Every
//                            PULSE_EVERY instructions the trace held back
//                            goes out and the worker is called
//                            (Module.onPulse) to send what it holds.  The
//                            number each read takes goes to the worker
//                            (Module.onEcho) right after its prompt's text,
//                            for the page to show it there.
//   tsu_steps()              the instructions the last run began (its
//                            RunResult::steps), for the worker's report
//   tsu_nesting_message()    sets it to that of a program nested too deeply
//   tsu_message()            the last error's text (empty without one)
//   tsu_line(), tsu_column() where the last error was found; 0 when unknown
//   tsu_hint()               the hint for the last error, as tsumiki-inspect
//                            check gives it (a run's: an endless recursion);
//                            empty if none
//   tsu_warnings()           the warnings of the program compiled last, one
//                            "LINE:COLUMN: 警告: TEXT" line each
#include <emscripten/emscripten.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "debug/program.hpp"
#include "driver/api.hpp"
#include "driver/hints.hpp"
#include "program_json.hpp"
#include "vm/code.hpp"
#include "vm/listing.hpp"

namespace {

// The panes a piece of text goes to.
enum Pane : int { PANE_OUTPUT = 0, PANE_LISTING = 1, PANE_TRACE = 2 };

// The trace of a run may be endless: the pane gets this many lines, then
// one mark that the rest was left out.
constexpr int TRACE_MAX_LINES = 2000;

// How deep a program may nest here, in the parser's depth (a pair of
// parentheses three, a nested statement one or two): see tsu_compile.
constexpr int PLAYGROUND_DEPTH_MAX = 2000;

// What the last call left for the page to ask about.
std::string last_message;
SourcePos last_where{};
std::vector<SourcePos> last_code_pos; // per instruction of the last program
ProgramMap last_map;                  // the last program, for tsu_program
std::string last_json;
std::string last_source; // the last program's text
std::string last_hint;
std::string last_warnings;
std::uint64_t last_steps = 0;

int trace_lines = 0;
// The trace comes in many small pieces: they go to the worker in batches.
std::string trace_batch;
constexpr std::size_t TRACE_BATCH_BYTES = 16 << 10;

// A warning as tsumiki-inspect shows its first line, "FILE:LINE:COLUMN:
// 警告: TEXT", without the file.
std::string warning_line(const Warning& w) {
    const char* format = msg_in(MSG_I_WARNING, Encoding::utf8);
    const int n =
        std::snprintf(nullptr, 0, format, "", w.where.line, w.where.column, w.message.c_str());
    std::string text(static_cast<std::size_t>(n > 0 ? n : 0) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, "", w.where.line, w.where.column,
                  w.message.c_str());
    text.pop_back();
    // No file: the ":" after its name goes too.
    return text.empty() ? text : text.substr(1);
}

// How often a run hands on what is held back, in instructions: well under a
// millisecond of the plain loop here, and too seldom to slow it.
constexpr std::uint64_t PULSE_EVERY = 10000;

} // namespace

// Hands n bytes for a pane to the worker (worker.js: Module.onText).
EM_JS(void, send_text, (int pane, const char* bytes, std::size_t n),
      { Module.onText(pane, HEAPU8.subarray(bytes, bytes + n)); });

// Hands the number a read took to the worker, after the output before it
// (worker.js: Module.onEcho).
EM_JS(void, send_echo, (std::int32_t number), { Module.onEcho(number); });

// Lets the worker send on the text it holds back (worker.js: Module.onPulse).
EM_JS(void, pulse_worker, (), { Module.onPulse(); });

namespace {

bool write_pane(void* context, const char* bytes, std::size_t n) {
    send_text(static_cast<int>(reinterpret_cast<std::intptr_t>(context)), bytes, n);
    return true;
}

Writer pane_writer(Pane pane) {
    return Writer{write_pane, reinterpret_cast<void*>(static_cast<std::intptr_t>(pane))};
}

void echo_read(void*, std::int32_t number) {
    send_echo(number);
}

void send_trace_batch() {
    if (trace_batch.empty()) return;
    send_text(PANE_TRACE, trace_batch.data(), trace_batch.size());
    trace_batch.clear();
}

// The run's pulse: the machine has delivered its output; the trace follows,
// then the worker may send both on.
void pulse(void*) {
    send_trace_batch();
    pulse_worker();
}

// Passes the trace on up to its last permitted line, then drops it.
bool write_trace(void*, const char* bytes, std::size_t n) {
    std::size_t kept = 0;
    while (kept < n && trace_lines < TRACE_MAX_LINES) {
        if (bytes[kept++] == '\n') ++trace_lines;
    }
    trace_batch.append(bytes, kept);
    if (kept < n && trace_lines == TRACE_MAX_LINES) {
        ++trace_lines; // said once
        trace_batch += "...\n";
        // The rest of the run goes at full speed.
        trace_on.run = false;
    }
    if (trace_batch.size() >= TRACE_BATCH_BYTES) send_trace_batch();
    return true;
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE int tsu_compile(const char* source, std::size_t n) {
    CompileOptions options;
    options.encoding = Encoding::utf8;
    // No threads here: the compiler measures the module's own stack.
    options.large_stack = false;
    options.stack_bytes = 0;
    // The browser runs the module's calls on a native stack of its own,
    // which deep nesting exhausts long before the module's: at about 2,000
    // nested parentheses in Chromium, fewer for larger frames.  A third of
    // that keeps every construct clear of it.
    options.max_depth = PLAYGROUND_DEPTH_MAX;
    options.names = true; // the listing names the cells of each frame
    // The warnings, and what a checked run looks at, cost the compile little.
    options.warnings = true;
    options.checks = true;
    last_source.assign(source, n);
    Compiled compiled = compile_text(last_source, options);
    if (compiled.error == ErrorKind::none) last_map = map_program(compiled, last_source);
    last_message = compiled.message;
    last_where = compiled.error == ErrorKind::none ? SourcePos{} : compiled.where;
    last_code_pos = std::move(compiled.code_pos);
    last_hint.clear();
    if (compiled.error != ErrorKind::none)
        last_hint = hint_for(last_source, compiled.error, compiled.error_text, compiled.where,
                             Encoding::utf8);
    last_warnings.clear();
    for (const Warning& w : compiled.warnings)
        last_warnings += warning_line(w);
    return static_cast<int>(compiled.error);
}

EMSCRIPTEN_KEEPALIVE const char* tsu_program() {
    last_json = program_json(last_map);
    return last_json.c_str();
}

EMSCRIPTEN_KEEPALIVE const char* tsu_run(const char* input, std::size_t n, int trace, int check) {
    std::string_view rest(input, n);
    RunOptions options;
    options.encoding = Encoding::utf8;
    options.input = view_reader(rest);
    options.output = pane_writer(PANE_OUTPUT);
    options.output_by_line = true; // the page shows each line as it comes
    options.trace = trace != 0;
    options.trace_out = Writer{write_trace, nullptr};
    options.check = check != 0;
    options.pulse = Pulse{pulse, nullptr, PULSE_EVERY};
    options.echo = ReadEcho{echo_read, nullptr};
    trace_lines = 0;
    trace_batch.clear();
    RunResult result = run_program(options);
    send_trace_batch();
    last_steps = result.steps;
    last_message = result.message;
    last_where = SourcePos{};
    // A stack overflow is placed at the call that overflowed.
    const std::int32_t pc = result.call_pc >= 0 ? result.call_pc : result.pc;
    if (result.end == RunEnd::runtime_error && pc >= 0 &&
        static_cast<std::size_t>(pc) < last_code_pos.size())
        last_where = last_code_pos[static_cast<std::size_t>(pc)];
    if (result.end == RunEnd::check_failed) last_where = result.where;
    last_hint = run_hint(result, Encoding::utf8);
    return run_end_name(result.end);
}

// A double holds every count a run can reach in the page exactly (up to
// 2^53), and JavaScript takes it as a plain number.
EMSCRIPTEN_KEEPALIVE double tsu_steps() {
    return static_cast<double>(last_steps);
}

// Sets the last message to the compiler's for a program nested too deeply,
// for the worker to keep in case the browser's own stack runs out first.
EMSCRIPTEN_KEEPALIVE void tsu_nesting_message() {
    last_message = fatal_message(Fatal{FatalKind::syntax, MSG_NESTING_TOO_DEEP}, Encoding::utf8);
    last_where = SourcePos{};
    last_hint.clear();
}

EMSCRIPTEN_KEEPALIVE const char* tsu_message() {
    return last_message.c_str();
}

EMSCRIPTEN_KEEPALIVE int tsu_line() {
    return last_where.line;
}

EMSCRIPTEN_KEEPALIVE int tsu_column() {
    return last_where.column;
}

EMSCRIPTEN_KEEPALIVE const char* tsu_hint() {
    return last_hint.c_str();
}

EMSCRIPTEN_KEEPALIVE const char* tsu_warnings() {
    return last_warnings.c_str();
}

} // extern "C"
