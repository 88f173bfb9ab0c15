// The playground's debugger: one debugging session (debug/session.hpp)
// driven by the page's worker through a handful of C functions.  Each
// answer is a JSON text (json.hpp) that stays valid until the next call.
//
//   tsu_debug_open(source, n, input, m)  compiles and opens; {"error", "message", "line", "column"}
//   tsu_debug_program()                   the program (program_json.hpp)
//   tsu_debug_break_line(line)            a breakpoint on a line: the line it went to, 0 none
//   tsu_debug_break_pc(pc)                one on an instruction: 1, or 0 when there is none such
//   tsu_debug_clear_breakpoints()
//   tsu_debug_run(motion, budget)         a motion (the order of Motion); the state
//   tsu_debug_resume(budget)              goes on with a motion whose budget was spent
//   tsu_debug_seek(position, budget)      to a place in the history
//   tsu_debug_run_to(position, budget)    forward until `position` instructions have run (a link's)
//   tsu_debug_restart()
//   tsu_debug_pause()                     the next resume stops at once
//   tsu_debug_output(), _output_size()    the program's output so far, UTF-8
//
// The state after a stop:
//   {"reason", "pc", "message", "breakpoint", "exitStatus", "refusal",
//    "returned", "value", "ended", "position", "oldest", "furthest", "dropped",
//    "p", "b", "t",
//    "frames": [[base, routine, pc, line, staticLink, dynamicLink, returnAddress, staticFrame],
//    ...]
//                  innermost first; pc: where it stands (a caller: its call)
//    "cells": [[value, role, frame, name, index], ...]  cells 0 up to a few above t
//    "vars": [[from, to], ...]      each var parameter's cell and the cell it refers to
//    "changed": [cell, ...]         written by the last instruction
//    "output": bytes}               of output so far
#include <emscripten/emscripten.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "debug/session.hpp"
#include "json.hpp"
#include "program_json.hpp"
#include "vm/machine.hpp"

