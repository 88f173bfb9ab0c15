// Running the parser on a native stack of its own.
//
// The language sets no limit on nesting, and the recursive-descent parser
// uses native stack for every level of it.  The compile phase therefore runs
// on a thread with a large stack, whatever limit the user's shell sets, and
// the parser stops with a syntax error before that stack runs out.
#pragma once

#include <cstddef>

// The native stack given to the compile phase.
inline constexpr std::size_t COMPILE_STACK_BYTES = std::size_t{2} << 30;

// Runs fn to its end on a stack of COMPILE_STACK_BYTES and returns; an
// exception leaving fn is passed on to the caller.
void run_on_large_stack(void (*fn)());
