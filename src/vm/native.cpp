#include "vm/native.hpp"

#include <algorithm>
#include <asmjit/x86.h>
#include <cstddef>
#include <cstdint>
#include <string>

#include "diag/diag.hpp"
#include "vm/machine.hpp"
#include "vm/runtime.hpp"

namespace {

using namespace asmjit;

// What the machine code and the C++ around it share: the registers as the
// machine code leaves them.
struct NativeState {
    std::int32_t p;
    std::int32_t b;
    std::int32_t t;
};

// Why the machine code returned.
enum NativeExit : std::int32_t {
    EXIT_HAND_OVER = 0, // the interpreter goes on at p
    EXIT_NO_NUMBER = 1, // GET at p found no number (its cell was s[t+1])
    EXIT_FATAL = 2,     // a run-time service ended the run: pending_fatal
};

using NativeEntry = std::int32_t (*)(NativeState* state, std::int32_t* stack,
                                     const void* const* table);

// The end a run-time service reported, thrown again once the machine code
// has returned: no exception ever unwinds through it.
Fatal pending_fatal{};

std::int32_t native_put(std::int32_t v) noexcept {
    try {
        write_number(v);
        return EXIT_HAND_OVER;
    } catch (const Fatal& fatal) {
        pending_fatal = fatal;
        return EXIT_FATAL;
    }
}

std::int32_t native_get(std::int32_t* cell) noexcept {
    try {
        put_prompt();
        return read_number(*cell) ? EXIT_HAND_OVER : EXIT_NO_NUMBER;
    } catch (const Fatal& fatal) {
        pending_fatal = fatal;
        return EXIT_FATAL;
    }
}

// The machine registers: s (the address of s[0]), t and b as 64-bit
// indexes, the state, and the table of entry points per instruction.
// Within a run t is T plus a delta the translator keeps (below).
const x86::Gp S = x86::rbx;
const x86::Gp T = x86::r12;
const x86::Gp B = x86::r13;
const x86::Gp STATE = x86::r14;
const x86::Gp TABLE = x86::r15;

// The registers that hold copies of the top cells (rax, rcx and rdx are
// scratch for single instructions).
const x86::Gp POOL[] = {x86::esi, x86::edi, x86::r8d, x86::r9d, x86::r10d, x86::r11d};
constexpr int POOL_SIZE = 6;

bool in_code(std::int32_t x) {
    return x >= 0 && x < cx;
}

bool is_binop(const Instruction& in) {
    return (in.op == OPR && in.a >= OPR_ADD && in.a <= OPR_DIV) ||
           (in.op == COP && in.a >= COP_EQ && in.a <= COP_LEQ);
}

bool level_zero_access(const Instruction& in) {
    return (in.op == LOD || in.op == STR) && in.l <= 0;
}

// The instructions the machine code leaves to the interpreter whenever it
// reaches them: HLT, op bytes outside the set, the last instruction of the
// store (whatever follows it is outside), jumps and calls out of the store.
bool handed_over(int i) {
    const Instruction& in = code[i];
    if (i == cx - 1 || in.op >= OPCODE_COUNT || in.op == HLT) return true;
    return (in.op == UJP || in.op == CUP) && !in_code(in.a);
}

// The instructions that set t from b (or end the run): each tests the t it
// leaves itself, and the next instruction starts a new run.
bool sets_top(int i) {
    Opcode op = code[i].op;
    return op == RET || op == FRT || op == ENT;
}

// How instruction i changes t, for one that neither sets it from b nor is
// handed over.
std::int64_t depth_change(const Instruction& in) {
    switch (in.op) {
    case LDC:
    case LOD:
    case LDA:
    case GET: return 1;
    case OPR:
    case COP: return is_binop(in) ? -1 : 0;
    case STR:
    case FJP:
    case PUT: return -1;
    case STO: return -2;
    case MST: return in.a;
    default: return 0;
    }
}

// Whether the translator pushes instruction i's result (pushes that may wait).
bool pushes(const Instruction& in) {
    switch (in.op) {
    case LDC:
    case LOD:
    case LDA:
    case IND: return true;
    case OPR: return is_binop(in) || in.a == OPR_NEG;
    case COP: return is_binop(in);
    default: return false;
    }
}

std::int32_t wrap(std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

// What a compare sub-code means as a condition on `left cmp right`.
x86::CondCode condition(std::int32_t k) {
    using C = x86::CondCode;
    static const C conditions[] = {C::kE, C::kNE, C::kG, C::kGE, C::kL, C::kLE};
    return conditions[k - COP_EQ];
}

bool holds(std::int32_t k, std::int32_t l, std::int32_t r) {
    switch (k) {
    case COP_EQ: return l == r;
    case COP_NEQ: return l != r;
    case COP_GT: return l > r;
    case COP_GEQ: return l >= r;
    case COP_LT: return l < r;
    default: return l <= r;
    }
}

// Division by a constant d (2 <= |d| < 2^31) as a multiplication: q is
// (n * magic) >> (32 + shift), plus one when n is negative, negated for a
// negative d.  The magic number and shift are those of the usual method
// for 32-bit signed division; as a 64-bit product nothing overflows.
struct Magic {
    std::int64_t multiplier;
    int shift;
};
Magic magic_for(std::int32_t d) {
    const std::uint32_t two31 = 0x80000000u;
    std::uint32_t ad = d < 0 ? 0u - static_cast<std::uint32_t>(d) : static_cast<std::uint32_t>(d);
    std::uint32_t anc = two31 - 1 - two31 % ad;
    int p = 31;
    std::uint32_t q1 = two31 / anc, r1 = two31 - q1 * anc;
    std::uint32_t q2 = two31 / ad, r2 = two31 - q2 * ad;
    std::uint32_t delta = 0;
    do {
        ++p;
        q1 *= 2;
        r1 *= 2;
        if (r1 >= anc) {
            ++q1;
            r1 -= anc;
        }
        q2 *= 2;
        r2 *= 2;
        if (r2 >= ad) {
            ++q2;
            r2 -= ad;
        }
        delta = ad - r2;
    } while (q1 < delta || (q1 == delta && r1 == 0));
    return {static_cast<std::int64_t>(q2) + 1, p - 32};
}

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
    std::vector<Label> entry;             // per instruction starting a run: its test of t
    std::vector<bool> starts;             // starts a run
    std::vector<Label> bail;              // per instruction: hand over before it
    std::vector<std::int64_t> bail_delta; // and the delta there
    Label exit;                           // leave with p in esi and the reason in eax
    Label hand_over_at_ecx;               // hand over at the instruction in ecx
    bool named = false;                   // labels with names, for the listing

    std::int64_t delta = 0;         // t = T + delta
    std::int64_t delta_at = 0;      // the delta before the instruction being translated
    std::vector<Cell> known;        // the top cells, s[t] last
    unsigned busy = 0;              // pool registers the instruction holds operands in
    bool dead = false;              // the run always hands over at its start
    std::vector<Deferred> deferred; // pushes not stored yet
    bool deferring = true;          // pushes wait (off: each is stored at once)
    int compared_for = -1;          // the FJP that may use the flags of the COP before it
    x86::CondCode compared = x86::CondCode::kE;

    explicit Translator(x86::Assembler& a) : as(a) {}

    Label new_label(const char* kind, int i) {
        if (!named) return as.newLabel();
        std::string name = kind + std::to_string(i);
        return as.newNamedLabel(name.c_str());
    }

    // Where instruction i hands over, with t as it was before it.
    Label bail_at(int i) {
        if (!bail[i].isValid()) {
            bail[i] = new_label("hand_over_", i);
            bail_delta[i] = delta_at;
        }
        return bail[i];
    }

    void comment(const char* text) {
        if (named) as.setInlineComment(text);
    }

    void mark_runs() {
        starts.assign(static_cast<std::size_t>(cx) + 1, false);
        starts[0] = true;
        for (int i = 0; i < cx; ++i) {
            const Instruction& in = code[i];
            bool jumps = in.op == UJP || in.op == FJP || in.op == CUP;
            if (jumps && in_code(in.a)) starts[in.a] = true;
            if (jumps || sets_top(i) || handed_over(i)) starts[i + 1] = true;
        }
        entry.assign(static_cast<std::size_t>(cx), Label{});
        bail.assign(static_cast<std::size_t>(cx), Label{});
        bail_delta.assign(static_cast<std::size_t>(cx), 0);
        for (int i = 0; i < cx; ++i)
            if (starts[i]) entry[i] = new_label("run_", i);
    }

    // --- t and the known cells ---

    x86::Mem top(std::int64_t k) const {
        return x86::dword_ptr(S, T, 2, static_cast<std::int32_t>((delta + k) * 4));
    }
    static x86::Mem frame(std::int64_t a) {
        return x86::dword_ptr(S, B, 2, static_cast<std::int32_t>(a * 4));
    }
    x86::Mem memory(const Cell& c) const {
        return x86::dword_ptr(S, T, 2, static_cast<std::int32_t>(c.at * 4));
    }

    // Brings T up to date (lea: the flags stay as they are).
    void settle() {
        flush();
        if (delta != 0) as.lea(T, x86::ptr(T, static_cast<std::int32_t>(delta)));
        delta = 0;
    }
    void forget() {
        flush();
        known.clear();
        compared_for = -1;
    }

    // The pushes not stored yet, made now.
    void store(const Deferred& d) {
        x86::Mem to = x86::dword_ptr(S, T, 2, static_cast<std::int32_t>(d.at * 4));
        if (d.cell.kind == Cell::REGISTER)
            as.mov(to, POOL[d.cell.reg]);
        else
            as.mov(to, d.cell.value);
    }
    void flush() {
        for (const Deferred& d : deferred)
            store(d);
        deferred.clear();
    }
    // Register r is about to change and then be pushed as cell `at`: a
    // deferred push of another cell that it holds is stored first.
    void claim(int r, std::int64_t at) {
        for (std::size_t k = 0; k < deferred.size();) {
            const Deferred& d = deferred[k];
            if (d.at != at && d.cell.kind == Cell::REGISTER && d.cell.reg == r) {
                store(d);
                deferred.erase(deferred.begin() + static_cast<std::ptrdiff_t>(k));
            } else
                ++k;
        }
    }

    // A pool register that holds nothing known and no operand.
    int take_register() {
        for (;;) {
            unsigned used = busy;
            for (const Cell& c : known)
                if (c.kind == Cell::REGISTER) used |= 1u << c.reg;
            for (const Deferred& d : deferred)
                if (d.cell.kind == Cell::REGISTER) used |= 1u << d.cell.reg;
            for (int k = 0; k < POOL_SIZE; ++k)
                if ((used & (1u << k)) == 0) {
                    busy |= 1u << k;
                    return k;
                }
            if (!deferred.empty()) {
                flush();
                continue;
            }
            known.erase(known.begin()); // the deepest cell: it is in memory
        }
    }

    Cell pop() {
        Cell c;
        if (known.empty())
            c.at = delta;
        else {
            c = known.back();
            known.pop_back();
            if (c.kind == Cell::REGISTER) busy |= 1u << c.reg;
        }
        --delta;
        return c;
    }

    // Pushes a register's or a constant's value: stored at once.
    void push(const Cell& c) {
        ++delta;
        known.push_back(c);
        Deferred d{delta, c};
        for (Deferred& e : deferred)
            if (e.at == delta) {
                e = d; // the earlier push to this cell is never seen
                return;
            }
        if (deferring)
            deferred.push_back(d);
        else
            store(d);
    }
    void push_register(int r) {
        Cell c;
        c.kind = Cell::REGISTER;
        c.reg = r;
        push(c);
    }
    void push_constant(std::int32_t v) {
        Cell c;
        c.kind = Cell::CONSTANT;
        c.value = v;
        push(c);
    }

    // The cell's value in a pool register the instruction may change.
    int load(const Cell& c) {
        if (c.kind == Cell::REGISTER) return c.reg;
        int r = take_register();
        if (c.kind == Cell::CONSTANT)
            as.mov(POOL[r], c.value);
        else
            as.mov(POOL[r], memory(c));
        return r;
    }
    Operand operand(const Cell& c) const {
        if (c.kind == Cell::REGISTER) return POOL[c.reg];
        if (c.kind == Cell::CONSTANT) return imm(c.value);
        return memory(c);
    }
    // The cell's value in the scratch register `to`.
    void load_into(const x86::Gp& to, const Cell& c) {
        if (c.kind == Cell::REGISTER)
            as.mov(to, POOL[c.reg]);
        else if (c.kind == Cell::CONSTANT)
            as.mov(to, c.value);
        else
            as.mov(to, memory(c));
    }

    // --- runs ---

    // The tests at the start of the run from instruction i, which hand over
    // there when one fails: every t that one of its instructions leaves
    // must lie within 0 to STACK_OVERFLOW-1, and every frame cell it reads
    // or writes directly (level 0) must lie in the stack.  A test fails
    // only when an instruction of the run would fail (b changes only where
    // a run ends); the interpreter then finds which.
    void test_run(int i) {
        std::int64_t depth = 0, lowest = 0, highest = 0;
        std::int64_t first = 0, last = 3; // the offsets from b used: 0 to 3 always fit
        std::int64_t used = -1;           // the highest offset used, -1 for none
        std::int64_t pushed = STACK_SIZE; // the lowest cell pushed, from T
        for (int k = i; k < cx && (k == i || !starts[k]); ++k) {
            if (handed_over(k) || sets_top(k)) break;
            depth += depth_change(code[k]);
            lowest = std::min(lowest, depth);
            highest = std::max(highest, depth);
            if (pushes(code[k])) pushed = std::min(pushed, depth);
            if (level_zero_access(code[k])) {
                first = std::min<std::int64_t>(first, code[k].a);
                last = std::max<std::int64_t>(last, code[k].a);
                used = std::max<std::int64_t>(used, code[k].a);
            }
        }
        std::int64_t low = -lowest, high = STACK_OVERFLOW - 1 - highest;
        std::int64_t b_low = -first, b_high = STACK_SIZE - 1 - last;
        dead = low > high || b_low > STACK_SIZE - 4 || b_high < 0;
        if (dead) {
            as.jmp(bail_at(i));
            return;
        }
        if (low > 0) {
            as.cmp(T, static_cast<std::int32_t>(low));
            as.jl(bail_at(i));
        }
        if (high < STACK_OVERFLOW - 1) {
            comment("room for the run's pushes?");
            as.cmp(T, static_cast<std::int32_t>(high));
            as.jg(bail_at(i));
        }
        if (b_low > 0) {
            as.cmp(B, static_cast<std::int32_t>(b_low));
            as.jl(bail_at(i));
        }
        // Pushes wait while they can't be seen: every frame cell the run
        // uses must lie below every cell it pushes, as in every compiled
        // program, so that no load or store of one meets the other.  The
        // pushes lie in the stack, so then the frame cells do too.
        if (deferring && used >= 0 && pushed < STACK_SIZE) {
            as.lea(x86::rax, x86::ptr(T, static_cast<std::int32_t>(pushed)));
            as.sub(x86::rax, B);
            comment("the run's frame cells below its pushes?");
            as.cmp(x86::rax, static_cast<std::int32_t>(used));
            as.jle(bail_at(i));
        } else if (b_high < STACK_SIZE - 4) {
            comment("the run's frame cells in the stack?");
            as.cmp(B, static_cast<std::int32_t>(b_high));
            as.jg(bail_at(i));
        }
    }

    // --- addresses ---

    // rax := base(l), the frame l static links out from b (l > 0).  A link
    // outside the stack hands over (the interpreter then fails on it).
    void frame_base(int i, std::int32_t l) {
        comment("rax := s[b], the static link");
        as.movsxd(x86::rax, frame(0));
        std::int32_t rest = l - 1;
        if (rest <= 3) {
            for (; rest > 0; --rest) {
                as.cmp(x86::rax, STACK_SIZE);
                as.jae(bail_at(i));
                comment("rax := s[rax], the next link");
                as.movsxd(x86::rax, x86::dword_ptr(S, x86::rax, 2));
            }
            return;
        }
        Label walk = as.newLabel();
        as.mov(x86::ecx, rest);
        as.bind(walk);
        as.cmp(x86::rax, STACK_SIZE);
        as.jae(bail_at(i));
        as.movsxd(x86::rax, x86::dword_ptr(S, x86::rax, 2));
        as.dec(x86::ecx);
        as.jnz(walk);
    }

    // The cell base(l) + a: at level 0 s[b+a], which the run's test put in
    // the stack; further out [S + rax*4] after a test of rax.
    x86::Mem cell(int i, const Instruction& in) {
        if (in.l <= 0) return frame(in.a);
        frame_base(i, in.l);
        comment("rax := the cell's index");
        as.add(x86::rax, in.a);
        comment("outside the stack?");
        as.cmp(x86::rax, STACK_SIZE);
        as.jae(bail_at(i));
        return x86::dword_ptr(S, x86::rax, 2);
    }

    // A call of a run-time service, with t up to date and nothing known
    // (the call changes the pool); a result other than 0 leaves with it.
    void call_service(int i, std::uint64_t service, const char* name) {
        Label ok = as.newLabel();
        as.mov(x86::rax, service);
        comment(name);
        as.call(x86::rax);
        as.test(x86::eax, x86::eax);
        as.jz(ok);
        as.mov(x86::esi, i);
        as.jmp(exit);
        as.bind(ok);
    }

    // RET and FRT: the return address in ecx and the link in eax, both
    // tested before anything changes.
    void return_checks(int i) {
        comment("ecx := the return address");
        as.mov(x86::ecx, frame(2));
        as.cmp(x86::ecx, cx);
        as.jae(bail_at(i));
        comment("eax := the dynamic link");
        as.mov(x86::eax, frame(1));
        as.cmp(x86::eax, STACK_SIZE - 4);
        as.ja(bail_at(i));
    }

    // --- arithmetic ---

    void arithmetic(int i, std::int32_t k) {
        Cell right = pop();
        Cell left = pop();
        if (k == OPR_DIV) {
            divide(i, left, right);
            return;
        }
        if (left.kind == Cell::CONSTANT && right.kind == Cell::CONSTANT) {
            std::int64_t l = left.value, r = right.value;
            push_constant(wrap(k == OPR_ADD ? l + r : k == OPR_SUB ? l - r : l * r));
            return;
        }
        // a + b and a * b take a constant or a register on the right.
        if (k != OPR_SUB && right.kind != Cell::CONSTANT &&
            (left.kind == Cell::CONSTANT || right.kind == Cell::REGISTER))
            std::swap(left, right);
        int r = load(left);
        claim(r, delta + 1);
        const x86::Gp& to = POOL[r];
        if (k == OPR_ADD) as.emit(x86::Inst::kIdAdd, to, operand(right));
        if (k == OPR_SUB) as.emit(x86::Inst::kIdSub, to, operand(right));
        if (k == OPR_MUL) {
            if (right.kind == Cell::CONSTANT)
                as.imul(to, to, right.value);
            else if (right.kind == Cell::REGISTER)
                as.imul(to, POOL[right.reg]);
            else
                as.imul(to, memory(right));
        }
        push_register(r);
    }

    void divide(int i, const Cell& left, const Cell& right) {
        if (right.kind == Cell::CONSTANT) {
            std::int32_t d = right.value;
            if (d == 0) {
                comment("division by zero");
                as.jmp(bail_at(i));
                dead = true;
                return;
            }
            if (left.kind == Cell::CONSTANT) {
                std::int64_t q = d == -1 ? -static_cast<std::int64_t>(left.value) : left.value / d;
                push_constant(wrap(q));
                return;
            }
            if (d != INT32_MIN && d != 1 && d != -1) {
                divide_by_constant(left, d);
                return;
            }
        }
        Label divide = as.newLabel(), done = as.newLabel();
        load_into(x86::ecx, right);
        if (right.kind != Cell::CONSTANT) {
            as.test(x86::ecx, x86::ecx);
            comment("division by zero");
            as.jz(bail_at(i));
        }
        load_into(x86::eax, left);
        as.cmp(x86::ecx, -1);
        as.jne(divide);
        as.neg(x86::eax); // the most negative value div -1 wraps to itself
        as.jmp(done);
        as.bind(divide);
        as.cdq(x86::edx, x86::eax);
        as.idiv(x86::edx, x86::eax, x86::ecx);
        as.bind(done);
        int r = take_register();
        as.mov(POOL[r], x86::eax);
        push_register(r);
    }

    void divide_by_constant(const Cell& left, std::int32_t d) {
        Magic m = magic_for(d);
        int r = load(left);
        claim(r, delta + 1);
        const x86::Gp& n = POOL[r];
        as.movsxd(x86::rax, n);
        comment("div by a constant: a multiplication");
        as.mov(x86::rdx, m.multiplier);
        as.imul(x86::rax, x86::rdx);
        as.sar(x86::rax, 32 + m.shift);
        as.shr(n, 31);
        as.add(n, x86::eax);
        if (d < 0) as.neg(n);
        push_register(r);
    }

    // A comparison; when the FJP after it can use the flags, it does.
    void compare(int i, std::int32_t k) {
        Cell right = pop();
        Cell left = pop();
        if (left.kind == Cell::CONSTANT && right.kind == Cell::CONSTANT) {
            push_constant(holds(k, left.value, right.value) ? 1 : 0);
            return;
        }
        x86::CondCode cc = condition(k);
        if (left.kind == Cell::CONSTANT ||
            (left.kind == Cell::MEMORY && right.kind == Cell::MEMORY)) {
            if (left.kind == Cell::CONSTANT) {
                std::swap(left, right);
                cc = x86::reverseCond(cc);
            } else {
                int l = load(left);
                left.kind = Cell::REGISTER;
                left.reg = l;
            }
        }
        int r = left.kind == Cell::REGISTER ? left.reg : take_register();
        claim(r, delta + 1);
        if (left.kind == Cell::REGISTER)
            as.emit(x86::Inst::kIdCmp, POOL[left.reg], operand(right));
        else
            as.emit(x86::Inst::kIdCmp, memory(left), operand(right));
        as.set(cc, POOL[r].r8());
        as.movzx(POOL[r], POOL[r].r8());
        push_register(r);
        const Instruction& next = code[i + 1];
        if (next.op == FJP && !starts[i + 1] && in_code(next.a)) {
            compared_for = i + 1;
            compared = cc;
        }
    }

    // --- instructions ---

    // Whether instruction i can neither hand over nor read or write a cell
    // other than the top cells and frame cells: deferred pushes may wait
    // past it.  Before any other instruction they are stored.
    bool quiet(const Instruction& in) const {
        switch (in.op) {
        case LDC:
        case COP: return true;
        case LOD:
        case STR:
        case LDA: return in.l <= 0;
        case OPR:
            return in.a != OPR_DIV || (!known.empty() && known.back().kind == Cell::CONSTANT &&
                                       known.back().value != 0);
        default: return false;
        }
    }

    void jump_if_zero(int i, const Instruction& in) {
        bool flags = compared_for == i;
        Cell c = pop();
        if (!in_code(in.a)) {
            // Out of the store: the interpreter takes that jump.
            if (c.kind == Cell::CONSTANT) {
                if (c.value == 0) {
                    as.jmp(bail_at(i));
                    dead = true;
                }
                return;
            }
            if (c.kind == Cell::REGISTER)
                as.test(POOL[c.reg], POOL[c.reg]);
            else
                as.cmp(memory(c), 0);
            as.jz(bail_at(i));
            return;
        }
        if (c.kind == Cell::CONSTANT) {
            settle();
            if (c.value == 0) as.jmp(entry[in.a]);
            return;
        }
        if (!flags) {
            if (c.kind == Cell::REGISTER)
                as.test(POOL[c.reg], POOL[c.reg]);
            else
                as.cmp(memory(c), 0);
        }
        settle();
        as.j(flags ? x86::negateCond(compared) : x86::CondCode::kZ, entry[in.a]);
    }

    void instruction(int i) {
        const Instruction& in = code[i];
        if (starts[i]) {
            settle();
            forget();
            as.bind(entry[i]);
            delta_at = 0;
            test_run(i);
        }
        if (dead) return;
        delta_at = delta;
        busy = 0;
        if (!quiet(in) || handed_over(i)) flush();
        if (handed_over(i)) {
            as.jmp(bail_at(i));
            return;
        }
        switch (in.op) {
        case LDC: push_constant(in.a); break;
        case OPR:
            if (in.a == OPR_NEG) {
                Cell c = pop();
                if (c.kind == Cell::CONSTANT) {
                    push_constant(wrap(-static_cast<std::int64_t>(c.value)));
                    break;
                }
                int r = load(c);
                claim(r, delta + 1);
                as.neg(POOL[r]);
                push_register(r);
            }
            if (is_binop(in)) arithmetic(i, in.a);
            break;
        case COP:
            if (is_binop(in)) compare(i, in.a);
            break;
        case LOD: {
            x86::Mem from = cell(i, in);
            int r = take_register();
            as.mov(POOL[r], from);
            push_register(r);
            break;
        }
        case STR: {
            x86::Mem to = cell(i, in);
            Cell c = pop();
            if (c.kind == Cell::MEMORY) {
                as.mov(x86::edx, memory(c));
                as.mov(to, x86::edx);
            } else if (c.kind == Cell::REGISTER)
                as.mov(to, POOL[c.reg]);
            else
                as.mov(to, c.value);
            if (in.l > 0) forget(); // the cell may be one of the known ones
            break;
        }
        case UJP:
            settle();
            as.jmp(entry[in.a]);
            break;
        case FJP: jump_if_zero(i, in); break;
        case RET:
            as.cmp(B, 1); // t becomes b-1
            as.jl(bail_at(i));
            return_checks(i);
            as.lea(T, x86::ptr(B, -1));
            as.mov(B.r32(), x86::eax);
            comment("to the return address");
            as.jmp(x86::ptr(TABLE, x86::rcx, 3));
            delta = 0;
            break;
        case MST:
            if (in.l <= 0) {
                comment("the static link: b");
                as.mov(top(1), B.r32());
            } else {
                frame_base(i, in.l);
                as.mov(top(1), x86::eax);
            }
            comment("the dynamic link");
            as.mov(top(2), B.r32());
            delta += in.a;
            forget();
            break;
        case ENT:
            as.lea(x86::rax, x86::ptr(B, in.a));
            as.cmp(x86::rax, STACK_OVERFLOW - 1);
            as.ja(bail_at(i));
            as.mov(T, x86::rax);
            delta = 0;
            break;
        case GET:
            settle();
            forget();
            as.lea(x86::rdi, top(1));
            call_service(i, reinterpret_cast<std::uintptr_t>(&native_get),
                         "put_prompt, read_number");
            ++delta;
            break;
        case PUT: {
            Cell c = pop();
            load_into(x86::edi, c);
            settle();
            forget();
            call_service(i, reinterpret_cast<std::uintptr_t>(&native_put), "write_number");
            break;
        }
        case LDA: {
            int r = take_register();
            if (in.l <= 0)
                as.lea(POOL[r], x86::ptr(B, in.a));
            else {
                frame_base(i, in.l);
                as.lea(POOL[r], x86::ptr(x86::rax, in.a));
            }
            push_register(r);
            break;
        }
        case IND: {
            Cell c = pop();
            x86::Mem from;
            if (c.kind == Cell::CONSTANT) {
                std::int64_t at = static_cast<std::int64_t>(c.value) + in.a;
                if (at < 0 || at >= STACK_SIZE) {
                    as.jmp(bail_at(i));
                    dead = true;
                    break;
                }
                from = x86::dword_ptr(S, static_cast<std::int32_t>(at * 4));
            } else {
                if (c.kind == Cell::REGISTER)
                    as.movsxd(x86::rax, POOL[c.reg]);
                else
                    as.movsxd(x86::rax, memory(c));
                if (in.a != 0) as.add(x86::rax, in.a);
                comment("outside the stack?");
                as.cmp(x86::rax, STACK_SIZE);
                as.jae(bail_at(i));
                from = x86::dword_ptr(S, x86::rax, 2);
            }
            int r = c.kind == Cell::REGISTER ? c.reg : take_register();
            as.mov(POOL[r], from);
            push_register(r);
            break;
        }
        case STO: {
            Cell value = pop();
            Cell address = pop();
            x86::Mem to;
            if (address.kind == Cell::CONSTANT) {
                if (static_cast<std::uint32_t>(address.value) >= STACK_SIZE) {
                    as.jmp(bail_at(i));
                    dead = true;
                    break;
                }
                to = x86::dword_ptr(S, address.value * 4);
            } else {
                load_into(x86::eax, address);
                comment("outside the stack?");
                as.cmp(x86::eax, STACK_SIZE);
                as.jae(bail_at(i));
                to = x86::dword_ptr(S, x86::rax, 2);
            }
            if (value.kind == Cell::MEMORY) {
                as.mov(x86::edx, memory(value));
                as.mov(to, x86::edx);
            } else if (value.kind == Cell::REGISTER)
                as.mov(to, POOL[value.reg]);
            else
                as.mov(to, value.value);
            forget(); // any cell may have changed
            break;
        }
        case FRT:
            return_checks(i);
            as.mov(x86::edx, frame(3));
            as.mov(frame(0), x86::edx);
            as.mov(T, B);
            as.mov(B.r32(), x86::eax);
            comment("to the return address");
            as.jmp(x86::ptr(TABLE, x86::rcx, 3));
            delta = 0;
            break;
        case CUP:
            // The return-address cell t-n; the new frame starts two below.
            {
                std::int64_t cell = delta - in.l;
                if (cell - 2 < -STACK_SIZE || cell > STACK_SIZE) {
                    as.jmp(bail_at(i));
                    break;
                }
                as.lea(x86::rax, x86::ptr(T, static_cast<std::int32_t>(cell)));
                as.lea(x86::rdx, x86::ptr(x86::rax, -2));
                as.cmp(x86::rdx, STACK_SIZE - 4);
                as.ja(bail_at(i));
                comment("the return address");
                as.mov(x86::dword_ptr(S, x86::rax, 2), i + 1);
                as.mov(B, x86::rdx);
                settle();
                as.jmp(entry[in.a]);
                break;
            }
        case HLT: break; // handed over above
        }
    }

    void prologue() {
        as.push(x86::rbx);
        as.push(x86::r12);
        as.push(x86::r13);
        as.push(x86::r14);
        as.push(x86::r15); // five pushes: the stack is 16-byte aligned for calls
        as.mov(STATE, x86::rdi);
        as.mov(S, x86::rsi);
        as.mov(TABLE, x86::rdx);
        as.movsxd(T, x86::dword_ptr(STATE, offsetof(NativeState, t)));
        as.movsxd(B, x86::dword_ptr(STATE, offsetof(NativeState, b)));
        as.jmp(entry[0]);
    }

    void exits() {
        for (int i = 0; i < cx; ++i) {
            if (!bail[i].isValid()) continue;
            as.bind(bail[i]);
            if (bail_delta[i] != 0)
                as.lea(T, x86::ptr(T, static_cast<std::int32_t>(bail_delta[i])));
            as.mov(x86::esi, i);
            as.xor_(x86::eax, x86::eax);
            as.jmp(exit);
        }
        as.bind(hand_over_at_ecx); // a return to an instruction inside a run
        as.mov(x86::esi, x86::ecx);
        as.xor_(x86::eax, x86::eax);
        as.bind(exit);
        as.mov(x86::dword_ptr(STATE, offsetof(NativeState, p)), x86::esi);
        as.mov(x86::dword_ptr(STATE, offsetof(NativeState, b)), B.r32());
        as.mov(x86::dword_ptr(STATE, offsetof(NativeState, t)), T.r32());
        as.pop(x86::r15);
        as.pop(x86::r14);
        as.pop(x86::r13);
        as.pop(x86::r12);
        as.pop(x86::rbx);
        as.ret();
    }
};

// About the most machine code an instruction of a compiled program needs.
constexpr std::size_t BYTES_PER_INSTRUCTION = 24;

// Machine code in memory that was written while writable and then made
// executable and read-only, never both at once; released with the object.
class NativeCode {
  public:
    NativeCode() = default;
    NativeCode(const NativeCode&) = delete;
    NativeCode& operator=(const NativeCode&) = delete;
    ~NativeCode() {
        if (memory_ != nullptr) VirtMem::release(memory_, size_);
    }

