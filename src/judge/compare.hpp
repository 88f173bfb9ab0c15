// Comparing what a run printed with what its case expects.
//
// Exactly: byte for byte.  Ignoring trailing space: line by line, each
// line without the blanks (spaces, tabs, carriage returns) at its end, and
// without the empty lines at the end of the text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "diag/diag.hpp"

bool same_output(std::string_view expected, std::string_view actual, bool ignore_trailing_space);

// The lines of a text as the comparison sees them: exactly, each with its
// "\n" when it has one; ignoring trailing space, trimmed and without the
// empty lines at the end.
std::vector<std::string_view> output_lines(std::string_view text, bool ignore_trailing_space);

// The index of the first line that differs (the count of the shorter, when
// one is the beginning of the other); -1 when none does.
long first_different_line(const std::vector<std::string_view>& expected,
                          const std::vector<std::string_view>& actual);

// Where two outputs that are not the same first differ, said for people in
// UTF-8 (the WA message): the line's number and both texts, decoded from
// the run's encoding.
std::string difference_message(std::string_view expected, std::string_view actual,
                               bool ignore_trailing_space, Encoding encoding);
