// What the judge decides: a verdict for every submission on every case,
// the settings it judged under, and the table of all of them that every
// report is written from.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "diag/diag.hpp"
#include "vm/engine.hpp"

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
    Engine engine = Engine::standard;       // of the runs (TSUMIKI_ENGINE)
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

// What the page shows of a submission's source: what its worker read,
// never the path read again.
struct SourceShown {
    bool read = false;      // the worker read it (else refused, or never judged)
    std::uint64_t size = 0; // bytes of the whole file
    bool utf8 = true;       // the whole file is UTF-8 (else shown as code page 932)
    std::string head;       // its first SHOWN_SOURCE_BYTES bytes
};
inline constexpr std::size_t SHOWN_SOURCE_BYTES = 64 * 1024;

// The most cells (submissions times cases) a judgement holds: the table
// and the page show every one, judged or not.  4,194,304 is a class of
// 2,048 on 2,048 cases; past it the judge refuses, saying so.
inline constexpr std::uint64_t MAX_CELLS = std::uint64_t{1} << 22;

// Whether a table of that many submissions and cases fits under MAX_CELLS.
bool cells_fit(std::size_t submissions, std::size_t cases);

// A group of cases that scores its points only when every one of its
// cases is AC (judge/manifest.hpp).
struct CaseGroup {
    std::uint64_t points = 1;
    std::vector<std::size_t> cases; // indexes into the judgement's cases
};

// Every submission on every case, submissions and cases in name order.
// Only the cells judged are held (a merged report may name thousands of
// submissions and cases and few of their pairs).
struct Judgement {
    std::vector<std::string> submissions;
    std::vector<std::string> cases;
    // Per submission, filled only when the page is asked for.
    std::vector<SourceShown> sources;
    // How the cases score, from the manifest; none: each case one point.
    std::vector<CaseGroup> groups;
    // Per case (or empty: none): hidden from the student's feedback.
    std::vector<bool> hidden;

    bool is_hidden(std::size_t case_index) const {
        return case_index < hidden.size() && hidden[case_index];
    }

    // Forgets every outcome; sources as many as submissions.  The caller
    // has checked cells_fit.
    void resize() {
        outcomes_.clear();
        sources.assign(submissions.size(), SourceShown{});
    }
    // The outcome, or null where nothing was judged (an interrupted run,
    // or a case a merged report lacks).
    const Outcome* find(std::size_t submission, std::size_t case_index) const;
    Outcome* find(std::size_t submission, std::size_t case_index);
    void set(std::size_t submission, std::size_t case_index, Outcome outcome);
    void erase(std::size_t submission, std::size_t case_index);
    std::size_t judged() const { return outcomes_.size(); }

  private:
    // Keyed by submission * cases.size() + case.
    std::unordered_map<std::uint64_t, Outcome> outcomes_;
    std::uint64_t key(std::size_t submission, std::size_t case_index) const {
        return std::uint64_t{submission} * cases.size() + case_index;
    }
};

// The AC cases of a submission, how many it was judged on, and its points
// of the most it could have (the groups it passed whole).
struct Score {
    std::size_t accepted = 0;
    std::size_t judged = 0;
    std::uint64_t points = 0;
    std::uint64_t max_points = 0;
};
Score score_of(const Judgement& judgement, std::size_t submission);
