// Showing where in the source an error was found, in the manner of the
// usual compilers, for every front end that shows it (tsumiki on a
// terminal, tsumiki-inspect, the language server, the playground):
//
//   prog.tsu:3:5: ここでエラーが見つかりました
//       3 | x = 1
//         |     ^
//
// The source line is shown as it is, except that a byte which is no
// character of the output encoding, and any control character but the
// tab, appears as "?".  The caret line repeats the tabs of the source
// line, so that the caret stands under the spot whatever width the
// console gives a tab.  Standard library only, as the playground needs it
// too.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "diag/diag.hpp"

// The lines that show `where`: the heading `heading` (its format takes the
// name, the line and the column: MSG_I_POSITION for a compile error,
// MSG_I_RUN_POSITION for a run-time error), then, when `source` (the
// file's bytes) has that line, the line and the caret under the spot; all
// in `encoding`.
std::string show_place(const char* name, SourcePos where, Msg heading,
                       std::optional<std::string_view> source, Encoding encoding);

// A warning in the same form: "NAME:LINE:COLUMN: 警告: TEXT", the line and
// the caret.
std::string show_warning(const char* name, SourcePos where, const std::string& text,
                         std::optional<std::string_view> source, Encoding encoding);

// Line `number` of a source, whose text is `line`, shown as above, and
// under it, when `column` is above 0, the caret at that column; nothing
// when the column lies past the end of the line (the file has changed).
std::string show_line(std::string_view line, int number, int column, Encoding encoding);

// The lines of the source `source` that `range` covers, each shown as
// above with marks under the part of it in the range: "^" under its first
// character, "~" under the rest.
//
//      5 |   total := total + k * 2;
//        |                    ^~~~~
//
// Nothing when the range lies outside the source (the file has changed).
std::string show_range(std::string_view source, SourceRange range, Encoding encoding);

// A source line as it is shown: "?" for a byte that is no character of
// `encoding` and for a control character but the tab.
std::string printable_line(std::string_view line, Encoding encoding);

// The width of the line numbers beside a source line: at least 4.
int line_number_width(int line);

// Reads the whole file at `path` again into `text`, to show a place in it;
// false when it is not a plain file (a pipe can't be read twice), can't be
// read, or is larger than any source the compiler would take in
// reasonable time.
bool read_source(const char* path, std::string& text);
