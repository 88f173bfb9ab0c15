// The optimising translator's code for the instructions of a frame:
// variables in registers or their cells, addresses checked against their
// object once, arithmetic left for its consumer to compute, comparisons
// joined with their FJP, division with its guards, read and write through
// the run-time services; and the guards, each a jump to its exit (one per
// instruction and kind of guard) that abandons the run of the tier, or to
// an exit of its own that resumes (vm/optimiser_exits.cpp).
#include <cstdio>
#include <string>

#include "vm/frame.hpp"
#include "vm/machine.hpp"
#include "vm/native_compare.hpp"
#include "vm/native_translator.hpp"
#include "vm/optimiser_translator.hpp"

namespace optimising {

using native_compare::condition;
using native_compare::holds;

void Function::comment(int i) {
    if (!named_) return;
    char text[64];
    std::snprintf(text, sizeof text, "; %d: %s(%d,%d)", i, mnemonic(code[i].op), code[i].l,
                  code[i].a);
    cc_.comment(text);
}

Label Function::label_of(int inst, int i) {
    auto& labels = instances_[static_cast<std::size_t>(inst)].labels;
    auto found = labels.find(i);
    if (found != labels.end()) return found->second;
    Label l = cc_.newLabel();
    labels.emplace(i, l);
    return l;
}

Label Function::exit_of(Guard g) {
    const GuardExit e{at_, g};
    for (const auto& [known, label] : exits_)
        if (known == e) return label;
    exits_.emplace_back(e, cc_.newLabel());
    return exits_.back().second;
}

void Function::fail(Guard g) {
    cc_.jmp(step_resumes_ && guard_resumes(g, plan_.unset_reads) ? resuming_exit(g) : exit_of(g));
}

void Function::fail_if(x86::CondCode cond, Guard g) {
    cc_.j(cond,
          step_resumes_ && guard_resumes(g, plan_.unset_reads) ? resuming_exit(g) : exit_of(g));
}

// After a write: the service failed with GUARD_ENDED, which resumes.
Label Function::service_exit() {
    return step_resumes_ ? resuming_exit(GUARD_NONE) : exit_of(GUARD_NONE);
}

// --- translation of one instruction ---

void Function::step(int inst, int i) {
    const Instruction& in = code[i];
    switch (in.op) {
    case LDC: push(constant(in.a)); break;
    case LOD: load_variable(inst, i); break;
    case STR: store_variable(inst, i); break;
    case LDA: load_address(inst, i); break;
    case OPR:
    case COP: arithmetic(inst, i); break;
    case IND: load_through(inst, i); break;
    case STO: store_through(inst, i); break;
    case GET: read_number(inst, i); break;
    case PUT: write_number(inst, i); break;
    case MST: {
        Node h;
        h.kind = N_HEADER;
        h.frame = frame_of(inst, in.l);
        int n = node(h);
        for (int k = 0; k < in.a; ++k)
            push(n);
        break;
    }
    case CUP: call(inst, i); break;
    case UJP:
        if (auto r = rotated_.find(i); r != rotated_.end())
            test_again(inst, in.a, r->second);
        else
            jump(inst, in.a);
        falls_ = false;
        break;
    case FJP: branch(inst, i); break;
    case RET:
    case FRT:
    case HLT: end_of(inst, i); break;
    case ENT: break;
    }
}

// --- variables ---

void Function::load_variable(int inst, int i) {
    const Instruction& in = code[i];
    FrameRef f = frame_of(inst, in.l);
    bool reference =
        (plan_.routine(f.routine).cells[static_cast<std::size_t>(in.a)] & CELL_REFERENCE) != 0;
    if (f.instance >= 0) {
        const Instance& I = instances_[static_cast<std::size_t>(f.instance)];
        int bound = I.bound[static_cast<std::size_t>(in.a)];
        if (bound >= 0) {
            push(bound);
            return;
        }
        int v = I.vars[static_cast<std::size_t>(in.a)];
        if (v >= 0 && !vars_[static_cast<std::size_t>(v)].memory) {
            const Var& var = vars_[static_cast<std::size_t>(v)];
            Node n;
            n.kind = reference ? N_REF : N_VAR;
            n.var = v;
            n.reg = var.reg;
            push(node(n));
            return;
        }
    }
    bool check =
        (sh_.places[static_cast<std::size_t>(i)].flags & PLACE_UNSET_READ) != 0 && !exact(f);
    x86::Gp t = load_cell(base_of(f), in.a, nullptr, check);
    Node n;
    n.kind = reference ? N_REF : N_TEMP;
    n.reg = t;
    push(node(n));
}

void Function::store_variable(int inst, int i) {
    const Instruction& in = code[i];
    int value = pop();
    FrameRef f = frame_of(inst, in.l);
    int v = var_of(f, in.a);
    if (v >= 0 && !vars_[static_cast<std::size_t>(v)].memory) {
        settle(v);
        compute_into(vars_[static_cast<std::size_t>(v)].reg, value, v);
        return;
    }
    store_cell(base_of(f), in.a, nullptr, value, !exact(f));
}

void Function::load_address(int inst, int i) {
    const Instruction& in = code[i];
    Node n;
    n.kind = N_ADDR;
    n.frame = frame_of(inst, in.l);
    n.a = in.a;
    n.cells = cells_at(i);
    n.left = constant(0);
    push(node(n));
}

// --- addresses ---

x86::Gp Function::checked_offset(int n) {
    Node& x = nodes_[static_cast<std::size_t>(n)];
    if (x.checked && at(x.left).kind == N_TEMP) return at(x.left).reg;
    x86::Gp t = temp_of(x.left);
    cc_.cmp(t, at(n).cells);
    fail_if(x86::CondCode::kAE, GUARD_BOUNDS); // unsigned: below 0 too
    int tn = temp(t);
    Node& y = nodes_[static_cast<std::size_t>(n)];
    y.left = tn;
    y.checked = true;
    return t;
}

void Function::address_cell(int n, Base& base, std::int32_t& a, x86::Gp& index, bool& has_index,
                            bool& known_frame) {
    const Node x = at(n);
    has_index = false;
    if (x.kind == N_REF) {
        // Every load and store through an address the run computed comes
        // here: an object's offset is checked against the object below,
        // and a reference, whoever made it, against the stack, whatever
        // was admitted at the move up.  No store of the tier can reach
        // outside the stack.
        base = Base{};
        a = 0;
        index = x.reg.r64();
        has_index = true;
        known_frame = false;
        cc_.cmp(index, STACK_SIZE);
        fail_if(x86::CondCode::kAE, GUARD_ADDRESS); // unsigned: below 0 too
        return;
    }
    known_frame = true;
    base = base_of(x.frame);
    a = x.a;
    const Node& off = at(x.left);
    if (off.kind == N_CONST) {
        // Past a failed guard the code is never run: offset 0 stands in.
        if (off.k < 0 || off.k >= x.cells)
            fail(GUARD_BOUNDS);
        else
            a += off.k;
        return;
    }
    index = checked_offset(n).r64();
    has_index = true;
}

// The variable an address names when it is that of a variable held in a
// register (the address of a variable that read fills, for one).
static bool register_target(const Node& x) {
    return x.kind == N_ADDR && x.cells == 1;
}

void Function::load_through(int inst, int i) {
    (void)inst;
    if (code[i].a != 0) throw Decline{"an IND with an offset"};
    int n = pop();
    const Node x = at(n);
    if (x.kind != N_ADDR && x.kind != N_REF) throw Decline{"an IND of a number"};
    if (register_target(x)) {
        int v = var_of(x.frame, x.a);
        if (v >= 0 && !vars_[static_cast<std::size_t>(v)].memory) {
            const Node& off = at(x.left);
            if (off.kind != N_CONST || off.k != 0) fail(GUARD_BOUNDS);
            Node r;
            r.kind = N_VAR;
            r.var = v;
            r.reg = vars_[static_cast<std::size_t>(v)].reg;
            push(node(r));
            return;
        }
    }
    Base base;
    std::int32_t a = 0;
    x86::Gp index;
    bool has_index = false, known = false;
    address_cell(n, base, a, index, has_index, known);
    // A cell of a frame made here, or of one nobody knows, may be unset.
    bool check =
        !known ||
        (!exact(x.frame) &&
         (x.cells > 1 || (sh_.places[static_cast<std::size_t>(i)].flags & PLACE_UNSET_READ) != 0));
    push(temp(load_cell(base, a, has_index ? &index : nullptr, check)));
}

void Function::store_through(int inst, int i) {
    (void)inst;
    (void)i;
    int value = pop();
    int n = pop();
    const Node x = at(n);
    if (x.kind != N_ADDR && x.kind != N_REF) throw Decline{"an STO to a number"};
    if (register_target(x)) {
        int v = var_of(x.frame, x.a);
        if (v >= 0 && !vars_[static_cast<std::size_t>(v)].memory) {
            const Node& off = at(x.left);
            if (off.kind != N_CONST || off.k != 0) fail(GUARD_BOUNDS);
            settle(v);
            compute_into(vars_[static_cast<std::size_t>(v)].reg, value, v);
            return;
        }
    }
    Base base;
    std::int32_t a = 0;
    x86::Gp index;
    bool has_index = false, known = false;
    address_cell(n, base, a, index, has_index, known);
    store_cell(base, a, has_index ? &index : nullptr, value, !known || !exact(x.frame));
}

// --- arithmetic ---

void Function::arithmetic(int inst, int i) {
    (void)inst;
    const Instruction& in = code[i];
    if (in.op == OPR && in.a == OPR_NEG) {
        int v = pop();
        const Node& x = at(v);
        if (x.kind == N_CONST) {
            push(constant(static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(x.k))));
            return;
        }
        Node n;
        n.kind = N_NEG;
        n.left = v;
        push(node(n));
        return;
    }
    int right = pop();
    int left = pop();
    NodeKind l = at(left).kind, r = at(right).kind;
    if (in.op == COP) {
        if (l == N_CONST && r == N_CONST) {
            push(constant(holds(in.a, at(left).k, at(right).k) ? 1 : 0));
            return;
        }
        Node n;
        n.kind = N_COND;
        n.k = in.a;
        n.left = left;
        n.right = right;
        push(node(n));
        return;
    }
    // An address and a number: the address of another cell of the object.
    if ((l == N_ADDR && (in.a == OPR_ADD || in.a == OPR_SUB)) || (r == N_ADDR && in.a == OPR_ADD)) {
        int address = l == N_ADDR ? left : right;
        int other = l == N_ADDR ? right : left;
        Node n = at(address);
        n.left = make_binary(in.a == OPR_ADD ? N_ADD : N_SUB, n.left, other);
        n.checked = false;
        push(node(n));
        return;
    }
    switch (in.a) {
    case OPR_ADD: push(make_binary(N_ADD, left, right)); break;
    case OPR_SUB: push(make_binary(N_SUB, left, right)); break;
    case OPR_MUL: push(make_binary(N_MUL, left, right)); break;
    case OPR_DIV: divide(left, right); break;
    default: throw Decline{"an operation outside the tables"};
    }
}

