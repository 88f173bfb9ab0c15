// A compiled program as the page draws it, in JSON: its instructions with
// their places, its statements, its declared names, and what each opcode
// does (vm/code.hpp).  The page builds the listing from it, colours each
// statement's source and instructions alike, and names the stack's cells.
//
//   {"code": [[op, l, a], ...],          per instruction
//    "line": [line, ...],                 of its construct; 0 unknown
//    "range": [[line, column, endLine, endColumn], ...],
//                                         the source it computes, the end
//                                         just past it; 0s unknown
//    "statementOf": [s, ...],             innermost statement, -1 none
//    "routineOf": [d, ...],               innermost routine, -1 none
//    "statements": [[line, column, endLine, endColumn, first, last], ...],
//    "names": [[name, kind, parameter, level, offset, low, high, parent, line], ...],
//    "mnemonics": [...], "effects": [[symbols, english, japanese], ...]}
//
// kind is "var", "proc", "func", "array" or "ref" (a var parameter).
#pragma once

#include <string>

#include "debug/program.hpp"

std::string program_json(const ProgramMap& map);
