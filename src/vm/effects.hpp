// The effect of each instruction, stated once: small routines over the
// stack that both loops of the interpreter (vm/traced.cpp, one instruction
// at a time, and vm/interpreter.cpp, the fast loop) run, with t and b held
// in their own locals, passed here as `top` and `base` (named apart from
// the machine's registers, which they stand for).  They are 64 bits wide
// there: their values stay within a few cells of the stack, so indexing
// needs no widening.
//
// A routine that can fail returns the message of its run-time error, or
// NO_FAULT; it has then done exactly what the instruction does before it
// fails, and the loop reports the fault with the registers as they are.
//
// Each routine that writes a cell, or reads one through an address, tells
// a watcher first (its last argument).  The loops pass none: Unwatched's
// calls are empty and vanish when inlined.  A debugging session passes one
// that keeps each cell's old value before it changes (its history) and
// lets a checker see every read.
#pragma once

#include <cstdint>

#include "diag/diag.hpp"
#include "vm/code.hpp"
#include "vm/frame.hpp"
#include "vm/machine.hpp"
#include "vm/runtime.hpp"

inline constexpr Msg NO_FAULT = MSG_COUNT;

// The effects are small and the fast loop is one long routine that runs
// many of them in a row: they are always inlined there, since a compiler
// stops inlining into a routine that has grown long.  Not under
// AddressSanitizer, where every effect carries its checks and the fast
// loop, all of them forced into it, takes clang minutes to compile (seconds
// otherwise); what the loops do is the same either way.
#if defined(__SANITIZE_ADDRESS__)
#define TSUMIKI_ADDRESS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TSUMIKI_ADDRESS_SANITIZED 1
#endif
#endif
#if defined(__GNUC__) && !defined(TSUMIKI_ADDRESS_SANITIZED)
#define EFFECT_INLINE inline __attribute__((always_inline))
#else
#define EFFECT_INLINE inline
#endif

// The watcher of the loops: nobody.  A watcher is a small value with these
// two calls, made just before the effect touches cell `cell` (-1, the spare
// cell below s[0], included).  `read` is told of the cells read through an
// address or a frame offset (LOD, IND, and the result cell FRT returns), not
// of the operands on top of the stack.
struct Unwatched {
    void read(std::int64_t) const {}
    void write(std::int64_t) const {}
};

EFFECT_INLINE std::uint32_t u32(std::int32_t v) {
    return static_cast<std::uint32_t>(v);
}
EFFECT_INLINE std::int32_t i32(std::uint32_t v) {
    return static_cast<std::int32_t>(v);
}

EFFECT_INLINE bool in_stack(std::int64_t address) {
    return static_cast<std::uint64_t>(address) < static_cast<std::uint64_t>(STACK_SIZE);
}

// A new top index, kept within two cells of the stack's ends so that the
// test before the next fetch sees which end it left by.
EFFECT_INLINE std::int64_t clamp_top(std::int64_t v) {
    return v > STACK_SIZE ? STACK_SIZE : v < -2 ? -2 : v;
}

// The binary operations of OPR (sub-codes 1 to 4) and COP (1 to 6).
enum Binary : unsigned char { B_ADD, B_SUB, B_MUL, B_DIV, B_EQ, B_NEQ, B_GT, B_GEQ, B_LT, B_LEQ };
inline constexpr int BINARY_COUNT = 10;

// The binary operation instruction `in` performs, or -1 (another sub-code,
// negation, another instruction).
inline int binary_of(const Instruction& in) {
    if (in.op == OPR && in.a >= OPR_ADD && in.a <= OPR_DIV) return B_ADD + in.a - OPR_ADD;
    if (in.op == COP && in.a >= COP_EQ && in.a <= COP_LEQ) return B_EQ + in.a - COP_EQ;
    return -1;
}

// Whether `l k r` fails: division by zero.
EFFECT_INLINE bool binary_fails(Binary k, std::int32_t r) {
    return k == B_DIV && r == 0;
}

// l k r, wrapping around in 32 bits; comparisons give 1 or 0.  Division
// truncates toward zero, and the most negative value div -1 wraps to itself.
EFFECT_INLINE std::int32_t binary(Binary k, std::int32_t l, std::int32_t r) {
    switch (k) {
    case B_ADD: return i32(u32(l) + u32(r));
    case B_SUB: return i32(u32(l) - u32(r));
    case B_MUL: return i32(u32(l) * u32(r));
    case B_DIV: return r == -1 ? i32(0u - u32(l)) : l / r;
    case B_EQ: return l == r ? 1 : 0;
    case B_NEQ: return l != r ? 1 : 0;
    case B_GT: return l > r ? 1 : 0;
    case B_GEQ: return l >= r ? 1 : 0;
    case B_LT: return l < r ? 1 : 0;
    case B_LEQ: return l <= r ? 1 : 0;
    }
    return 0;
}