void Function::divide(int left, int right) {
    const Node r = at(right);
    const Node l = at(left);
    if (r.kind == N_CONST) {
        std::int32_t d = r.k;
        if (d == 0) {
            fail(GUARD_DIVISION);
            push(constant(0));
            return;
        }
        if (l.kind == N_CONST) {
            std::int64_t q = d == -1 ? -std::int64_t{l.k} : l.k / d;
            push(constant(static_cast<std::int32_t>(static_cast<std::uint32_t>(q))));
            return;
        }
        if (d == 1) {
            push(left);
            return;
        }
        if (d == -1) {
            Node n;
            n.kind = N_NEG;
            n.left = left;
            push(node(n));
            return;
        }
        if (d != INT32_MIN) {
            // q = (n * magic) >> (32 + shift), plus one when n is negative.
            native_tier::Magic m = native_tier::magic_for(d);
            x86::Gp n = temp_of(left);
            x86::Gp wide = new64();
            cc_.movsxd(wide, n);
            if (m.multiplier <= INT32_MAX) {
                cc_.imul(wide, wide, static_cast<std::int32_t>(m.multiplier));
            } else {
                x86::Gp k = new64();
                cc_.mov(k, m.multiplier);
                cc_.imul(wide, k);
            }
            cc_.sar(wide, 32 + m.shift);
            cc_.shr(n, 31);
            cc_.add(n, wide.r32());
            if (d < 0) cc_.neg(n);
            push(temp(n));
            return;
        }
    }
    x86::Gp divisor = reg_of(right);
    if (r.kind != N_CONST) {
        cc_.test(divisor, divisor);
        fail_if(x86::CondCode::kZ, GUARD_DIVISION);
    }
    x86::Gp q = temp_of(left);
    x86::Gp high = new32();
    Label by_minus_one = cc_.newLabel(), done = cc_.newLabel();
    cc_.cmp(divisor, -1);
    cc_.je(by_minus_one); // the most negative value div -1 wraps to itself
    cc_.cdq(high, q);
    cc_.idiv(high, q, divisor);
    cc_.jmp(done);
    cc_.bind(by_minus_one);
    cc_.neg(q);
    cc_.bind(done);
    push(temp(q));
}

