// The command lines of the terminal debugger: at a terminal, read with
// line editing and a history of the lines typed (libedit, where the build
// found it); from a pipe or a file, read as they are, so that a script
// drives the debugger.
#pragma once

#include <string>

// Starts reading standard input; `prompt` is shown at a terminal.
void begin_line_input(const char* prompt);

// Whether the lines come from a person at a terminal.
bool lines_from_terminal();

// The next line, without its line break; false at the end of the input.
bool read_command_line(std::string& line);
