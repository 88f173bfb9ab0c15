// Counted loops summed in closed form.  An innermost loop
//
//     while k < n do begin s := s + a*k + b; k := k + c end
//
// whose body only adds to variables an expression affine in its counter
// (and only steps the counter by a constant) leaves a state that a few
// instructions compute: its number of turns, the counter's final value
// and each sum.  The code for that goes at the loop's head, before its
// test: once it has run, the test fails and the loop is left without a
// turn.  Where the counter would wrap around before the test fails, or the
// loop would never end, the code does nothing and the loop runs as ever.
//
// What a loop must be (counted_loop):
//   - its head only computes a comparison <, <=, > or >= of the counter
//     with a value the body does not change, its body is straight code
//     (no jump, call, read, write, address or division) ending with the
//     jump back, and its exit is right after that jump;
//   - it stores only variables the function keeps in registers, each
//     once: the counter as k := k + c (c a constant other than 0, its
//     sign the way the test goes), the others as s := s + e with e an
//     expression of the counter at most linear in it, of constants and
//     of variables the loop does not store (the sum s itself counted
//     once, added, and read nowhere else).
//
// All of it modulo 2^32, as the machine computes: with e(k) = A*k + B,
// the turns t = 0 .. cnt-1 add
//     sum e(k0 + c*t) = cnt*e(k0) + (e(k0+c) - e(k0)) * cnt*(cnt-1)/2
// whose products keep only their low 32 bits, and e at the two points is
// computed by the expression itself, with wrapping arithmetic.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <unordered_set>
#include <vector>

#include "vm/optimiser_translator.hpp"

