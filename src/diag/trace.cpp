#include "diag/trace.hpp"

#include <cstdarg>

TraceSwitches trace_on;

void trace_print(int format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(msg(static_cast<Msg>(format)), args);
    va_end(args);
}
