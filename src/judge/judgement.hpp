// What the judge decides: a verdict for every submission on every case,
// the settings it judged under, and the table of all of them that every
// report is written from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diag/diag.hpp"

// The verdicts, as programming contests name them.
enum class Verdict : unsigned char {
    AC,  // the output exactly as expected
    WA,  // any other output
    RE,  // a run-time error
    CE,  // a compile error: the submission did not run
    TLE, // the run began as many instructions as it may (--steps)
    OLE, // the run wrote more than it may (--output-limit)
};
inline constexpr int VERDICT_COUNT = 6;

const char* verdict_name(Verdict verdict);
// Whether `name` is a verdict's name, and which.
bool verdict_named(std::string_view name, Verdict& verdict);

// How the judge judges.
struct Settings {
    std::uint64_t steps = 100'000'000;      // instructions one run may begin
    std::uint64_t output_limit = 1'048'576; // bytes one run may write
    bool ignore_trailing_space = false;     // compare lines without their trailing blanks
    Encoding encoding = default_encoding(); // of the prompts and messages, as tsumiki's
    unsigned jobs = 1;                      // worker processes at once
    bool keep_output = false;               // send back what failed runs printed (the page)
};

// The most of what a run printed that the page shows.
inline constexpr std::size_t SHOWN_OUTPUT_BYTES = 64 * 1024;

// One submission on one case.
struct Outcome {
    Verdict verdict = Verdict::AC;
    std::uint64_t steps = 0;        // instructions the run began
    std::uint64_t output_bytes = 0; // bytes of standard output, as tsumiki prints them
    std::string message;            // UTF-8; empty when there is none
    int line = 0;                   // in the source: the error's place, 0 when none
    int column = 0;
    // What the run printed, as tsumiki would (the message of an error
    // included), at most SHOWN_OUTPUT_BYTES of it: kept only for a run
    // that was not AC, and only when the page is asked for.
    std::string output;
};

// Every submission on every case, submissions and cases in name order.
struct Judgement {
    std::vector<std::string> submissions;
    std::vector<std::string> cases;
    // Row by row, one per submission and case; empty where nothing was
    // judged (an interrupted run, or a case a merged report lacks).
    std::vector<std::optional<Outcome>> outcomes;

    void resize() { outcomes.assign(submissions.size() * cases.size(), std::nullopt); }
    std::optional<Outcome>& at(std::size_t submission, std::size_t case_index) {
        return outcomes[submission * cases.size() + case_index];
    }
    const std::optional<Outcome>& at(std::size_t submission, std::size_t case_index) const {
        return outcomes[submission * cases.size() + case_index];
    }
};

// The AC cases of a submission, and how many it was judged on.
struct Score {
    std::size_t accepted = 0;
    std::size_t judged = 0;
};
Score score_of(const Judgement& judgement, std::size_t submission);
