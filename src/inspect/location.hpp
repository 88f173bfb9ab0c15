// Showing where in the source an error was found, or what a warning points
// at, in the manner of the usual compilers:
//
//   prog.tsu:3:5: ここでエラーが見つかりました
//       3 | x = 1
//         |     ^
//
// The source line is read again from the file.  It is shown as it is,
// except that a byte which is no character of the output encoding, and any
// control character but the tab, appears as "?".  The caret line repeats
// the tabs of the source line, so that the caret stands under the spot
// whatever width the console gives a tab.
#pragma once

#include <cstdio>
#include <string>

#include "diag/diag.hpp"
#include "driver/api.hpp"

// Prints the three lines for `where` in the file at `path`, the first with
// the heading `heading` (FILE:LINE:COLUMN: text); only the first when the
// file can't be read again or no longer has that line.
void show_location(const char* path, SourcePos where, Msg heading = MSG_I_POSITION,
                   std::FILE* out = stdout);

// The same for a warning: "FILE:LINE:COLUMN: 警告: TEXT", the line, the caret.
void show_warning(const char* path, const Warning& warning, std::FILE* out);

// Reads the whole file at `path` again into `text`; false when it is not a
// plain file (a pipe can't be read twice), can't be read, or is larger
// than any source the compiler would take in reasonable time.
bool read_source(const char* path, std::string& text);
