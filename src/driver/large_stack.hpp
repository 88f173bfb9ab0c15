// Running the parser on a native stack of its own.
//
// The language sets no limit on nesting, and the recursive-descent parser
// uses native stack for every level of it.  The compile phase therefore runs
// on a thread with a large stack, whatever limit the user's shell sets, and
// the parser stops with a syntax error before that stack runs out.
#pragma once

#include <cstddef>

// The native stack given to the compile phase, and the smallest one worth
// a thread of its own when the system refuses the full size.
inline constexpr std::size_t COMPILE_STACK_BYTES = std::size_t{2} << 30;
inline constexpr std::size_t COMPILE_STACK_MIN_BYTES = std::size_t{32} << 20;

// Runs fn to its end on a stack of COMPILE_STACK_BYTES (or, if the system
// refuses that, of the largest quarter of it down to COMPILE_STACK_MIN_BYTES
// that it gives, or else on the caller's own stack) and returns; an
// exception leaving fn is passed on to the caller.
void run_on_large_stack(void (*fn)());

// Lets the parser nest on the calling thread within `stack_bytes` of native
// stack from here, or, with 0, within what the thread has left as far as
// the system tells (on WebAssembly, the module's own stack).  Returns the
// bytes allowed.
std::size_t limit_nesting_here(std::size_t stack_bytes);
