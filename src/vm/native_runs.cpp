// The native translator's straight runs: which instructions start a run,
// the tests of t and b made once at the start of each, and what the
// translator keeps while it goes through one: t as T plus a delta, what is
// known of the top cells, and the pushes not stored yet.  Last, the
// translation of one instruction within its run: the choice per op code.
#include <algorithm>
#include <cstddef>
#include <string>

#include "vm/machine.hpp"
#include "vm/native_translator.hpp"

namespace native_tier {

bool in_code(std::int32_t x) {
    return x >= 0 && x < cx;
}

namespace {

// The instructions the machine code leaves to the interpreter whenever it
// reaches them: HLT, op bytes outside the set, the last instruction of the
// store (whatever follows it is outside), jumps and calls out of the store.
bool handed_over(int i) {
    const Instruction& in = code[i];
    const Flow flow = properties_of(in.op).flow;
    if (i == cx - 1 || flow == FLOW_HALT) return true;
    return (flow == FLOW_JUMP || flow == FLOW_CALL) && !in_code(in.a);
}

// The instructions that set t from b (or end the run): each tests the t it
// leaves itself, and the next instruction starts a new run.
bool sets_top(int i) {
    return properties_of(code[i].op).top == TOP_FRAME;
}

bool level_zero_access(const Instruction& in) {
    return (in.op == LOD || in.op == STR) && in.l <= 0;
}

// Whether the translator pushes instruction i's result (pushes that may
// wait): an instruction that only computes one cell on top.
bool pushes(const Instruction& in) {
    return properties_of(in.op).computes && pushes_of(in) == 1;
}

} // namespace

Label Translator::new_label(const char* kind, int i) {
    if (!named) return as.newLabel();
    std::string name = kind + std::to_string(i);
    return as.newNamedLabel(name.c_str());
}

Label Translator::bail_at(int i) {
    if (!bail[i].isValid()) {
        bail[i] = new_label("hand_over_", i);
        bail_delta[i] = delta_at;
    }
    return bail[i];
}

void Translator::mark_runs() {
    starts.assign(static_cast<std::size_t>(cx) + 1, false);
    starts[0] = true;
    for (int i = 0; i < cx; ++i) {
        const Instruction& in = code[i];
        bool jumps = has_code_address(in.op);
        if (jumps && in_code(in.a)) starts[in.a] = true;
        if (jumps || sets_top(i) || handed_over(i)) starts[i + 1] = true;
    }
    for (std::int32_t i : also_starts)
        if (in_code(i)) starts[static_cast<std::size_t>(i)] = true;
    entry.assign(static_cast<std::size_t>(cx), Label{});
    bail.assign(static_cast<std::size_t>(cx), Label{});
    bail_delta.assign(static_cast<std::size_t>(cx), 0);
    for (int i = 0; i < cx; ++i)
        if (starts[i]) entry[i] = new_label("run_", i);
    run_end.assign(static_cast<std::size_t>(cx), cx);
    for (int i = cx - 1, next = cx; i >= 0; --i) {
        if (starts[i + 1]) next = i + 1;
        run_end[i] = next;
    }
    loop_head.assign(static_cast<std::size_t>(cx), false);
    poll_exit.assign(static_cast<std::size_t>(cx), Label{});
    if (!polls) return;
    for (int i = 0; i < cx; ++i) {
        const Instruction& in = code[i];
        if ((in.op == UJP || in.op == FJP) && in_code(in.a) && in.a <= i) loop_head[in.a] = true;
        if (in.op == ENT && i + 1 < cx) loop_head[i + 1] = true; // a routine's start
    }
}

// At a run's start (a loop head, or a routine's start after its ENT) t is
// T and every push is stored: the exit hands over with the registers exact.
void Translator::poll(int i) {
    poll_exit[i] = new_label("loop_head_", i);
    comment("the tiers' countdown");
    as.sub(x86::dword_ptr(STATE, offsetof(NativeState, countdown)), 1);
    as.jl(poll_exit[i]);
}

// The run's length taken at its start: when it does not fit in what is
// left, the hand-over there gives it back.
void Translator::count_run(int i) {
    comment("the run's instructions: left in the budget?");
    as.sub(LEFT, run_end[i] - i);
    as.jl(bail_at(i));
}

// A store: the flags of a comparison stay as they are for the jump.
void Translator::note_last(int i) {
    as.mov(x86::dword_ptr(STATE, offsetof(NativeState, last)), i);
}

// --- t and the known cells ---

// Brings T up to date (lea: the flags stay as they are).
void Translator::settle() {
    flush();
    if (delta != 0) as.lea(T, x86::ptr(T, static_cast<std::int32_t>(delta)));
    delta = 0;
}
void Translator::forget() {
    flush();
    known.clear();
    compared_for = -1;
}

// The pushes not stored yet, made now.
void Translator::store(const Deferred& d) {
    x86::Mem to = x86::dword_ptr(S, T, 2, static_cast<std::int32_t>(d.at * 4));
    if (d.cell.kind == Cell::REGISTER)
        as.mov(to, POOL[d.cell.reg]);
    else
        as.mov(to, d.cell.value);
}
void Translator::flush() {
    for (const Deferred& d : deferred)
        store(d);
    deferred.clear();
}
// Register r is about to change and then be pushed as cell `at`: a
// deferred push of another cell that it holds is stored first.
void Translator::claim(int r, std::int64_t at) {
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
int Translator::take_register() {
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

Cell Translator::pop() {
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

// Pushes a cell: its store waits in `deferred`.
void Translator::push(const Cell& c) {
    ++delta;
    known.push_back(c);
    Deferred d{delta, c};
    for (Deferred& e : deferred)
        if (e.at == delta) {
            e = d; // the earlier push to this cell is never seen
            return;
        }
    deferred.push_back(d);
}
void Translator::push_register(int r) {
    Cell c;
    c.kind = Cell::REGISTER;
    c.reg = r;
    push(c);
}
void Translator::push_constant(std::int32_t v) {
    Cell c;
    c.kind = Cell::CONSTANT;
    c.value = v;
    push(c);
}

// The cell's value in a pool register the instruction may change.
int Translator::load(const Cell& c) {
    if (c.kind == Cell::REGISTER) return c.reg;
    int r = take_register();
    if (c.kind == Cell::CONSTANT)
        as.mov(POOL[r], c.value);
    else
        as.mov(POOL[r], memory(c));
    return r;
}
Operand Translator::operand(const Cell& c) const {
    if (c.kind == Cell::REGISTER) return POOL[c.reg];
    if (c.kind == Cell::CONSTANT) return imm(c.value);
    return memory(c);
}
// The cell's value in the scratch register `to`.
void Translator::load_into(const x86::Gp& to, const Cell& c) {
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
void Translator::test_run(int i) {
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
    if (used >= 0 && pushed < STACK_SIZE) {
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

// Whether instruction i can neither hand over nor read or write a cell
// other than the top cells and frame cells: deferred pushes may wait
// past it.  Before any other instruction they are stored.
bool Translator::quiet(const Instruction& in) const {
    switch (in.op) {
    case LDC:
    case COP: return true;
    case LOD:
    case STR:
    case LDA: return in.l <= 0;
    case OPR:
        return in.a != OPR_DIV ||
               (!known.empty() && known.back().kind == Cell::CONSTANT && known.back().value != 0);
    default: return false;
    }
}

// --- instructions ---

// A run starts with its tests; a run that always hands over at its start
// makes nothing more.  Deferred pushes are stored before an instruction
// that is not quiet.
void Translator::instruction(int i) {
    const Instruction& in = code[i];
    if (starts[i]) {
        settle();
        forget();
        if (counted && i > 0) note_last(i - 1); // when the one before goes on here
        as.bind(entry[i]);
        delta_at = 0;
        if (loop_head[i]) poll(i);
        if (counted) count_run(i);
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
        if (in.a == OPR_NEG) negate();
        if (is_binary_operation(in)) arithmetic(i, in.a);
        break;
    case COP:
        if (is_binary_operation(in)) compare(i, in.a);
        break;
    case LOD: load_variable(i, in); break;
    case STR: store_variable(i, in); break;
    case UJP:
        settle();
        if (counted) note_last(i);
        as.jmp(entry[in.a]);
        break;
    case FJP: jump_if_zero(i, in); break;
    case RET: return_from_procedure(i); break;
    case MST: mark_stack(i, in); break;
    case ENT: enter(i, in); break;
    case GET: get(i); break;
    case PUT: put(i); break;
    case LDA: load_address(i, in); break;
    case IND: load_indirect(i, in); break;
    case STO: store_indirect(i); break;
    case FRT: return_from_function(i); break;
    case CUP: call(i, in); break;
    case HLT: break; // handed over above
    }
}

} // namespace native_tier
