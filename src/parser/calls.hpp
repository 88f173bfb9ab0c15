// Procedure and function calls.
//
//   call = name [ "(" argument { "," argument } ")" ]
//   argument at a value position     = expression
//   argument at a reference position = name | array "[" expression "]"
#pragma once

#include "symtab/symtab.hpp"

// Compiles a call of the routine named by the current token: a procedure
// statement (SYM_PROC) or a function call in an expression (SYM_FUNC).
void parse_call(SymbolKind kind, int d, int L);
