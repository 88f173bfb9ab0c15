#include "vm/machine.hpp"

#include <cstring>

#include "diag/diag.hpp"
#include "vm/effects.hpp"
#include "vm/runtime.hpp"

std::int32_t p = 0;
std::int32_t b = 0;
std::int32_t t = 0;
Instruction ir = {};
std::int32_t ir_pc = -1;
std::uint64_t instruction_budget = 0;
const std::atomic<bool>* stop_flag = nullptr;
std::uint64_t instructions_run = 0;
Pulse run_pulse;

namespace {

std::int32_t stack_cells[1 + STACK_SIZE]; // the spare cell, then s[0] .. s[999]

// The registers back from a loop's locals, and the output out.
void sync_registers(std::int32_t pc, std::int64_t top, std::int64_t frame) {
    p = pc;
    t = static_cast<std::int32_t>(top);
    b = static_cast<std::int32_t>(frame);
    flush_output();
}

// The instruction that ran last, pc (-1: none, and ir stays as it was).
void ran_last(std::int32_t pc) {
    if (pc >= 0) ir = code[pc];
    ir_pc = pc;
}

[[noreturn]] void fail_with(std::int32_t pc, Msg fault) {
    ran_last(pc);
    runtime_error(fault);
}

} // namespace

std::int32_t* const s = stack_cells + 1;

std::int32_t base(std::int32_t l) {
    std::int32_t x = b;
    for (; l > 0; --l) {
        if (!in_stack(x)) runtime_error(MSG_BAD_ADDRESS);
        // A frame that links to itself: no step moves on.
        if (static_link_of(s, x) == x) break;
        x = static_link_of(s, x);
    }
    return x;
}

void interpret() {
    clear_stack();
    interpret_from_here();
}

void check_entry(std::int32_t pc, std::int64_t top, std::int64_t frame) {
    if (!frame_fits(frame)) {
        sync_registers(pc, top, frame);
        runtime_error(MSG_BAD_ADDRESS);
    }
    if (u32(static_cast<std::int32_t>(top)) >= u32(STACK_OVERFLOW) || pc == cx) {
        sync_registers(pc, top, frame);
        runtime_error(top < 0                 ? MSG_STACK_UNDERFLOW
                      : top >= STACK_OVERFLOW ? MSG_STACK_OVERFLOW
                                              : MSG_BAD_CODE_ADDRESS);
    }
}

void fail_at(std::int32_t pc, std::int64_t top, std::int64_t frame, Msg fault) {
    sync_registers(pc + 1, top, frame);
    fail_with(pc, fault);
}

void fail_test(std::int32_t next, std::int32_t last, std::int64_t top, std::int64_t frame) {
    sync_registers(next, top, frame);
    fail_with(last, top < 0 ? MSG_STACK_UNDERFLOW : MSG_STACK_OVERFLOW);
}

void fail_off_end(std::int32_t pc, std::int64_t top, std::int64_t frame) {
    if (static_cast<std::uint64_t>(top) >= std::uint64_t{STACK_OVERFLOW})
        fail_test(cx, pc, top, frame);
    sync_registers(cx, top, frame);
    fail_with(pc, MSG_BAD_CODE_ADDRESS);
}

void stop_before(std::int32_t next, std::int32_t last, std::int64_t top, std::int64_t frame,
                 FatalKind why) {
    sync_registers(next, top, frame);
    ran_last(last);
    end_run(why, why == FatalKind::budget_spent ? MSG_BUDGET_SPENT
                 : why == FatalKind::stopped    ? MSG_STOPPED
                                                : MSG_C_STOPPED);
}

void pulse_at(std::int32_t next, std::int64_t top, std::int64_t frame) {
    sync_registers(next, top, frame);
    run_pulse.call(run_pulse.context);
}

void halt_at(std::int32_t pc, std::int64_t top, std::int64_t frame) {
    sync_registers(pc + 1, top, frame);
    ran_last(pc);
}

void clear_stack() {
    std::memset(stack_cells, 0, sizeof stack_cells);
}

void reset_machine() {
    clear_stack();
    p = b = t = 0;
    ir = Instruction{};
    ir_pc = -1;
    instructions_run = 0;
}
