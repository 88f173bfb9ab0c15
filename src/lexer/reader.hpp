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
