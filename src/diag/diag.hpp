// Diagnostics: the message table and the three fatal reporters.
//
// Every text the system prints lives in src/diag/messages.txt.  The build
// turns that table into two arrays, one in Shift_JIS (code page 932) and one
// in UTF-8; `msg` reads from the one selected for this process.  Every error
// is fatal: a reporter prints one line on standard output and ends the
// process with status 1.
#pragma once

#include <cstdio>

enum Msg : int {
#define MESSAGE_ID(name) MSG_##name,
#include "messages.inc"
#undef MESSAGE_ID
    MSG_COUNT
};

enum class Encoding { cp932, utf8 };

// The encoding this build writes unless told otherwise.
Encoding default_encoding();

// The encoding that `msg` uses; set once at start-up.
void set_encoding(Encoding encoding);
Encoding current_encoding();

// The text of a message in the current encoding, or in the given one.
const char* msg(Msg id);
const char* msg_in(Msg id, Encoding encoding);

// "字句エラー: ...", "構文エラー: ...", "実行中にエラーがおきました: ...",
// each followed by a line break, then the end of the process with status 1.
[[noreturn]] void lexical_error(Msg text);
[[noreturn]] void syntax_error(Msg text);
[[noreturn]] void runtime_error(Msg text);

// Ends the process through `exit`, which flushes standard output.  An
// embedding (the fuzzer, the tests) may install a handler that leaves by an
// exception instead; the handler must not return.
using ExitHandler = void (*)(int status);
void set_exit_handler(ExitHandler handler);
[[noreturn]] void end_process(int status);
