// Comparing what a run printed with what its case expects.
//
// By text: the run's output decoded from the encoding it was written in,
// the expected output from UTF-8 when it is well-formed UTF-8 and from
// code page 932 otherwise, so that cases written in either encoding judge
// a run alike.  Exactly: character for character.  Ignoring trailing space: line by line, each
// line without the blanks (spaces, tabs, carriage returns) at its end, and
// without the empty lines at the end of the text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "diag/diag.hpp"

bool same_output(std::string_view expected, std::string_view actual, bool ignore_trailing_space);

// The encoding of an expected output: UTF-8 when its bytes are well-formed
// UTF-8, else code page 932.  Its text: its bytes decoded from that, a
// UTF-8 byte order mark at its start left out.
Encoding encoding_of_expected(std::string_view bytes);
std::string expected_text(std::string_view bytes);

// Whether a run's output, written in `encoding`, is the expected output
// (its bytes, in either encoding) as text.
bool same_text(std::string_view expected, std::string_view actual, Encoding encoding,
               bool ignore_trailing_space);

// The lines of a text as the comparison sees them: exactly, each with its
// "\n" when it has one; ignoring trailing space, trimmed and without the
// empty lines at the end.
std::vector<std::string_view> output_lines(std::string_view text, bool ignore_trailing_space);

// The index of the first line that differs (the count of the shorter, when
// one is the beginning of the other); -1 when none does.
long first_different_line(const std::vector<std::string_view>& expected,
                          const std::vector<std::string_view>& actual);

// Where two outputs that are not the same first differ, said for people in
// UTF-8 (the WA message): the line's number and both texts, the expected
// one as expected_text decodes it, the run's from `encoding`.  A line too
// long to quote whole is quoted from a little before where the texts part.
std::string difference_message(std::string_view expected, std::string_view actual,
                               bool ignore_trailing_space, Encoding encoding);
