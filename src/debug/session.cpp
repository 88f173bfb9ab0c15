#include "debug/session.hpp"

#include <algorithm>
#include <cstdio>

#include "diag/trace.hpp"
#include "vm/check.hpp"
#include "vm/machine.hpp"
#include "vm/runtime.hpp"
#include "vm/step.hpp"

// What the effects tell the session while an instruction runs: each cell
// about to be written goes into the history with its old value, and the
// step hook, if any, hears of it.
struct SessionWatch {
    DebugSession* session;
    void read(std::int64_t cell) const {
        if (session->options_.hook != nullptr)
            session->options_.hook->read(static_cast<std::int32_t>(cell));
    }
    void write(std::int64_t cell) const {
        session->history_.cell(cell);
        if (session->options_.hook != nullptr)
            session->options_.hook->write(static_cast<std::int32_t>(cell));
    }
};

bool is_reverse(Motion motion) {
    return motion >= Motion::reverse_stepi;
}

namespace {

// A file's bytes; false when it can't be read (the compiler then says why).
bool read_file(const char* path, std::string& text) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    char buffer[1 << 14];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

CompileOptions compile_options(const SessionOptions& options) {
    CompileOptions c;
    c.encoding = options.encoding;
    c.positions = true;
    c.names = true;
    c.max_depth = options.max_depth;
    c.large_stack = options.large_stack;
    c.checks = options.check;
    return c;
}

} // namespace

Compiled DebugSession::open_file(const char* path, const SessionOptions& options) {
    std::string source;
    if (!read_file(path, source)) {
        open_ = false;
        return compile_file(path, compile_options(options));
    }
    // Compiled before the text moves into the map.
    Compiled compiled = compile_text(source, compile_options(options));
    return open(compiled, std::move(source), options);
}

Compiled DebugSession::open_text(std::string_view source, const SessionOptions& options) {
    return open(compile_text(source, compile_options(options)), std::string(source), options);
}

Compiled DebugSession::open(const Compiled& compiled, std::string source,
                            const SessionOptions& options) {
    open_ = compiled.error == ErrorKind::none && compiled.code_size > 0;
    if (!open_) return compiled;
    options_ = options;
    map_ = map_program(compiled, std::move(source));
    history_ = History(options.history_bytes);
    breakpoints_.clear();
    breakpoint_at_.assign(static_cast<std::size_t>(compiled.code_size), 0);
    next_breakpoint_ = 1;
    restart();
    return compiled;
}

Stop DebugSession::restart() {
    if (!open_) return refuse(MSG_D_NO_PROGRAM);
    set_encoding(options_.encoding);
    reset_machine();
    if constexpr (trace_built) trace_on = TraceSwitches{};
    text_out = Writer{};
    instruction_budget = 0;
    stop_flag = nullptr;
    output_.clear();
    output_shown_ = 0;
    input_given_ = 0;
    begin_io(Writer{take_output, this}, Reader{give_input, this}, true);
    history_.clear();
    depth_ = 0;
    position_ = furthest_ = dropped_ = 0;
    exit_status_ = 0;
    end_message_.clear();
    error_message_.clear();
    standing_ = Standing::entry;
    moving_ = seeking_ = false;
    for (Breakpoint& bp : breakpoints_)
        bp.hits = 0;
    marks_.clear();
    check_journal = CheckJournal{};
    if (options_.check) {
        begin_checked_run();
        check_journal = CheckJournal{note_mark, this};
    }
    return stop(StopReason::entry);
}

std::size_t DebugSession::give_input(void* context, char* bytes, std::size_t n) {
    auto* session = static_cast<DebugSession*>(context);
    const std::string& input = session->options_.input;
    std::size_t left = input.size() - session->input_given_;
    if (n > left) n = left;
    input.copy(bytes, n, session->input_given_);
    session->input_given_ += n;
    return n;
}

bool DebugSession::take_output(void* context, const char* bytes, std::size_t n) {
    auto* session = static_cast<DebugSession*>(context);
    session->output_.append(bytes, n);
    // Only what was never given before goes on.
    if (session->output_.size() > session->output_shown_) {
        std::size_t fresh = session->output_.size() - session->output_shown_;
        if (fresh > n) fresh = n;
        write_bytes(session->options_.output,
                    session->output_.data() + session->output_.size() - fresh, fresh);
        flush_bytes(session->options_.output);
        session->output_shown_ = session->output_.size();
    }
    return true;
}

