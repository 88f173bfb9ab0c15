// The stack machine: registers, stack and the interpreter.
#pragma once

#include <cstdint>
#include <cstdio>

#include "vm/code.hpp"

inline constexpr int STACK_SIZE = 1000;    // cells s[0] to s[999]
inline constexpr int STACK_OVERFLOW = 998; // t may not reach this before a fetch

// Registers: the next instruction, the current frame base, the topmost
// occupied cell, and the instruction being executed.  Written by interpret.
extern std::int32_t p;
extern std::int32_t b;
extern std::int32_t t;
extern Instruction ir;

// The stack, s[0] to s[STACK_SIZE-1].  One spare cell lies below s[0] so
// that an instruction popping an empty stack stays in memory; the check
// before the next fetch then stops the run.
extern std::int32_t* const s;

// Where GET reads its numbers: standard input unless a test or the fuzzer
// says otherwise.
extern std::FILE* machine_input;

// The frame base l static links out from b.
std::int32_t base(std::int32_t l);

// Runs the code store from instruction 0 until HLT.  Every run-time error
// ends the process through runtime_error.
void interpret();

// In the traced build only: the number of instructions a run may execute
// before it ends with status 2, so that the fuzzer can stop endless loops;
// 0 means no limit.
extern std::uint64_t instruction_budget;
inline constexpr int BUDGET_EXHAUSTED_STATUS = 2;

// Back to the state at start-up: registers 0, stack 0.
void reset_machine();
