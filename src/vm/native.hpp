// The native tier: the complete code store translated into x86-64 machine
// code, run with the same observable behaviour as the interpreter.
//
// The machine code keeps t and b in registers and the stack in s[], reads
// every link and return address from the stack as the instructions do, and
// makes one test of t per straight run of instructions whose depth changes
// are known.  At anything it does not do itself (a test that would fail,
// HLT, an op byte outside the instruction set, a jump out of the store) it
// stops before the instruction, with p, b, t and every cell exactly as the
// instructions before it left them, and the interpreter goes on from there
// (interpret_from_here), doing what it always does.
//
// Built only with TSUMIKI_NATIVE (x86-64 Linux with asmjit).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Runs the code store from the registers and the stack as a run starts
// them (vm/run.hpp), as the interpreter does.  False, with nothing run,
// when no machine code could be made (no executable memory); the caller
// then runs the interpreter.  Run-time errors end the run as in the
// interpreter, and so does an exception from the run's writer or reader:
// thrown after the machine code has returned.
bool run_native();

// run_native with an instruction budget (not 0), counted as the traced
// interpreter counts it: each straight run of instructions is counted
// once, at its start, and a run that does not fit in what is left goes on
// the interpreter from its start, which stops exactly where the budget
// runs out.  instructions_run (vm/machine.hpp) then holds the
// instructions begun, the one that failed or halted included.  For the
// traced build only, whose interpreter honours a budget.
bool run_native_counted(std::uint64_t budget);

// Translates the code store now for the runs with a budget to come
// (run_native_counted) and keeps the machine code, read-only and
// executable, until forget_native or a code store of another size: each of
// those runs then starts at once instead of translating the program again.
// The machine code holds nothing of a run: every run starts from the
// registers and the stack as the run sets them.  False, with nothing kept,
// when no machine code could be made.
bool keep_native_counted();
void forget_native();

// The tiered engine's look at a run: the machine code counts the loop heads
// and routine starts (the instruction after ENT) it passes, and when
// `first`, then `every` more, have gone by, it stops at the next with p, b,
// t and every cell exact and calls at_loop_head.  That
// returns true when the run is over (another tier ran it to its end), or
// false to go on with the machine code from p, b and t as they are then,
// its countdown `every` again (or never again, after a call of stop_polls;
// or `loops` once, after a call of poll_after, then `every`).
//
// While some cells are unsure (native_unsure_from), the machine code hands
// over at anything but HLT to `unsure` instead of the interpreter (one of
// those cells may be about to be read).  That puts the machine back where
// every cell is sure, at a loop head or routine start, and the run goes on
// with the machine code from there.
struct LoopHeadHook {
    std::int32_t first;
    std::int32_t every;
    bool (*at_loop_head)(void* context);
    void (*unsure)(void* context);
    void* context;
};
bool run_native(const LoopHeadHook& hook);
void stop_polls();
void poll_after(std::int32_t loops);

// From `cell` up, the cells may not hold what the interpreter would have
// left in them: the optimising tier, whose run a guard ended, wrote the
// cells up to the top of the stack as the interpreter would and left those
// above as they were (vm/speculation.hpp).  Only a run with a hook reads
// cells so: an indirect read of one of them, or of any cell above,
// hands over.  STACK_SIZE (every cell sure) is where each run starts.
void native_unsure_from(std::int32_t cell);
std::int32_t native_unsure();

// The machine instructions made for the code store: the entry sequence,
// then per instruction of the store those made for it, then the shared
// exits.  Empty when no machine code could be made.
struct NativeListing {
    std::string entry;
    std::vector<std::string> instructions;
    std::string exits;
};
NativeListing list_native();
