// The optimising translator's stack of values: what each pushed cell
// holds as far as the translator knows it (a constant, a register, a
// variable not read yet, an operation not computed yet, an address), and
// how such a value gets into a register: computed into its destination
// where it can be (x := x + 1 is one add), else into a temporary.
#include <utility>

#include "vm/native_compare.hpp"
#include "vm/optimiser_translator.hpp"

namespace optimising {

using native_compare::condition;

int Function::node(const Node& n) {
    nodes_.push_back(n);
    return static_cast<int>(nodes_.size()) - 1;
}

int Function::constant(std::int32_t k) {
    Node n;
    n.kind = N_CONST;
    n.k = k;
    return node(n);
}

int Function::temp(const x86::Gp& reg) {
    Node n;
    n.kind = N_TEMP;
    n.reg = reg;
    return node(n);
}

int Function::pop() {
    if (stack_.empty()) throw Decline{"a pop of an empty stack"};
    int n = stack_.back();
    stack_.pop_back();
    return n;
}

x86::Gp Function::new32(const char* name) {
    too_many_values();
    return name != nullptr && named_ ? cc_.newInt32(name) : cc_.newInt32();
}

x86::Gp Function::new64(const char* name) {
    too_many_values();
    return name != nullptr && named_ ? cc_.newInt64(name) : cc_.newInt64();
}

void Function::too_many_values() const {
    if (cc_.virtRegs().size() >= MOST_VALUES)
        throw Decline{"more values than the tier compiles (a deep expression around many calls)"};
}

bool Function::refers(int n, int var) const {
    const Node& x = at(n);
    switch (x.kind) {
    case N_VAR: return x.var == var;
    case N_ADD:
    case N_SUB:
    case N_MUL:
    case N_COND: return refers(x.left, var) || refers(x.right, var);
    case N_NEG: return refers(x.left, var);
    case N_ADDR: return refers(x.left, var);
    default: return false;
    }
}

bool Function::lazy(int n) const {
    const Node& x = at(n);
    switch (x.kind) {
    case N_VAR:
    case N_ADD:
    case N_SUB:
    case N_MUL:
    case N_NEG:
    case N_COND: return true;
    case N_ADDR: return lazy(x.left);
    default: return false;
    }
}

void Function::compute_into(x86::Gp dest, int n, int var) {
    const Node x = at(n);
    switch (x.kind) {
    case N_CONST:
        if (x.k == 0)
            cc_.xor_(dest, dest);
        else
            cc_.mov(dest, x.k);
        return;
    case N_TEMP:
    case N_REF:
        if (x.reg.id() != dest.id()) cc_.mov(dest, x.reg);
        return;
    case N_VAR: {
        const Var& v = vars_[static_cast<std::size_t>(x.var)];
        if (v.reg.id() != dest.id()) cc_.mov(dest, v.reg);
        return;
    }
    case N_ADD:
    case N_SUB:
    case N_MUL: {
        int left = x.left, right = x.right;
        // x + a + b into x as x + (a + b): the sum of the others is made
        // while x is still being computed, so that a loop carrying x waits
        // for one add a turn, not two (exact: the sums wrap).
        if (var >= 0 && x.kind == N_ADD && at(left).kind == N_ADD && !refers(right, var)) {
            const Node inner = at(left);
            if (at(inner.left).kind == N_VAR && at(inner.left).var == var &&
                !refers(inner.right, var)) {
                const int rest = make_binary(N_ADD, inner.right, right);
                compute_into(dest, make_binary(N_ADD, inner.left, rest), var);
                return;
            }
        }
        // a + x or a * x into x: the other operand first.
        if (var >= 0 && x.kind != N_SUB && at(right).kind == N_VAR && at(right).var == var &&
            !refers(left, var))
            std::swap(left, right);
        if (var >= 0 && refers(right, var)) {
            x86::Gp t = temp_of(n);
            cc_.mov(dest, t);
            return;
        }
        // A constant left of + or *: on the right instead.
        if (x.kind != N_SUB && at(left).kind == N_CONST && at(right).kind != N_CONST &&
            !(var >= 0 && refers(right, var)))
            std::swap(left, right);
        compute_into(dest, left, var);
        const Node& r = at(right);
        if (r.kind == N_CONST) {
            if (x.kind == N_ADD) cc_.add(dest, r.k);
            if (x.kind == N_SUB) cc_.sub(dest, r.k);
            if (x.kind == N_MUL) cc_.imul(dest, dest, r.k);
            return;
        }
        x86::Gp rr = reg_of(right);
        if (x.kind == N_ADD) cc_.add(dest, rr);
        if (x.kind == N_SUB) cc_.sub(dest, rr);
        if (x.kind == N_MUL) cc_.imul(dest, rr);
        return;
    }
    case N_NEG:
        compute_into(dest, x.left, var);
        cc_.neg(dest);
        return;
    case N_COND: {
        int left = x.left, right = x.right;
        x86::CondCode cond = condition(x.k);
        if (at(left).kind == N_CONST) {
            std::swap(left, right);
            cond = x86::reverseCond(cond);
        }
        x86::Gp l = reg_of(left);
        Operand r = operand_of(right);
        x86::Gp t = new32();
        cc_.xor_(t, t);
        cc_.emit(x86::Inst::kIdCmp, l, r);
        cc_.set(cond, t.r8());
        cc_.mov(dest, t);
        return;
    }
    case N_ADDR: {
        // The address as a number: the object's first cell plus the offset.
        Base base = base_of(x.frame);
        std::int32_t disp = base.add + x.a;
        const Node& off = at(x.left);
        if (off.kind == N_CONST) {
            // Past a failed guard the code is never run: offset 0 stands in.
            if (off.k < 0 || off.k >= x.cells)
                fail(GUARD_BOUNDS);
            else
                disp += off.k;
            if (base.has_reg)
                cc_.lea(dest, x86::ptr(base.reg, disp));
            else
                cc_.mov(dest, disp);
            return;
        }
        x86::Gp o = checked_offset(n);
        if (base.has_reg)
            cc_.lea(dest, x86::ptr(base.reg, o.r64(), 0, disp));
        else
            cc_.lea(dest, x86::ptr(o.r64(), disp));
        return;
    }
    case N_HEADER: throw Decline{"a frame header used as a value"};
    }
}

x86::Gp Function::reg_of(int n) {
    const Node& x = at(n);
    if (x.kind == N_TEMP || x.kind == N_REF) return x.reg;
    if (x.kind == N_VAR) return vars_[static_cast<std::size_t>(x.var)].reg;
    return temp_of(n);
}

Operand Function::operand_of(int n) {
    const Node& x = at(n);
    if (x.kind == N_CONST) return imm(x.k);
    return reg_of(n);
}

x86::Gp Function::temp_of(int n) {
    x86::Gp t = new32();
    compute_into(t, n);
    return t;
}

void Function::settle(int var) {
    for (int& e : stack_) {
        bool waits = var < 0 ? lazy(e) : refers(e, var);
        if (!waits) continue;
        const Node& x = at(e);
        if (x.kind == N_ADDR) {
            Node copy = x;
            copy.left = temp(temp_of(x.left));
            e = node(copy);
        } else {
            e = temp(temp_of(e));
        }
    }
}

std::vector<int> Function::canonical(std::size_t from) {
    std::vector<int> slots;
    for (std::size_t k = from; k < stack_.size(); ++k) {
        int e = stack_[k];
        Node x = at(e);
        Node c = x;
        if (x.kind == N_HEADER) {
            slots.push_back(e);
            continue;
        }
        if (x.kind == N_ADDR) {
            x86::Gp o = new32("slot_offset");
            compute_into(o, x.left);
            c.left = temp(o);
            // A resume entry loads the offset from what the exact tiers
            // left in the slot, which may lie outside the object: it is
            // checked again where it is used.
            c.checked = false;
        } else {
            c.kind = x.kind == N_REF ? N_REF : N_TEMP;
            c.reg = new32("slot");
            compute_into(c.reg, e);
        }
        int cn = node(c);
        stack_[k] = cn;
        slots.push_back(cn);
    }
    return slots;
}

void Function::move_into(const std::vector<int>& to, std::size_t from) {
    if (stack_.size() - from != to.size()) throw Decline{"a resume point with another stack"};
    for (std::size_t k = 0; k < to.size(); ++k) {
        const Node& t = at(to[k]);
        int e = stack_[from + k];
        if (t.kind == N_HEADER) continue;
        if (t.kind == N_ADDR)
            compute_into(at(t.left).reg, at(e).left);
        else
            compute_into(t.reg, e);
        stack_[from + k] = to[k];
    }
}

// --- making values (the rules of vm/optimiser_rules.hpp) ---

Term Function::term(int n) const {
    const Node& x = at(n);
    return Term{x.kind, x.k, x.left, x.right};
}

int Function::operation(NodeKind kind, int left, int right) {
    Node n;
    n.kind = kind;
    n.left = left;
    n.right = right;
    return node(n);
}

int Function::make_binary(NodeKind kind, int left, int right) {
    return optimising::make_binary(*this, kind, left, right);
}

} // namespace optimising