std::size_t DebugSession::input_position() const {
    return input_given_ - input_held();
}

Registers DebugSession::registers() const {
    return Registers{p, b, t};
}

std::int32_t DebugSession::cell(std::int32_t index) const {
    return in_stack(index) ? s[index] : 0;
}

// Runs the instruction at p, keeping what it changes.  An instruction that
// fails is taken back at once, unless `keep_failure`: the run then ends
// with it, as tsumiki's does.
DebugSession::Ran DebugSession::forward(bool keep_failure, std::string& message) {
    std::int32_t pc = p;
    std::int64_t sp = t;
    std::int64_t bp = b;
    const Opcode op = code[pc].op;
    history_.begin(pc, sp, bp);
    bool io = op == GET || op == PUT;
    if (io) history_.io(output_.size(), input_position());
    ++position_;
    try {
        if (run_instruction(pc, sp, bp, cx, SessionWatch{this})) {
            history_.flag(STEP_ENDED);
            standing_ = Standing::ended;
            exit_status_ = 0;
            return Ran::halted;
        }
        check_fetch(pc, p, sp, bp, cx);
        p = pc;
        t = static_cast<std::int32_t>(sp);
        b = static_cast<std::int32_t>(bp);
        if (io) flush_output();
        if (properties_of(op).flow == FLOW_CALL) {
            history_.flag(STEP_CALL);
            ++depth_;
        } else if (properties_of(op).flow == FLOW_RETURN) {
            history_.flag(STEP_RETURN);
            --depth_;
        }
        return Ran::ok;
    } catch (const Fatal& fatal) {
        message = fatal_message(fatal, options_.encoding);
        if (keep_failure) {
            history_.flag(STEP_ENDED);
            standing_ = Standing::ended;
            exit_status_ = 1;
            end_message_ = message;
        } else {
            undo();
        }
        return Ran::failed;
    }
}

void DebugSession::undo() {
    IoRecord io{};
    StepRecord r = history_.undo(io);
    p = r.p;
    t = r.t;
    b = r.b;
    if ((r.flags & STEP_IO) != 0) {
        output_.resize(io.output);
        forget_held_input();
        input_given_ = io.input;
    }
    if ((r.flags & STEP_CALL) != 0) --depth_;
    if ((r.flags & STEP_RETURN) != 0) ++depth_;
    if ((r.flags & STEP_ENDED) != 0) standing_ = Standing::stopped;
    undo_marks();
    --position_;
    if (options_.hook != nullptr) options_.hook->undone(r.p);
}

void DebugSession::note_mark(void* context, std::int32_t cell, bool was_unset) {
    auto* session = static_cast<DebugSession*>(context);
    session->marks_.push_back(Mark{session->position_ + 1, cell, was_unset});
}

// Puts back the marks that the instruction at position_ changed.
void DebugSession::undo_marks() {
    while (!marks_.empty() && marks_.back().position >= position_) {
        check_mark(marks_.back().cell, marks_.back().was_unset);
        marks_.pop_back();
    }
}

// Before the instruction at p runs forward: the checked run, then the
// hook.  A stop when either finds a slip; once stopped there, the next
// motion runs the instruction, the checker only keeping its marks.
std::optional<Stop> DebugSession::look_before() {
    const bool asked = !(standing_ == Standing::check && moved_ == 0);
    if (options_.check) {
        if (!asked) {
            check_pass(p, t, b);
        } else {
            try {
                check_step(p, t, b);
            } catch (const Fatal&) {
                ++position_;
                undo_marks();
                --position_;
                standing_ = Standing::check;
                Stop result = stop(StopReason::check);
                result.message = format_message(msg_in(MSG_C_STOPPED, options_.encoding),
                                                check_message(options_.encoding).c_str());
                result.where = check_stop.point.where;
                return result;
            }
        }
    }
    if (options_.hook != nullptr && asked) {
        std::optional<std::string> why = options_.hook->before(p);
        if (why) {
            standing_ = Standing::check;
            Stop result = stop(StopReason::check);
            result.message = *why;
            return result;
        }
    }
    return std::nullopt;
}

Stop DebugSession::stop(StopReason reason) {
    Stop result;
    result.reason = reason;
    result.pc = p;
    result.dropped = motion_dropped_;
    result.history_filled = motion_dropped_ > 0 && motion_dropped_ == dropped_;
    if (reason != StopReason::budget) moving_ = false;
    if (reason == StopReason::exited) {
        result.exit_status = exit_status_;
        result.message = end_message_;
    }
    if (reason == StopReason::error) {
        result.message = error_message_;
        result.error_pc = p;
    }
    return result;
}