namespace {

// How many cells above t the drawing shows, faded: what the last calls and
// pushes left there.
constexpr std::int32_t CELLS_ABOVE_T = 6;

// History in the browser: enough for millions of steps, well inside the
// module's memory.
constexpr std::size_t PLAYGROUND_HISTORY_BYTES = std::size_t{32} << 20;

constexpr int PLAYGROUND_DEPTH_MAX = 2000; // as for a run (playground.cpp)

DebugSession session;
std::string answer;

const char* reason_name(StopReason reason) {
    switch (reason) {
    case StopReason::entry: return "entry";
    case StopReason::step: return "step";
    case StopReason::breakpoint: return "breakpoint";
    case StopReason::error: return "error";
    case StopReason::check: return "check";
    case StopReason::paused: return "paused";
    case StopReason::exited: return "exited";
    case StopReason::history_start: return "history-start";
    case StopReason::budget: return "budget";
    case StopReason::refused: return "refused";
    }
    return "step";
}

void field(std::string& out, std::string_view key, std::int64_t n) {
    json_key(out, key);
    json_number(out, n);
    out += ',';
}

void row(std::string& out, std::initializer_list<std::int64_t> numbers) {
    out += '[';
    bool first = true;
    for (std::int64_t n : numbers) {
        if (!first) out += ',';
        first = false;
        json_number(out, n);
    }
    out += ']';
}

// The var parameters of every frame, as arrows from their cell to the cell
// they hold the address of, when both lie on the stack.
void var_arrows(std::string& out, const std::vector<Frame>& frames, std::int32_t top) {
    const ProgramMap& map = session.program();
    bool first = true;
    for (const Frame& f : frames) {
        if (f.routine < 0) continue;
        for (const Declaration& d : map.declarations) {
            if (d.parent != f.routine || d.kind != SYM_REF) continue;
            std::int64_t from = std::int64_t{f.base} + d.offset;
            if (from < 0 || from > top) continue;
            std::int32_t to = session.cell(static_cast<std::int32_t>(from));
            if (to < 0 || to >= STACK_SIZE) continue;
            if (!first) out += ',';
            first = false;
            row(out, {from, to});
        }
    }
}

const char* state(const Stop& stop) {
    const Registers r = session.registers();
    const HistoryState h = session.history();
    const std::vector<Frame> frames = session.frames();
    std::string& out = answer;
    out = "{";
    json_key(out, "reason");
    json_string(out, reason_name(stop.reason));
    out += ',';
    json_key(out, "message");
    json_string(out, stop.message);
    out += ',';
    json_key(out, "refusal");
    json_string(out,
                stop.reason == StopReason::refused ? msg_in(stop.refusal, Encoding::utf8) : "");
    out += ',';
    field(out, "pc", stop.pc);
    field(out, "breakpoint", stop.breakpoint);
    field(out, "exitStatus", stop.exit_status);
    json_key(out, "returned");
    json_bool(out, stop.returned);
    out += ',';
    field(out, "value", stop.value);
    json_key(out, "ended");
    json_bool(out, session.ended());
    out += ',';
    field(out, "position", static_cast<std::int64_t>(h.position));
    field(out, "oldest", static_cast<std::int64_t>(h.oldest));
    field(out, "furthest", static_cast<std::int64_t>(h.furthest));
    field(out, "dropped", static_cast<std::int64_t>(h.dropped));
    field(out, "p", r.p);
    field(out, "b", r.b);
    field(out, "t", r.t);
    field(out, "output", static_cast<std::int64_t>(session.output().size()));
    json_key(out, "frames");
    out += '[';
    for (std::size_t k = 0; k < frames.size(); ++k) {
        const Frame& f = frames[k];
        if (k > 0) out += ',';
        row(out, {f.base, f.routine, f.pc, f.place.pos.line, f.static_link, f.dynamic_link,
                  f.return_address, f.static_frame});
    }
    out += "],";
    std::int32_t top = r.t + CELLS_ABOVE_T;
    if (top >= STACK_SIZE) top = STACK_SIZE - 1;
    json_key(out, "cells");
    out += '[';
    for (std::int32_t cell = 0; cell <= top; ++cell) {
        const CellLabel label = label_cell(session.program(), frames, cell);
        if (cell > 0) out += ',';
        row(out, {session.cell(cell), static_cast<int>(label.role), label.frame, label.declaration,
                  label.index});
    }
    out += "],";
    json_key(out, "vars");
    out += '[';
    var_arrows(out, frames, r.t);
    out += "],";
    json_key(out, "changed");
    out += '[';
    bool first = true;
    for (std::int32_t cell : session.last_changed()) {
        if (!first) out += ',';
        first = false;
        json_number(out, cell);
    }
    out += "]}";
    return out.c_str();
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE const char* tsu_debug_open(const char* source, std::size_t n,
                                                const char* input, std::size_t m) {
    SessionOptions options;
    options.encoding = Encoding::utf8;
    options.input.assign(input, m);
    options.history_bytes = PLAYGROUND_HISTORY_BYTES;
    options.max_depth = PLAYGROUND_DEPTH_MAX;
    options.large_stack = false;
    Compiled compiled = session.open_text(std::string_view(source, n), options);
    std::string& out = answer;
    out = "{";
    field(out, "error", static_cast<int>(compiled.error));
    field(out, "line", compiled.error == ErrorKind::none ? 0 : compiled.where.line);
    field(out, "column", compiled.error == ErrorKind::none ? 0 : compiled.where.column);
    json_key(out, "message");
    json_string(out, compiled.message);
    out += '}';
    return out.c_str();
}

EMSCRIPTEN_KEEPALIVE const char* tsu_debug_program() {
    answer = program_json(session.program());
    return answer.c_str();
}

EMSCRIPTEN_KEEPALIVE int tsu_debug_break_line(int line) {
    std::optional<Breakpoint> made = session.break_at_line(line);
    return made ? made->line : 0;
}

EMSCRIPTEN_KEEPALIVE int tsu_debug_break_pc(int pc) {
    return session.break_at_instruction(pc) ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE void tsu_debug_clear_breakpoints() {
    session.delete_breakpoints();
}

EMSCRIPTEN_KEEPALIVE const char* tsu_debug_run(int motion, double budget) {
    if (motion < 0 || motion > static_cast<int>(Motion::reverse_continue)) motion = 0;
    return state(session.run(static_cast<Motion>(motion), static_cast<std::uint64_t>(budget)));
}

EMSCRIPTEN_KEEPALIVE const char* tsu_debug_resume(double budget) {
    return state(session.resume(static_cast<std::uint64_t>(budget)));
}

EMSCRIPTEN_KEEPALIVE const char* tsu_debug_seek(double position, double budget) {
    if (!(position >= 0)) position = 0;
    return state(
        session.seek(static_cast<std::uint64_t>(position), static_cast<std::uint64_t>(budget)));
}

// The most a position from the page may be: a count a double holds exactly.
constexpr double MAX_POSITION = 9007199254740992.0;

EMSCRIPTEN_KEEPALIVE const char* tsu_debug_run_to(double position, double budget) {
    if (!(position >= 0)) position = 0;
    if (position > MAX_POSITION) position = MAX_POSITION;
    if (!(budget >= 0) || budget > MAX_POSITION) budget = 0;
    return state(
        session.run_to(static_cast<std::uint64_t>(position), static_cast<std::uint64_t>(budget)));
}

EMSCRIPTEN_KEEPALIVE const char* tsu_debug_restart() {
    return state(session.restart());
}

EMSCRIPTEN_KEEPALIVE void tsu_debug_pause() {
    session.pause();
}

EMSCRIPTEN_KEEPALIVE const char* tsu_debug_output() {
    return session.output().data();
}

EMSCRIPTEN_KEEPALIVE std::size_t tsu_debug_output_size() {
    return session.output().size();
}

} // extern "C"
