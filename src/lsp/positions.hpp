// Places in a document, between the compiler's and the protocol's way of
// counting.
//
// The compiler gives lines and columns from 1, a column counting bytes, a
// tab as one, carriage returns as nothing.  The protocol counts both from 0
// and a character in UTF-16 code units.  A document's bytes may be any: a
// well-formed UTF-8 sequence counts as the units of its character, every
// other byte as one unit.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "diag/diag.hpp"

// A protocol position: line and UTF-16 character, both from 0.
struct LspPosition {
    int line;
    int character;
};

// The lines of a document: where each begins.
struct LineIndex {
    std::string_view text;
    std::vector<std::size_t> starts;
};

LineIndex index_lines(std::string_view text);

// The bytes of line `line` (from 0) without its line break; empty past the
// last line.
std::string_view line_text(const LineIndex& index, int line);

// The length in bytes of the character at the start of `bytes`: that of a
// well-formed UTF-8 sequence, otherwise 1; *units gets its UTF-16 units.
std::size_t utf8_step(std::string_view bytes, int* units);

// A compiler position as a protocol position.  A column past the line's end
// stands just past its end, a line past the last one at the end of the
// last.
LspPosition to_lsp(const LineIndex& index, SourcePos pos);

// A protocol position as the compiler's: a character inside a UTF-8
// sequence, or past the line's end, is taken as the one it falls in or the
// end.  Lines past the last give {line, 1}.
SourcePos from_lsp(const LineIndex& index, LspPosition pos);

// The byte offset (in the document) of a compiler position, clamped to its
// line.
std::size_t byte_offset(const LineIndex& index, SourcePos pos);

// How many bytes the token at `offset` spans: a name or a number whole,
// ":=", "<=", ">=", "<>" and ".." as two, any other character as one; 0 at a
// line's end or the end of the text.
std::size_t token_length(std::string_view text, std::size_t offset);
