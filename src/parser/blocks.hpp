// The top of the parser: the program, blocks and declarations.
//
//   program = "program" identifier block "."
//   block   = [ "(" formal { "," formal } ")" ] ";" [ "var" var-decl { "," var-decl } ";" ]
//             { routine } "begin" statement { ";" statement } "end"
//   formal  = identifier | "var" identifier
//   var-decl = identifier [ "[" number ".." number "]" ]
//   routine = ( "procedure" | "function" ) identifier block ";"
#pragma once

#include <cstdint>

#include "diag/watch.hpp"
#include "symtab/symtab.hpp"

// Compiles the whole source into the code store.
void parse_program();

// Compiles one block of the given kind (SYM_PROC or SYM_FUNC) at a level;
// `owner` names the routine whose parameters are being declared, or is null;
// `heading` is where its heading ("program", "procedure" or "function")
// begins.
void parse_block(SymbolKind kind, int level, const char* owner, SourcePos heading);

// The formal parameter list, if any; returns the number of parameters.
int parse_params(int level, std::int32_t offset, const char* owner);

// The variable section, if any; returns the number of cells it declares.
std::int32_t sregist_vardecls(int level, std::int32_t offset);

// The nested procedure and function declarations of a block.
void parse_proc_func(int level);

// The symbol-table entry of the routine (or the program) whose block is
// being compiled.  Written by parse_program and parse_proc_func.
extern int current_routine;

// Sends the event of a grammar routine entered (WATCH_ENTER) or left
// (WATCH_LEAVE), at the current token, when the compile is watched
// (diag/watch.hpp).  A routine ended by an error sends no WATCH_LEAVE.
void send_routine_event(WatchKind kind, ParseRoutine routine);
inline void watch_routine(WatchKind kind, ParseRoutine routine) {
    if (watching()) send_routine_event(kind, routine);
}

// Cells below a block's first parameter: 3 for SYM_PROC, 4 for SYM_FUNC.
int frame_header_size(SymbolKind kind);

// How deep the parser may nest, counted in trace depth (each pair of
// parentheses costs three, each nested statement one).
inline constexpr int PARSE_DEPTH_MAX = 4'000'000;

// Ends compilation with a syntax error when the parser has nested too
// deeply, by depth or by the native stack it has left.
void check_depth(int depth);

// A lower bound on the depth than PARSE_DEPTH_MAX, set by a caller whose
// native stack cannot be measured (0: none).
extern int parser_depth_limit;

// The lowest native stack address the parser may reach (0: unknown).  Set
// by whoever runs the parser on a stack of known size.
extern std::uintptr_t parser_stack_limit;