Stop DebugSession::refuse(Msg why) {
    Stop result;
    result.reason = StopReason::refused;
    result.pc = open_ ? p : 0;
    result.refusal = why;
    return result;
}

Stop DebugSession::at_breakpoint(int number) {
    for (Breakpoint& bp : breakpoints_)
        if (bp.number == number) ++bp.hits;
    Stop result = stop(StopReason::breakpoint);
    result.breakpoint = number;
    return result;
}

void DebugSession::leave_standing(bool backward) {
    switch (standing_) {
    case Standing::entry: standing_ = Standing::stopped; break;
    case Standing::check:
    case Standing::error:
        if (backward) standing_ = Standing::stopped;
        break;
    case Standing::stopped:
    case Standing::ended: break;
    }
}

Stop DebugSession::run(Motion motion, std::uint64_t budget) {
    if (!open_) return refuse(MSG_D_NO_PROGRAM);
    bool backward = is_reverse(motion);
    if (!backward && standing_ == Standing::ended) return refuse(MSG_D_ENDED);
    if ((motion == Motion::finish || motion == Motion::reverse_finish) && depth_ == 0)
        return refuse(MSG_D_OUTERMOST);
    motion_ = motion;
    moving_ = true;
    seeking_ = false;
    start_depth_ = depth_;
    moved_ = 0;
    motion_dropped_ = 0;
    last_returned_function_ = false;
    bool from_entry = standing_ == Standing::entry;
    const bool from_error = standing_ == Standing::error;
    leave_standing(backward);
    if (!backward && from_error) {
        // Going on from an error ends the run with it.
        standing_ = Standing::stopped;
        std::string message;
        forward(true, message);
        if (position_ > furthest_) furthest_ = position_;
        return stop(StopReason::exited);
    }
    // A breakpoint on instruction 0 stops the first continue.
    if (from_entry && motion == Motion::cont) {
        int number = breakpoint_at_[static_cast<std::size_t>(p)];
        if (number != 0) return at_breakpoint(number);
    }
    return go(budget);
}

Stop DebugSession::resume(std::uint64_t budget) {
    if (!open_) return refuse(MSG_D_NO_PROGRAM);
    if (!moving_) return refuse(MSG_D_NOT_MOVING);
    return go(budget);
}

Stop DebugSession::seek(std::uint64_t position, std::uint64_t budget) {
    if (!open_) return refuse(MSG_D_NO_PROGRAM);
    if (position > furthest_ || position < position_ - history_.size())
        return refuse(MSG_D_OUTSIDE_HISTORY);
    moving_ = seeking_ = true;
    seek_to_ = position;
    motion_ = position < position_ ? Motion::reverse_stepi : Motion::stepi;
    moved_ = 0;
    motion_dropped_ = 0;
    leave_standing(position < position_);
    if (position == position_) return stop(StopReason::step);
    return go(budget);
}

Stop DebugSession::run_to(std::uint64_t position, std::uint64_t budget) {
    if (!open_) return refuse(MSG_D_NO_PROGRAM);
    if (position <= position_) return seek(position, budget);
    if (standing_ == Standing::ended) return refuse(MSG_D_ENDED);
    moving_ = seeking_ = true;
    seek_to_ = position;
    motion_ = Motion::stepi;
    moved_ = 0;
    motion_dropped_ = 0;
    leave_standing(false);
    return go(budget);
}

// Whether the motion has arrived, after an instruction run or taken back.
bool DebugSession::arrived(bool backward) const {
    if (seeking_) return position_ == seek_to_;
    bool at_statement = map_.starts_statement[static_cast<std::size_t>(p)];
    switch (motion_) {
    case Motion::stepi:
    case Motion::reverse_stepi: return true;
    case Motion::step:
    case Motion::reverse_step: return depth_ < start_depth_ || at_statement;
    case Motion::next:
    case Motion::reverse_next:
        return depth_ < start_depth_ || (depth_ == start_depth_ && at_statement);
    case Motion::finish:
    case Motion::reverse_finish: return depth_ < start_depth_;
    case Motion::cont:
    case Motion::reverse_continue: return false;
    }
    (void)backward;
    return false;
}

