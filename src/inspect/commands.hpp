// The command lines of tsumiki-inspect's two steppers, `debug` and
// `compile`: each has a table of commands, and a line's first word picks
// one by its name, its alias or the start of exactly one name, as gdb
// does.  An empty line runs the last command again when that command
// repeats.
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "diag/diag.hpp"
#include "driver/place.hpp"
#include "inspect/line_input.hpp"

template <class State> struct Command {
    const char* name;
    const char* alias; // or nullptr
    void (*run)(State&, std::string_view args);
    bool repeats; // an empty line runs it again
    // What an empty line runs after it, when not the line itself (list goes
    // on where it stopped rather than listing the same lines); or nullptr.
    const char* again = nullptr;
};

// `text` without the blanks (spaces, tabs) around it.
std::string_view trimmed(std::string_view text);

enum class NumberText {
    ok,
    none,      // not a whole decimal number
    too_large, // past what 64 bits hold
};

// A whole decimal number (blanks around it allowed), read as 64 bits.
NumberText read_number(std::string_view text, long long& value);

// A number argument; otherwise says why not: `otherwise` (with the text
// for its %s), or that the number is out of range.
bool number_argument(std::string_view text, long long& value, Msg otherwise);

// The command a word names: a name, an alias, or the start of exactly one
// name; nullptr, with `ambiguous` set when the word begins several names.
template <class State>
const Command<State>* find_command(std::span<const Command<State>> table, std::string_view word,
                                   bool& ambiguous) {
    ambiguous = false;
    for (const Command<State>& c : table)
        if (word == c.name || (c.alias != nullptr && word == c.alias)) return &c;
    const Command<State>* found = nullptr;
    for (const Command<State>& c : table) {
        if (word.empty() || std::string_view(c.name).substr(0, word.size()) != word) continue;
        if (found != nullptr) ambiguous = true;
        found = &c;
    }
    return ambiguous ? nullptr : found;
}

// How a stepper reads its lines: the characters besides blanks that end a
// command's word (debug's x/4 takes its format after the slash), and what
// it does before and after each line.
template <class State> struct CommandLoop {
    std::span<const Command<State>> table;
    const char* word_ends = "";
    void (*before)(State&) = nullptr;
    void (*after)(State&) = nullptr;
};

// Runs one command line; returns its command, or nullptr when it was not
// understood (and said so).
template <class State>
const Command<State>* execute_command(State& s, const CommandLoop<State>& loop,
                                      std::string_view line) {
    line = trimmed(line);
    std::string_view ends = loop.word_ends;
    std::size_t end = 0;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t' &&
           ends.find(line[end]) == std::string_view::npos)
        ++end;
    std::string_view word = line.substr(0, end);
    bool ambiguous;
    const Command<State>* command = find_command(loop.table, word, ambiguous);
    if (command == nullptr) {
        std::printf(msg(ambiguous ? MSG_DBG_AMBIGUOUS : MSG_DBG_UNKNOWN_COMMAND),
                    std::string(word).c_str());
        return nullptr;
    }
    command->run(s, line.substr(end));
    return command;
}

// Reads and runs command lines until the input ends or a command sets
// s.quit.  A line read from a pipe or a file is echoed after the prompt,
// so that a transcript reads as a session at a terminal; a byte that is no
// character of the output encoding, or a control character, is shown and
// complained of as "?".
template <class State> void run_command_loop(State& s, const CommandLoop<State>& loop) {
    begin_line_input(msg(MSG_DBG_PROMPT));
    const bool echo = !lines_from_terminal();
    std::string line;
    std::string last;
    const Command<State>* last_command = nullptr;
    while (!s.quit && read_command_line(line)) {
        if (loop.before != nullptr) loop.before(s);
        line = printable_line(line, current_encoding());
        if (echo) std::printf(msg(MSG_DBG_ECHO), line.c_str());
        std::string_view text = trimmed(line);
        if (text.empty()) {
            if (last_command == nullptr || !last_command->repeats) continue;
            text = last;
        }
        const Command<State>* command = execute_command(s, loop, text);
        if (command != nullptr && text.data() != last.data()) {
            last = std::string(text);
            last_command = command;
        }
        if (command != nullptr && command->again != nullptr) last = command->again;
        if (loop.after != nullptr) loop.after(s);
        std::fflush(stdout);
    }
}
