#include "judge/options.hpp"

#include <charconv>
#include <cstring>
#include <sched.h>

#include "judge/text.hpp"

namespace {

const char* const PROGRAM = "tsumiki-judge";

// The largest values accepted: a budget a run could spend in hours, and an
// output limit that fits in memory.
constexpr std::uint64_t MAX_STEPS = 1'000'000'000'000;
constexpr std::uint64_t MAX_OUTPUT_LIMIT = std::uint64_t{1} << 30;
constexpr std::uint64_t MAX_JOBS = 1024;

bool whole_number(std::string_view text, std::uint64_t low, std::uint64_t high, std::uint64_t& n) {
    auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), n);
    return failed == std::errc() && end == text.data() + text.size() && !text.empty() && n >= low &&
           n <= high;
}

bool shard_of(std::string_view text, unsigned& k, unsigned& n) {
    std::size_t slash = text.find('/');
    std::uint64_t a = 0, b = 0;
    if (slash == std::string_view::npos || !whole_number(text.substr(slash + 1), 1, 1'000'000, b) ||
        !whole_number(text.substr(0, slash), 1, b, a))
        return false;
    k = static_cast<unsigned>(a);
    n = static_cast<unsigned>(b);
    return true;
}

std::string with_hint(const std::string& complaint) {
    return complaint + say(MSG_J_HINT, {PROGRAM});
}

} // namespace

OptionWord split_option(std::string_view argument) {
    OptionWord word{argument, {}};
    if (std::size_t eq = argument.find('='); eq != std::string_view::npos) {
        word.name = argument.substr(0, eq);
        word.value = argument.substr(eq + 1);
        word.has_value = true;
    }
    return word;
}

bool take_value(OptionWord& word, int argc, char** argv, int& i) {
    if (word.has_value) return true;
    if (i + 1 >= argc) return false;
    word.value = argv[++i];
    word.has_value = true;
    return true;
}

unsigned processor_count() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    return 1;
}

bool read_command_line(int argc, char** argv, CommandLine& line, std::string& error) {
    line.settings.jobs = processor_count();
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        if (options_end || a.size() < 2 || a[0] != '-') {
            if (!options_end && a == "merge" && i == 1) {
                line.merge = true;
            } else if (!options_end && a == "make-outputs" && i == 1) {
                line.make_outputs = true;
            } else if (!options_end && a == "diff" && i == 1) {
                line.diff = true;
            } else {
                line.operands.emplace_back(a);
            }
            continue;
        }
        if (a == "--") {
            options_end = true;
            continue;
        }
        OptionWord word = split_option(a);
        std::string_view name = word.name;
        // The options without a value.
        bool* flag = name == "--help" || name == "-h"    ? &line.help
                     : name == "--version"               ? &line.version
                     : name == "--ignore-trailing-space" ? &line.settings.ignore_trailing_space
                                                         : nullptr;
        if (flag != nullptr) {
            if (word.has_value) {
                error = with_hint(say(MSG_J_BAD_VALUE, {PROGRAM, name, word.value}));
                return false;
            }
            *flag = true;
            continue;
        }
        static const char* const valued[] = {
            "--cases", "--steps", "--output-limit", "--jobs",         "--shard",
            "--json",  "--junit", "--html",         "--color",        "--submissions",
            "--model", "--csv",   "--feedback",     "--results-json", "--playground"};
        bool known = false;
        for (const char* v : valued)
            known = known || name == v;
        if (!known) {
            error = with_hint(say(MSG_J_UNKNOWN_OPTION, {PROGRAM, a}));
            return false;
        }
        if (!take_value(word, argc, argv, i)) {
            error = with_hint(say(MSG_J_MISSING_VALUE, {PROGRAM, name}));
            return false;
        }
        std::string_view value = word.value;
        std::uint64_t n = 0;
        bool good = true;
        if (name == "--cases" || name == "--model") {
            (name == "--cases" ? line.cases : line.model) = value;
            good = !value.empty();
        } else if (name == "--steps") {
            good = whole_number(value, 1, MAX_STEPS, line.settings.steps);
        } else if (name == "--output-limit") {
            good = whole_number(value, 0, MAX_OUTPUT_LIMIT, line.settings.output_limit);
        } else if (name == "--jobs") {
            good = whole_number(value, 1, MAX_JOBS, n);
            line.settings.jobs = static_cast<unsigned>(n);
        } else if (name == "--shard") {
            good = shard_of(value, line.shard, line.shards);
        } else if (name == "--playground") {
            line.playground = value;
            good = !value.empty();
        } else if (name == "--feedback" || name == "--results-json") {
            (name == "--feedback" ? line.feedback : line.results_json) = value;
            good = !value.empty();
        } else if (name == "--json" || name == "--junit" || name == "--html" || name == "--csv") {
            (name == "--json"    ? line.json
             : name == "--junit" ? line.junit
             : name == "--html"  ? line.html
                                 : line.csv) = value;
            good = !value.empty();
        } else if (name == "--submissions") {
            line.folders.emplace_back(value);
            good = line.merge && !value.empty();
        } else if (name == "--color") {
            good = value == "auto" || value == "always" || value == "never";
            line.colour = value == "always"  ? Colour::always
                          : value == "never" ? Colour::never
                                             : Colour::automatic;
        }
        if (!good) {
            error = with_hint(say(MSG_J_BAD_VALUE, {PROGRAM, name, value}));
            return false;
        }
    }
    if (line.help || line.version) return true;
    if (line.diff) {
        if (line.operands.size() != 2) {
            error = with_hint(say(MSG_J_DIFF_NEEDS_TWO, {PROGRAM}));
            return false;
        }
        return true;
    }
    if (line.merge) {
        if (line.operands.empty()) {
            error = with_hint(say(MSG_J_NO_REPORTS, {PROGRAM}));
            return false;
        }
        if (line.shows_outputs() && line.cases.empty()) {
            error = with_hint(say(MSG_J_MERGE_NEEDS_CASES, {PROGRAM}));
            return false;
        }
        if (line.shows_outputs() && line.folders.empty()) {
            error = with_hint(say(MSG_J_MERGE_NEEDS_FOLDER, {PROGRAM}));
            return false;
        }
        return true;
    }
    if (line.cases.empty()) {
        error = with_hint(say(MSG_J_NO_CASES, {PROGRAM}));
        return false;
    }
    if (line.make_outputs) {
        if (line.model.empty()) {
            error = with_hint(say(MSG_J_MAKE_NEEDS_MODEL, {PROGRAM}));
            return false;
        }
        if (!line.operands.empty()) {
            error = with_hint(say(MSG_J_MAKE_NO_SUBMISSIONS, {PROGRAM}));
            return false;
        }
        return true;
    }
    if (line.operands.empty()) {
        error = with_hint(say(MSG_J_NO_SUBMISSIONS, {PROGRAM}));
        return false;
    }
    return true;
}
