// From how a compile or a run ended to its outcome: the verdict, and the
// message, the place and the counts the reports show.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/api.hpp"
#include "driver/user_file.hpp"
#include "judge/inputs.hpp"
#include "judge/judgement.hpp"

// How a run process ended, as its worker saw it.
struct RunReport {
    // The process ended by itself and left its result: then `run` holds
    // what run_program returned.  Otherwise a signal ended it.
    bool finished = false;
    RunResult run;
    bool over_limit = false; // its output reached the output limit
    std::string_view output; // what the program wrote (at most the limit)
    int signal = 0;          // the signal that ended an unfinished run
    bool cpu_limit = false;  // that signal was the processor-time limit's
    unsigned cpu_seconds = 0;
    bool wall_limit = false; // killed at its wall-clock deadline
    unsigned wall_seconds = 0;
};

// The outcome of a run on its case.  `code_pos` places the instructions
// in the source; a stack overflow is placed at the call that overflowed,
// with the hint for a recursion that may never end.  The printed output is kept in the outcome when
// asked for and the verdict is not AC.
Outcome judge_run(const RunReport& ending, const TestCase& test, const Settings& settings,
                  const std::vector<SourcePos>& code_pos);

// The outcome (CE) of every case of a submission that did not compile
// from `source`: the message, and on a line of its own the hint for it
// (the undeclared name, say), as tsumiki-inspect check shows them.
Outcome compile_error_outcome(const Compiled& compiled, std::string_view source, Encoding encoding);

// The outcome (CE) of a submission whose compile ended by a signal.
Outcome compile_crash_outcome(int signal, bool cpu_limit);

// The outcome (CE) of a submission its worker would not read: not a
// regular file, larger than `limit`, a link out of its folder...
Outcome refused_outcome(FileRefusal refusal, std::size_t limit);

// The outcome of a case left unjudged when its worker was stopped at its
// wall-clock deadline: CE when nothing was judged (the compile), else TLE.
Outcome deadline_outcome(bool compiled, unsigned seconds);
