#include "driver/api.hpp"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "driver/large_stack.hpp"
#include "driver/reset.hpp"
#include "lexer/reader.hpp"
#include "parser/blocks.hpp"
#include "symtab/names.hpp"
#include "vm/code.hpp"
#include "vm/engine.hpp"
#include "vm/machine.hpp"
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
        if (pending_file != nullptr)
            open_source_stream(pending_file);
        else
            open_source_memory(pending_text.data(), pending_text.size());
        pending_file = nullptr;
        parse_program();
    } catch (const Fatal& fatal) {
        compile_failure = fatal;
        compile_failed = true;
    }
}

void begin_compile(const CompileOptions& options) {
    reset_state();
    set_encoding(options.encoding);
    positions_on = options.positions;
    names_on = options.names;
    parser_depth_limit = options.max_depth;
    if constexpr (trace_built) {
        trace_on = options.traces;
        trace_on.run = false;
    }
    text_out = options.trace_out;
    compile_failed = false;
}

// Compiles the pending source and collects what the options ask for.
Compiled compile(const CompileOptions& options) {
    if (options.large_stack) {
        run_on_large_stack(compile_phase);
    } else {
        limit_nesting_here(options.stack_bytes);
        compile_phase();
        parser_stack_limit = 0;
    }
    close_source();
    if constexpr (trace_built) trace_on = TraceSwitches{};
    text_out = Writer{};
    Compiled result;
    if (compile_failed) {
        result.error =
            compile_failure.kind == FatalKind::lexical ? ErrorKind::lexical : ErrorKind::syntax;
        result.message = fatal_message(compile_failure, options.encoding);
        result.error_text = compile_failure.text;
        if (options.positions) result.where = token_pos;
    }
    result.code_size = cx;
    if (options.positions) result.code_pos.assign(code_pos, code_pos + cx);
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
    names_on = false;
    return result;
}

} // namespace

Compiled compile_text(std::string_view source, const CompileOptions& options) {
    begin_compile(options);
    pending_text = source;
    return compile(options);
}

Compiled compile_file(const char* path, const CompileOptions& options) {
    begin_compile(options);
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

RunResult run_program(const RunOptions& options) {
    set_encoding(options.encoding);
    reset_machine();
    if constexpr (trace_built) {
        trace_on = TraceSwitches{};
        trace_on.run = options.trace;
    }
    text_out = options.trace_out;
    instruction_budget = options.budget;
    stop_flag = options.stop;
    instructions_run = 0;
    // Writing to a terminal, every line goes out as it is written.
    bool by_line =
        options.output_by_line || (options.output.write == nullptr && isatty(STDOUT_FILENO) != 0);
    begin_io(options.output, options.input, by_line);

    RunResult result;
    bool watched = options.trace || options.budget != 0 || options.stop != nullptr;
    try {
        run_on_engine(options.engine, watched);
        flush_output();
    } catch (const Fatal& fatal) {
        result.end = fatal.kind == FatalKind::budget_spent    ? RunEnd::budget_spent
                     : fatal.kind == FatalKind::stopped       ? RunEnd::stopped
                     : fatal.kind == FatalKind::output_failed ? RunEnd::output_failed
                                                              : RunEnd::runtime_error;
        result.message = fatal_message(fatal, options.encoding);
        // What was written before the end goes out before anyone shows the
        // message; output that can't be written any more is the end itself.
        if (result.end != RunEnd::output_failed) {
            try {
                flush_output();
            } catch (const Fatal& late) {
                result.end = RunEnd::output_failed;
                result.message = fatal_message(late, options.encoding);
            }
        }
    }
    result.pc = ir_pc;
    // Only the plain loop counts, and only a run it made from the start.
    if (trace_built && (watched || options.engine == Engine::interpreter))
        result.steps = instructions_run;
    if constexpr (trace_built) trace_on = TraceSwitches{};
    text_out = Writer{};
    instruction_budget = 0;
    stop_flag = nullptr;
    return result;
}

void end_output_failed() {
    std::fputs(msg(MSG_OUTPUT_FAILED), stderr);
    std::_Exit(1);
}

void finish_process(const std::string& text, int status) {
    bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    if (std::fflush(stdout) != 0 || !written || std::ferror(stdout) != 0) end_output_failed();
    std::exit(status);
}
