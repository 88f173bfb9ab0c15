// The plain loop: one instruction at a time (vm/step.hpp), straight from
// the effects of vm/effects.hpp, with the test of t before every fetch.  It
// is the traced build's interpreter, where the run trace, the instruction
// budget, the stop flag, the pulse and the checked run (vm/check.hpp) look
// at every instruction; the other build runs the fast loop
// (vm/interpreter.cpp), which its tests compare with this one.
//
// The loop runs in slices: a slice runs up to the next fetch at which the
// budget or the pulse is due (or SLICE_STEPS instructions) without looking
// at either, and the loop around it makes that one fetch with every watch.
// A slice is a call of its own, so that a long run comes back here now and
// then: a WebAssembly engine (the playground's) starts a run on code
// compiled in haste and compiles the hot routines again, better, while it
// goes on, but swaps the code only at a call, never in one under way.
//
// Where nothing but the budget, the pulse and the stop flag watch the run
// (no run trace, no checked run), the slices run on the fast loop instead,
// counting (interpret_counted, vm/interpreter.cpp): it comes back a few
// instructions short of the due fetch, the plain loop runs those, then
// makes the due fetch, with its watches, as above.  The stop flag, which
// the plain loop looks at before every fetch, is then looked at before
// each due fetch, before the fast loop starts a stretch and after every
// read and write (where the run's own callers may set it): a flag that
// another thread sets ends the run within a slice.
#include <algorithm>

#include "diag/trace.hpp"
#include "vm/check.hpp"
#include "vm/effects.hpp"
#include "vm/machine.hpp"
#include "vm/runtime.hpp"
#include "vm/step.hpp"

namespace {

// The most instructions of one slice.
constexpr std::uint64_t SLICE_STEPS = 1 << 16;

// The plain loop's registers, and its count of instructions begun, between
// its slices: as the counted fast loop keeps them.
using Loop = CountedRun;

// Leaves the count of instructions begun in instructions_run however the
// loop ends: at HLT or by a Fatal thrown from inside it.
struct CountOnExit {
    const std::uint64_t& executed;
    explicit CountOnExit(const std::uint64_t& counter) : executed(counter) {}
    CountOnExit(const CountOnExit&) = delete;
    CountOnExit& operator=(const CountOnExit&) = delete;
    ~CountOnExit() { instructions_run = executed; }
};

// The count, from `executed` on, at whose fetch the pulse is next due: the
// fetch that begins instruction number c + 1 where c + 1 is a multiple of
// `every` (every fetch for 0 or 1).  Only the traced build watches a pulse.
std::uint64_t next_pulse(std::uint64_t executed) {
    const std::uint64_t every = run_pulse.every <= 1 ? 1 : run_pulse.every;
    return executed + (every - 1 - executed % every);
}

// Whether the pulse is due before the fetch that begins instruction number
// `executed` + 1.
[[maybe_unused]] bool pulse_due(std::uint64_t executed) {
    return run_pulse.call != nullptr && next_pulse(executed) == executed;
}

// The count at the next fetch, from the one at `executed` on, where the
// budget or the pulse is due, or SLICE_STEPS on.
std::uint64_t next_due(std::uint64_t executed) {
    std::uint64_t due = executed + SLICE_STEPS;
    if (instruction_budget != 0 && instruction_budget >= executed && instruction_budget < due)
        due = instruction_budget;
    if (run_pulse.call != nullptr && next_pulse(executed) < due) due = next_pulse(executed);
    return due;
}

// The test and the watches before the fetch of instruction pc, in their
// order, then the instruction; true when it was HLT.  The budget and the
// pulse are looked at only where `due` (the loop's own fetch).
template <bool due>
[[gnu::always_inline]] inline bool step(std::int32_t& pc, std::int64_t& sp, std::int64_t& bp,
                                        std::int32_t& last, std::uint64_t& executed,
                                        std::int32_t end) {
    check_fetch(pc, last, sp, bp, end);
    if constexpr (trace_built) {
        if (trace_on.run) {
            p = pc;
            t = static_cast<std::int32_t>(sp);
            b = static_cast<std::int32_t>(bp);
            flush_output();
            ir = code[pc];
            ir_pc = pc;
            trace_machine(pc, code[pc]);
        }
        if constexpr (due) {
            if (instruction_budget != 0 && executed == instruction_budget)
                stop_before(pc, last, sp, bp, FatalKind::budget_spent);
        }
        if (stop_flag != nullptr && stop_flag->load(std::memory_order_relaxed))
            stop_before(pc, last, sp, bp, FatalKind::stopped);
        if constexpr (due) {
            if (pulse_due(executed)) pulse_at(pc, sp, bp);
        }
        if (run_checked) check_step(pc, sp, bp);
    }
    last = pc;
    ++executed;
    return run_instruction(pc, sp, bp, end, Unwatched{});
}

// A slice: runs from `loop` until the count of instructions begun reaches
// `due` (true: the run halted first), with the registers in locals; the
// count goes back to `loop` however the slice ends.
[[gnu::noinline]] bool run_slice(Loop& loop, std::uint64_t due, std::int32_t end) {
    std::int32_t pc = loop.pc;
    std::int64_t sp = loop.sp;
    std::int64_t bp = loop.bp;
    std::int32_t last = loop.last;
    std::uint64_t executed = loop.executed;
    try {
        while (executed != due) {
            if (step<false>(pc, sp, bp, last, executed, end)) {
                loop.executed = executed;
                return true;
            }
        }
    } catch (...) {
        loop.executed = executed;
        throw;
    }
    loop = Loop{pc, sp, bp, last, executed};
    return false;
}

// Whether the counted fast loop may run the slice from `loop` up to `due`.
bool counted_slice(const Loop& loop, std::uint64_t due) {
    if constexpr (!trace_built) return false;
    if (!counted_runs || trace_on.run || run_checked) return false;
    if (due - loop.executed < std::max(counted_least, LONGEST_STEP)) return false;
    return stop_flag == nullptr || !stop_flag->load(std::memory_order_relaxed);
}

} // namespace

bool counted_runs = true;
std::uint64_t counted_least = 64;

void interpret_traced() {
    interpret_traced_from(0, -1);
}

void interpret_traced_from(std::uint64_t begun, std::int32_t last_run) {
    const std::int32_t end = cx;
    Loop loop;
    loop.pc = p < 0 || p > end ? end : p;
    loop.sp = t;
    loop.bp = b;
    loop.last = last_run;
    loop.executed = begun;
    check_entry(loop.pc, loop.sp, loop.bp);
    CountOnExit count{loop.executed};

    bool first = true; // the counted loop has not yet decoded the store
    for (;;) {
        const std::uint64_t due = next_due(loop.executed);
        if (counted_slice(loop, due)) {
            // The test before the fetch, which the fast loop takes as made.
            check_fetch(loop.pc, loop.last, loop.sp, loop.bp, end);
            if (interpret_counted(loop, due, first)) return;
            first = false;
        }
        if (run_slice(loop, due, end)) return;
        if (step<true>(loop.pc, loop.sp, loop.bp, loop.last, loop.executed, end)) return;
    }
}
