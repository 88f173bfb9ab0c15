// tsumiki-inspect compile SOURCE: the compile of a program stepped through
// at the terminal, forwards and backwards, on the compile session of the
// library (debug/compile_session.hpp).
//
// Its commands come from standard input, one a line, in the manner of
// the debugger (inspect/debugger.hpp), so that a script can drive it:
//
//   printf 'emit\nbt\ninfo symbols\nrn\nq\n' | tsumiki-inspect compile gcd.tsu
//
// A program that does not compile is stepped up to its error.
#pragma once

// Steps through the compile of the file at `path`; returns
// tsumiki-inspect's exit status: 0, or 1 when the file can't be read.
int run_compile_stepper(const char* path);
