// The judge's side of the work: worker processes, --jobs of them at a
// time, their records gathered into the judgement as they come, a
// progress line, and an orderly stop on Ctrl-C.
#pragma once

#include <vector>

#include "judge/inputs.hpp"
#include "judge/judgement.hpp"
#include "judge/worker.hpp"

// One submission's work: the submission's row in the judgement and the
// cases to run.
struct Work {
    std::size_t submission;
    WorkerTask task;
};

// Whether to show a progress line on standard error, and how many runs
// make 100%.
struct Progress {
    bool shown = false;
    std::size_t total = 0;
};

enum class PoolEnd { done, interrupted, failed };

// Does all the work, judgement.at(submission, case) filled in as records
// arrive.  Interrupted (SIGINT, SIGTERM, SIGHUP), it stops every worker and
// returns what was judged until then; `failed` when no worker could be
// started at all.
PoolEnd do_work(const std::vector<Work>& work, const std::vector<TestCase>& cases,
                const Settings& settings, Judgement& judgement, const Progress& progress);

// The signal that interrupted the work, 0 if none did.
int interrupting_signal();
