// The compiler's warnings: what a compiler for learners points at in a
// program that compiles, and runs exactly as written, but probably not as
// its writer meant:
//
//   - a call with more arguments than the routine has parameters (the
//     surplus values are passed by value and land in the callee's first
//     local variables, or nowhere);
//   - a constant index (a number, signed or in parentheses, but nothing the
//     compiler would have to work out) outside the array's declared bounds;
//   - a function whose statements never assign its result;
//   - a variable, or an array, whose value is read somewhere but which is
//     assigned nowhere in the program (by ":=", by read, or through a var
//     parameter);
//   - a statement indented as if it were in the body of a "while", "if" or
//     "else" whose body, without begin and end, is the one statement
//     before it: the body on a line of its own, indented deeper than the
//     keyword's line, and the next statement first on its line at the
//     body's column.
//
// The parser reports the first two where it compiles them; the last two are
// found in the record of names (symtab/names.hpp) once the whole program has
// compiled.  Nothing happens unless warnings_on, which also keeps the record
// of names; tsumiki never turns it on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "diag/diag.hpp"
#include "symtab/symtab.hpp"

struct WarningRecord {
    SourcePos pos;       // where it points: the argument, the index, the name
    Msg text;            // its message-table entry
    std::string message; // the text, filled in, in the current encoding
};

// Whether the parser looks for them.  Written by the library interface.
extern bool warnings_on;
// The warnings found so far, in the order found.
extern std::vector<WarningRecord> warning_records;

// A call of `callee` with `given` arguments, more than its parameters; the
// first surplus argument stands at `at`.
void warn_surplus_arguments(const SymbolEntry& callee, int given, SourcePos at);

// The index of an element of `array`, compiled into the instructions from
// `first` to the end of the store, starting at `at` in the source: a warning
// when they are a constant outside the bounds.
void warn_constant_index(const SymbolEntry& array, int first, SourcePos at);

// The body of `keyword` ("while", "if" or "else", on a line indented
// `guard_indent` columns, `guard_line`), without begin and end, starting at
// `body` and just parsed: the statement it ends may be followed by one
// indented like it.
void note_unbraced_body(const char* keyword, int guard_indent, int guard_line, SourcePos body);

// The statement after a ";" starts at `next`, on a line indented
// `next_indent`: a warning when it stands where a body noted since the last
// statement began does.  Forgets the bodies noted.
void warn_misleading_indentation(SourcePos next, int next_indent);

// Forgets the bodies noted: what comes next does not follow their statement
// (an "else", an "end").
void forget_unbraced_bodies();

// After a successful compile: the functions that never assign their result
// and the variables that are read but never assigned; then every warning
// in the order of the source.
void finish_warnings();

void reset_warnings();
