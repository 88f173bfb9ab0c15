// The stack machine: its registers and stack, and the interpreter that
// runs the code store on them.  The effect of each instruction is in
// vm/effects.hpp; the fast loop in vm/interpreter.cpp, the plain loop of the
// traced build in vm/traced.cpp.
#pragma once

#include <atomic>
#include <cstdint>

#include "vm/code.hpp"
#include "vm/run.hpp"

inline constexpr int STACK_SIZE = 1000;    // cells s[0] to s[999]
inline constexpr int STACK_OVERFLOW = 998; // t may not reach this before a fetch

// Registers: the next instruction, the current frame base, the topmost
// occupied cell, and the instruction being executed.  Written by interpret.
extern std::int32_t p;
extern std::int32_t b;
extern std::int32_t t;
extern Instruction ir;
// The index of the instruction in ir; -1 before the first fetch.
extern std::int32_t ir_pc;

// The stack, s[0] to s[STACK_SIZE-1].  One spare cell lies below s[0] so
// that an instruction popping an empty stack stays in memory; the check
// before the next fetch then stops the run.
extern std::int32_t* const s;

// The frame base l static links out from b.
std::int32_t base(std::int32_t l);

// Clears the stack and runs the code store from the registers (0 at
// start-up: instruction 0) until HLT, with the input and output that
// begin_io (vm/runtime.hpp) set up.  Every run-time error ends the run
// through runtime_error, with the registers, ir and ir_pc showing where.
// A front end runs a program through run_machine (vm/run.hpp) instead,
// which also starts and ends the run's settings.
void interpret();

// Runs on from the registers and the stack as they are, without clearing
// anything: a run starts here (run_on_engine) and the native tier hands
// over here at an instruction it leaves to the interpreter.  p must be an instruction, b a frame
// base with room for its header and t within 0 to STACK_OVERFLOW-1, as before any fetch.
void interpret_from_here();

// interpret_from_here on the fast loop, in either build: the run of a
// traced build that no one watches.
void interpret_fast_from_here();

// interpret_from_here one instruction at a time, with the trace hooks, the
// budget and the stop flag of the traced build, which always runs this.
// The other build's tests compare its fast loop with this one.
void interpret_traced();

// interpret_traced going on from where another engine left a run of the
// same program: `begun` instructions have begun already (the budget counts
// them), the last of them `last` (-1: none).  The native tier hands a run
// with a budget over here.
void interpret_traced_from(std::uint64_t begun, std::int32_t last);

// A run of the counted fast loop, between its stretches: the registers,
// the instruction run last (-1: none) and the count of instructions begun,
// as the plain loop keeps them between its slices (vm/traced.cpp).
struct CountedRun {
    std::int32_t pc = 0;
    std::int64_t sp = 0;
    std::int64_t bp = 0;
    std::int32_t last = -1;
    std::uint64_t executed = 0;
};

// The most instructions one step of the fast loop does: an element loaded
// at an index of two terms (LDA, the lower bound, the terms and their
// operation, the two SUBs, IND).
inline constexpr std::uint64_t LONGEST_STEP = 8;

// The traced build's fast loop that counts: runs on from `run`, whose
// fetch test has passed, and comes back (false) before the first fetch at
// which the count could reach `due` within one step, no more than
// LONGEST_STEP - 1 instructions short of it, or right after a PUT or a
// GET when a stop flag is set (the writer or the reader may have set it).
// True when the run halted.  However the run ends, run.executed is the
// count the plain loop would have.  `first` on a run's first call: the
// code store is decoded then.  `due` must lie LONGEST_STEP or more past
// run.executed.
bool interpret_counted(CountedRun& run, std::uint64_t due, bool first);

// In the traced build: whether a watched run without the run trace or the
// checked run goes on the counted fast loop between the fetches where its
// budget and pulse are due (true, as it starts); tests turn it off to
// compare it with the plain loop alone.
extern bool counted_runs;

// The fewest instructions before the due fetch for which the counted loop
// starts a stretch (64, and never fewer than LONGEST_STEP): fewer, and the
// plain loop runs them, as a stretch would cost more than it saves.  Tests
// lower it so that short runs, too, go on the counted loop.
extern std::uint64_t counted_least;

// In the traced build only: the number of instructions a run may execute
// before it ends (FatalKind::budget_spent), 0 for no limit; a flag that
// ends it (FatalKind::stopped) when someone sets it; and the run's pulse
// (vm/run.hpp).  All are looked at before every fetch.
extern std::uint64_t instruction_budget;
extern const std::atomic<bool>* stop_flag;
extern Pulse run_pulse;

// How many instructions the last run of interpret_traced (or of the native
// tier with a budget, vm/native.hpp) began, the one that failed or halted
// included; one the budget or the stop flag kept from running is not
// counted, so a run that spent its budget began exactly
// instruction_budget.  Written when the run ends.
extern std::uint64_t instructions_run;

// Every cell 0, the spare one below s[0] included.
void clear_stack();

// Back to the state at start-up: registers 0, stack 0, no instruction run.
void reset_machine();