Stop DebugSession::go(std::uint64_t budget) {
    const bool backward = is_reverse(motion_);
    for (std::uint64_t n = 0;; ++n) {
        if (budget != 0 && n >= budget) return stop(StopReason::budget);
        if (pause_.load(std::memory_order_relaxed) && pause_.exchange(false))
            return stop(StopReason::paused);
        if (backward) {
            if (history_.empty()) return stop(StopReason::history_start);
            last_returned_function_ = code[history_.last().p].op == FRT;
            undo();
        } else {
            if (std::optional<Stop> checked = look_before()) return *checked;
            if (standing_ == Standing::check) standing_ = Standing::stopped;
            const Opcode op = code[p].op;
            std::string message;
            Ran ran = forward(false, message);
            if (ran == Ran::failed) {
                standing_ = Standing::error;
                error_message_ = message;
                return stop(StopReason::error);
            }
            if (position_ > furthest_) furthest_ = position_;
            if (history_.bytes() > history_.limit()) {
                std::uint64_t dropped = history_.trim();
                dropped_ += dropped;
                motion_dropped_ += dropped;
                std::uint64_t oldest = position_ - history_.size();
                while (!marks_.empty() && marks_.front().position <= oldest)
                    marks_.pop_front();
            }
            if (ran == Ran::halted) return stop(StopReason::exited);
            last_returned_function_ = op == FRT;
        }
        ++moved_;
        if (!seeking_) {
            int number = breakpoint_at_[static_cast<std::size_t>(p)];
            if (number != 0) return at_breakpoint(number);
        }
        if (arrived(backward)) {
            Stop result = stop(StopReason::step);
            if (!backward && motion_ == Motion::finish && last_returned_function_) {
                result.returned = true;
                result.value = s[t];
            }
            return result;
        }
    }
}

std::optional<Breakpoint> DebugSession::break_at_line(int line) {
    int at_line = 0;
    std::int32_t pc = 0;
    if (!open_ || !line_breakpoint(map_, line, at_line, pc)) return std::nullopt;
    std::optional<Breakpoint> made = break_at_instruction(pc);
    if (made) {
        breakpoints_.back().line = at_line;
        made->line = at_line;
    }
    return made;
}

std::optional<Breakpoint> DebugSession::break_at_instruction(std::int32_t pc) {
    if (!open_ || pc < 0 || static_cast<std::size_t>(pc) >= map_.code.size()) return std::nullopt;
    Breakpoint bp;
    bp.number = next_breakpoint_++;
    bp.pc = pc;
    breakpoints_.push_back(bp);
    // The oldest breakpoint on an instruction is the one it reports.
    int& at = breakpoint_at_[static_cast<std::size_t>(pc)];
    if (at == 0) at = bp.number;
    return bp;
}

bool DebugSession::delete_breakpoint(int number) {
    for (std::size_t k = 0; k < breakpoints_.size(); ++k) {
        if (breakpoints_[k].number != number) continue;
        std::int32_t pc = breakpoints_[k].pc;
        breakpoints_.erase(breakpoints_.begin() + static_cast<std::ptrdiff_t>(k));
        int& at = breakpoint_at_[static_cast<std::size_t>(pc)];
        at = 0;
        for (const Breakpoint& other : breakpoints_)
            if (other.pc == pc && at == 0) at = other.number;
        return true;
    }
    return false;
}

void DebugSession::delete_breakpoints() {
    breakpoints_.clear();
    std::fill(breakpoint_at_.begin(), breakpoint_at_.end(), 0);
}

std::vector<std::int32_t> DebugSession::last_changed() const {
    std::vector<std::int32_t> cells;
    if (history_.empty()) return cells;
    for (int k = 0; k < history_.last().cells; ++k)
        cells.push_back(history_.last_cell(k).cell);
    return cells;
}

HistoryState DebugSession::history() const {
    HistoryState h;
    h.position = position_;
    h.oldest = position_ - history_.size();
    h.furthest = furthest_;
    h.dropped = dropped_;
    h.bytes = history_.bytes();
    h.limit = history_.limit();
    return h;
}

std::vector<Scope> DebugSession::scopes(int frame) const {
    return frame_scopes(map_, frames(), frame);
}

CellLabel DebugSession::label(std::int32_t cell) const {
    return label_cell(map_, frames(), cell);
}

Evaluation DebugSession::evaluate(std::string_view text, int frame) const {
    return ::evaluate(map_, frames(), frame, text);
}
