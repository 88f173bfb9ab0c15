// tsumiki-inspect format [--check] FILE...: each program in the
// formatter's layout (format/format.hpp).
//
// Without --check, each file's program, formatted, goes to standard output
// in the order given.  With --check nothing is formatted to standard
// output: it lists, one a line, the files whose layout would change.  A
// file that can't be read or compiled is not formatted; its error, with
// the place it was found, goes to standard error.
#pragma once

#include <vector>

// Formats or checks the files at `paths` and ends the process: status 0
// when every file was formatted (with `check`: when every one is laid out
// already), 1 otherwise.  Writes its messages in the current encoding.
[[noreturn]] void run_format(const std::vector<const char*>& paths, bool check);
