// The page: one self-contained HTML file (its style inside it, no script,
// nothing fetched) with the table of verdicts, every cell linked to its
// detail, which a click brings up.
//
// A detail shows the run's verdict, message and counts; for a run that was
// not AC the input, the expected and the actual output side by side, the
// lines that differ marked and, within each, the part from the first
// character that differs; and for an error its line in the source, the
// place marked.  Every submission's whole source and every case's input
// and expected output have a section of their own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "judge/inputs.hpp"
#include "judge/judgement.hpp"
#include "judge/playground.hpp"

// Where the page's details lead, beside the page itself.
struct PageLinks {
    // Each WA, RE and TLE run opens in the playground's debugger
    // (judge/playground.hpp); null: no such links.
    PlaygroundLinks* playground = nullptr;
    // The students' pages (judge/feedback.hpp), as a relative URL from the
    // page with its "/" at the end; empty: none.  With them, a run's detail
    // links to its case on the student's page rather than showing the input
    // and both outputs again, which keeps the page of a large class small.
    std::string feedback;
};

// `cases` are looked up by name; the sources are read from the
// submissions' paths.  `settings` gives the limits and the comparison
// shown at the top, and the encoding the outputs are in.
std::string html_report(const Judgement& judgement, const std::vector<TestCase>& cases,
                        const Settings& settings, const PageLinks& links = {});

// A folder's path as the start of a relative URL: each byte that is not an
// ASCII letter, digit, "-", "_", ".", "~" or "/" percent-encoded, and a "/"
// at the end.
std::string folder_url(std::string_view path);

// The parts of the page that the students' pages (judge/feedback.hpp)
// show too: the style; an input or output in a <pre>; a run's expected
// and actual output side by side, the first differing row with the id
// ID-first; a run's message with its place; the lines of a submission's
// source (as its worker sent it) around a place.
const char* page_style();
std::string page_text(std::string_view bytes, Encoding encoding);
std::string page_comparison(std::string_view input, std::string_view expected,
                            const Outcome& outcome, const Settings& settings,
                            const std::string& id);
std::string page_message(const Outcome& outcome);
std::string page_excerpt(const Judgement& judgement, std::size_t submission, int line, int column);
// The paragraph with a run's link to the playground (escaped), or nothing.
std::string page_playground(const Judgement& judgement, std::size_t submission,
                            std::size_t case_index, const TestCase* test, PlaygroundLinks* links);
