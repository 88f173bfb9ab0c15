// A worker: the process that judges one submission.  It compiles the
// submission once and runs it on each of its cases, every run in a
// process of its own (judge/sandbox.hpp), and sends the judge one record
// per case, as each is judged, through a pipe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "judge/inputs.hpp"
#include "judge/judgement.hpp"

// What one worker is to do.
struct WorkerTask {
    std::string path;               // the submission
    std::string folder;             // a link at `path` is followed only inside it
    std::vector<std::size_t> cases; // indexes into the cases, in order
};

// The most bytes of a submission the worker reads: more is CE.
inline constexpr std::size_t SUBMISSION_BYTES = std::size_t{32} << 20;

// The folder a submission lies in, as its path says: links are followed
// only inside it ("." for a bare name).
std::string folder_of(const std::string& submission);

// In the new worker process: judges the task and ends the process, with
// status 0 once every record is sent.
[[noreturn]] void run_worker(const WorkerTask& task, const std::vector<TestCase>& cases,
                             const Settings& settings, int to_judge);

// A record on the pipe: a case's index and its outcome, or (sent first,
// when the page is asked for) the source as the worker read it.
struct Record {
    bool is_source = false;
    std::uint32_t case_index = 0;
    Outcome outcome;
    SourceShown source;
};
void append_record(std::string& out, std::uint32_t case_index, const Outcome& outcome);
void append_source_record(std::string& out, const SourceShown& source);

// Takes the first record off the front of `in` when it holds a whole one.
// False when it does not yet; `broken` is set when the bytes cannot be a
// record at all.  A record may be at most MAX_RECORD_BYTES: what a worker
// sends is bounded too.
inline constexpr std::uint32_t MAX_RECORD_BYTES = 4 * SHOWN_OUTPUT_BYTES + 64 * 1024;
bool take_record(std::string& in, Record& record, bool& broken);
