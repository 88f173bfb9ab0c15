#include "judge/verdict.hpp"

#include <algorithm>

#include "driver/hints.hpp"
#include "judge/compare.hpp"
#include "judge/sandbox.hpp"
#include "judge/text.hpp"

namespace {

void place(Outcome& outcome, std::int32_t pc, const std::vector<SourcePos>& code_pos) {
    if (pc < 0 || static_cast<std::size_t>(pc) >= code_pos.size()) return;
    outcome.line = code_pos[static_cast<std::size_t>(pc)].line;
    outcome.column = code_pos[static_cast<std::size_t>(pc)].column;
}

// A hint goes under the message, on a line of its own.
void add_hint(Outcome& outcome, const std::string& hint) {
    std::string_view line = without_final_breaks(hint);
    if (line.empty()) return;
    outcome.message += '\n';
    outcome.message += line;
}

} // namespace

Outcome judge_run(const RunReport& ending, const TestCase& test, const Settings& settings,
                  const std::vector<SourcePos>& code_pos) {
    Outcome outcome;
    // What tsumiki would have printed: the output, then an error's message.
    std::string printed(ending.output);
    if (ending.wall_limit) {
        outcome.verdict = Verdict::TLE;
        outcome.message = say(MSG_J_RUN_WALL, {number(ending.wall_seconds)});
    } else if (!ending.finished) {
        outcome.verdict = ending.cpu_limit ? Verdict::TLE : Verdict::RE;
        outcome.message = ending.cpu_limit ? say(MSG_J_RUN_CPU, {number(ending.cpu_seconds)})
                                           : say(MSG_J_RUN_CRASHED,
                                                 {number(static_cast<unsigned>(ending.signal))});
    } else if (ending.over_limit) {
        outcome.verdict = Verdict::OLE;
        outcome.message = say(MSG_J_OLE, {number(settings.output_limit)});
        place(outcome, ending.run.pc, code_pos);
    } else if (ending.run.end == RunEnd::budget_spent) {
        outcome.verdict = Verdict::TLE;
        outcome.message = say(MSG_J_TLE, {number(settings.steps)});
        place(outcome, ending.run.pc, code_pos);
    } else if (ending.run.end == RunEnd::halted) {
        bool same =
            same_text(test.expected, printed, settings.encoding, settings.ignore_trailing_space);
        outcome.verdict = same ? Verdict::AC : Verdict::WA;
        if (!same)
            outcome.message = difference_message(test.expected, printed,
                                                 settings.ignore_trailing_space, settings.encoding);
    } else {
        // A run-time error; a case may expect it, message and all (a
        // program that reads until its input ends stops that way).
        printed += ending.run.message;
        bool expected =
            same_text(test.expected, printed, settings.encoding, settings.ignore_trailing_space);
        outcome.verdict = expected ? Verdict::AC : Verdict::RE;
        if (!expected) {
            outcome.message = to_utf8(without_final_breaks(ending.run.message), settings.encoding);
            place(outcome, ending.run.call_pc >= 0 ? ending.run.call_pc : ending.run.pc, code_pos);
            add_hint(outcome, run_hint(ending.run, Encoding::utf8));
        }
    }
    outcome.steps = ending.finished ? ending.run.steps : 0;
    outcome.output_bytes = printed.size();
    if (settings.keep_output && outcome.verdict != Verdict::AC) {
        printed.resize(std::min(printed.size(), SHOWN_OUTPUT_BYTES));
        outcome.output = std::move(printed);
    }
    return outcome;
}

Outcome compile_error_outcome(const Compiled& compiled, std::string_view source,
                              Encoding encoding) {
    Outcome outcome;
    outcome.verdict = Verdict::CE;
    outcome.message = to_utf8(without_final_breaks(compiled.message), encoding);
    if (compiled.error != ErrorKind::open) {
        outcome.line = compiled.where.line;
        outcome.column = compiled.where.column;
        add_hint(outcome, hint_for(source, compiled.error, compiled.error_text, compiled.where,
                                   Encoding::utf8));
    }
    return outcome;
}

Outcome compile_crash_outcome(int signal, bool cpu_limit) {
    Outcome outcome;
    outcome.verdict = Verdict::CE;
    outcome.message = cpu_limit
                          ? say(MSG_J_COMPILE_CPU, {number(COMPILE_CPU_SECONDS)})
                          : say(MSG_J_COMPILE_CRASHED, {number(static_cast<unsigned>(signal))});
    return outcome;
}

Outcome refused_outcome(FileRefusal refusal, std::size_t limit) {
    Outcome outcome;
    outcome.verdict = Verdict::CE;
    outcome.message = say(MSG_J_SOURCE_REFUSED, {refusal_words(refusal, limit)});
    return outcome;
}

Outcome deadline_outcome(bool compiled, unsigned seconds) {
    Outcome outcome;
    outcome.verdict = compiled ? Verdict::TLE : Verdict::CE;
    outcome.message = say(compiled ? MSG_J_RUN_WALL : MSG_J_COMPILE_WALL, {number(seconds)});
    return outcome;
}
