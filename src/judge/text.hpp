// Text for people: the judge's own messages, and the bytes a submission,
// a run or a case holds, decoded for the reports.  Every report is UTF-8,
// whatever encoding the runs wrote in.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "diag/diag.hpp"
#include "driver/user_file.hpp"

// A message of the table in UTF-8, each "%s" in it replaced by the next
// argument as it stands ("%%" is one "%").
std::string say(Msg text, std::initializer_list<std::string_view> arguments);

// A number as the reports write it.
std::string number(std::uint64_t n);

// Whether the bytes are well-formed UTF-8.
bool is_utf8(std::string_view bytes);

// The bytes as UTF-8 text: decoded from code page 932 (cp932) or taken as
// they are (utf8); a byte that does not fit becomes U+FFFD.
std::string to_utf8(std::string_view bytes, Encoding encoding);

// A source file's bytes as UTF-8: as they are when they are UTF-8 already,
// else decoded from code page 932.
std::string source_to_utf8(std::string_view bytes);

// A line of text to quote in a message: control characters written as
// \t, \r or \xNN, the invisible ones that reorder or hide text (bidi
// controls, zero-width characters) as \u{XXXX}, and cut after `max_chars`
// characters with "…".
std::string visible(std::string_view utf8, std::size_t max_chars);

// The columns a UTF-8 text takes on a terminal: two for wide (East Asian)
// characters, one for the others.
std::size_t display_width(std::string_view utf8);

// The text without the line breaks at its end.
std::string_view without_final_breaks(std::string_view text);

// Why a file was not read, in the judge's words (the end of a message).
std::string refusal_words(FileRefusal refusal, std::size_t limit);

// The names of files (submissions, cases) are kept exactly, as bytes.
//
// In JSON, where text must be Unicode: a byte that is not part of well-formed
// UTF-8 is written \xNN (two lowercase hex digits), and a backslash that
// comes before an "x" or a backslash in what is written is doubled; every
// other character stands as it is.  name_from_json undoes it exactly, so
// that two names never become one.
std::string name_for_json(std::string_view bytes);
std::string name_from_json(std::string_view text);

// A name as the table and the page show it: UTF-8 as it is, but a byte
// that is not UTF-8 written \xNN, a control character \xNN, an invisible
// one (bidi controls, zero-width characters) \u{XXXX}, and a backslash
// doubled, so that two names never look the same.
std::string shown_name(std::string_view bytes);
