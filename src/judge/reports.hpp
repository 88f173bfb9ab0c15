// The reports of a judgement, each written from the judgement alone (and,
// for the page, the cases and the sources), so that a merged judgement
// gives the same bytes as one made at once.
//
//   table  for a terminal: submissions by cases, each submission's score,
//          then what went wrong in each run that was not AC
//   JSON   one object a line, per submission and case, with exactly the
//          fields submission, case, verdict, steps, output_bytes, message,
//          line, column
//   JUnit  XML: a test suite per submission, a test case per case
//   CSV    for a spreadsheet or a course platform's import: a header,
//          then a row per submission: its name, its verdict on each case
//          ("-" where none), its score and the most it could have
//   results.json  one submission's, in the shape of the autograder
//          results that course platforms read: its score, and a test per
//          group of cases (judge/manifest.hpp) with its name, score,
//          max_score, status (passed or failed), output (each case's
//          verdict and message, of a hidden case only what its feedback
//          shows) and visibility (hidden for a test with a case the
//          manifest hides, visible for the others)
//   HTML   one self-contained page: the table, every cell linked to its
//          detail (judge/html.hpp)
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "judge/judgement.hpp"

std::string table_report(const Judgement& judgement, bool colour);
std::string json_report(const Judgement& judgement);
std::string junit_report(const Judgement& judgement);
std::string csv_report(const Judgement& judgement);
std::string results_json(const Judgement& judgement, std::size_t submission);

// A field of a CSV row: quoted when it holds a comma, a quote or a line
// break (its quotes doubled), and one that a spreadsheet would take for a
// formula (=, +, -, @, a tab or a carriage return first) begun with "'".
std::string csv_field(std::string_view text);

// A JSON report read back: its records, each with its submission and case.
struct JsonRecord {
    std::string submission;
    std::string case_name;
    Outcome outcome;
    int line_number; // in the file, for complaints
};

// The most bytes of a JSON report merge reads.
inline constexpr std::size_t REPORT_BYTES = std::size_t{256} << 20;

// Reads a JSON report, opened once: a regular file of at most
// REPORT_BYTES.  False with `error` (a message for standard error) when the
// file cannot be read or a line is not a record of one.
bool read_json_report(const std::string& path, std::vector<JsonRecord>& records,
                      std::string& error);

// The records of a report's bytes; `path` names it in complaints.
bool parse_json_report(std::string_view bytes, const std::string& path,
                       std::vector<JsonRecord>& records, std::string& error);

// What changed from one report to another (diff): a line for each run
// whose verdict is not the same in both, in name order ("-" for a run one
// of them lacks), then their count; `changed` is that count.
std::string diff_report(const std::vector<JsonRecord>& old_records,
                        const std::vector<JsonRecord>& new_records, std::size_t& changed);

// The judgement the records make: submissions and cases in name order.
// False with `error` when two records are of the same submission and case,
// or when the table would hold more than MAX_CELLS.
bool judgement_of(const std::vector<JsonRecord>& records, Judgement& judgement, std::string& error);
