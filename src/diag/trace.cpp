#include "diag/trace.hpp"

#include <cstdarg>

TraceSwitches trace_on;

void trace_print(Msg format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(msg(format), args);
    va_end(args);
}
