// Conditions and expressions.
//
//   condition  = expression ( "=" | "<>" | "<" | "<=" | ">" | ">=" ) expression
//   expression = [ "+" | "-" ] term { ( "+" | "-" ) term }
//   term       = factor { ( "*" | "div" ) factor }
//   factor     = variable | reference | array "[" expression "]" | function-call
//              | number | "(" expression ")"
//
// The code of each leaves exactly one value on the stack (1 or 0 for a
// condition).  Each takes the trace depth d and the level L of the block
// being compiled, and returns a success flag that is true whenever it
// returns.
#pragma once

#include "vm/code.hpp"

bool parse_condition(int d, int L);
bool parse_expression(int d, int L);
bool parse_term(int d, int L);
bool parse_factor(int d, int L);

// The rest of an element's address of `array`, from the "[" on: the array's
// first-element address and its low bound are already on the stack.
//   "[" expression "]"   emits: index; OPR 0,2; OPR 0,2
// The two subtractions' range is the element, from the name at `name_at`.
void parse_index(int d, int L, const char* array, SourcePos name_at);

// Emits `op` (LOD, STR or LDA) for the cell of a name, from a block of
// level L: the level difference and the name's offset, looked up offset
// first.  The _at form places it at `where` in the source (vm/code.hpp).
// An LDA gets the cells of what it addresses noted (note_cells).
void emit_name(Opcode op, const char* name, int L);
void emit_name_at(SourcePos where, Opcode op, const char* name, int L);

// The cells of a declared name: an array's elements, or 1.
std::int32_t cells_of(const char* name);
