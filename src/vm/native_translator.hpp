// The native translator's parts, shared by the files that make it up:
//   native_runs.cpp   the straight runs: where they start, the tests at
//                     their start, t, the known cells and deferred pushes,
//                     and the choice per op code;
//   native_ops.cpp    loads, stores, arithmetic, comparisons and jumps;
//   native_calls.cpp  calls, returns, read and write, the entry sequence
//                     and the exits that hand over to the interpreter;
//   native.cpp        the run-time services the machine code calls, the
//                     executable code, running it and listing it.
//
// Built only with TSUMIKI_NATIVE (x86-64 Linux with asmjit).
#pragma once

#include <asmjit/x86.h>
#include <cstdint>
#include <vector>

#include "vm/code.hpp"

namespace native_tier {

using namespace asmjit;

// What the machine code and the C++ around it share: the registers as the
// machine code leaves them.
struct NativeState {
    std::int32_t p;
    std::int32_t b;
    std::int32_t t;
    std::int32_t countdown; // loop heads left before EXIT_LOOP_HEAD (with polls only)
    // Counted runs only: the instruction begun last (-1: none), written
    // before every jump, call and return, and the instructions the run may
    // still begin.
    std::int32_t last;
    std::int64_t left;
    // The lowest cell an indirect read may not trust (native_unsure_from):
    // the machine code hands over at a read of it or of any cell above.
    std::int64_t unsure;
};

// Why the machine code returned.
enum NativeExit : std::int32_t {
    EXIT_HAND_OVER = 0, // the interpreter goes on at p
    EXIT_NO_NUMBER = 1, // GET at p found no number (its cell was s[t+1])
    EXIT_ENDED = 2,     // a run-time service ended the run (native.cpp: pending_end)
    EXIT_LOOP_HEAD =
        3, // the countdown ran out at p, a loop head or routine start (with polls only)
};

// The run-time services the machine code calls (native.cpp): write v, and
// read a number into *cell after the prompt.  Each returns a NativeExit.
std::int32_t native_put(std::int32_t v) noexcept;
std::int32_t native_get(std::int32_t* cell) noexcept;

// The machine registers: s (the address of s[0]), t and b as 64-bit
// indexes, the state, and the table of entry points per instruction.
// Within a run t is T plus a delta the translator keeps (below).
inline const x86::Gp S = x86::rbx;
inline const x86::Gp T = x86::r12;
inline const x86::Gp B = x86::r13;
inline const x86::Gp STATE = x86::r14;
inline const x86::Gp TABLE = x86::r15;
// Counted runs only: NativeState::left while the machine code runs.
inline const x86::Gp LEFT = x86::rbp;

// The registers that hold copies of the top cells (rax, rcx and rdx are
// scratch for single instructions).
inline const x86::Gp POOL[] = {x86::esi, x86::edi, x86::r8d, x86::r9d, x86::r10d, x86::r11d};
inline constexpr int POOL_SIZE = 6;

// Whether x is the index of an instruction in the store.
bool in_code(std::int32_t x);

// Division by a constant d (2 <= |d| < 2^31) as a multiplication: q is
// (n * multiplier) >> (32 + shift), plus one when n is negative, negated
// for a negative d.  The multiplier and shift are those of the usual
// method for 32-bit signed division; as a 64-bit product nothing
// overflows.  (The optimising tier divides so too.)
struct Magic {
    std::int64_t multiplier;
    int shift;
};
Magic magic_for(std::int32_t d);

// A cell near the top of the stack as the translator knows it: only in
// memory, or (also) in a register of the pool, or known to hold a constant.
// What is known saves loading it back; every push reaches memory (below).
struct Cell {
    enum Kind : std::uint8_t { MEMORY, REGISTER, CONSTANT } kind = MEMORY;
    int reg = 0;            // REGISTER: the index in POOL
    std::int32_t value = 0; // CONSTANT
    std::int64_t at = 0;    // MEMORY: its index as T plus this
};

// A push whose store waits: cell T+at gets the cell's value.
struct Deferred {
    std::int64_t at;
    Cell cell;
};

// The translator: one pass over the store after the run starts have been
// marked.
//
// Within a straight run of instructions (no jump target inside) t is the
// register T plus `delta`, known while translating: each instruction's
// cells are addressed from T directly, and T is brought up to date only
// when the run ends (or before a call of a run-time service).  A hand-over
// inside the run adds the delta of its instruction first.  `known` holds
// what is known of the top cells (the last is s[t]), forgotten at the end
// of every run and after any store whose cell might be one of them.
//
// A push is not stored at once but `deferred`: stored before the next
// instruction that could see the cell (one that is not `quiet`: it may
// hand over, call a service, or read or write a cell other than the top
// and frame cells), or dropped when a later push to the same cell comes
// first, since nothing saw it.  So at every hand-over, call and run end
// each cell holds what the instructions left there.  The frame cells a
// quiet instruction uses must not be pushed cells: each run tests that
// they lie below.
struct Translator {
    x86::Assembler& as;
    std::vector<Label> entry;              // per instruction starting a run: its test of t
    std::vector<bool> starts;              // starts a run
    std::vector<std::int32_t> also_starts; // instructions a run must start at too
    std::vector<Label> bail;               // per instruction: hand over before it
    std::vector<std::int64_t> bail_delta;  // and the delta there
    Label exit;                            // leave with p in esi and the reason in eax
    Label hand_over_at_ecx;                // hand over at the instruction in ecx
    bool named = false;                    // labels with names, for the listing
    // With polls, every loop head (the target of a jump from itself or
    // further on) and every routine's start after its ENT counts the
    // countdown down first, and leaves at zero.
    bool polls = false;
    std::vector<bool> loop_head;
    std::vector<Label> poll_exit;
    // Counted (a run with an instruction budget): each run takes its
    // length from LEFT at its start, and hands over there, with LEFT as it
    // was, when that leaves less than none; the interpreter then goes on,
    // counting, and stops where the budget runs out.  Whatever leaves a
    // run before its end gives back the instructions it did not begin.
    bool counted = false;
    std::vector<int> run_end; // per instruction: the first of the next run