// --- jumps ---

void Function::jump(int inst, int to) {
    if (stack_.size() != instances_[static_cast<std::size_t>(inst)].stack_base)
        throw Decline{"a jump with cells pushed"};
    if (returns_at_once(inst, to)) {
        // A jump to the function's return: the return itself, one jump
        // fewer (the end of an if whose branch ends the routine).
        end_of(inst, to);
        return;
    }
    cc_.jmp(label_of(inst, to));
}

bool Function::returns_at_once(int inst, int i) const {
    if (inst != 0) return false;
    const Opcode op = code[i].op;
    if (op == RET) return true;
    if (op != FRT) return false;
    const int v = instances_[0].vars[FRAME_RESULT];
    return v >= 0 && !vars_[static_cast<std::size_t>(v)].memory;
}

void Function::test_again(int inst, int head, int test) {
    if (stack_.size() != instances_[static_cast<std::size_t>(inst)].stack_base)
        throw Decline{"a jump with cells pushed"};
    if (named_) {
        char text[64];
        std::snprintf(text, sizeof text, "; the test of %d to %d again", head, test);
        cc_.comment(text);
    }
    for (int k = head; k < test; ++k) {
        begin_step(inst, k);
        step(inst, k);
    }
    const int c = pop();
    Label body = label_of(inst, test + 1);
    Label exit = label_of(inst, code[test].a);
    if (at(c).kind == N_CONST) {
        cc_.jmp(at(c).k != 0 ? body : exit);
        return;
    }
    jump_when(c, true, body);
    cc_.jmp(exit);
}

