// tsumiki-inspect debug SOURCE [INPUT]: a debugger for the terminal that
// speaks gdb's language, on the debugging session of the library
// (debug/session.hpp).
//
// It reads its commands from standard input, one a line, so that a script
// can drive it:
//
//   printf 'b 7\nr\np total\nq\n' | tsumiki-inspect debug nested.tsu
//
// At a terminal it gives line editing and a history of the lines typed,
// and Ctrl-C stops a program that runs on (an endless loop) where it is.
// The program reads INPUT (none: the input is empty); its output and the
// prompts of read appear as they come, between the debugger's own lines.
#pragma once

// Runs the debugger on the file at `path`, a checked run (vm/check.hpp)
// when `check`; returns tsumiki-inspect's exit status: 0, or 1 when the
// program can't be compiled or INPUT read.
int run_debugger(const char* path, const char* input_path, bool check = false);
