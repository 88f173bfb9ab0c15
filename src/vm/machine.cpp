#include "vm/machine.hpp"

#include <cstring>

#include "diag/diag.hpp"
#include "diag/trace.hpp"
#include "vm/dispatch.hpp"

std::int32_t p = 0;
std::int32_t b = 0;
std::int32_t t = 0;
Instruction ir = {};
std::FILE* machine_input = stdin;
std::uint64_t instruction_budget = 0;

namespace {

std::int32_t stack_cells[1 + STACK_SIZE]; // the spare cell, then s[0] .. s[999]

} // namespace

std::int32_t* const s = stack_cells + 1;

namespace {

// The operations the loop dispatches on: the 18 opcodes, then two of the
// loop's own: an op byte outside the instruction set, and the end of the
// code store (a jump outside it lands there too).
// clang-format off
#define VM_OPS(X)                                                                      \
    X(LDC) X(OPR) X(COP) X(LOD) X(STR) X(UJP) X(FJP) X(RET) X(MST) X(ENT) X(HLT)        \
    X(GET) X(PUT) X(LDA) X(IND) X(STO) X(FRT) X(CUP) X(UNDEFINED) X(OFF_END)
// clang-format on

enum VmOp : unsigned char {
#define VM_ENUM(name) VM_##name,
    VM_OPS(VM_ENUM)
#undef VM_ENUM
};
// Counted outside the enum, so that a switch over it needs no case for the
// count.
#define VM_COUNT_ONE(name) +1
inline constexpr int VM_OP_COUNT = 0 VM_OPS(VM_COUNT_ONE);
#undef VM_COUNT_ONE
static_assert(int{VM_LDC} == int{LDC} && int{VM_CUP} == int{CUP} &&
                  int{VM_UNDEFINED} == OPCODE_COUNT && VM_OP_COUNT == OPCODE_COUNT + 2,
              "the machine's own ops follow the instruction set");

struct Step {
    VmOp op;
    std::int32_t l;
    std::int32_t a;
};

// The code store as the loop runs it: the same instructions, with op bytes
// outside the instruction set marked, jump targets outside the store sent to
// the end marker, and the end marker after the last instruction.
Step program[CODE_MAX + 1];

void load_program() {
    for (int i = 0; i < cx; ++i) {
        const Instruction& in = code[i];
        Step& st = program[i];
        st.op = in.op < OPCODE_COUNT ? static_cast<VmOp>(in.op) : VM_UNDEFINED;
        st.l = in.l;
        st.a = in.a;
        bool jumps = st.op == VM_UJP || st.op == VM_FJP || st.op == VM_CUP;
        if (jumps && (st.a < 0 || st.a >= cx)) st.a = cx;
    }
    program[cx] = Step{VM_OFF_END, 0, 0};
}

std::uint32_t u32(std::int32_t v) {
    return static_cast<std::uint32_t>(v);
}
std::int32_t i32(std::uint32_t v) {
    return static_cast<std::int32_t>(v);
}

// A new top index, kept within two cells of the stack's ends so that the
// check before the next fetch sees which end it left by.
std::int32_t clamp_top(std::int64_t v) {
    if (v > STACK_SIZE) return STACK_SIZE;
    if (v < -2) return -2;
    return static_cast<std::int32_t>(v);
}

// The instruction register after the loop: instruction `index` of the
// store, or `before` when the loop ran off the store, where it fetched none.
void load_ir(std::int32_t index, std::int32_t before) {
    if (index < 0 || index >= cx) index = before;
    if (index >= 0 && index < cx) ir = code[index];
}

bool in_stack(std::int64_t address) {
    return static_cast<std::uint64_t>(address) < static_cast<std::uint64_t>(STACK_SIZE);
}

// "%d" input: blanks and line breaks, an optional sign, digits.  The number
// is taken modulo 2^32, as numerals in the source are.  When no number can
// be read the cell keeps its value and the offending character stays unread.
void read_number(std::int32_t& cell) {
    std::FILE* in = machine_input;
    int c;
    do {
        c = std::getc(in);
    } while (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r');
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = std::getc(in);
    }
    if (c < '0' || c > '9') {
        if (c != EOF) std::ungetc(c, in);
        return;
    }
    std::uint32_t value = 0;
    while (c >= '0' && c <= '9') {
        value = value * 10u + static_cast<std::uint32_t>(c - '0');
        c = std::getc(in);
    }
    if (c != EOF) std::ungetc(c, in);
    cell = i32(negative ? 0u - value : value);
}

void write_number(std::int32_t v) {
    char buf[16];
    char* end = buf + sizeof buf;
    char* q = end;
    *--q = '\n';
    std::uint32_t m = v < 0 ? 0u - u32(v) : u32(v);
    do {
        *--q = static_cast<char>('0' + m % 10u);
        m /= 10u;
    } while (m != 0);
    if (v < 0) *--q = '-';
    std::fwrite(q, 1, static_cast<std::size_t>(end - q), stdout);
}

// Prints the registers, the stack frame by frame and the instruction.
[[maybe_unused]] void trace_machine(std::int32_t pc, const Step& st) {
    trace_print(MSG_T_REGISTERS, pc, b, t);
    // The frames are found by following static links from b down to cell 0.
    bool starts_frame[STACK_SIZE] = {};
    starts_frame[0] = true;
    for (std::int32_t x = b; x > 0 && x < STACK_SIZE && !starts_frame[x]; x = s[x])
        starts_frame[x] = true;
    for (std::int32_t i = 0; i <= t && i < STACK_SIZE; ++i) {
        if (starts_frame[i]) trace_print(MSG_T_FRAME);
        trace_print(MSG_T_CELL, s[i]);
    }
    trace_print(MSG_T_STACK_END);
    trace_print(MSG_T_EXECUTE, mnemonic(st.op), st.l, st.a);
}

} // namespace

