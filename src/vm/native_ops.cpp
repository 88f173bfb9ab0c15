// The native translator's machine code for loads and stores (direct,
// through static links or through an address), arithmetic, comparisons
// and conditional jumps.  Calls, returns, read and write are in
// native_calls.cpp; the choice per op code is in native_runs.cpp.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "vm/frame.hpp"
#include "vm/machine.hpp"
#include "vm/native_compare.hpp"
#include "vm/native_translator.hpp"

namespace native_tier {

using native_compare::condition;
using native_compare::holds;
using native_compare::wrap;

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

// --- addresses ---

// rax := base(l), the frame l static links out from b (l > 0).  A link
// outside the stack hands over (the interpreter then fails on it).
void Translator::frame_base(int i, std::int32_t l) {
    comment("rax := s[b], the static link");
    as.movsxd(x86::rax, frame(FRAME_STATIC_LINK));
    std::int32_t rest = l - 1;
    if (rest <= 3) {
        for (; rest > 0; --rest) {
            as.cmp(x86::rax, STACK_SIZE);
            as.jae(bail_at(i));
            comment("rax := s[rax], the next link");
            as.movsxd(x86::rax, x86::dword_ptr(S, x86::rax, 2, FRAME_STATIC_LINK * 4));
        }
        return;
    }
    Label walk = as.newLabel();
    as.mov(x86::ecx, rest);
    as.bind(walk);
    as.cmp(x86::rax, STACK_SIZE);
    as.jae(bail_at(i));
    as.movsxd(x86::rax, x86::dword_ptr(S, x86::rax, 2, FRAME_STATIC_LINK * 4));
    as.dec(x86::ecx);
    as.jnz(walk);
}

// The cell base(l) + a: at level 0 s[b+a], which the run's test put in
// the stack; further out [S + rax*4] after a test of rax.
x86::Mem Translator::cell(int i, const Instruction& in) {
    if (in.l <= 0) return frame(in.a);
    frame_base(i, in.l);
    comment("rax := the cell's index");
    as.add(x86::rax, in.a);
    comment("outside the stack?");
    as.cmp(x86::rax, STACK_SIZE);
    as.jae(bail_at(i));
    return x86::dword_ptr(S, x86::rax, 2);
}

// --- loads and stores ---

void Translator::load_variable(int i, const Instruction& in) {
    x86::Mem from = cell(i, in);
    int r = take_register();
    as.mov(POOL[r], from);
    push_register(r);
}

void Translator::store_variable(int i, const Instruction& in) {
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
}

void Translator::load_address(int i, const Instruction& in) {
    int r = take_register();
    if (in.l <= 0)
        as.lea(POOL[r], x86::ptr(B, in.a));
    else {
        frame_base(i, in.l);
        as.lea(POOL[r], x86::ptr(x86::rax, in.a));
    }
    push_register(r);
}

// An indirect read hands over at a cell outside the stack, and at one the
// run may not trust (NativeState::unsure): the interpreter, or the hook,
// sees to it.
void Translator::load_indirect(int i, const Instruction& in) {
    Cell c = pop();
    x86::Mem from;
    if (c.kind == Cell::CONSTANT) {
        std::int64_t at = static_cast<std::int64_t>(c.value) + in.a;
        if (at < 0 || at >= STACK_SIZE) {
            as.jmp(bail_at(i));
            dead = true;
            return;
        }
        comment("a cell not to trust?");
        as.cmp(x86::qword_ptr(STATE, offsetof(NativeState, unsure)), at);
        as.jle(bail_at(i));
        from = x86::dword_ptr(S, static_cast<std::int32_t>(at * 4));
    } else {
        if (c.kind == Cell::REGISTER)
            as.movsxd(x86::rax, POOL[c.reg]);
        else
            as.movsxd(x86::rax, memory(c));
        if (in.a != 0) as.add(x86::rax, in.a);
        comment("outside the stack, or a cell not to trust?");
        as.cmp(x86::rax, x86::qword_ptr(STATE, offsetof(NativeState, unsure)));
        as.jae(bail_at(i));
        from = x86::dword_ptr(S, x86::rax, 2);
    }
    int r = c.kind == Cell::REGISTER ? c.reg : take_register();
    as.mov(POOL[r], from);
    push_register(r);
}

void Translator::store_indirect(int i) {
    Cell value = pop();
    Cell address = pop();
    x86::Mem to;
    if (address.kind == Cell::CONSTANT) {
        if (static_cast<std::uint32_t>(address.value) >= STACK_SIZE) {
            as.jmp(bail_at(i));
            dead = true;
            return;
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
}

// --- arithmetic ---

void Translator::negate() {
    Cell c = pop();
    if (c.kind == Cell::CONSTANT) {
        push_constant(wrap(-static_cast<std::int64_t>(c.value)));
        return;
    }
    int r = load(c);
    claim(r, delta + 1);
    as.neg(POOL[r]);
    push_register(r);
}

void Translator::arithmetic(int i, std::int32_t k) {
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

void Translator::divide(int i, const Cell& left, const Cell& right) {
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

void Translator::divide_by_constant(const Cell& left, std::int32_t d) {
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
void Translator::compare(int i, std::int32_t k) {
    Cell right = pop();
    Cell left = pop();
    if (left.kind == Cell::CONSTANT && right.kind == Cell::CONSTANT) {
        push_constant(holds(k, left.value, right.value) ? 1 : 0);
        return;
    }
    x86::CondCode cc = condition(k);
    if (left.kind == Cell::CONSTANT || (left.kind == Cell::MEMORY && right.kind == Cell::MEMORY)) {
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

// --- jumps ---

void Translator::jump_if_zero(int i, const Instruction& in) {
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
        if (c.value == 0) {
            if (counted) note_last(i);
            as.jmp(entry[in.a]);
        }
        return;
    }
    if (!flags) {
        if (c.kind == Cell::REGISTER)
            as.test(POOL[c.reg], POOL[c.reg]);
        else
            as.cmp(memory(c), 0);
    }
    settle();
    if (counted) note_last(i);
    as.j(flags ? x86::negateCond(compared) : x86::CondCode::kZ, entry[in.a]);
}

} // namespace native_tier
