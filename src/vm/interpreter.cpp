// The fast loop: the code store decoded once into steps, each case ending
// in its own dispatch (vm/dispatch.hpp), the registers in locals.  A step
// does the work of one instruction or of a short run of them, by one rule:
//
//   Every binary operation, store and conditional jump takes its operands
//   from the stack, a constant or a frame cell, and a binary operation
//   gives its result to the stack, a frame cell, a conditional jump, a
//   load through it or a store through the address below it.  An index
//   (a constant, a frame cell, or the sum or difference of two of them)
//   gives its value to an element of an array in the frame: the element's
//   address, left on the stack or loaded through.
//
// A constant is an LDC right before the instruction that takes it, a frame
// cell a LOD 0,a there (or, as where a result goes, an STR 0,c right after
// the operation), a conditional jump an FJP right after it whose target is
// in the store, a load through a value an IND and a store through an
// address an STO right after it.  An element is an LDA 0,a and an LDC (the
// array's lower bound) before the index's first instruction and two OPR
// SUBs after its last (the address a+b-(lower bound - index)), with an IND
// after those when it is loaded.  So the steps are, with the name of each:
//
//   step        instructions        forms
//   k_xy_d      x y k d             k  ADD SUB MUL DIV (OPR 1-4)
//                                      EQ NEQ GT GEQ LT LEQ (COP 1-6)
//                                   xy SS SK SF KK KF FK FF
//                                   d  S F J I T
//   MOVE_xd     x d                 xd KS FS SF SJ SI ST KF FF KJ FJ
//                                      KI FI KT FT
//   k_xy_d      e x y k d           k  ADD SUB   xy KK KF FK FF   d A E
//   MOVE_xd     e x d               xd KA FA KE FE
//
// where S as a source is the stack (no instruction: the value is there
// already) and as a destination the stack (no instruction: the result
// stays there); K is an LDC, F a LOD 0,a or STR 0,c, J an FJP, I an IND
// and T an STO; e is an element's LDA 0,a and LDC, A its two OPR SUBs (the
// address stays on the stack) and E those and its IND.  The forms of one
// instruction are that instruction alone: k_SS_S is OPR or COP, MOVE_KS
// LDC, MOVE_FS LOD 0,a, MOVE_SF STR 0,c, MOVE_SJ FJP, MOVE_SI IND, MOVE_ST
// STO.  Every other instruction is a step of its own, with these single
// forms:
//
//   LOD, STR, LDA, MST of level 0 use b itself, of level 1 the static link
//       s[b]; of other levels they walk the chain
//   UJP and CUP go straight to where the chain of UJPs at their target
//       leads (a UJP changes nothing the test of t looks at), and a CUP
//       whose chain leads to an ENT runs it (CUP_ENT)
//   a jump out of the store, a sub-code outside the tables, an op byte
//       outside the instruction set, the end of the store: each its own
//
// The test of t before every fetch: a step pushes at most STEP_ROOM cells
// (an element's four) before its last instruction, so while t is below
// NEAR_LIMIT no test inside a step can fail; from there up (or below 0)
// the loop makes the test in full and runs instructions alone until t is
// back below.  A step of several instructions is their effects one after
// the other; one that fails (an address outside the stack, a division by
// zero, the stack emptied before the step's last instruction) ends the run
// at the instruction that failed, with the registers that instruction
// left.
//
// The traced build runs the plain loop of vm/traced.cpp wherever a run is
// watched, and this loop where it is not.  A run watched only by its
// budget, its pulse and its stop flag goes on the counted form of this
// loop (fast_loop<true>, interpret_counted) between the fetches where those
// are due: the same steps, each adding its number of instructions to a
// count as it ends and coming back to the plain loop when the count comes
// within LONGEST_STEP of the due fetch.  Its UJP and CUP go to their own
// target, not along the chain, so that every UJP is counted.
#include "diag/trace.hpp"
#include "vm/dispatch.hpp"
#include "vm/effects.hpp"
#include "vm/machine.hpp"
#include "vm/runtime.hpp"

