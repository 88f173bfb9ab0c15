// Helpers shared by the unit tests: run a piece of the system with its
// standard output captured and its fatal exit turned into a return.
#pragma once

#include <functional>
#include <string>

// What a piece of the system did: its standard output and, if it ended the
// process, the status it ended it with (-1 when it returned normally).
struct Outcome {
    std::string out;
    int status = -1;
};

// Empties every table and register: the symbol table, the code store, the
// machine, the current token and character.  Messages become UTF-8.
void reset_all();

// Runs fn with standard output captured; a fatal error or exit inside fn
// ends fn and is reported in the outcome.
Outcome capture(const std::function<void()>& fn);

// Makes `text` the source file, as open_source would (reads the first
// character, so it may already fail: use inside capture).
void open_source_text(const std::string& text);

// Makes `text` the standard input of GET.
void set_machine_input(const std::string& text);

// reset_all, then compiles `source`; the outcome of the compile phase.
Outcome compile(const std::string& source);

// The listing of the code store, one "i: OPC(l,a)" line per instruction,
// without the heading and the closing rule.
std::string listing();

// Compiles `source` and, if that succeeded, runs it with `input` as
// standard input.
Outcome compile_and_run(const std::string& source, const std::string& input = "");