// base(l) seen from frame b: l static links out (vm/frame.hpp); false
// when a link lies outside the stack.
EFFECT_INLINE bool frame_base(std::int64_t base, std::int32_t l, std::int64_t& frame) {
    return frame_base_at_level(s, base, l, frame);
}

// LDC 0,n: push n.
template <class W = Unwatched>
EFFECT_INLINE void do_ldc(std::int64_t& top, std::int32_t n, W w = {}) {
    w.write(top + 1);
    s[++top] = n;
}

// LOD l,a with frame = base(l): push s[frame+a].
template <class W = Unwatched>
EFFECT_INLINE Msg do_lod(std::int64_t& top, std::int64_t frame, std::int32_t a, W w = {}) {
    std::int64_t address = frame + a;
    if (!in_stack(address)) return MSG_BAD_ADDRESS;
    w.read(address);
    w.write(top + 1);
    s[top + 1] = s[address];
    ++top;
    return NO_FAULT;
}

// STR l,a with frame = base(l): s[frame+a] := s[t]; pop.
template <class W = Unwatched>
EFFECT_INLINE Msg do_str(std::int64_t& top, std::int64_t frame, std::int32_t a, W w = {}) {
    std::int64_t address = frame + a;
    if (!in_stack(address)) return MSG_BAD_ADDRESS;
    w.write(address);
    s[address] = s[top--];
    return NO_FAULT;
}

// LDA l,a with frame = base(l): push frame+a.
template <class W = Unwatched>
EFFECT_INLINE void do_lda(std::int64_t& top, std::int64_t frame, std::int32_t a, W w = {}) {
    w.write(top + 1);
    s[++top] = i32(u32(static_cast<std::int32_t>(frame)) + u32(a));
}

// OPR 0,k or COP 0,k for a binary operation k: the two top cells make one.
template <class W = Unwatched> EFFECT_INLINE Msg do_binary(std::int64_t& top, Binary k, W w = {}) {
    std::int32_t r = s[top];
    if (binary_fails(k, r)) return MSG_DIVISION_BY_ZERO;
    w.write(top - 1);
    s[top - 1] = binary(k, s[top - 1], r);
    --top;
    return NO_FAULT;
}

// OPR 0,5: negate the top cell.
template <class W = Unwatched> EFFECT_INLINE void do_neg(std::int64_t top, W w = {}) {
    w.write(top);
    s[top] = i32(0u - u32(s[top]));
}

// FJP 0,x: pop; whether the jump is taken.
EFFECT_INLINE bool do_fjp(std::int64_t& top) {
    return s[top--] == 0;
}

// MST l,a with link = base(l): the static and dynamic links of the frame
// the call will make, then t rises by a.
template <class W = Unwatched>
EFFECT_INLINE void do_mst(std::int64_t& top, std::int64_t base, std::int64_t link, std::int32_t a,
                          W w = {}) {
    const std::int64_t callee = top + 1; // the frame the call will make
    w.write(callee + FRAME_STATIC_LINK);
    s[callee + FRAME_STATIC_LINK] = static_cast<std::int32_t>(link);
    w.write(callee + FRAME_DYNAMIC_LINK);
    s[callee + FRAME_DYNAMIC_LINK] = static_cast<std::int32_t>(base);
    top = clamp_top(top + a);
}

// CUP n,x at code index pc: the return address goes to s[t-n], the new
// frame starts FRAME_RETURN_ADDRESS cells below it.  (The loop then goes
// to x.)
template <class W = Unwatched>
EFFECT_INLINE Msg do_cup(std::int64_t top, std::int64_t& base, std::int32_t n, std::int32_t pc,
                         W w = {}) {
    std::int64_t cell = top - n;
    const std::int64_t callee = cell - FRAME_RETURN_ADDRESS;
    if (!frame_fits(callee)) return MSG_BAD_ADDRESS;
    w.write(cell);
    s[cell] = pc + 1;
    base = callee;
    return NO_FAULT;
}

