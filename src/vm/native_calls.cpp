// The native translator's calls and returns (MST, CUP, ENT, RET, FRT), the
// calls of the run-time services for GET and PUT, the entry sequence, and
// the exits: where the machine code hands over to the interpreter or
// leaves for a service's reason.
#include <cstddef>
#include <cstdint>

#include "vm/frame.hpp"
#include "vm/machine.hpp"
#include "vm/native_translator.hpp"

namespace native_tier {

// A call of a run-time service, with t up to date and nothing known
// (the call changes the pool); a result other than 0 leaves with it.
void Translator::call_service(int i, std::uint64_t service, const char* name) {
    Label ok = as.newLabel();
    as.mov(x86::rax, service);
    comment(name);
    as.call(x86::rax);
    as.test(x86::eax, x86::eax);
    as.jz(ok);
    // Counted: instruction i has begun, the rest of its run has not.
    if (counted && run_end[i] - i - 1 > 0) as.add(LEFT, run_end[i] - i - 1);
    as.mov(x86::esi, i);
    as.jmp(exit);
    as.bind(ok);
}

// RET and FRT: the return address in ecx and the link in eax, both
// tested before anything changes.
void Translator::return_checks(int i) {
    comment("ecx := the return address");
    as.mov(x86::ecx, frame(FRAME_RETURN_ADDRESS));
    as.cmp(x86::ecx, cx);
    as.jae(bail_at(i));
    comment("eax := the dynamic link");
    as.mov(x86::eax, frame(FRAME_DYNAMIC_LINK));
    as.cmp(x86::eax, STACK_SIZE - FRAME_FUNCTION_CELLS); // frame_fits
    as.ja(bail_at(i));
}

// --- calls and returns ---

void Translator::mark_stack(int i, const Instruction& in) {
    if (in.l <= 0) {
        comment("the static link: b");
        as.mov(top(1 + FRAME_STATIC_LINK), B.r32());
    } else {
        frame_base(i, in.l);
        as.mov(top(1 + FRAME_STATIC_LINK), x86::eax);
    }
    comment("the dynamic link");
    as.mov(top(1 + FRAME_DYNAMIC_LINK), B.r32());
    delta += in.a;
    forget();
}

// The return-address cell t-n; the new frame starts FRAME_RETURN_ADDRESS
// below.
void Translator::call(int i, const Instruction& in) {
    std::int64_t cell = delta - in.l;
    if (cell - FRAME_RETURN_ADDRESS < -STACK_SIZE || cell > STACK_SIZE) {
        as.jmp(bail_at(i));
        return;
    }
    as.lea(x86::rax, x86::ptr(T, static_cast<std::int32_t>(cell)));
    as.lea(x86::rdx, x86::ptr(x86::rax, -FRAME_RETURN_ADDRESS));
    as.cmp(x86::rdx, STACK_SIZE - FRAME_FUNCTION_CELLS); // frame_fits
    as.ja(bail_at(i));
    comment("the return address");
    as.mov(x86::dword_ptr(S, x86::rax, 2), i + 1);
    as.mov(B, x86::rdx);
    settle();
    if (counted) note_last(i);
    as.jmp(entry[in.a]);
}

void Translator::enter(int i, const Instruction& in) {
    as.lea(x86::rax, x86::ptr(B, in.a));
    as.cmp(x86::rax, STACK_OVERFLOW - 1);
    as.ja(bail_at(i));
    as.mov(T, x86::rax);
    delta = 0;
}

void Translator::return_from_procedure(int i) {
    as.cmp(B, 1); // t becomes b-1
    as.jl(bail_at(i));
    return_checks(i);
    as.lea(T, x86::ptr(B, -1));
    as.mov(B.r32(), x86::eax);
    if (counted) note_last(i);
    comment("to the return address");
    as.jmp(x86::ptr(TABLE, x86::rcx, 3));
    delta = 0;
}

void Translator::return_from_function(int i) {
    return_checks(i);
    as.mov(x86::edx, frame(FRAME_RESULT));
    as.mov(frame(0), x86::edx);
    as.mov(T, B);
    as.mov(B.r32(), x86::eax);
    if (counted) note_last(i);
    comment("to the return address");
    as.jmp(x86::ptr(TABLE, x86::rcx, 3));
    delta = 0;
}

// --- read and write ---

void Translator::get(int i) {
    settle();
    forget();
    as.lea(x86::rdi, top(1));
    call_service(i, reinterpret_cast<std::uintptr_t>(&native_get), "put_prompt, read_number");
    ++delta;
}

void Translator::put(int i) {
    Cell c = pop();
    load_into(x86::edi, c);
    settle();
    forget();
    call_service(i, reinterpret_cast<std::uintptr_t>(&native_put), "write_number");
}

// --- entry and exits ---

void Translator::prologue() {
    as.push(x86::rbx);
    as.push(x86::r12);
    as.push(x86::r13);
    as.push(x86::r14);
    as.push(x86::r15); // five pushes: the stack is 16-byte aligned for calls
    if (counted) {
        as.push(LEFT);
        as.sub(x86::rsp, 8); // aligned again
    }
    as.mov(STATE, x86::rdi);
    as.mov(S, x86::rsi);
    as.mov(TABLE, x86::rdx);
    if (counted) as.mov(LEFT, x86::qword_ptr(STATE, offsetof(NativeState, left)));
    as.movsxd(T, x86::dword_ptr(STATE, offsetof(NativeState, t)));
    as.movsxd(B, x86::dword_ptr(STATE, offsetof(NativeState, b)));
    if (!polls) {
        as.jmp(entry[0]);
        return;
    }
    // With polls a run may go on at a loop head it left: at p, through the
    // table (an instruction inside a run hands over at once).
    as.movsxd(x86::rcx, x86::dword_ptr(STATE, offsetof(NativeState, p)));
    as.jmp(x86::ptr(TABLE, x86::rcx, 3));
}

void Translator::exits() {
    for (int i = 0; i < cx; ++i) {
        if (!bail[i].isValid()) continue;
        as.bind(bail[i]);
        if (bail_delta[i] != 0) as.lea(T, x86::ptr(T, static_cast<std::int32_t>(bail_delta[i])));
        if (counted) {
            // Instruction i has not begun, nor the rest of its run; inside
            // a run the one before it was begun last.
            as.add(LEFT, run_end[i] - i);
            if (!starts[i]) note_last(i - 1);
        }
        as.mov(x86::esi, i);
        as.xor_(x86::eax, x86::eax);
        as.jmp(exit);
    }
    for (int i = 0; i < cx; ++i) {
        if (!poll_exit[i].isValid()) continue;
        as.bind(poll_exit[i]);
        as.mov(x86::esi, i);
        as.mov(x86::eax, EXIT_LOOP_HEAD);
        as.jmp(exit);
    }
    as.bind(hand_over_at_ecx); // a return to an instruction inside a run
    as.mov(x86::esi, x86::ecx);
    as.xor_(x86::eax, x86::eax);
    as.bind(exit);
    as.mov(x86::dword_ptr(STATE, offsetof(NativeState, p)), x86::esi);
    as.mov(x86::dword_ptr(STATE, offsetof(NativeState, b)), B.r32());
    as.mov(x86::dword_ptr(STATE, offsetof(NativeState, t)), T.r32());
    if (counted) {
        as.mov(x86::qword_ptr(STATE, offsetof(NativeState, left)), LEFT);
        as.add(x86::rsp, 8);
        as.pop(LEFT);
    }
    as.pop(x86::r15);
    as.pop(x86::r14);
    as.pop(x86::r13);
    as.pop(x86::r12);
    as.pop(x86::rbx);
    as.ret();
}

} // namespace native_tier
