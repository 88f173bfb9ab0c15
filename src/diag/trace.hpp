// Trace hooks: the debugging printouts of the compiler and the machine.
//
// The sources are built twice.  In the plain build (TSUMIKI_TRACE 0, the
// `tsumiki` program) every hook is an empty inline template that the
// optimiser removes together with its arguments: no switch is ever tested.
// In the traced build (TSUMIKI_TRACE 1, used by tsumiki-inspect) each hook
// prints its format from the message table when its switch is on.
#pragma once

#include "diag/diag.hpp"

#ifndef TSUMIKI_TRACE
#define TSUMIKI_TRACE 0
#endif

inline constexpr bool trace_built = TSUMIKI_TRACE != 0;

// Which of the four hooks print; only the traced build reads these.
struct TraceSwitches {
    bool parse = false; // grammar routines, registrations and lookups
    bool lex = false;   // characters read and tokens formed
    bool emit = false;  // instructions as they are generated
    bool run = false;   // registers, stack and instruction before each step
};
extern TraceSwitches trace_on;

// Prints a message-table format with its arguments (traced build only).
void trace_print(int format, ...);

template <class... Args> inline void trace_parse(Msg format, Args... args) {
    if constexpr (trace_built) {
        if (trace_on.parse) trace_print(format, args...);
    }
}

template <class... Args> inline void trace_lex(Msg format, Args... args) {
    if constexpr (trace_built) {
        if (trace_on.lex) trace_print(format, args...);
    }
}

template <class... Args> inline void trace_emit(Msg format, Args... args) {
    if constexpr (trace_built) {
        if (trace_on.emit) trace_print(format, args...);
    }
}
