// A debugging session: a compiled program run on the plain loop one
// instruction at a time (vm/step.hpp), stopped, looked at, and taken back.
// The one session that the terminal debugger (tsumiki-inspect debug), the
// editors' debug adapter and the playground all drive.
//
//   DebugSession session;
//   SessionOptions options;                  // input, output, encoding...
//   Compiled c = session.open_file(path, options);
//   if (c.error != ErrorKind::none) { show c.message at c.where; }
//   session.break_at_line(7);
//   Stop stop = session.run(Motion::cont);   // to the breakpoint
//   std::vector<Frame> frames = session.frames();
//   Evaluation e = session.evaluate("total", 0);
//   stop = session.run(Motion::reverse_step);
//
// Forward, each instruction runs as the machine runs it, its effects
// (vm/effects.hpp) telling the session which cells they change, and the
// session keeps their old values in its history (debug/history.hpp).
// Backward, the session puts back what the history kept: the registers,
// every cell (those above t too), the length of the output and the place
// in the input.  Going forward again runs the same instructions again; the
// run is the same, as its input is the same.
//
// Where the program stops:
//   stepi     after one instruction
//   step      at the start of the next statement, into calls
//   next      at the start of the next statement of this routine (or of
//             one it returns to), over calls
//   finish    once the current routine has returned
//   cont      at a breakpoint, or the end
// and back the same way with the reverse motions, which stop at the start
// of history too.  Every motion also stops at a breakpoint, when pause()
// is called, before a run-time error (the state just before the failing
// instruction: going on from there ends the run, as tsumiki ends it), and
// at the end of the run.
//
// The session owns the machine and the code store while it is open: one
// session at a time per process, driven from one thread, but for pause(),
// which any thread may call at any time.  In a browser, where nothing runs
// beside the page, a motion takes a budget of instructions and comes back
// with StopReason::budget when it is spent; resume() goes on with it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "debug/history.hpp"
#include "debug/program.hpp"
#include "debug/stack.hpp"
#include "driver/api.hpp"

enum class Motion : unsigned char {
    stepi,
    step,
    next,
    finish,
    cont,
    reverse_stepi,
    reverse_step,
    reverse_next,
    reverse_finish,
    reverse_continue,
};

bool is_reverse(Motion motion);

enum class StopReason : unsigned char {
    entry,         // the session has opened or restarted: before instruction 0
    step,          // the motion has done what it was asked
    breakpoint,    // at a breakpoint: before its instruction runs
    error,         // the next instruction fails: its message is in the stop
    check,         // the checked run or the step hook stopped before the instruction
    paused,        // pause() was called
    exited,        // the run has ended: status 0 after HLT, 1 after an error
    history_start, // going back, at the oldest state the history keeps
    budget,        // the motion's budget is spent: resume() goes on with it
    refused,       // the motion can't be made here: `refusal` says why
};

struct Stop {
    StopReason reason = StopReason::entry;
    std::int32_t pc = 0; // p: the instruction the machine runs next
    int breakpoint = 0;  // breakpoint: its number
    // error, and exited after one: the error's text exactly as tsumiki
    // prints it; check: the checked run's text as tsumiki-inspect run
    // --check prints it, or the hook's text.
    std::string message;
    SourcePos where{};          // check by the checked run: what it points at
    std::int32_t error_pc = -1; // error: the instruction that fails
    int exit_status = 0;        // exited
    Msg refusal = MSG_COUNT;    // refused: a text of the message table
    // finish out of a function: the value it returned (the new top cell).
    bool returned = false;
    std::int32_t value = 0;
    // Instructions whose history was dropped during the motion, the oldest
    // first, because it had grown past its limit.
    std::uint64_t dropped = 0;
    // The history first grew past its limit on this run during this motion;
    // from then on every motion drops the oldest records, and the front
    // ends say so once, here, rather than at every stop.
    bool history_filled = false;
};