// ENT 0,m: t := b+m.
EFFECT_INLINE void do_ent(std::int64_t& top, std::int64_t base, std::int32_t m) {
    top = clamp_top(base + m);
}

// RET 0,0 (function false) and FRT 0,0 (true, which first moves the result
// to s[b]): t falls below the frame (to its result), then b and the
// instruction to go on at, `to`, come from the frame's header.  A return
// address outside the code store or a link that is not a frame base fails
// with b unchanged.
template <class W = Unwatched>
EFFECT_INLINE Msg do_return(std::int64_t& top, std::int64_t& base, bool function,
                            std::int32_t code_end, std::int32_t& to, W w = {}) {
    if (function) {
        w.read(base + FRAME_RESULT);
        w.write(base);
        s[base] = s[base + FRAME_RESULT];
    }
    std::int32_t ret = s[base + FRAME_RETURN_ADDRESS];
    std::int32_t link = s[base + FRAME_DYNAMIC_LINK];
    top = function ? base : base - 1;
    if (u32(ret) >= u32(code_end)) return MSG_BAD_CODE_ADDRESS;
    if (!frame_fits(link)) return MSG_BAD_ADDRESS;
    base = link;
    to = ret;
    return NO_FAULT;
}

// GET 0,0: push a number read after the prompt; the cell keeps its old
// value when none could be read, and the run then fails.
template <class W = Unwatched> inline Msg do_get(std::int64_t& top, W w = {}) {
    ++top;
    w.write(top);
    put_prompt();
    return read_number(s[top]) ? NO_FAULT : MSG_NO_NUMBER;
}

// PUT 0,0: write s[t] as a line; pop.
inline void do_put(std::int64_t& top) {
    write_number(s[top--]);
}

// IND 0,a: s[t] := s[s[t]+a].
template <class W = Unwatched>
EFFECT_INLINE Msg do_ind(std::int64_t top, std::int32_t a, W w = {}) {
    std::int64_t address = std::int64_t{s[top]} + a;
    if (!in_stack(address)) return MSG_BAD_ADDRESS;
    w.read(address);
    w.write(top);
    s[top] = s[address];
    return NO_FAULT;
}

// STO 0,0: s[s[t-1]] := s[t]; pop both.
template <class W = Unwatched> EFFECT_INLINE Msg do_sto(std::int64_t& top, W w = {}) {
    std::int32_t address = s[top - 1];
    if (!in_stack(address)) return MSG_BAD_ADDRESS;
    w.write(address);
    s[address] = s[top];
    top -= 2;
    return NO_FAULT;
}

// The ends of a run every engine shares (the loops of the interpreter and
// the native tier's hand-back), stated here once.  Each sets p, t and b,
// delivers the output written so far (ir then stays as it was when that
// fails), sets ir and ir_pc, and ends the run.  What a run puts back after
// any end is in vm/run.hpp.

// Registers a caller set that no instruction could start from: b not a
// frame base, t outside the stack, p not in the store.  Nothing was
// fetched: ir stays as it was.
void check_entry(std::int32_t pc, std::int64_t top, std::int64_t base);

// Instruction pc failed with `fault`; p is past it.
[[noreturn]] void fail_at(std::int32_t pc, std::int64_t top, std::int64_t base, Msg fault);

// The test before fetching instruction `next` failed; instruction `last`
// ran last.
[[noreturn]] void fail_test(std::int32_t next, std::int32_t last, std::int64_t top,
                            std::int64_t base);

// Instruction pc jumped (or ran on) outside the code store: the test of t
// first, then the fetch fails with p at the end of the store.
[[noreturn]] void fail_off_end(std::int32_t pc, std::int64_t top, std::int64_t base);

// The traced build's budget (FatalKind::budget_spent), stop flag
// (FatalKind::stopped) or check (FatalKind::check_failed, vm/check.hpp)
// ended the run before the fetch of instruction `next`; instruction `last`
// ran last (-1: none), or, for the check, is `next`, the one it stopped.
[[noreturn]] void stop_before(std::int32_t next, std::int32_t last, std::int64_t top,
                              std::int64_t base, FatalKind why);

// Not an end: the traced build's pulse before the fetch of instruction
// `next`, with the registers back and the output written so far delivered.
void pulse_at(std::int32_t next, std::int64_t top, std::int64_t base);

// HLT at pc: the registers go back and the run ends normally.
void halt_at(std::int32_t pc, std::int64_t top, std::int64_t base);