    // Translates the code store; false when anything failed.
    bool make(Logger* logger, NativeListing* listing) {
        CodeHolder holder;
        if (holder.init(Environment::host()) != kErrorOk) return false;
        if (logger != nullptr) holder.setLogger(logger);
        // Room for the usual code up front: the buffer need not grow.
        if (holder.reserveBuffer(&holder.textSection()->buffer(),
                                 static_cast<std::size_t>(cx) * BYTES_PER_INSTRUCTION + 4096) !=
            kErrorOk)
            return false;
        x86::Assembler as(&holder);
        Translator tr(as);
        tr.named = listing != nullptr;
        tr.exit = tr.named ? as.newNamedLabel("leave") : as.newLabel();
        tr.hand_over_at_ecx = tr.named ? as.newNamedLabel("hand_over_at_ecx") : as.newLabel();
        tr.mark_runs();
        auto text_so_far = [&]() -> std::string {
            auto* s = static_cast<StringLogger*>(logger);
            std::string text(s->data(), s->dataSize());
            s->clear();
            return text;
        };
        tr.prologue();
        if (listing != nullptr) listing->entry = text_so_far();
        for (int i = 0; i < cx; ++i) {
            tr.instruction(i);
            if (listing != nullptr) listing->instructions.push_back(text_so_far());
        }
        tr.exits();
        if (listing != nullptr) listing->exits = text_so_far();
        if (holder.flatten() != kErrorOk || holder.resolveUnresolvedLinks() != kErrorOk)
            return false;
        std::size_t size = holder.codeSize();
        void* memory = nullptr;
        if (VirtMem::alloc(&memory, size, VirtMem::MemoryFlags::kAccessRW) != kErrorOk)
            return false;
        memory_ = memory;
        size_ = size;
        auto address = reinterpret_cast<std::uint64_t>(memory);
        if (holder.relocateToBase(address) != kErrorOk ||
            holder.copyFlattenedData(memory, size) != kErrorOk ||
            VirtMem::protect(memory, size, VirtMem::MemoryFlags::kAccessRX) != kErrorOk)
            return false;
        // Where a return to each instruction goes: the start of its run, or
        // the hand-over for one inside a run.
        table_.assign(static_cast<std::size_t>(cx), nullptr);
        for (int i = 0; i < cx; ++i) {
            Label to = tr.starts[i] ? tr.entry[i] : tr.hand_over_at_ecx;
            table_[i] = reinterpret_cast<const void*>(address + holder.labelOffsetFromBase(to));
        }
        run_ = reinterpret_cast<NativeEntry>(memory);
        return true;
    }

