// The source reader: the source file and the one-character look-ahead.
//
// Line breaks and tabs arrive as blanks, carriage returns are dropped, and a
// Ctrl-Z byte (0x1A) ends the file.  Reaching the end of the file is a
// lexical error at the moment it is read, so the lexer never sees it.
#pragma once

#include <cstdio>

// The current character: the byte most recently read, 0 to 255, after the
// folding above.  A blank before the file is opened.  Written by next_char.
extern int ch;

// Opens the file for reading and reads its first character.  On failure
// prints "ファイル%sがオープンできません\n" and returns 0; on success returns 1.
int open_source(const char* path);

// Reads from an already open stream instead (tests, the fuzzer); the stream
// is closed by close_source.
void open_source_stream(std::FILE* stream);

// Closes the stream.
void close_source();

// Moves the current character one character on.
void next_char();

// Where a character stands in the source file: line and column, both from 1.
// A column counts bytes, a tab as one; dropped carriage returns count for
// nothing.
struct SourcePos {
    int line;
    int column;
};

// The reader's place in the file, kept only in the traced build (the
// inspector shows where an error was found); tsumiki never writes it.
// Written by next_char and, for token_pos, by get_token.
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