    std::int64_t delta = 0;         // t = T + delta
    std::int64_t delta_at = 0;      // the delta before the instruction being translated
    std::vector<Cell> known;        // the top cells, s[t] last
    unsigned busy = 0;              // pool registers the instruction holds operands in
    bool dead = false;              // the run always hands over at its start
    std::vector<Deferred> deferred; // pushes not stored yet
    int compared_for = -1;          // the FJP that may use the flags of the COP before it
    x86::CondCode compared = x86::CondCode::kE;

    explicit Translator(x86::Assembler& a) : as(a) {}

    // --- labels and runs (native_runs.cpp) ---

    // A new label, named kind + i in the listing.
    Label new_label(const char* kind, int i);
    // Where instruction i hands over, with t as it was before it.
    Label bail_at(int i);
    // A comment on the next instruction emitted, in the listing.
    void comment(const char* text) {
        if (named) as.setInlineComment(text);
    }
    // Marks the instructions that start a run and makes their labels.
    void mark_runs();
    // The countdown at loop head i (with polls).
    void poll(int i);
    // Counted: the run from instruction i taken from LEFT; instruction i as
    // the one begun last, before a jump, call or return from it.
    void count_run(int i);
    void note_last(int i);
    // The tests at the start of the run from instruction i.
    void test_run(int i);
    // Whether deferred pushes may wait past the instruction.
    bool quiet(const Instruction& in) const;
    // Translates instruction i.
    void instruction(int i);

    // --- t and the known cells (native_runs.cpp) ---

    // The cell t+k, the frame cell b+a, and where a cell in memory lies.
    x86::Mem top(std::int64_t k) const {
        return x86::dword_ptr(S, T, 2, static_cast<std::int32_t>((delta + k) * 4));
    }
    static x86::Mem frame(std::int64_t a) {
        return x86::dword_ptr(S, B, 2, static_cast<std::int32_t>(a * 4));
    }
    x86::Mem memory(const Cell& c) const {
        return x86::dword_ptr(S, T, 2, static_cast<std::int32_t>(c.at * 4));
    }
    // Brings T up to date, storing the deferred pushes.
    void settle();
    // Stores the deferred pushes and forgets the known cells.
    void forget();
    // Stores one deferred push, or all of them.
    void store(const Deferred& d);
    void flush();
    // Stores a deferred push that register r holds before r changes.
    void claim(int r, std::int64_t at);
    // A pool register that holds nothing known and no operand.
    int take_register();
    // Pops the top cell, or pushes a cell, a register or a constant.
    Cell pop();
    void push(const Cell& c);
    void push_register(int r);
    void push_constant(std::int32_t v);
    // A cell's value in a pool register, as an operand, or in `to`.
    int load(const Cell& c);
    Operand operand(const Cell& c) const;
    void load_into(const x86::Gp& to, const Cell& c);

    // --- loads, stores, arithmetic and jumps (native_ops.cpp) ---

    // rax := base(l), and the cell base(l)+a of LOD and STR.
    void frame_base(int i, std::int32_t l);
    x86::Mem cell(int i, const Instruction& in);
    // LOD, STR, LDA, IND and STO.
    void load_variable(int i, const Instruction& in);
    void store_variable(int i, const Instruction& in);
    void load_address(int i, const Instruction& in);
    void load_indirect(int i, const Instruction& in);
    void store_indirect(int i);
    // OPR and COP.
    void negate();
    void arithmetic(int i, std::int32_t k);
    void divide(int i, const Cell& left, const Cell& right);
    void divide_by_constant(const Cell& left, std::int32_t d);
    void compare(int i, std::int32_t k);
    // FJP.
    void jump_if_zero(int i, const Instruction& in);

    // --- calls, services and exits (native_calls.cpp) ---

    // A call of a run-time service at instruction i.
    void call_service(int i, std::uint64_t service, const char* name);
    // The tests RET and FRT make before anything changes.
    void return_checks(int i);
    // MST, CUP, ENT, RET and FRT.
    void mark_stack(int i, const Instruction& in);
    void call(int i, const Instruction& in);
    void enter(int i, const Instruction& in);
    void return_from_procedure(int i);
    void return_from_function(int i);
    // GET and PUT.
    void get(int i);
    void put(int i);
    // The entry sequence, and the exits after the last instruction.
    void prologue();
    void exits();
};

} // namespace native_tier
