// What the server answers about a document: its diagnostics, its outline,
// the declaration of a name, hovers and code lenses, as protocol JSON.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "lsp/documents.hpp"

// The compile error as a list of one Diagnostic (the message, and the hint
// for the usual slips, driver/hints.hpp, on a line of its own), or else the
// program's warnings, each a Diagnostic of severity Warning.
nlohmann::json diagnostics(const Document& doc);

// DocumentSymbol[]: the program with its routines nested as declared, and
// each routine's parameters and variables.
nlohmann::json document_symbols(const Document& doc);

// The Location of the declaration of the name at `at` (a use or the
// declaration itself), or null.
nlohmann::json definition(const Document& doc, const std::string& uri, LspPosition at);

// A Hover for the name or statement at `at`, or null.
nlohmann::json hover(const Document& doc, LspPosition at);

// CodeLens[]: per routine, its instructions (when the document compiles).
nlohmann::json code_lenses(const Document& doc);

// The listing's lines ("i: OPC(l,a)") of the instructions that belong to
// the routine `routine` (not to one inside it) and were compiled for the
// source between `from` (included) and `to`.
std::string listing(const Document& doc, int routine, SourcePos from, SourcePos to);
