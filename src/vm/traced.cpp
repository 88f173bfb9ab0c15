// The plain loop: one instruction at a time (vm/step.hpp), straight from
// the effects of vm/effects.hpp, with the test of t before every fetch.  It
// is the traced build's interpreter, where the run trace, the instruction
// budget, the stop flag, the pulse and the checked run (vm/check.hpp) look
// at every instruction; the other build runs the fast loop
// (vm/interpreter.cpp), which its tests compare with this one.
#include "diag/trace.hpp"
#include "vm/check.hpp"
#include "vm/effects.hpp"
#include "vm/machine.hpp"
#include "vm/runtime.hpp"
#include "vm/step.hpp"

namespace {

// Leaves the count of instructions begun in instructions_run however the
// loop ends: at HLT or by a Fatal thrown from inside it.
struct CountOnExit {
    const std::uint64_t& executed;
    explicit CountOnExit(const std::uint64_t& counter) : executed(counter) {}
    CountOnExit(const CountOnExit&) = delete;
    CountOnExit& operator=(const CountOnExit&) = delete;
    ~CountOnExit() { instructions_run = executed; }
};

} // namespace

void interpret_traced() {
    interpret_traced_from(0, -1);
}

void interpret_traced_from(std::uint64_t begun, std::int32_t last_run) {
    const std::int32_t end = cx;
    std::int32_t pc = p < 0 || p > end ? end : p;
    std::int64_t sp = t;
    std::int64_t bp = b;
    check_entry(pc, sp, bp);
    std::int32_t last = last_run;   // the instruction run last
    std::uint64_t executed = begun; // instructions begun
    CountOnExit count{executed};
    std::uint64_t since_pulse = 0;

    for (;;) {
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
            bool spent = instruction_budget != 0 && executed == instruction_budget;
            if (spent) stop_before(pc, last, sp, bp, FatalKind::budget_spent);
            if (stop_flag != nullptr && stop_flag->load(std::memory_order_relaxed))
                stop_before(pc, last, sp, bp, FatalKind::stopped);
            if (run_pulse.call != nullptr && ++since_pulse >= run_pulse.every) {
                since_pulse = 0;
                pulse_at(pc, sp, bp);
            }
            if (run_checked) check_step(pc, sp, bp);
        }
        last = pc;
        ++executed;
        if (run_instruction(pc, sp, bp, end, Unwatched{})) return;
    }
}