    std::int32_t run(NativeState& state) const { return run_(&state, s, table_.data()); }

  private:
    void* memory_ = nullptr;
    std::size_t size_ = 0;
    std::vector<const void*> table_;
    NativeEntry run_ = nullptr;
};

} // namespace

bool run_native() {
    if (cx == 0) return false;
    NativeState state{};
    std::int32_t reason;
    {
        NativeCode native;
        if (!native.make(nullptr, nullptr)) return false;
        clear_stack();
        state = NativeState{p, b, t};
        reason = native.run(state);
    }
    // A run-time service that ended the run leaves the registers as the
    // interpreter does: as they were before the run.
    if (reason == EXIT_FATAL) throw pending_fatal;
    p = state.p;
    b = state.b;
    t = state.t;
    if (reason == EXIT_HAND_OVER) {
        interpret_from_here();
        return true;
    }
    // As the interpreter leaves it: GET pushed the cell it could not fill.
    // The output goes out first; if it can't, ir stays as it was.
    ++p;
    ++t;
    flush_output();
    ir = code[state.p];
    ir_pc = state.p;
    runtime_error(MSG_NO_NUMBER);
}

NativeListing list_native() {
    NativeListing listing;
    if (cx == 0) return listing;
    StringLogger logger;
    NativeCode native;
    if (!native.make(&logger, &listing)) return NativeListing{};
    return listing;
}
