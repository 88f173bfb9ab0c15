// The source reader: the source file and the one-character look-ahead.
//
// Line breaks and tabs arrive as blanks, carriage returns are dropped, and a
// Ctrl-Z byte (0x1A) ends the file.  Reaching the end of the file is a
// lexical error at the moment it is read, so the lexer never sees it.
#pragma once

#include <cstddef>
#include <cstdio>

#include "diag/diag.hpp"

// The current character: the byte most recently read, 0 to 255, after the
// folding above.  A blank before the file is opened.  Written by next_char.
extern int ch;

// Opens the file for reading and reads its first character.  On failure
// prints "ファイル%sがオープンできません\n" and returns 0; on success returns 1.
int open_source(const char* path);

// Opens a file for reading, without reading from it; null when it can't be
// opened.  A directory counts as a file that cannot be opened.
std::FILE* open_source_file(const char* path);

// Reads from an already open stream instead; the stream is closed by
// close_source.
void open_source_stream(std::FILE* stream);

// Reads the bytes given, as if they were a file's; they must stay in place
// until close_source.
void open_source_memory(const char* bytes, std::size_t n);

// Closes the stream.
void close_source();

// Moves the current character one character on.
void next_char();

// Whether the reader counts lines and columns: the front ends that show
// where an error was found turn it on; tsumiki leaves it off and counts
// nothing.
extern bool positions_on;

// The reader's place in the file, kept while positions_on.  Written by
// next_char and, for token_pos, by get_token.
//
// ch_pos: where the current character stands.  Once the end of the file is
// read, just past the file's last character on that character's line (a
// final line break ends its line rather than starting one).
inline SourcePos ch_pos = {1, 0};
// Whether the current character was a line break before it became a blank.
inline bool ch_ends_line = false;
// Where the token read last, or being read, begins; the end of the file once
// it is reached.
inline SourcePos token_pos = {1, 1};
// Where the token before that one ends: just past its last character.
inline SourcePos previous_token_end = {1, 1};
// The column of the first token on token_pos's line (its indentation, a
// tab counting one), and that line; for the warning of a body that is
// indented as if it went on (parser/warnings.hpp).
inline int token_line_indent = 1;
inline int token_indent_line = 0;
