// Which declaration a name means at a place of a document, by the
// language's rules: a name is known from its declaration to the end of the
// routine it is declared in (the program's body included), and an inner
// declaration hides an outer one of the same name.  Built on the
// compiler's record of declarations (CompileOptions::names), which is kept
// up to an error, so that a document being typed still has its scopes.
#pragma once

#include <string_view>
#include <vector>

#include "lsp/documents.hpp"

// Where a routine's scope ends: its closing ";" (the program: its "."), or
// the end of the document for one that an error left unfinished.
SourcePos scope_end(const Declaration& routine);

// The routines whose text holds `at`, innermost first (the program last).
std::vector<int> routines_around(const Document& doc, SourcePos at);

// How many routines hold the scope of a declaration: 0 for the program's
// own names, 1 for those of a routine in it, ...; -1 for the program.
int scope_depth(const Document& doc, int index);

// Whether declaration `index` is known at `at`: `at` lies in the routine
// it belongs to, after its name.  Whether another hides it is not asked.
bool in_scope(const Document& doc, int index, SourcePos at);

// The declarations a name at `at` may mean, innermost first, each name
// once (the innermost of a name hides the others).  The program's own name
// is none of them: no statement can use it.
std::vector<int> visible_at(const Document& doc, SourcePos at);

// The declaration `name` means at `at`, or -1.
int resolve(const Document& doc, std::string_view name, SourcePos at);