namespace {

// Where a step takes a value from, and where it puts a result.
enum Source : unsigned char { SOURCE_S, SOURCE_K, SOURCE_F };
// A and E, the element's address and the element, only for an index.
enum Dest : unsigned char { DEST_S, DEST_F, DEST_J, DEST_I, DEST_T, DEST_A, DEST_E };
constexpr int DEST_COUNT = 7;

// The cells the instruction a result goes to takes from the top: STR and
// FJP the result, STO it and the address below it; IND none.
constexpr int pops_of(Dest d) {
    return d == DEST_F || d == DEST_J ? 1 : d == DEST_T ? 2 : 0;
}

// The steps, from the rule: every binary operation with every pair of
// sources and every destination, every move, then the single forms.
// clang-format off
#define VM_PAIRS(X, k, d) \
    X(k, S, S, d) X(k, S, K, d) X(k, S, F, d) X(k, K, K, d) X(k, K, F, d) X(k, F, K, d) X(k, F, F, d)
#define VM_DESTS(X, k) \
    VM_PAIRS(X, k, S) VM_PAIRS(X, k, F) VM_PAIRS(X, k, J) VM_PAIRS(X, k, I) VM_PAIRS(X, k, T)
#define VM_BINARY_STEPS(X) \
    VM_DESTS(X, ADD) VM_DESTS(X, SUB) VM_DESTS(X, MUL) VM_DESTS(X, DIV) VM_DESTS(X, EQ) \
    VM_DESTS(X, NEQ) VM_DESTS(X, GT) VM_DESTS(X, GEQ) VM_DESTS(X, LT) VM_DESTS(X, LEQ)
#define VM_MOVE_STEPS(X) \
    X(K, S) X(F, S) X(S, F) X(S, J) X(S, I) X(S, T) X(K, F) X(F, F) X(K, J) X(F, J) X(K, I) X(F, I) \
    X(K, T) X(F, T)
#define VM_INDEX_PAIRS(X, k, d) X(k, K, K, d) X(k, K, F, d) X(k, F, K, d) X(k, F, F, d)
#define VM_INDEX_STEPS(X) \
    VM_INDEX_PAIRS(X, ADD, A) VM_INDEX_PAIRS(X, ADD, E) VM_INDEX_PAIRS(X, SUB, A) VM_INDEX_PAIRS(X, SUB, E)
#define VM_INDEX_MOVES(X) X(K, A) X(F, A) X(K, E) X(F, E)
#define VM_SINGLE_STEPS(X) \
    X(NEG) X(NOP) X(LOD1) X(LOD) X(STR1) X(STR) X(LDA0) X(LDA1) X(LDA) X(MST0) X(MST1) X(MST) X(UJP) X(CUP) X(RET) X(FRT) \
    X(CUP_ENT) X(ENT) X(HLT) X(GET) X(PUT) X(UJP_OFF) X(FJP_OFF) X(CUP_OFF) X(UNDEFINED) \
    X(OFF_END)
// clang-format on
#define VM_BINARY_NAME(k, x, y, d) X_(k##_##x##y##_##d)
#define VM_MOVE_NAME(x, d)         X_(MOVE_##x##d)
#define VM_STEPS(X)                                                                                \
    VM_BINARY_STEPS(VM_BINARY_NAME)                                                                \
    VM_MOVE_STEPS(VM_MOVE_NAME)                                                                    \
    VM_INDEX_STEPS(VM_BINARY_NAME) VM_INDEX_MOVES(VM_MOVE_NAME) VM_SINGLE_STEPS(X_)

enum VmOp : std::uint16_t {
#define X_(name) VM_##name,
    VM_STEPS(X_)
#undef X_
};

// The step of each binary operation, pair of sources and destination, and
// of each move, for the decoder.
struct StepTables {
    VmOp binary[BINARY_COUNT][3][3][DEST_COUNT];
    VmOp move[3][DEST_COUNT];
};
constexpr StepTables step_tables = [] {
    StepTables tables{};
#define FILL_BINARY(k, x, y, d)                                                                    \
    tables.binary[B_##k][SOURCE_##x][SOURCE_##y][DEST_##d] = VM_##k##_##x##y##_##d;
#define FILL_MOVE(x, d) tables.move[SOURCE_##x][DEST_##d] = VM_MOVE_##x##d;
    VM_BINARY_STEPS(FILL_BINARY)
    VM_MOVE_STEPS(FILL_MOVE)
    VM_INDEX_STEPS(FILL_BINARY)
    VM_INDEX_MOVES(FILL_MOVE)
#undef FILL_BINARY
#undef FILL_MOVE
    return tables;
}();

// An element step's LDA has l 0: its l holds the index's first source's a,
// and y (its second source's) and c (its IND's) mean what they say.
struct Step {
    const void* go; // where the loop runs op, with computed gotos
    VmOp op;        // the step that starts here
    VmOp alone;     // the single form of the instruction here
    std::int32_t l; // the instruction's l
    std::int32_t a; // its a (a jump's target as the chain of UJPs leads)
    std::int32_t y; // the next instruction's a: a second source
    std::int32_t c; // the a of the instruction a result goes to
    std::int32_t z; // an element step's lower bound (its LDC's a)
};

// The code store as the loop runs it, indexed like the store: step i does
// the work of instructions i to i+k-1, and the loop goes on at i+k (or
// where a jump among them leads).  A jump into the middle of a step finds
// the step that starts there.  The end marker follows the last instruction.
Step program[CODE_MAX + 1];

// The most cells a step pushes before its last instruction, and the t from
// which on instructions run alone, with the test of t made in full.
constexpr std::int64_t STEP_ROOM = 4;
constexpr std::int64_t NEAR_LIMIT = STACK_OVERFLOW - STEP_ROOM;

bool in_store(std::int32_t x) {
    return x >= 0 && x < cx;
}

// Instruction i as a source: K for LDC, F for LOD 0,a, or -1.
int source_at(int i) {
    if (i >= cx) return -1;
    if (code[i].op == LDC) return SOURCE_K;
    if (code[i].op == LOD && code[i].l == 0) return SOURCE_F;
    return -1;
}

// Instruction i as where a result goes: F for STR 0,c, J for an FJP into
// the store, I for IND, T for STO, S for anything else.
Dest dest_at(int i) {
    if (i >= cx) return DEST_S;
    if (code[i].op == STR && code[i].l == 0) return DEST_F;
    if (code[i].op == FJP && in_store(code[i].a)) return DEST_J;
    if (code[i].op == IND) return DEST_I;
    if (code[i].op == STO) return DEST_T;
    return DEST_S;
}

int binary_at(int i) {
    return i < cx ? binary_of(code[i]) : -1;
}

// Where a jump to x goes on to: along the UJPs there, as long as each leads
// into the store (a few at most, so that a loop of UJPs stays one).
std::int32_t chain_end(std::int32_t x) {
    for (int hops = 0; hops < 8 && in_store(x) && code[x].op == UJP && in_store(code[x].a); ++hops)
        x = code[x].a;
    return x;
}

// The single form of instruction i.
VmOp alone_at(int i) {
    const Instruction& in = code[i];
    int k = binary_of(in);
    if (k >= 0) return step_tables.binary[k][SOURCE_S][SOURCE_S][DEST_S];
    int x = source_at(i);
    if (x >= 0) return step_tables.move[x][DEST_S];
    if (dest_at(i) != DEST_S) return step_tables.move[SOURCE_S][dest_at(i)];
    switch (in.op) {
    case OPR: return in.a == OPR_NEG ? VM_NEG : VM_NOP;
    case COP: return VM_NOP;
    case LOD: return in.l == 1 ? VM_LOD1 : VM_LOD;
    case STR: return in.l == 1 ? VM_STR1 : VM_STR;
    case LDA: return in.l == 0 ? VM_LDA0 : in.l == 1 ? VM_LDA1 : VM_LDA;
    case MST: return in.l == 0 ? VM_MST0 : in.l == 1 ? VM_MST1 : VM_MST;
    case UJP: return in_store(in.a) ? VM_UJP : VM_UJP_OFF;
    case FJP: return VM_FJP_OFF; // into the store: a destination, above
    case CUP: return in_store(in.a) ? VM_CUP : VM_CUP_OFF;
    case RET: return VM_RET;
    case FRT: return VM_FRT;
    case ENT: return VM_ENT;
    case HLT: return VM_HLT;
    case GET: return VM_GET;
    case PUT: return VM_PUT;
    case IND:
    case STO:
    case LDC: break; // a source or a destination, above
    }
    return VM_UNDEFINED;
}

bool sub_at(int i) {
    return binary_at(i) == B_SUB;
}

// The element step at i (an LDA 0,a there), into st, or false.
bool decode_element(int i, Step& st) {
    if (code[i].l != 0 || i + 1 >= cx || code[i + 1].op != LDC) return false;
    const int j = i + 2; // the index's first instruction
    int k = -1, x = source_at(j), y = SOURCE_S, e = j + 1;
    if (x < 0) return false;
    if (source_at(j + 1) >= 0 && (binary_at(j + 2) == B_ADD || binary_at(j + 2) == B_SUB)) {
        y = source_at(j + 1);
        k = binary_at(j + 2);
        e = j + 3;
    }
    if (!sub_at(e) || !sub_at(e + 1)) return false;
    const Dest d = e + 2 < cx && code[e + 2].op == IND ? DEST_E : DEST_A;
    st.op = k >= 0 ? step_tables.binary[k][x][y][d] : step_tables.move[x][d];
    st.l = code[j].a;
    st.y = k >= 0 ? code[j + 1].a : 0;
    st.c = d == DEST_E ? code[e + 2].a : 0;
    st.z = code[i + 1].a;
    return true;
}

// The step that starts at instruction i: the longest the rule allows.
// Unchained (for the counted loop, which counts every UJP it runs), UJP
// and CUP go to their own target.
Step decode(int i, bool chained) {
    const Instruction& in = code[i];
    Step st{nullptr, alone_at(i), alone_at(i), in.l, in.a, i + 1 < cx ? code[i + 1].a : 0, in.a, 0};
    if (in.op == LDA && decode_element(i, st)) return st;
    if (chained && (in.op == UJP || in.op == CUP)) st.a = chain_end(in.a);
    if (st.op == VM_CUP && code[st.a].op == ENT) st.op = VM_CUP_ENT;
    int x = source_at(i);
    int k = -1, d = i; // the operation and the instruction after it
    int xs = SOURCE_S, ys = SOURCE_S;
    if (binary_at(i) >= 0) {
        k = binary_at(i);
        d = i + 1;
    } else if (x >= 0 && binary_at(i + 1) >= 0) {
        k = binary_at(i + 1);
        ys = x;
        d = i + 2;
    } else if (x >= 0 && source_at(i + 1) >= 0 && binary_at(i + 2) >= 0) {
        k = binary_at(i + 2);
        xs = x;
        ys = source_at(i + 1);
        d = i + 3;
    }
    if (k >= 0) {
        st.op = step_tables.binary[k][xs][ys][dest_at(d)];
    } else if (x >= 0 && dest_at(i + 1) != DEST_S) {
        d = i + 1;
        st.op = step_tables.move[x][dest_at(d)];
    }
    if (d > i && dest_at(d) != DEST_S) st.c = code[d].a;
    return st;
}

void decode_program(bool chained) {
    for (int i = 0; i < cx; ++i)
        program[i] = decode(i, chained);
    program[cx] = Step{nullptr, VM_OFF_END, VM_OFF_END, 0, 0, 0, 0, 0};
}

} // namespace

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
// Where only the counted loop comes back, the other's label goes unused.
#pragma GCC diagnostic ignored "-Wunused-label"
#endif

namespace {

// The loop, from the registers in `run` (whose fetch test has passed).
// Uncounted, it runs to the end of the run, from a freshly decoded store.
// Counted (the traced build's watched runs), it also counts the
// instructions begun, in `executed`, and comes back (false) when the count
// after a step is more than due - LONGEST_STEP, so that no step it runs
// reaches the fetch where the count is `due`; `run` then holds the
// registers, the count and the instruction run last.  When it ends the run
// (HLT, true, or a fault) run.executed is the count the plain loop keeps.
template <bool counted> bool fast_loop(CountedRun& run, std::uint64_t due, bool first) {
    if (first) decode_program(!counted);
    const Step* const prog = program;
    const std::int32_t code_end = cx;

    // The registers live in locals while the loop runs; they go back to
    // the globals before anything outside the loop can look at them.  ip is
    // the step being run until its case moves on.
    std::int64_t sp = run.sp;
    std::int64_t bp = run.bp;
    const Step* ip = prog + run.pc;
    // Counted only: the instructions begun before step ip, the count past
    // which the loop comes back, and the instruction run last then.
    [[maybe_unused]] std::uint64_t executed = run.executed;
    [[maybe_unused]] const std::uint64_t leave_at = due - LONGEST_STEP;
    [[maybe_unused]] std::int32_t last = run.last;
    const Step* next = ip;      // where a step that left t near a limit goes on
    int ran = 1;                // and how many instructions that step ran
    int fault_at = 0;           // a fault's instruction, from the step's first
    Msg failed_with = NO_FAULT; // and its message

#define INDEX(step) static_cast<std::int32_t>((step)-prog)
    // Counted: the run ends with k instructions of step ip begun.
#define ENDS(k)                                                                                    \
    if constexpr (counted) run.executed = executed + (k)
#define FAIL(m)                                                                                    \
    {                                                                                              \
        ENDS(1);                                                                                   \
        fail_at(INDEX(ip), sp, bp, (m));                                                           \
    }
    // Counted: step ip, of k instructions, is done and the loop goes on at
    // `target`, or comes back first if the count is past leave_at.
#define COUNT(k, target)                                                                           \
    if constexpr (counted) {                                                                       \
        executed += (k);                                                                           \
        if (executed > leave_at) {                                                                 \
            last = INDEX(ip) + (k)-1;                                                              \
            ip = (target);                                                                         \
            goto leave;                                                                            \
        }                                                                                          \
    }
    // After a step of k instructions, on to `target`: with t near a limit
    // the next instruction runs alone, after the test in full.
#define NEXT_TO(k, target)                                                                         \
    {                                                                                              \
        const Step* n_ = (target);                                                                 \
        COUNT(k, n_);                                                                              \
        if (static_cast<std::uint64_t>(sp) >= std::uint64_t{NEAR_LIMIT}) {                         \
            next = n_;                                                                             \
            ran = (k);                                                                             \
            goto near_limit;                                                                       \
        }                                                                                          \
        ip = n_;                                                                                   \
        vm_next;                                                                                   \
    }
#define NEXT(k) NEXT_TO(k, ip + (k))
#if VM_COMPUTED_GOTO
#define VM_FETCH()
#define VM_TARGET ip->go
#else
#define VM_FETCH() vm_op = ip->op
    VmOp vm_op;
#endif

    // Every step is its instructions' effects (vm/effects.hpp), one after
    // the other.  Only the tests between them change: t cannot leave the
    // stack upwards inside a step, so a push needs none; the one test that
    // can fail, before a destination's fetch after an operation emptied the
    // stack, is made there.  A fault is reported at the instruction that
    // made it, with the registers as they are, as the plain loop would.
    // Both go to one place after the loop, which reports the fault.
#define FAIL_AT(k, m)                                                                              \
    {                                                                                              \
        fault_at = (k);                                                                            \
        failed_with = (m);                                                                         \
        goto failed;                                                                               \
    }
#define EMPTIED_AT(k)                                                                              \
    {                                                                                              \
        fault_at = (k);                                                                            \
        goto emptied;                                                                              \
    }
    // Source X of the instruction k of the step, with operand n.
#define PUSH_SOURCE(X, k, n)                                                                       \
    {                                                                                              \
        if (X == SOURCE_K) do_ldc(sp, (n));                                                        \
        if (X == SOURCE_F) {                                                                       \
            Msg pushed_ = do_lod(sp, bp, (n));                                                     \
            if (pushed_ != NO_FAULT) FAIL_AT(k, pushed_);                                          \
        }                                                                                          \
    }
    // Destination D, the instruction k of a step of `length` instructions.
#define GIVE(D, k, length)                                                                         \
    {                                                                                              \
        if (D == DEST_F || D == DEST_I || D == DEST_T) {                                           \
            Msg given_ = D == DEST_F   ? do_str(sp, bp, ip->c)                                     \
                         : D == DEST_I ? do_ind(sp, ip->c)                                         \
                                       : do_sto(sp);                                               \
            if (given_ != NO_FAULT) FAIL_AT(k, given_);                                            \
        }                                                                                          \
        if (D == DEST_J && do_fjp(sp)) NEXT_TO(length, prog + ip->c);                              \
    }

    // x y k d.
#define BINARY_STEP(K, X, Y, D)                                                                    \
    {                                                                                              \
        constexpr int pushes_ = (X != SOURCE_S) + (Y != SOURCE_S);                                 \
        constexpr int length_ = pushes_ + 1 + (D != DEST_S);                                       \
        constexpr int rise_ = pushes_ - 1 - pops_of(D);                                            \
        static_assert(length_ <= static_cast<int>(LONGEST_STEP));                                  \
        PUSH_SOURCE(X, 0, ip->a);                                                                  \
        PUSH_SOURCE(Y, pushes_ - 1, X != SOURCE_S ? ip->y : ip->a);                                \
        const Msg made_ = do_binary(sp, K);                                                        \
        if (made_ != NO_FAULT) FAIL_AT(pushes_, made_);                                            \
        if (D != DEST_S && sp < 0) EMPTIED_AT(pushes_ + 1);                                        \
        GIVE(D, pushes_ + 1, length_);                                                             \
        if (rise_ == 0 && length_ > 1) {                                                           \
            COUNT(length_, ip + length_);                                                          \
            ip += length_;                                                                         \
            vm_next;                                                                               \
        }                                                                                          \
        NEXT(length_);                                                                             \
    }
    // x d: a value from x to d.
#define MOVE_STEP(X, D)                                                                            \
    {                                                                                              \
        constexpr int length_ = (X != SOURCE_S) + (D != DEST_S);                                   \
        constexpr int rise_ = (X != SOURCE_S) - pops_of(D);                                        \
        PUSH_SOURCE(X, 0, ip->a);                                                                  \
        GIVE(D, X != SOURCE_S, length_);                                                           \
        if (rise_ == 0 && length_ > 1) {                                                           \
            COUNT(length_, ip + length_);                                                          \
            ip += length_;                                                                         \
            vm_next;                                                                               \
        }                                                                                          \
        NEXT(length_);                                                                             \
    }

    // e x [y k] d: an element of the array at b+a whose lower bound is z,
    // at index x or x k y, its address left on the stack (A) or loaded
    // through (E).  t only rises, from a t that passed the test: nothing
    // empties the stack.
#define INDEX_STEP(K, X, Y, D)                                                                     \
    {                                                                                              \
        constexpr int index_ = Y != SOURCE_S ? 3 : 1;                                              \
        constexpr int length_ = 4 + index_ + (D == DEST_E);                                        \
        static_assert(length_ <= static_cast<int>(LONGEST_STEP));                                  \
        do_lda(sp, bp, ip->a);                                                                     \
        do_ldc(sp, ip->z);                                                                         \
        PUSH_SOURCE(X, 2, ip->l);                                                                  \
        if (Y != SOURCE_S) {                                                                       \
            PUSH_SOURCE(Y, 3, ip->y);                                                              \
            const Msg made_ = do_binary(sp, K);                                                    \
            if (made_ != NO_FAULT) FAIL_AT(4, made_);                                              \
        }                                                                                          \
        static_cast<void>(do_binary(sp, B_SUB));                                                   \
        static_cast<void>(do_binary(sp, B_SUB));                                                   \
        if (D == DEST_E) {                                                                         \
            const Msg loaded_ = do_ind(sp, ip->c);                                                 \
            if (loaded_ != NO_FAULT) FAIL_AT(length_ - 1, loaded_);                                \
        }                                                                                          \
        NEXT(length_);                                                                             \
    }

#if VM_COMPUTED_GOTO
    static void* const vm_labels[] = {
#define X_(name) vm_label(name),
        VM_STEPS(X_)
#undef X_
    };
    if (first) {
        for (std::int32_t i = 0; i <= code_end; ++i)
            program[i].go = vm_labels[program[i].op];
    }
#endif

    if (sp >= NEAR_LIMIT) goto near_limit;

    vm_loop_begin

#define BINARY_CASE(k, x, y, d)                                                                    \
    vm_case(k##_##x##y##_##d) BINARY_STEP(B_##k, SOURCE_##x, SOURCE_##y, DEST_##d)
    VM_BINARY_STEPS(BINARY_CASE)
#define MOVE_CASE(x, d) vm_case(MOVE_##x##d) MOVE_STEP(SOURCE_##x, DEST_##d)
        VM_MOVE_STEPS(MOVE_CASE)
#define INDEX_CASE(k, x, y, d)                                                                     \
    vm_case(k##_##x##y##_##d) INDEX_STEP(B_##k, SOURCE_##x, SOURCE_##y, DEST_##d)
            VM_INDEX_STEPS(INDEX_CASE)
#define INDEX_MOVE_CASE(x, d) vm_case(MOVE_##x##d) INDEX_STEP(B_SUB, SOURCE_##x, SOURCE_S, DEST_##d)
                VM_INDEX_MOVES(INDEX_MOVE_CASE)

                    vm_case(NEG) {
        do_neg(sp);
        NEXT(1);
    }
    vm_case(NOP) { // OPR or COP with a sub-code outside its table
        NEXT(1);
    }
    // Level 1: the static link s[b] (b is always a stack index).
    vm_case(LOD1) {
        Msg fault = do_lod(sp, s[bp], ip->a);
        if (fault != NO_FAULT) FAIL(fault);
        NEXT(1);
    }
    vm_case(STR1) {
        Msg fault = do_str(sp, s[bp], ip->a);
        if (fault != NO_FAULT) FAIL(fault);
        NEXT(1);
    }
    vm_case(LDA1) {
        do_lda(sp, s[bp], ip->a);
        NEXT(1);
    }
    vm_case(MST1) {
        do_mst(sp, bp, s[bp], ip->a);
        NEXT(1);
    }
    vm_case(LOD) {
        std::int64_t frame;
        if (!frame_base(bp, ip->l, frame)) FAIL(MSG_BAD_ADDRESS);
        Msg fault = do_lod(sp, frame, ip->a);
        if (fault != NO_FAULT) FAIL(fault);
        NEXT(1);
    }
    vm_case(STR) {
        std::int64_t frame;
        if (!frame_base(bp, ip->l, frame)) FAIL(MSG_BAD_ADDRESS);
        Msg fault = do_str(sp, frame, ip->a);
        if (fault != NO_FAULT) FAIL(fault);
        NEXT(1);
    }
    vm_case(LDA0) {
        do_lda(sp, bp, ip->a);
        NEXT(1);
    }
    vm_case(LDA) {
        std::int64_t frame;
        if (!frame_base(bp, ip->l, frame)) FAIL(MSG_BAD_ADDRESS);
        do_lda(sp, frame, ip->a);
        NEXT(1);
    }
    vm_case(MST0) {
        do_mst(sp, bp, bp, ip->a);
        NEXT(1);
    }
    vm_case(MST) {
        std::int64_t link;
        if (!frame_base(bp, ip->l, link)) FAIL(MSG_BAD_ADDRESS);
        do_mst(sp, bp, link, ip->a);
        NEXT(1);
    }
    vm_case(UJP) {
        NEXT_TO(1, prog + ip->a);
    }
    vm_case(CUP) {
        Msg fault = do_cup(sp, bp, ip->l, INDEX(ip));
        if (fault != NO_FAULT) FAIL(fault);
        NEXT_TO(1, prog + ip->a);
    }
    // The ENT at the end of the chain: t is as the CUP found it, which
    // passed the test.
    vm_case(CUP_ENT) {
        Msg fault = do_cup(sp, bp, ip->l, INDEX(ip));
        if (fault != NO_FAULT) FAIL(fault);
        if constexpr (counted) ++executed; // the CUP; NEXT counts the ENT
        ip = prog + ip->a;
        do_ent(sp, bp, ip->a);
        NEXT(1);
    }
    vm_case(RET) {
        std::int32_t to;
        Msg fault = do_return(sp, bp, false, code_end, to);
        if (fault != NO_FAULT) FAIL(fault);
        NEXT_TO(1, prog + to);
    }
    vm_case(FRT) {
        std::int32_t to;
        Msg fault = do_return(sp, bp, true, code_end, to);
        if (fault != NO_FAULT) FAIL(fault);
        NEXT_TO(1, prog + to);
    }
    vm_case(ENT) {
        do_ent(sp, bp, ip->a);
        NEXT(1);
    }
#define WATCH_STOP()                                                                               \
    if constexpr (counted) {                                                                       \
        if (stop_flag != nullptr) {                                                                \
            ++executed;                                                                            \
            last = INDEX(ip);                                                                      \
            ++ip;                                                                                  \
            goto leave;                                                                            \
        }                                                                                          \
    }
    vm_case(HLT) {
        ENDS(1);
        halt_at(INDEX(ip), sp, bp);
        return true;
    }
    // Counted, with a stop flag, the loop comes back after a read or a
    // write: the reader or the writer may have set the flag, which the
    // plain loop looks at before the next fetch.
    vm_case(GET) {
        ENDS(1);
        Msg fault = do_get(sp);
        if (fault != NO_FAULT) FAIL(fault);
        WATCH_STOP();
        NEXT(1);
    }
    vm_case(PUT) {
        ENDS(1);
        do_put(sp);
        WATCH_STOP();
        NEXT(1);
    }
    // Jumps out of the store: the jump's effect, then the fetch fails
    // (after the test of t).
    vm_case(UJP_OFF) {
        ENDS(1);
        fail_off_end(INDEX(ip), sp, bp);
    }
    vm_case(FJP_OFF) {
        ENDS(1);
        if (do_fjp(sp)) fail_off_end(INDEX(ip), sp, bp);
        NEXT(1);
    }
    vm_case(CUP_OFF) {
        Msg fault = do_cup(sp, bp, ip->l, INDEX(ip));
        if (fault != NO_FAULT) FAIL(fault);
        ENDS(1);
        fail_off_end(INDEX(ip), sp, bp);
    }
    vm_case(UNDEFINED) {
        FAIL(MSG_UNDEFINED_OP);
    }
    vm_case(OFF_END) { // only the last instruction runs into the end
        ENDS(0);
        fail_at(code_end - 1, sp, bp, MSG_BAD_CODE_ADDRESS);
    }

    vm_loop_end

        near_limit : if (static_cast<std::uint64_t>(sp) >= std::uint64_t{STACK_OVERFLOW}) {
        ENDS(0);
        fail_test(INDEX(next), INDEX(ip) + ran - 1, sp, bp);
    }
    ip = next;
    vm_dispatch(ip->alone);

failed:
    ENDS(fault_at + 1);
    fail_at(INDEX(ip) + fault_at, sp, bp, failed_with);
    // The test before the fetch of instruction fault_at of the step failed:
    // its operation emptied the stack.
emptied:
    ENDS(fault_at);
    fail_test(INDEX(ip) + fault_at, INDEX(ip) + fault_at - 1, sp, bp);
    // Counted: back to the plain loop before the fetch of ip.
leave:
    if constexpr (counted) run = CountedRun{INDEX(ip), sp, bp, last, executed};
    return false;

#undef INDEX
#undef ENDS
#undef COUNT
#undef WATCH_STOP
#undef FAIL
#undef NEXT_TO
#undef NEXT
#undef VM_FETCH
#undef VM_TARGET
#undef BINARY_STEP
#undef FAIL_AT
#undef EMPTIED_AT
#undef PUSH_SOURCE
#undef GIVE
#undef MOVE_STEP
#undef BINARY_CASE
#undef MOVE_CASE
#undef INDEX_STEP
#undef INDEX_CASE
#undef INDEX_MOVE_CASE
}

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// The fast loop of a run that no one watches, from the registers as they
// are.
void run_fast() {
    CountedRun run;
    run.pc = p < 0 || p > cx ? cx : p;
    run.sp = t;
    run.bp = b;
    check_entry(run.pc, run.sp, run.bp);
    fast_loop<false>(run, 0, true);
}

} // namespace

void interpret_fast_from_here() {
    run_fast();
}

bool interpret_counted(CountedRun& run, std::uint64_t due, bool first) {
#if TSUMIKI_TRACE
    return fast_loop<true>(run, due, first);
#else
    // Only the traced build watches a run: no counted loop in this one.
    (void)run;
    (void)due;
    (void)first;
    return false;
#endif
}

void interpret_from_here() {
    if constexpr (trace_built)
        interpret_traced();
    else
        run_fast();
}
