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
    std::vector<std::size_t> cases; // indexes into the cases, in order
};

// In the new worker process: judges the task and ends the process, with
// status 0 once every record is sent.
[[noreturn]] void run_worker(const WorkerTask& task, const std::vector<TestCase>& cases,
                             const Settings& settings, int to_judge);

// A record on the pipe: the case's index and its outcome.
void append_record(std::string& out, std::uint32_t case_index, const Outcome& outcome);

// Takes the first record off the front of `in` when it holds a whole one.
// False when it does not yet; `broken` is set when the bytes cannot be a
// record at all.
bool take_record(std::string& in, std::uint32_t& case_index, Outcome& outcome, bool& broken);
