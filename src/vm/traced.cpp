// The plain loop: one instruction at a time, straight from the effects of
// vm/effects.hpp, with the test of t before every fetch.  It is the traced
// build's interpreter, where the run trace, the instruction budget, the
// stop flag and the pulse look at every instruction; the other build runs
// the fast loop (vm/interpreter.cpp), which its tests compare with this one.
#include "diag/trace.hpp"
#include "vm/effects.hpp"
#include "vm/machine.hpp"
#include "vm/runtime.hpp"

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
    const std::int32_t end = cx;
    std::int32_t pc = p < 0 || p > end ? end : p;
    std::int64_t sp = t;
    std::int64_t bp = b;
    check_entry(pc, sp, bp);
    std::int32_t last = -1; // the instruction run last
    std::uint64_t executed = 0; // instructions begun
    CountOnExit count{executed};
    std::uint64_t since_pulse = 0;

    for (;;) {
        // The test of t, with the t the last instruction left.
        if (static_cast<std::uint64_t>(sp) >= std::uint64_t{STACK_OVERFLOW})
            fail_test(pc, last, sp, bp);
        // Running on past the last instruction.
        if (pc == end) fail_at(end - 1, sp, bp, MSG_BAD_CODE_ADDRESS);
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
            if (spent)
                stop_before(pc, last, sp, bp, FatalKind::budget_spent);
            if (stop_flag != nullptr && stop_flag->load(std::memory_order_relaxed))
                stop_before(pc, last, sp, bp, FatalKind::stopped);
            if (run_pulse.call != nullptr && ++since_pulse >= run_pulse.every) {
                since_pulse = 0;
                pulse_at(pc, sp, bp);
            }
        }
        const Instruction in = code[pc];
        last = pc;
        ++executed;
        std::int32_t next = pc + 1;
        std::int64_t frame = bp;
        // LOD, STR, LDA and MST look l links out first.
        if ((in.op == LOD || in.op == STR || in.op == LDA || in.op == MST) &&
            !frame_base(bp, in.l, frame))
            fail_at(pc, sp, bp, MSG_BAD_ADDRESS);
        Msg fault = NO_FAULT;
        // A jump's target outside the store: the jump's effect, then the
        // fetch fails.
        bool off = in.a < 0 || in.a >= end;
        switch (in.op) {
        case LDC: do_ldc(sp, in.a); break;
        case OPR:
        case COP:
            if (binary_of(in) >= 0) {
                fault = do_binary(sp, static_cast<Binary>(binary_of(in)));
            } else if (in.op == OPR && in.a == OPR_NEG) {
                do_neg(sp);
            } // any other sub-code does nothing
            break;
        case LOD: fault = do_lod(sp, frame, in.a); break;
        case STR: fault = do_str(sp, frame, in.a); break;
        case UJP:
            if (off) fail_off_end(pc, sp, bp);
            next = in.a;
            break;
        case FJP:
            if (do_fjp(sp)) {
                if (off) fail_off_end(pc, sp, bp);
                next = in.a;
            }
            break;
        case RET:
        case FRT: fault = do_return(sp, bp, in.op == FRT, end, next); break;
        case MST: do_mst(sp, bp, frame, in.a); break;
        case ENT: do_ent(sp, bp, in.a); break;
        case HLT: halt_at(pc, sp, bp); return;
        case GET: fault = do_get(sp); break;
        case PUT: do_put(sp); break;
        case LDA: do_lda(sp, frame, in.a); break;
        case IND: fault = do_ind(sp, in.a); break;
        case STO: fault = do_sto(sp); break;
        case CUP:
            fault = do_cup(sp, bp, in.l, pc);
            if (fault == NO_FAULT && off) fail_off_end(pc, sp, bp);
            next = in.a;
            break;
        default: fault = MSG_UNDEFINED_OP; break;
        }
        if (fault != NO_FAULT) fail_at(pc, sp, bp, fault);
        pc = next;
    }
}
