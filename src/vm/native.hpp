// The native tier: the complete code store translated into x86-64 machine
// code, run with the same observable behaviour as the interpreter.
//
// The machine code keeps t and b in registers and the stack in s[], reads
// every link and return address from the stack as the instructions do, and
// makes one test of t per straight run of instructions whose depth changes
// are known.  At anything it does not do itself (a test that would fail,
// HLT, an op byte outside the instruction set, a jump out of the store) it
// stops before the instruction, with p, b, t and every cell exactly as the
// instructions before it left them, and the interpreter goes on from there
// (interpret_from_here), doing what it always does.
//
// Built only with TSUMIKI_NATIVE (x86-64 Linux with asmjit).
#pragma once

#include <string>
#include <vector>

// Runs the code store from the registers and the stack as a run starts
// them (vm/run.hpp), as the interpreter does.  False, with nothing run,
// when no machine code could be made (no executable memory); the caller
// then runs the interpreter.  Run-time errors end the run as in the
// interpreter, and so does an exception from the run's writer or reader:
// thrown after the machine code has returned.
bool run_native();

// The machine instructions made for the code store: the entry sequence,
// then per instruction of the store those made for it, then the shared
// exits.  Empty when no machine code could be made.
struct NativeListing {
    std::string entry;
    std::vector<std::string> instructions;
    std::string exits;
};
NativeListing list_native();
