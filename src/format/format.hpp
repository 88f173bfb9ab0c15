// The formatter: one canonical layout for a program that compiles, for
// tsumiki-inspect format and the language server.
//
//   program demo;
//   var n, a[1..3];
//   procedure show(var x);
//   begin
//     if x < 0 then write(-x)
//     else
//     begin
//       write(x);
//       x := 0
//     end
//   end;
//   begin
//     while n > 0 do
//       n := n - 1
//   end.
//
// Two spaces a level: a block's declarations, routines and its "begin" and
// "end" stand at its heading's indentation (routines nested in a routine
// one level in), its statements one level in.  One statement a line; the
// body of "then", "else" or "do" follows on the same line when it is an
// assignment, a call, read or write, on the next line one level in when it
// is an "if" or a "while" (but "else if" stays together), and a "begin"
// body opens on the next line at the heading's indentation.  One blank
// between words, except none after "(", "[", ".." and a sign, and none
// before ")", "]", ",", ";", ".", ".." and an index's or a call's "(" or
// "[".  The layout depends on the words alone, so formatting a formatted
// program changes nothing.
//
// The language has no comments; whatever follows the final "." (which the
// compiler never reads) is kept as it is, after a line break.  A program
// that does not compile is not formatted: the compile's error comes back.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "driver/api.hpp"

// A change to a source: bytes [first, last) become `text`.
struct FormatEdit {
    std::size_t first;
    std::size_t last;
    std::string text;
};

struct Formatted {
    // The compile's error, exactly as compile_text gives it (error,
    // message, where, error_text); ErrorKind::none when formatted.
    ErrorKind error = ErrorKind::none;
    std::string message;
    SourcePos where{};
    Msg error_text = MSG_COUNT;
    // The whole program in its layout.
    std::string text;
    // format_lines: the changes that lay out the lines asked for, none when
    // they are laid out already.
    std::vector<FormatEdit> edits;
};

// Compiles `source` with `options` (positions on) and, when it compiles,
// lays it out.  Every word of the program comes out in the order written,
// spelled as written.
Formatted format_source(std::string_view source, const CompileOptions& options);

// The same, and the edit that lays out the words that begin on the lines
// `first_line` to `last_line` (counted from 1, as SourcePos counts) and
// the blanks before the first of them, leaving the rest of the source as
// it is.
Formatted format_lines(std::string_view source, int first_line, int last_line,
                       const CompileOptions& options);
