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

// Does all the work, judgement.set(submission, case, ...) filled in as
// records arrive (and judgement.sources, when the page is asked for).
// Interrupted (SIGINT, SIGTERM, SIGHUP: catch_stops), it stops every worker
// and returns what was judged until then; `failed` when no worker could be
// started at all.  A worker still at work at its wall-clock deadline
// (judge/sandbox.hpp) is killed, its cases judged so.
PoolEnd do_work(const std::vector<Work>& work, const std::vector<TestCase>& cases,
                const Settings& settings, Judgement& judgement, const Progress& progress);

// The signal that interrupted the work, 0 if none did.
int interrupting_signal();

// Ctrl-C and its kind, from the start to the end of the reports:
//   catch_stops      the first signal is noted (the work stops, the reports
//                    are written); a second one ends the judge at once,
//                    removing the files given to remove_on_stop
//   hold_stops       while the reports are written, a signal waits
//   release_stops    the default again: a signal that waited ends the judge
void catch_stops();
void remove_on_stop(const char* path);
void hold_stops();
void release_stops();
