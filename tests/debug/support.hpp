// Helpers of the session's tests: opening a program in a session, and
// the machine's state as a number, to compare a state with another.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "debug/session.hpp"

// Opens `source` with `input`, output collected into `out` (when given);
// fails the test when it does not compile.
void open_program(DebugSession& session, const std::string& source, const std::string& input = "",
                  std::string* out = nullptr, std::size_t history_bytes = HISTORY_BYTES_DEFAULT);

// The text of a file of the source tree.
std::string source_file(const std::string& relative);

// What a state of the trace shows: the registers, the cells 0 to t, the
// instruction about to run and the output written before it, as a number.
std::uint64_t trace_state(const DebugSession& session);

// Everything a state is: the registers, every cell (the spare one below
// s[0] and those above t too), the output and the place in the input.
std::uint64_t whole_state(const DebugSession& session);

// The states `tsumiki-inspect trace --run` prints for the program compiled
// last, given `input`, as trace_state numbers them.
std::vector<std::uint64_t> traced_states(const std::string& input);

// The source line of the place where the session stands.
int line_here(const DebugSession& session);