std::int32_t base(std::int32_t l) {
    std::int32_t x = b;
    for (; l > 0; --l) {
        if (!in_stack(x)) runtime_error(MSG_BAD_ADDRESS);
        if (s[x] == x) break; // a frame that links to itself: no step moves on
        x = s[x];
    }
    return x;
}

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#endif

void interpret() {
    std::memset(stack_cells, 0, sizeof stack_cells);
    load_program();
    const Step* const prog = program;
    const std::int32_t code_end = cx;
    std::uint64_t executed = 0;

    // The registers live in locals while the loop runs; they are written
    // back before anything outside the loop can look at them.
    std::int32_t pc = p;
    std::int32_t sp = t;
    std::int32_t bp = b;
    std::int32_t fetched = -1;  // the index of the instruction in ir
    std::int32_t previous = -1; // the one fetched before it
    VmOp vm_op;
    std::int32_t op_l;
    std::int32_t op_a;
    Msg fault = MSG_STACK_OVERFLOW;

#define SYNC() (p = pc, t = sp, b = bp, load_ir(fetched, previous))
#define FAIL(m)                                                                                    \
    do {                                                                                           \
        fault = (m);                                                                               \
        goto failed;                                                                               \
    } while (0)
#define CHECK_ADDRESS(addr)                                                                        \
    if (!in_stack(addr)) FAIL(MSG_BAD_ADDRESS)
    // base(l) with the registers in locals.
#define BASE(l, out)                                                                               \
    do {                                                                                           \
        std::int32_t x_ = bp;                                                                      \
        for (std::int32_t n_ = (l); n_ > 0; --n_) {                                                \
            CHECK_ADDRESS(x_);                                                                     \
            if (s[x_] == x_) break;                                                                \
            x_ = s[x_];                                                                            \
        }                                                                                          \
        (out) = x_;                                                                                \
    } while (0)

#define VM_FETCH()                                                                                 \
    do {                                                                                           \
        if (u32(sp) >= u32(STACK_OVERFLOW)) goto stack_fault;                                      \
        const Step& st_ = prog[pc];                                                                \
        if constexpr (trace_built) {                                                               \
            if (st_.op != VM_OFF_END) {                                                            \
                if (trace_on.run) {                                                                \
                    SYNC();                                                                        \
                    ir = code[pc];                                                                 \
                    trace_machine(pc, st_);                                                        \
                }                                                                                  \
                if (instruction_budget != 0 && ++executed > instruction_budget) {                  \
                    SYNC();                                                                        \
                    end_process(BUDGET_EXHAUSTED_STATUS);                                          \
                }                                                                                  \
            }                                                                                      \
        }                                                                                          \
        vm_op = st_.op;                                                                            \
        op_l = st_.l;                                                                              \
        op_a = st_.a;                                                                              \
        previous = fetched;                                                                        \
        fetched = pc++;                                                                            \
    } while (0)

#if VM_COMPUTED_GOTO
    static void* const vm_labels[] = {
#define VM_LABEL(name) vm_label(name),
        VM_OPS(VM_LABEL)
#undef VM_LABEL
    };
    static_assert(sizeof vm_labels / sizeof vm_labels[0] == VM_OP_COUNT);
#endif
    (void)executed;

    // Registers set from outside (a test, a second run) may lie outside the
    // store or the stack; in the loop b always leaves room for a header.
    if (pc < 0 || pc > code_end) pc = code_end;
    if (bp < 0 || bp > STACK_SIZE - 4) FAIL(MSG_BAD_ADDRESS);

    vm_loop_begin

    vm_case(LDC) {
        s[++sp] = op_a;
        vm_next;
    }
    vm_case(OPR) {
        switch (op_a) {
        case OPR_ADD:
            --sp;
            s[sp] = i32(u32(s[sp]) + u32(s[sp + 1]));
            break;
        case OPR_SUB:
            --sp;
            s[sp] = i32(u32(s[sp]) - u32(s[sp + 1]));
            break;
        case OPR_MUL:
            --sp;
            s[sp] = i32(u32(s[sp]) * u32(s[sp + 1]));
            break;
        case OPR_DIV: {
            std::int32_t divisor = s[sp];
            if (divisor == 0) FAIL(MSG_DIVISION_BY_ZERO);
            --sp;
            // The most negative value div -1 wraps to itself.
            s[sp] = divisor == -1 ? i32(0u - u32(s[sp])) : s[sp] / divisor;
            break;
        }
        case OPR_NEG: s[sp] = i32(0u - u32(s[sp])); break;
        default: break;
        }
        vm_next;
    }
    vm_case(COP) {
        if (op_a >= COP_EQ && op_a <= COP_LEQ) {
            std::int32_t right = s[sp];
            std::int32_t left = s[--sp];
            bool holds = false;
            switch (op_a) {
            case COP_EQ: holds = left == right; break;
            case COP_NEQ: holds = left != right; break;
            case COP_GT: holds = left > right; break;
            case COP_GEQ: holds = left >= right; break;
            case COP_LT: holds = left < right; break;
            default: holds = left <= right; break;
            }
            s[sp] = holds ? 1 : 0;
        }
        vm_next;
    }
    vm_case(LOD) {
        std::int32_t frame;
        BASE(op_l, frame);
        std::int64_t addr = std::int64_t{frame} + op_a;
        CHECK_ADDRESS(addr);
        s[sp + 1] = s[addr];
        ++sp;
        vm_next;
    }
    vm_case(STR) {
        std::int32_t frame;
        BASE(op_l, frame);
        std::int64_t addr = std::int64_t{frame} + op_a;
        CHECK_ADDRESS(addr);
        s[addr] = s[sp--];
        vm_next;
    }
    vm_case(UJP) {
        pc = op_a;
        vm_next;
    }
    vm_case(FJP) {
        if (s[sp] == 0) pc = op_a;
        --sp;
        vm_next;
    }
    vm_case(RET) {
        std::int32_t ret = s[bp + 2];
        std::int32_t link = s[bp + 1];
        sp = bp - 1;
        if (ret < 0 || ret >= code_end) FAIL(MSG_BAD_CODE_ADDRESS);
        if (link < 0 || link > STACK_SIZE - 4) FAIL(MSG_BAD_ADDRESS);
        pc = ret;
        bp = link;
        vm_next;
    }
    vm_case(MST) {
        std::int32_t link;
        BASE(op_l, link);
        s[sp + 1] = link;
        s[sp + 2] = bp;
        sp = clamp_top(std::int64_t{sp} + op_a);
        vm_next;
    }
    vm_case(ENT) {
        sp = clamp_top(std::int64_t{bp} + op_a);
        vm_next;
    }
    vm_case(HLT) {
        SYNC();
        return;
    }
    vm_case(GET) {
        ++sp;
        std::fputs(msg(MSG_PROMPT), stdout);
        std::fflush(stdout);
        read_number(s[sp]);
        vm_next;
    }
    vm_case(PUT) {
        write_number(s[sp--]);
        vm_next;
    }
    vm_case(LDA) {
        std::int32_t frame;
        BASE(op_l, frame);
        s[++sp] = i32(u32(frame) + u32(op_a));
        vm_next;
    }
    vm_case(IND) {
        std::int64_t addr = std::int64_t{s[sp]} + op_a;
        CHECK_ADDRESS(addr);
        s[sp] = s[addr];
        vm_next;
    }
    vm_case(STO) {
        std::int32_t addr = s[sp - 1];
        CHECK_ADDRESS(addr);
        s[addr] = s[sp];
        sp -= 2;
        vm_next;
    }
    vm_case(FRT) {
        s[bp] = s[bp + 3];
        std::int32_t ret = s[bp + 2];
        std::int32_t link = s[bp + 1];
        sp = bp;
        if (ret < 0 || ret >= code_end) FAIL(MSG_BAD_CODE_ADDRESS);
        if (link < 0 || link > STACK_SIZE - 4) FAIL(MSG_BAD_ADDRESS);
        pc = ret;
        bp = link;
        vm_next;
    }
    vm_case(CUP) {
        // The return-address cell; the new frame starts two cells below it.
        std::int64_t cell = std::int64_t{sp} - op_l;
        if (cell < 2 || cell > STACK_SIZE - 2) FAIL(MSG_BAD_ADDRESS);
        s[cell] = pc;
        bp = static_cast<std::int32_t>(cell - 2);
        pc = op_a;
        vm_next;
    }
    vm_case(UNDEFINED) {
        FAIL(MSG_UNDEFINED_OP);
    }
    vm_case(OFF_END) {
        --pc;
        FAIL(MSG_BAD_CODE_ADDRESS);
    }

    vm_loop_end

        stack_fault : fault = sp < 0 ? MSG_STACK_UNDERFLOW : MSG_STACK_OVERFLOW;
failed:
    SYNC();
    runtime_error(fault);

#undef SYNC
#undef FAIL
#undef CHECK_ADDRESS
#undef BASE
#undef VM_FETCH
}

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

void reset_machine() {
    std::memset(stack_cells, 0, sizeof stack_cells);
    p = b = t = 0;
    ir = Instruction{};
}
