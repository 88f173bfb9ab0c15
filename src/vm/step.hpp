// One instruction of the plain loop, and the test before each fetch: the
// traced build's interpreter (vm/traced.cpp) runs them in a loop, and the
// debugging session (debug/session.hpp) one at a time, with a watcher that
// keeps what each instruction changes.  Both are the effects of
// vm/effects.hpp, in the order the machine makes them.
#pragma once

#include <cstdint>

#include "vm/code.hpp"
#include "vm/effects.hpp"
#include "vm/machine.hpp"

// The test before fetching instruction `next`, with the t that instruction
// `last` left (-1: none ran yet): t must lie within 0 to STACK_OVERFLOW-1,
// and a run that went on past the store's last instruction fails there.
inline void check_fetch(std::int32_t next, std::int32_t last, std::int64_t sp, std::int64_t bp,
                        std::int32_t end) {
    if (static_cast<std::uint64_t>(sp) >= std::uint64_t{STACK_OVERFLOW})
        fail_test(next, last, sp, bp);
    if (next == end) fail_at(end - 1, sp, bp, MSG_BAD_CODE_ADDRESS);
}

// Runs instruction pc, whose fetch test has passed, on the registers in
// pc, sp and bp, telling `watch` of the cells it touches (vm/effects.hpp);
// pc becomes the instruction to go on at.  True when it was HLT: the run has
// ended and the registers are back in the globals.  A fault ends the run
// through fail_at or fail_off_end, which also put the registers back.
// Always inlined, so that the registers stay in the caller's locals (clang
// leaves it a call of its own, and them in memory, otherwise).
template <class W>
[[gnu::always_inline]] inline bool run_instruction(std::int32_t& pc, std::int64_t& sp,
                                                   std::int64_t& bp, std::int32_t end, W watch) {
    const Instruction in = code[pc];
    std::int32_t next = pc + 1;
    std::int64_t frame = bp;
    // LOD, STR, LDA and MST look l links out first.
    if (properties_of(in.op).level && !frame_base(bp, in.l, frame))
        fail_at(pc, sp, bp, MSG_BAD_ADDRESS);
    Msg fault = NO_FAULT;
    // A jump's target outside the store: the jump's effect, then the fetch
    // fails.
    bool off = in.a < 0 || in.a >= end;
    switch (in.op) {
    case LDC: do_ldc(sp, in.a, watch); break;
    case OPR:
    case COP:
        if (binary_of(in) >= 0) {
            fault = do_binary(sp, static_cast<Binary>(binary_of(in)), watch);
        } else if (in.op == OPR && in.a == OPR_NEG) {
            do_neg(sp, watch);
        } // any other sub-code does nothing
        break;
    case LOD: fault = do_lod(sp, frame, in.a, watch); break;
    case STR: fault = do_str(sp, frame, in.a, watch); break;
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
    case FRT: fault = do_return(sp, bp, in.op == FRT, end, next, watch); break;
    case MST: do_mst(sp, bp, frame, in.a, watch); break;
    case ENT: do_ent(sp, bp, in.a); break;
    case HLT: halt_at(pc, sp, bp); return true;
    case GET: fault = do_get(sp, watch); break;
    case PUT: do_put(sp); break;
    case LDA: do_lda(sp, frame, in.a, watch); break;
    case IND: fault = do_ind(sp, in.a, watch); break;
    case STO: fault = do_sto(sp, watch); break;
    case CUP:
        fault = do_cup(sp, bp, in.l, pc, watch);
        if (fault == NO_FAULT && off) fail_off_end(pc, sp, bp);
        next = in.a;
        break;
    default: fault = MSG_UNDEFINED_OP; break;
    }
    if (fault != NO_FAULT) fail_at(pc, sp, bp, fault);
    pc = next;
    return false;
}
