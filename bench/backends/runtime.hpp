// What compiled code calls: the services for read and write, and the exit
// of a failed guard, which leaves the compiled code from any depth of calls
// back to the caller of its main routine (as the optimising tier's exit
// puts its stack pointer back).  The compiled code reaches them through
// their addresses, given to it as constants.
#pragma once
#include <csetjmp>
#include <cstdint>
#include <string>

namespace backends {

struct Run {
    std::jmp_buf exit;
    std::int32_t guard = 0;  // the guard that failed, 0 when none
    std::string output;      // what write wrote
    const char* input = "";  // what read takes, numbers one per line
};

extern "C" {
// Writes v and a newline.
void service_write(Run* run, std::int32_t v);
// Reads the next number; at the end of the input, fails the run.
std::int32_t service_read(Run* run);
// Abandons the run: back to run_compiled with `guard`.
[[noreturn]] void service_bail(Run* run, std::int32_t guard);
}

// The compiled main routine: takes the run, returns 0.
using MainFn = std::int32_t (*)(Run*);

// Runs `main` on `run` (output cleared, input from `input`); returns the
// guard that failed, or 0.
std::int32_t run_compiled(MainFn main, Run& run, const std::string& input);

} // namespace backends