// A watcher that the session asks before every instruction it runs
// forward, and tells of every cell the instruction touches: a checked run
// (bounds of arrays, reads of cells not yet given a value) hangs off it.
// The registers and the stack are those of the session (registers(),
// cell()).  Going back does not ask it: it is told of each instruction
// undone.
class StepHook {
  public:
    virtual ~StepHook() = default;
    // Before instruction pc runs.  A text stops the session there
    // (StopReason::check) without running it; the next forward motion
    // runs it without asking again.
    virtual std::optional<std::string> before(std::int32_t pc) = 0;
    // While it runs: a cell read through an address or a frame offset
    // (LOD, IND, the result cell of FRT), and a cell about to be written.
    virtual void read(std::int32_t cell) { (void)cell; }
    virtual void write(std::int32_t cell) { (void)cell; }
    // Instruction pc was taken back.
    virtual void undone(std::int32_t pc) { (void)pc; }
};

struct SessionOptions {
    Encoding encoding = Encoding::utf8; // of the prompt and the run-time messages
    std::string input;                  // the program's standard input, all of it
    // The program's output as it is written (by line, and the prompts of
    // read).  Each byte is given once: running again over output written
    // before going back gives nothing new.
    Writer output{};
    std::size_t history_bytes = HISTORY_BYTES_DEFAULT;
    StepHook* hook = nullptr;
    // A checked run (vm/check.hpp): compiled with its check points, it
    // looks at each instruction before it runs and stops there
    // (StopReason::check) at a slip, as before a run-time error: the
    // state before the instruction can be looked at and taken back, and
    // the next forward motion runs it.  Going back puts the checker's marks
    // back too.
    bool check = false;
    // How deep the parser may nest (CompileOptions::max_depth), and whether
    // it compiles on a large stack of its own (CompileOptions::large_stack).
    int max_depth = 0;
    bool large_stack = false;
};

struct Registers {
    std::int32_t p = 0;
    std::int32_t b = 0;
    std::int32_t t = 0;
};

struct Breakpoint {
    int number = 0;
    std::int32_t pc = 0; // the instruction it stops before
    int line = 0;        // a line breakpoint: the line it stands on; 0: by instruction
    std::uint64_t hits = 0;
};

// Where the history stands.
struct HistoryState {
    std::uint64_t position = 0; // instructions run since the start, on this run
    std::uint64_t oldest = 0;   // the earliest position it can go back to
    std::uint64_t furthest = 0; // the furthest position reached, to go forward to
    std::uint64_t dropped = 0;  // instructions whose records were dropped
    std::size_t bytes = 0;
    std::size_t limit = 0;
};

class DebugSession {
  public:
    DebugSession() = default;
    DebugSession(const DebugSession&) = delete;
    DebugSession& operator=(const DebugSession&) = delete;

    // Compiles the file, or a text, with positions and names, and when it
    // compiles stops before instruction 0 (StopReason::entry).  A program
    // that does not compile leaves the session closed; the result says why,
    // with the message exactly as tsumiki prints it.
    Compiled open_file(const char* path, const SessionOptions& options);
    Compiled open_text(std::string_view source, const SessionOptions& options);
    bool is_open() const { return open_; }

    // Back to instruction 0 with the same program, input and breakpoints;
    // the history is forgotten and the output written again from the start.
    Stop restart();

    // Makes a motion; with a budget, at most that many instructions before
    // StopReason::budget.  A motion that can't be made (forward after the
    // end, finish in the program's own frame, no session) is refused.
    Stop run(Motion motion, std::uint64_t budget = 0);
    // Goes on with the motion whose budget was spent.
    Stop resume(std::uint64_t budget = 0);
    bool moving() const { return moving_; }
    // Goes to a position of the history, back or (running again) forward,
    // up to the furthest position reached; stops early as a step would
    // (an error, the end, the start of history, pause).
    Stop seek(std::uint64_t position, std::uint64_t budget = 0);

    // Goes forward, past the furthest position reached if need be, until
    // `position` instructions have run since the start; stops early as a
    // step would (an error, before its instruction; the end; pause), and
    // not at breakpoints.  A position behind is a seek.  What a link to
    // one moment of a run (the write of a wrong line, say) opens at.
    Stop run_to(std::uint64_t position, std::uint64_t budget = 0);

    // From any thread: the motion under way stops before its next
    // instruction (StopReason::paused).  If none is, the next one stops
    // before its first; forget_pause() takes a pause back.
    void pause() { pause_.store(true, std::memory_order_relaxed); }
    void forget_pause() { pause_.store(false, std::memory_order_relaxed); }