void Function::branch(int inst, int i) {
    int c = pop();
    if (stack_.size() != instances_[static_cast<std::size_t>(inst)].stack_base)
        throw Decline{"a jump with cells pushed"};
    Label to = label_of(inst, code[i].a);
    if (at(c).kind == N_CONST) {
        if (at(c).k == 0) {
            cc_.jmp(to);
            falls_ = false;
        }
        return;
    }
    jump_when(c, false, to);
}

void Function::jump_when(int c, bool when, Label to) {
    const Node x = at(c);
    if (x.kind == N_COND) {
        int left = x.left, right = x.right;
        x86::CondCode cond = condition(x.k);
        if (at(left).kind == N_CONST) {
            std::swap(left, right);
            cond = x86::reverseCond(cond);
        }
        x86::Gp l = reg_of(left);
        cc_.emit(x86::Inst::kIdCmp, l, operand_of(right));
        cc_.j(when ? cond : x86::negateCond(cond), to);
        return;
    }
    x86::Gp v = reg_of(c);
    cc_.test(v, v);
    if (when)
        cc_.jnz(to);
    else
        cc_.jz(to);
}

// --- read and write ---

void Function::read_number(int inst, int i) {
    (void)inst;
    (void)i;
    x86::Mem cell = cc_.newStack(4, 4);
    x86::Gp address = new64();
    cc_.lea(address, cell);
    x86::Gp status = new32();
    InvokeNode* call = nullptr;
    cc_.invoke(&call, imm(reinterpret_cast<std::uintptr_t>(&speculation_get)),
               FuncSignatureT<std::int32_t, std::int32_t*>(CallConvId::kHost));
    call->setArg(0, address);
    call->setRet(0, status);
    reload_stack_address();
    cc_.test(status, status);
    // A read that fails leaves the pushed cell as it was before, which the
    // tier has not kept as the exact tiers would: back to the checkpoint.
    cc_.jnz(exit_of(GUARD_NONE)); // the service says which guard
    x86::Gp v = new32();
    cc_.mov(v, cell);
    push(temp(v));
}

void Function::write_number(int inst, int i) {
    (void)inst;
    (void)i;
    // The value in a register of its own: a variable passed as it is
    // would be wanted in the argument's register for its whole life, and
    // the allocator gives one it cannot have there none at all.
    x86::Gp value = temp_of(pop());
    x86::Gp status = new32();
    InvokeNode* call = nullptr;
    cc_.invoke(&call, imm(reinterpret_cast<std::uintptr_t>(&speculation_put)),
               FuncSignatureT<std::int32_t, std::int32_t>(CallConvId::kHost));
    call->setArg(0, value);
    call->setRet(0, status);
    reload_stack_address();
    cc_.test(status, status);
    cc_.jnz(service_exit()); // the service says which guard
}

} // namespace optimising
