// What an editor draws over the text: semantic tokens (each name by what it
// names, and whether it is reached through the static chain), inlay hints
// (the address the compiler computed for each use of a variable) and
// folding ranges (routines and begin ... end).
#pragma once

#include <nlohmann/json.hpp>

#include "lsp/documents.hpp"

// The legend announced in the capabilities: token types and modifiers, in
// the order the numbers of semantic_tokens() count them.
nlohmann::json semantic_token_legend();

// SemanticTokens ({data}) of the whole document: every declared name and
// every use, in the order written.
nlohmann::json semantic_tokens(const Document& doc);

// How many static links a use of declaration `d` at `at` follows: the level
// of the code there less the level `d` is declared at (the l of its LOD,
// STO or LDA); 0 for a routine's name.
int level_difference(const Document& doc, int d, SourcePos at);

// InlayHint[] between `from` and `to`: after each use of a variable, an
// array or a parameter its address 〈level difference,offset〉, preceded by
// "番地" when the use is a var argument, whose address is passed.
nlohmann::json inlay_hints(const Document& doc, LspPosition from, LspPosition to);

// FoldingRange[]: each routine from its name to its end, and each begin ...
// end block, that spans more than one line.
nlohmann::json folding_ranges(const Document& doc);
