// Hints for the usual slips of a beginner, one short line shown after the
// place of a compile error (driver/place.hpp) by every front end that
// shows one: tsumiki on a terminal, tsumiki-inspect check, the language
// server.
//
//   - a byte-order mark at the start of a UTF-8 file;
//   - a full-width character that looks like one of the language's own (the
//     ideographic space, "；", "：", "＝", "（", "）", "０" to "９", "＋",
//     "－", "＊", "＜", "＞", "，", "．", "［", "］"), in a UTF-8 or a
//     Shift_JIS source;
//   - no line break after the final "." (the end of the file is read while
//     looking past it);
//   - the name that was not declared, which the message itself leaves out;
//   - a ";" probably missing at the end of the line before a statement that
//     the compiler took for the end of the block;
//   - "=" where ":=" is meant;
//   - a ";" before "else", which ended the "if";
//   - a ";" missing after a declaration (the variables, a heading), the
//     error found on the next line: the end of the line before, by place;
//   - an expression given for a var parameter (only a variable can be);
//   - after a run: a stack overflow in a recursion that may never end.
//
// A hint is worked out from the source text, the error's message and its
// place alone: the compiler knows nothing of them, and standard output never
// shows one.  Standard library only, as the playground needs it too.
#pragma once

#include <string>
#include <string_view>

#include "diag/diag.hpp"
#include "driver/api.hpp"

// The hint for the compile error `text` of kind `kind`, found at `where` in
// `source` (the file's bytes), as one line in `encoding`; empty when no
// hint applies.
std::string hint_for(std::string_view source, ErrorKind kind, Msg text, SourcePos where,
                     Encoding encoding);

// The hint for a run that ended with a stack overflow in a recursion (a
// routine called again while its frames still fill the stack), with the
// depth of calls at the overflow; empty for any other run.
std::string run_hint(const RunResult& run, Encoding encoding);