    // Breakpoints.  A line breakpoint goes to the first instruction of the
    // first statement that starts on the line, or on the next line where
    // one does (Breakpoint::line says where it went); nothing when no
    // statement starts there or after.
    std::optional<Breakpoint> break_at_line(int line);
    std::optional<Breakpoint> break_at_instruction(std::int32_t pc);
    bool delete_breakpoint(int number);
    void delete_breakpoints();
    const std::vector<Breakpoint>& breakpoints() const { return breakpoints_; }

    // The state where the session stands.
    bool ended() const { return standing_ == Standing::ended; }
    int exit_status() const { return exit_status_; }
    Registers registers() const;
    std::int32_t cell(std::int32_t index) const; // 0 for one outside the stack
    // The program's output up to here, and how much of its input it has used.
    const std::string& output() const { return output_; }
    std::size_t input_position() const;
    // The cells the last instruction run (as far back as the session
    // stands) wrote, in the order it wrote them.
    std::vector<std::int32_t> last_changed() const;
    HistoryState history() const;

    // The program.
    const ProgramMap& program() const { return map_; }
    Place place(std::int32_t pc) const { return place_of(map_, pc); }

    // The machine as a debugger shows it (debug/stack.hpp).
    std::vector<Frame> frames() const { return stack_frames(map_); }
    std::vector<Scope> scopes(int frame) const;
    CellLabel label(std::int32_t cell) const;
    Evaluation evaluate(std::string_view text, int frame) const;

  private:
    friend struct SessionWatch;
    enum class Ran { ok, halted, failed };

    Compiled open(const Compiled& compiled, std::string source, const SessionOptions& options);
    Ran forward(bool keep_failure, std::string& message);
    void undo();
    Stop go(std::uint64_t budget);
    Stop stop(StopReason reason);
    Stop refuse(Msg why);
    Stop at_breakpoint(int number);
    std::optional<Stop> look_before();
    void undo_marks();
    static void note_mark(void* context, std::int32_t cell, bool was_unset);
    bool arrived(bool backward) const;
    static std::size_t give_input(void* context, char* bytes, std::size_t n);
    static bool take_output(void* context, const char* bytes, std::size_t n);

    bool open_ = false;
    ProgramMap map_;
    SessionOptions options_;
    History history_;
    std::vector<Breakpoint> breakpoints_;
    std::vector<int> breakpoint_at_; // per instruction: a breakpoint's number, 0 none
    int next_breakpoint_ = 1;

    std::string output_;
    std::size_t output_shown_ = 0; // bytes given to options_.output
    std::size_t input_given_ = 0;  // bytes of input given to the machine's reader

    int depth_ = 0;              // calls made and not returned from
    std::uint64_t position_ = 0; // instructions run since the start
    std::uint64_t furthest_ = 0;
    std::uint64_t dropped_ = 0;
    // Where the run stands between motions: one of these, never two.
    enum class Standing : unsigned char {
        entry,   // opened or restarted, no motion since
        stopped, // where a motion left it
        check,   // stopped by the checked run or the hook before instruction p;
                 // the next motion runs that instruction without asking again
        error,   // before an instruction that fails (error_message_); going
                 // on ends the run with it
        ended,   // the program ended (exit_status_, end_message_)
    };
    Standing standing_ = Standing::entry;
    // A motion begins: the entry and, going backward, a check or an error
    // are left behind; the end stays until the instruction that ended the
    // run is taken back.
    void leave_standing(bool backward);
    int exit_status_ = 0;
    std::string end_message_;
    std::string error_message_; // set while stopped before a failing instruction

    // The motion under way.
    bool moving_ = false;
    Motion motion_ = Motion::stepi;
    bool seeking_ = false;
    std::uint64_t seek_to_ = 0;
    int start_depth_ = 0;
    std::uint64_t moved_ = 0;
    std::uint64_t motion_dropped_ = 0;
    bool last_returned_function_ = false;

    // The checked run: each mark changed, by the instruction (counted from
    // 1, as position_) that changed it, the oldest first.
    struct Mark {
        std::uint64_t position;
        std::int32_t cell;
        bool was_unset;
    };
    std::deque<Mark> marks_;

    std::atomic<bool> pause_{false};
};
