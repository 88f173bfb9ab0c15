#include "driver/api.hpp"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "driver/large_stack.hpp"
#include "driver/reset.hpp"
#include "lexer/lexer.hpp"
#include "lexer/reader.hpp"
#include "parser/blocks.hpp"
#include "parser/warnings.hpp"
#include "symtab/names.hpp"
#include "vm/check.hpp"
#include "vm/code.hpp"
#include "vm/engine.hpp"
#include "vm/frame.hpp"
#include "vm/machine.hpp"
#include "vm/run.hpp"
#include "vm/runtime.hpp"

namespace {

// What the compile phase reads: a file opened already, or a text.
std::FILE* pending_file = nullptr;
std::string_view pending_text;

// The outcome of the compile phase, filled by whichever thread compiled.
Fatal compile_failure{};
bool compile_failed = false;

void compile_phase() {
    try {
        // Reading the first character may already meet the end of the file.
        // The reader owns the file from here on (close_source closes it).
        std::FILE* file = pending_file;
        pending_file = nullptr;
        if (file != nullptr)
            open_source_stream(file);
        else
            open_source_memory(pending_text.data(), pending_text.size());
        parse_program();
    } catch (const Fatal& fatal) {
        compile_failure = fatal;
        compile_failed = true;
    }
}

void begin_compile(const CompileOptions& options) {
    reset_state();
    set_encoding(options.encoding);
    // Warnings and check points point at places; warnings find what is
    // never assigned in the record of names.
    positions_on = options.positions || options.warnings || options.checks;
    names_on = options.names || options.warnings;
    warnings_on = options.warnings;
    check_points_on = options.checks;
    parser_depth_limit = options.max_depth;
    if constexpr (trace_built) {
        trace_on = options.traces;
        trace_on.run = false;
    }
    text_out = options.trace_out;
    compile_failed = false;
}

// What a compile sets for itself, put back however it ends (an exception
// from the caller's trace writer included): the source closed, no traces,
// no record of names, no warnings, no nesting limit, the text to standard
// output.
class CompileSettings {
  public:
    explicit CompileSettings(const CompileOptions& options) { begin_compile(options); }
    CompileSettings(const CompileSettings&) = delete;
    CompileSettings& operator=(const CompileSettings&) = delete;
    ~CompileSettings() {
        close_source();
        parser_stack_limit = 0;
        if constexpr (trace_built) trace_on = TraceSwitches{};
        text_out = Writer{};
        names_on = false;
        warnings_on = false;
        check_points_on = false;
    }
};

// Compiles the pending source and collects what the options ask for.
Compiled compile(const CompileOptions& options) {
    if (options.large_stack) {
        run_on_large_stack(compile_phase);
    } else {
        limit_nesting_here(options.stack_bytes);
        compile_phase();
    }
    Compiled result;
    if (compile_failed) {
        result.error =
            compile_failure.kind == FatalKind::lexical ? ErrorKind::lexical : ErrorKind::syntax;
        result.message = fatal_message(compile_failure, options.encoding);
        result.error_text = compile_failure.text;
        if (options.positions) result.where = token_pos;
    } else if (options.warnings) {
        finish_warnings();
        for (WarningRecord& w : warning_records)
            result.warnings.push_back(Warning{w.pos, w.text, std::move(w.message)});
    }
    result.code_size = cx;
    if (options.positions) {
        result.code_pos.assign(code_pos, code_pos + cx);
        result.code_range.assign(code_range, code_range + cx);
        result.statements.assign(statement_spans, statement_spans + statement_count);
    }
    if (options.names) {
        for (const NameRecord& r : name_records) {
            Declaration d;
            d.name = r.name;
            d.kind = r.kind;
            d.parameter = r.parameter;
            d.level = r.level;
            d.offset = r.offset;
            d.low = r.low;
            d.high = static_cast<std::int32_t>(static_cast<std::uint32_t>(r.low) +
                                               static_cast<std::uint32_t>(r.size) - 1u);
            if (r.kind != SYM_ARRAY) d.high = 0;
            d.params = r.params;
            d.parent = r.parent;
            d.pos = r.pos;
            d.end = r.end;
            d.code_first = r.code_first;
            d.code_last = r.code_last;
            result.declarations.push_back(std::move(d));
        }
        for (const NameUseRecord& u : name_uses)
            result.uses.push_back(NameUse{u.pos, u.length, u.declaration});
    }
    return result;
}

} // namespace

CompileOptions utf8_compile_options() {
    CompileOptions o;
    o.encoding = Encoding::utf8;
    o.stack_bytes = 0;
    o.large_stack = false;
    return o;
}

Compiled compile_text(std::string_view source, const CompileOptions& options) {
    CompileSettings settings(options);
    pending_text = source;
    return compile(options);
}

Compiled compile_file(const char* path, const CompileOptions& options) {
    CompileSettings settings(options);
    pending_file = open_source_file(path);
    if (pending_file == nullptr) {
        Compiled result;
        result.error = ErrorKind::open;
        result.message = format_message(msg_in(MSG_OPEN_FAILED, options.encoding), path) +
                         format_message(msg_in(MSG_OPEN_FAILED_DRIVER, options.encoding), path);
        return result;
    }
    return compile(options);
}

