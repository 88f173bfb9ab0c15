// The command line of tsumiki-judge:
//
//   tsumiki-judge --cases DIR [OPTION...] SUBMISSION...
//   tsumiki-judge merge [OPTION...] REPORT.jsonl...
//   tsumiki-judge make-outputs --model FILE --cases DIR [OPTION...]
//   tsumiki-judge diff OLD.jsonl NEW.jsonl
//
// Options and operands in any order, "--opt VALUE" or "--opt=VALUE"; after
// "--" every argument is an operand.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "judge/judgement.hpp"
#include "judge/playground.hpp"

enum class Colour { automatic, always, never };

struct CommandLine {
    bool merge = false;
    bool make_outputs = false;
    bool diff = false;
    bool help = false;
    bool version = false;
    std::string cases;                  // --cases
    std::string model;                  // --model: the solution the cases are checked with
    Settings settings;                  // --steps, --output-limit, --ignore-trailing-space, --jobs
    unsigned shard = 1, shards = 1;     // --shard K/N
    std::string json, junit, html, csv; // report files; empty: not asked for
    std::string results_json;           // --results-json: one submission's, for a platform
    std::string feedback;               // --feedback: the folder of the students' pages
    // --playground: the playground's address, that the pages' links to its
    // debugger open (judge/playground.hpp)
    std::string playground = DEFAULT_PLAYGROUND;

    // Whether the reports show what the runs printed.
    bool shows_outputs() const { return !html.empty() || !feedback.empty(); }
    Colour colour = Colour::automatic;
    std::vector<std::string> folders;  // merge --submissions: where it may read submissions
    std::vector<std::string> operands; // submissions, or merge's reports
};

// One option argument, split at its first '=': "--html=out.html" is the
// name "--html" with the value "out.html"; "--html" alone has no value yet.
struct OptionWord {
    std::string_view name, value;
    bool has_value = false;
};
OptionWord split_option(std::string_view argument);

// Gives `word` the next argument (argv[i + 1], and steps `i` past it) as
// its value when it has none after an '='.  False when there is no next
// argument.
bool take_value(OptionWord& word, int argc, char** argv, int& i);

// Reads the arguments.  False with `error` (a message for standard error,
// the hint included) on a usage error.
bool read_command_line(int argc, char** argv, CommandLine& line, std::string& error);

// The processors this process may run on.
unsigned processor_count();
