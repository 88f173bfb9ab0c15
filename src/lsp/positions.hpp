// Places in a document, between the compiler's and the protocol's way of
// counting.
//
// The compiler gives lines and columns from 1: a line ends at a line feed,
// a column counts bytes, a tab as one, carriage returns as nothing.  The
// protocol counts both from 0, a line ends at LF, CR LF or a lone CR, and a
// character is a UTF-16 code unit.  A document's bytes may be any: a
// well-formed UTF-8 sequence counts as the units of its character, every
// other byte as one unit.  Both go through byte offsets.
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

// The lines of a document: where each begins, for the compiler and for
// the protocol.
struct LineIndex {
    std::string_view text;
    std::vector<std::size_t> starts;     // after each LF
    std::vector<std::size_t> lsp_starts; // after each LF, CR LF or lone CR
};

LineIndex index_lines(std::string_view text);

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
// line, and the other way round.
std::size_t byte_offset(const LineIndex& index, SourcePos pos);
SourcePos source_pos(const LineIndex& index, std::size_t offset);

// The same for protocol positions.
std::size_t lsp_offset(const LineIndex& index, LspPosition pos);
LspPosition lsp_pos(const LineIndex& index, std::size_t offset);

// How many bytes the token at `offset` spans: a name or a number whole,
// ":=", "<=", ">=", "<>" and ".." as two, any other character as one; 0 at a
// line's end or the end of the text.
std::size_t token_length(std::string_view text, std::size_t offset);