namespace optimising {

namespace {

// A node of an expression of the loop, as its instructions compute it.
struct Expr {
    enum Kind { CONST, VAR, ADD, SUB, MUL, NEG } kind = CONST;
    std::int32_t k = 0; // CONST
    int var = -1;       // VAR: the variable (Function::vars_)
    int left = -1, right = -1;
};

// How an expression depends on the counter and on a sum: its degree in
// the counter (2 standing for "more than linear"), and the coefficient of
// the sum, with `bad` when the sum is multiplied.
struct Dependence {
    int degree = 0;
    int sum = 0;
    bool bad = false;
};

} // namespace

struct Function::CountedLoop {
    int head = 0, test = 0, back = 0;
    std::vector<Expr> nodes;
    int counter = -1;      // the counter's variable
    std::int32_t step = 0; // c
    int bound = -1;        // the node of the value it is compared with
    int comparison = 0;    // COP_LT, COP_LEQ, COP_GT or COP_GEQ: counter (op) bound
    struct Sum {
        int var = -1;
        int value = -1; // the node of what is stored
    };
    std::vector<Sum> sums;
};

namespace {

using Loop = Function::CountedLoop;

bool reads(const Loop& l, int n, int var) {
    const Expr& e = l.nodes[static_cast<std::size_t>(n)];
    if (e.kind == Expr::VAR) return e.var == var;
    if (e.kind == Expr::CONST) return false;
    return reads(l, e.left, var) || (e.right >= 0 && reads(l, e.right, var));
}

Dependence dependence(const Loop& l, int n, int sum) {
    const Expr& e = l.nodes[static_cast<std::size_t>(n)];
    Dependence d;
    switch (e.kind) {
    case Expr::CONST: break;
    case Expr::VAR:
        d.degree = e.var == l.counter ? 1 : 0;
        d.sum = e.var == sum ? 1 : 0;
        break;
    case Expr::NEG:
        d = dependence(l, e.left, sum);
        d.sum = -d.sum;
        break;
    case Expr::ADD:
    case Expr::SUB:
    case Expr::MUL: {
        Dependence x = dependence(l, e.left, sum);
        Dependence y = dependence(l, e.right, sum);
        d.bad = x.bad || y.bad;
        if (e.kind == Expr::MUL) {
            d.degree = std::min(2, x.degree + y.degree);
            d.bad = d.bad || x.sum != 0 || y.sum != 0;
        } else {
            d.degree = std::max(x.degree, y.degree);
            d.sum = e.kind == Expr::ADD ? x.sum + y.sum : x.sum - y.sum;
        }
        break;
    }
    }
    // Keeps the coefficient small: any value past one is refused anyway.
    if (d.sum > 8 || d.sum < -8) d.bad = true;
    return d;
}

// The value of an expression of constants and of `var`, given var's
// value; false when it reads another variable.
bool evaluate(const Loop& l, int n, int var, std::uint32_t value, std::uint32_t& out) {
    const Expr& e = l.nodes[static_cast<std::size_t>(n)];
    std::uint32_t x = 0, y = 0;
    switch (e.kind) {
    case Expr::CONST: out = static_cast<std::uint32_t>(e.k); return true;
    case Expr::VAR: out = value; return e.var == var;
    case Expr::NEG:
        if (!evaluate(l, e.left, var, value, x)) return false;
        out = 0u - x;
        return true;
    case Expr::ADD:
    case Expr::SUB:
    case Expr::MUL:
        if (!evaluate(l, e.left, var, value, x) || !evaluate(l, e.right, var, value, y))
            return false;
        out = e.kind == Expr::ADD ? x + y : e.kind == Expr::SUB ? x - y : x * y;
        return true;
    }
    return false;
}

int mirrored(int comparison) {
    switch (comparison) {
    case COP_LT: return COP_GT;
    case COP_LEQ: return COP_GEQ;
    case COP_GT: return COP_LT;
    case COP_GEQ: return COP_LEQ;
    default: return 0;
    }
}

} // namespace

// Whether the loop whose head is at `head` and whose jump back is `back`
// is one summed in closed form, described into `loop`.
bool Function::counted_loop(int inst, int head, int back, const std::unordered_set<int>& targets,
                            CountedLoop& loop) const {
    loop.head = head;
    loop.back = back;
    std::vector<int> stack;
    std::vector<int> stored; // the variables stored so far, in order
    std::vector<int> value;  // and the nodes stored into them
    auto add = [&](const Expr& e) {
        loop.nodes.push_back(e);
        return static_cast<int>(loop.nodes.size()) - 1;
    };
    // The register variable of LOD or STR l,a, or -1.
    auto variable = [&](int i) {
        FrameRef f = frame_of(inst, code[i].l);
        if (f.instance < 0) return -1;
        const Instance& I = instances_[static_cast<std::size_t>(f.instance)];
        std::int32_t a = code[i].a;
        if (a < 0 || static_cast<std::size_t>(a) >= I.vars.size()) return -1;
        if ((plan_.routine(f.routine).cells[static_cast<std::size_t>(a)] & CELL_REFERENCE) != 0 ||
            I.bound[static_cast<std::size_t>(a)] >= 0)
            return -1;
        int v = I.vars[static_cast<std::size_t>(a)];
        return v >= 0 && !vars_[static_cast<std::size_t>(v)].memory ? v : -1;
    };
    int test = -1;
    int sides[2] = {-1, -1}; // what the test compares
    for (int i = head; i < back; ++i) {
        const Instruction& in = code[i];
        if (i != head && (targets.count(i) != 0 || point_at_.count(i) != 0) &&
            !(test >= 0 && i == test + 1))
            return false;
        switch (in.op) {
        case LDC: stack.push_back(add(Expr{Expr::CONST, in.a, -1, -1, -1})); break;
        case LOD: {
            int v = variable(i);
            if (v < 0) return false;
            // A variable read after the body stored it is what was stored.
            int found = -1;
            for (std::size_t k = 0; k < stored.size(); ++k)
                if (stored[k] == v) found = value[k];
            stack.push_back(found >= 0 ? found : add(Expr{Expr::VAR, 0, v, -1, -1}));
            break;
        }
        case STR: {
            int v = variable(i);
            if (v < 0 || stack.size() != 1 || test < 0) return false;
            for (int w : stored)
                if (w == v) return false; // stored twice a turn
            stored.push_back(v);
            value.push_back(stack.back());
            stack.pop_back();
            break;
        }
        case OPR: {
            if (in.a == OPR_NEG) {
                if (stack.empty()) return false;
                stack.back() = add(Expr{Expr::NEG, 0, -1, stack.back(), -1});
                break;
            }
            if (stack.size() < 2 || (in.a != OPR_ADD && in.a != OPR_SUB && in.a != OPR_MUL))
                return false;
            int y = stack.back();
            stack.pop_back();
            Expr::Kind kind = in.a == OPR_ADD ? Expr::ADD : in.a == OPR_SUB ? Expr::SUB : Expr::MUL;
            stack.back() = add(Expr{kind, 0, -1, stack.back(), y});
            break;
        }
        case COP: {
            // Only the head's test.
            if (test >= 0 || stack.size() != 2 || code[i + 1].op != FJP) return false;
            if (mirrored(in.a) == 0) return false;
            sides[0] = stack[0];
            sides[1] = stack[1];
            loop.comparison = in.a;
            stack.clear();
            break;
        }
        case FJP:
            if (test >= 0 || sides[0] < 0 || code[i].a != back + 1) return false;
            test = i;
            break;
        default: return false;
        }
    }
    if (test < 0 || !stack.empty()) return false;
    loop.test = test;

    // The counter: the side of the test that is a variable the body
    // stores; the bound, the other side.
    for (int side = 0; side < 2 && loop.counter < 0; ++side) {
        const Expr& e = loop.nodes[static_cast<std::size_t>(sides[side])];
        if (e.kind != Expr::VAR) continue;
        for (int v : stored)
            if (v == e.var) loop.counter = v;
        if (loop.counter < 0) continue;
        loop.bound = sides[1 - side];
        if (side == 1) loop.comparison = mirrored(loop.comparison); // n > k: k < n
    }
    if (loop.counter < 0) return false;

    // Its step: k := k + c, with c a constant other than 0 going the
    // way the test does.
    bool stepped = false;
    for (std::size_t k = 0; k < stored.size(); ++k) {
        if (stored[k] != loop.counter) continue;
        std::uint32_t at0 = 0, at1 = 0;
        if (!evaluate(loop, value[k], loop.counter, 0, at0) ||
            !evaluate(loop, value[k], loop.counter, 1, at1) || at1 - at0 != 1)
            return false;
        loop.step = static_cast<std::int32_t>(at0);
        stepped = true;
    }
    bool up = loop.comparison == COP_LT || loop.comparison == COP_LEQ;
    if (!stepped || loop.step == 0 || (loop.step > 0) != up) return false;

    // The bound reads neither the counter nor anything stored.
    for (int v : stored)
        if (reads(loop, loop.bound, v)) return false;

    // The sums: each adds an expression at most linear in the counter that
    // reads no other variable the loop stores.
    for (std::size_t k = 0; k < stored.size(); ++k) {
        if (stored[k] == loop.counter) continue;
        Dependence d = dependence(loop, value[k], stored[k]);
        if (d.bad || d.sum != 1 || d.degree > 1) return false;
        for (int w : stored)
            if (w != stored[k] && w != loop.counter && reads(loop, value[k], w)) return false;
        loop.sums.push_back(CountedLoop::Sum{stored[k], value[k]});
    }
    return true;
}

// The value of node n of the loop into a new register, with the counter
// at `counter` and the sum `sum` (if any) at 0.
x86::Gp Function::loop_value(const CountedLoop& loop, int n, const x86::Gp& counter, int sum) {
    const Expr& e = loop.nodes[static_cast<std::size_t>(n)];
    x86::Gp r;
    switch (e.kind) {
    case Expr::CONST:
        r = new32();
        cc_.mov(r, e.k);
        return r;
    case Expr::VAR:
        r = new32();
        if (e.var == sum)
            cc_.xor_(r, r);
        else
            cc_.mov(r,
                    e.var == loop.counter ? counter : vars_[static_cast<std::size_t>(e.var)].reg);
        return r;
    case Expr::NEG:
        r = loop_value(loop, e.left, counter, sum);
        cc_.neg(r);
        return r;
    case Expr::ADD:
    case Expr::SUB:
    case Expr::MUL: {
        r = loop_value(loop, e.left, counter, sum);
        x86::Gp y = loop_value(loop, e.right, counter, sum);
        if (e.kind == Expr::ADD)
            cc_.add(r, y);
        else if (e.kind == Expr::SUB)
            cc_.sub(r, y);
        else
            cc_.imul(r, y);
        return r;
    }
    }
    return r;
}

// The code at a counted loop's head that leaves the loop's state after
// its last turn, or nothing where it would wrap around or never end.
void Function::sum_loop(const CountedLoop& loop) {
    if (named_) {
        char text[80];
        std::snprintf(text, sizeof text, "; the loop at %d summed: its turns counted", loop.head);
        cc_.comment(text);
    }
    for (const CountedLoop::Sum& s : loop.sums)
        settle(s.var);
    settle(loop.counter);
    const x86::Gp k = vars_[static_cast<std::size_t>(loop.counter)].reg;
    const bool up = loop.step > 0;
    const std::int64_t c = up ? std::int64_t{loop.step} : -std::int64_t{loop.step};
    Label skip = cc_.newLabel();

    // No turn when the test fails at once.
    x86::Gp n = loop_value(loop, loop.bound, k, -1);
    cc_.cmp(k, n);
    switch (loop.comparison) {
    case COP_LT: cc_.jge(skip); break;
    case COP_LEQ: cc_.jg(skip); break;
    case COP_GT: cc_.jle(skip); break;
    default: cc_.jl(skip); break;
    }

    // The turns: the distance to the bound over the step, rounded up, all
    // in 64 bits (at most 2^32 - 1 turns of one).
    x86::Gp k0 = new64("k0");
    x86::Gp cnt = new64("turns");
    x86::Gp n64 = new64();
    cc_.movsxd(k0, k);
    cc_.movsxd(n64, n);
    if (up) {
        cc_.mov(cnt, n64);
        cc_.sub(cnt, k0);
    } else {
        cc_.mov(cnt, k0);
        cc_.sub(cnt, n64);
    }
    bool inclusive = loop.comparison == COP_LEQ || loop.comparison == COP_GEQ;
    if (inclusive || c > 1) {
        // Up to 2^31, past an immediate's range: through a register.
        x86::Gp more = new64();
        cc_.mov(more, (inclusive ? 1 : 0) + (c - 1));
        cc_.add(cnt, more);
    }
    if (c > 1) {
        x86::Gp hi = new64();
        x86::Gp by = new64();
        cc_.xor_(hi, hi);
        cc_.mov(by, c);
        cc_.div(hi, cnt, by);
    }
    // The counter's final value, and no sum where it would pass the
    // 32-bit range: there the loop wraps around, or never ends.
    x86::Gp kf = new64("k_final");
    cc_.imul(kf, cnt, static_cast<std::int32_t>(loop.step));
    cc_.add(kf, k0);
    if (up) {
        cc_.cmp(kf, std::numeric_limits<std::int32_t>::max());
        cc_.jg(skip);
    } else {
        cc_.cmp(kf, std::numeric_limits<std::int32_t>::min());
        cc_.jl(skip);
    }

    // cnt*(cnt-1)/2, halving the even factor first.
    x86::Gp half = new64("pairs");
    x86::Gp other = new64();
    Label odd = cc_.newLabel(), halved = cc_.newLabel();
    cc_.mov(half, cnt);
    cc_.lea(other, x86::ptr(cnt, -1));
    cc_.test(half, 1);
    cc_.jnz(odd);
    cc_.shr(half, 1);
    cc_.jmp(halved);
    cc_.bind(odd);
    cc_.shr(other, 1);
    cc_.bind(halved);
    cc_.imul(half, other);

    // Each sum: e at the first turn and its change a turn, both from the
    // expression itself, before any variable changes.
    x86::Gp next = new32();
    cc_.mov(next, k);
    cc_.add(next, loop.step);
    std::vector<x86::Gp> added;
    for (const CountedLoop::Sum& s : loop.sums) {
        x86::Gp first = loop_value(loop, s.value, k, s.var);
        x86::Gp change = loop_value(loop, s.value, next, s.var);
        cc_.sub(change, first);
        cc_.imul(first, cnt.r32());
        cc_.imul(change, half.r32());
        cc_.add(first, change);
        added.push_back(first);
    }
    for (std::size_t j = 0; j < loop.sums.size(); ++j)
        cc_.add(vars_[static_cast<std::size_t>(loop.sums[j].var)].reg, added[j]);
    cc_.mov(k, kf.r32());
    cc_.bind(skip);
}

void Function::sum_counted_loop(int inst, int head, int back,
                                const std::unordered_set<int>& targets) {
    CountedLoop loop;
    if (counted_loop(inst, head, back, targets, loop)) sum_loop(loop);
}

} // namespace optimising
