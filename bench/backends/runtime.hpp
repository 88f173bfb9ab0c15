// What compiled code calls: the services for read and write, and the exit
// of a failed guard, which leaves the compiled code from any depth of calls
// back to the caller of its main routine (as the optimising tier's exit
// puts its stack pointer back).  The compiled code reaches them through
// their addresses, given to it as constants.
#pragma once
#include <csetjmp>
#include <cstdint>
#include <string>

#include "program.hpp"

namespace backends {

struct Run {
    std::jmp_buf exit;
    std::int32_t guard = 0;  // the guard that failed, 0 when none
    std::string output;      // what write wrote
    const char* input = "";  // what read takes, numbers one per line
    // The machine's stack: the main routine's frame from cell 0 (links,
    // variables, arrays), where the compiled code's arrays live and where
    // it takes its variables from when it starts at a loop head.
    std::int32_t stack[STACK_CELLS] = {};
};

extern "C" {
// Writes v and a newline.
void service_write(Run* run, std::int32_t v);
// Reads the next number; at the end of the input, fails the run.
std::int32_t service_read(Run* run);
// Abandons the run: back to run_compiled with `guard`.
[[noreturn]] void service_bail(Run* run, std::int32_t guard);
}

// The compiled main routine: takes the run, the machine's stack and where
// to start: 0 at its beginning, k at the head of its k-th loop (in the
// order of the source) with its variables as the stack has them.
using MainFn = std::int32_t (*)(Run*, std::int32_t* stack, std::int32_t entry);

// Runs `main` on `run` (output cleared, input from `input`) from `entry`;
// returns the guard that failed, or 0.  The stack is left as it is: a
// caller that starts at 0 clears it first (clear_stack).
std::int32_t run_compiled(MainFn main, Run& run, const std::string& input, std::int32_t entry = 0);
void clear_stack(Run& run);

} // namespace backends
