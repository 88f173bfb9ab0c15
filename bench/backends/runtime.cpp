// The services of compiled code (runtime.hpp).  The exit is a longjmp:
// the frames it skips are the compiled code's alone, which own nothing to
// destroy.
#include "runtime.hpp"

#include <cstdlib>

namespace backends {

extern "C" void service_write(Run* run, std::int32_t v) {
    run->output += std::to_string(v);
    run->output += '\n';
}

extern "C" std::int32_t service_read(Run* run) {
    char* end = nullptr;
    long v = std::strtol(run->input, &end, 10);
    if (end == run->input) service_bail(run, GUARD_SERVICE);
    run->input = end;
    return static_cast<std::int32_t>(v);
}

extern "C" void service_bail(Run* run, std::int32_t guard) {
    run->guard = guard;
    std::longjmp(run->exit, 1);
}

void clear_stack(Run& run) {
    for (std::int32_t& cell : run.stack)
        cell = 0;
}

std::int32_t run_compiled(MainFn main, Run& run, const std::string& input, std::int32_t entry) {
    run.output.clear();
    run.guard = 0;
    run.input = input.c_str();
    if (setjmp(run.exit) == 0) main(&run, run.stack, entry);
    return run.guard;
}

} // namespace backends