namespace {

// After a stack overflow: the routine frames from b down the dynamic links,
// each made by the CUP just before its return address.  The walk trusts no
// cell: it stops at a link that does not lead down the stack or a return
// address that follows no CUP.
void record_calls(RunResult& result) {
    for_each_frame(s, b, [&](std::int64_t frame) {
        if (frame == 0 || result.call_depth >= STACK_SIZE) return false; // the main program's
        const std::int32_t back = return_address_of(s, frame);
        if (back < 1 || back > cx || code[back - 1].op != CUP) return false;
        if (result.call_pc < 0) result.call_pc = back - 1;
        if (code[back - 1].a == code[result.call_pc].a) ++result.recursion_depth;
        ++result.call_depth;
        return true;
    });
}

// The machine's setup of a run made with `options`.
RunSetup setup_of(const RunOptions& options) {
    RunSetup setup;
    setup.output = options.output;
    setup.input = options.input;
    // Writing to a terminal, every line goes out as it is written.
    setup.by_line =
        options.output_by_line || (options.output.write == nullptr && isatty(STDOUT_FILENO) != 0);
    setup.trace = options.trace;
    setup.trace_out = options.trace_out;
    setup.budget = options.budget;
    setup.stop = options.stop;
    setup.check = options.check;
    setup.pulse = options.pulse;
    setup.echo = options.echo;
    setup.engine = options.engine;
    return setup;
}

} // namespace

RunResult run_program(const RunOptions& options) {
    set_encoding(options.encoding);
    RunEnding ending = run_machine(setup_of(options));

    RunResult result;
    if (!ending.halted) {
        const FatalKind kind = ending.fatal.kind;
        result.end = kind == FatalKind::budget_spent    ? RunEnd::budget_spent
                     : kind == FatalKind::stopped       ? RunEnd::stopped
                     : kind == FatalKind::output_failed ? RunEnd::output_failed
                     : kind == FatalKind::check_failed  ? RunEnd::check_failed
                                                        : RunEnd::runtime_error;
        if (kind == FatalKind::check_failed) {
            result.message = format_message(msg_in(MSG_C_STOPPED, options.encoding),
                                            check_message(options.encoding).c_str());
            result.where = check_stop.point.where;
        } else {
            result.message = fatal_message(ending.fatal, options.encoding);
            if (ending.fatal.text == MSG_STACK_OVERFLOW) record_calls(result);
        }
    }
    result.pc = ir_pc;
    // Only a watched run counts (the fast loops do not); the plain loop,
    // and the native tier under a budget, count from the start.
    bool watched = options.trace || options.budget != 0 || options.stop != nullptr ||
                   options.pulse.call != nullptr;
    if (trace_built && watched) result.steps = instructions_run;
    return result;
}

bool prepare_runs(const RunOptions& options) {
    return prepare_engine(options.engine, watch_of(setup_of(options)));
}

const char* run_end_name(RunEnd end) {
    switch (end) {
    case RunEnd::halted: return "halted";
    case RunEnd::runtime_error: return "runtime_error";
    case RunEnd::budget_spent: return "budget_spent";
    case RunEnd::stopped: return "stopped";
    case RunEnd::output_failed: return "output_failed";
    case RunEnd::check_failed: return "check_failed";
    }
    return "unknown";
}

std::span<const char* const> language_keywords() {
    return keywords;
}

bool is_keyword(std::string_view word) {
    for (std::string_view k : language_keywords())
        if (word == k) return true;
    return false;
}

namespace {

// What steps_before_output_byte watches: the bytes written so far and the
// instructions begun, told by the pulse before every instruction, once
// the output of those before it has been written.
struct ByteWatch {
    std::uint64_t byte = 0;
    std::uint64_t written = 0;
    std::uint64_t begun = 0;
    std::optional<std::uint64_t> found;
    std::atomic<bool> stop{false};
};

bool count_bytes(void* context, const char* bytes, std::size_t n) {
    (void)bytes;
    static_cast<ByteWatch*>(context)->written += n;
    return true;
}

void before_instruction(void* context) {
    auto* watch = static_cast<ByteWatch*>(context);
    ++watch->begun;
    // The instruction before this one wrote the byte: begun - 2 ran before it.
    if (!watch->found && watch->written > watch->byte && watch->begun >= 2) {
        watch->found = watch->begun - 2;
        watch->stop.store(true, std::memory_order_relaxed);
    }
}

} // namespace

std::optional<std::uint64_t> steps_before_output_byte(const RunOptions& options,
                                                      std::uint64_t byte) {
    ByteWatch watch;
    watch.byte = byte;
    RunOptions counted = options;
    counted.output = Writer{count_bytes, &watch};
    counted.output_by_line = false;
    counted.trace = false;
    counted.check = false;
    counted.stop = &watch.stop;
    counted.pulse = Pulse{before_instruction, &watch, 1};
    counted.echo = ReadEcho{};
    counted.engine = Engine::interpreter;
    RunResult result = run_program(counted);
    // The last instruction's output is written as the run ends.
    if (!watch.found && watch.written > byte && result.steps > 0) watch.found = result.steps - 1;
    return watch.found;
}

std::vector<std::int32_t> numbers_read(std::string_view input, std::size_t most) {
    return numbers_in(input, most);
}

void end_output_failed() {
    std::fputs(msg(MSG_OUTPUT_FAILED), stderr);
    std::_Exit(1);
}

void finish_process(const std::string& text, int status, std::string_view note) {
    bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    if (std::fflush(stdout) != 0 || !written || std::ferror(stdout) != 0) end_output_failed();
    if (!note.empty()) {
        std::fwrite(note.data(), 1, note.size(), stderr);
        std::fflush(stderr);
    }
    std::exit(status);
}
