// Diagnostics: the message table and the three fatal reporters.
//
// Every text the system prints lives in src/diag/messages.txt.  The build
// turns that table into two arrays, one in Shift_JIS (code page 932) and one
// in UTF-8; `msg` reads from the one selected for this process.  Every error
// is fatal: a reporter ends the compile or the run at once by throwing a
// Fatal, which the library interface (driver/api.hpp) catches and turns
// into the one message tsumiki prints and its exit status.
#pragma once

#include <string>

enum Msg : int {
#define MESSAGE_ID(name) MSG_##name,
#include "messages.inc"
#undef MESSAGE_ID
    MSG_COUNT
};

enum class Encoding { cp932, utf8 };

// Where a character stands in the source file: line and column, both from 1.
// A column counts bytes, a tab as one; dropped carriage returns count for
// nothing.
struct SourcePos {
    int line;
    int column;
};

// A stretch of the source: from its first character to just past its last
// (on the last character's line).
struct SourceRange {
    SourcePos first;
    SourcePos last;
};

// The encoding this build writes unless told otherwise.
Encoding default_encoding();

// Whether `name` names an encoding, and which: "sjis", "shift_jis" or
// "cp932" for code page 932, "utf-8" or "utf8" for UTF-8, in any case.  The
// value of TSUMIKI_ENCODING, with which a front end chooses the encoding of
// what it writes at run time.
bool encoding_named(const char* name, Encoding& encoding);
inline constexpr const char* ENCODING_VARIABLE = "TSUMIKI_ENCODING";

// The encoding that `msg` uses; set once at start-up.
void set_encoding(Encoding encoding);
Encoding current_encoding();

// The text of a message in the current encoding, or in the given one.
const char* msg(Msg id);
const char* msg_in(Msg id, Encoding encoding);

// How a compile or a run ended early.  The first three print as
// "字句エラー: ...", "構文エラー: ...", "実行中にエラーがおきました: ...", each
// followed by a line break.
enum class FatalKind : unsigned char {
    lexical,
    syntax,
    runtime,
    budget_spent,  // the run's instruction budget ran out
    stopped,       // the run's stop flag was set
    output_failed, // the run's output could not be written
    check_failed,  // a checked run found a slip (vm/check.hpp)
};

// What the reporters throw: the kind and the message-table text.
struct Fatal {
    FatalKind kind;
    Msg text;
};

[[noreturn]] void lexical_error(Msg text);
[[noreturn]] void syntax_error(Msg text);
[[noreturn]] void runtime_error(Msg text);
[[noreturn]] void end_run(FatalKind kind, Msg text);

// A message-table format with one string argument, as text.
std::string format_message(const char* format, const char* argument);

// The line tsumiki prints for a lexical, syntax or run-time error, in the
// given encoding.
std::string fatal_message(const Fatal& fatal, Encoding encoding);
