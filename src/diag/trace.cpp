#include "diag/trace.hpp"

#include <cstdarg>

#include "diag/stream.hpp"

TraceSwitches trace_on;

void trace_print(int format, ...) {
    va_list args;
    va_start(args, format);
    text_vprintf(msg(static_cast<Msg>(format)), args);
    va_end(args);
}
