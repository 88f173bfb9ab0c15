#include "vm/run.hpp"

#include "diag/trace.hpp"
#include "vm/check.hpp"
#include "vm/machine.hpp"
#include "vm/runtime.hpp"

namespace {

// The machine at start-up, and the run's settings in the globals that the
// engines and the services read.
void begin_run(const RunSetup& setup) {
    reset_machine();
    begin_io(setup.output, setup.input, setup.by_line);
    echo_reads(setup.echo);
    if constexpr (trace_built) {
        trace_on = TraceSwitches{};
        trace_on.run = setup.trace;
    }
    text_out = setup.trace_out;
    instruction_budget = setup.budget;
    stop_flag = setup.stop;
    run_pulse = setup.pulse;
    run_checked = setup.check;
    if (setup.check) begin_checked_run();
}

// Puts back what begin_run set, when the run ends in any way at all: no
// trace, no budget, no stop flag, no pulse, the machine's text to standard
// output, and none of the caller's writers and readers kept.
struct RunSettings {
    RunSettings(const RunSettings&) = delete;
    RunSettings& operator=(const RunSettings&) = delete;
    explicit RunSettings(const RunSetup& setup) { begin_run(setup); }
    ~RunSettings() {
        end_io();
        if constexpr (trace_built) trace_on = TraceSwitches{};
        text_out = Writer{};
        instruction_budget = 0;
        stop_flag = nullptr;
        run_pulse = Pulse{};
        run_checked = false;
    }
};

} // namespace

Watch watch_of(const RunSetup& setup) {
    const bool every =
        setup.trace || setup.stop != nullptr || setup.pulse.call != nullptr || setup.check;
    return every ? Watch::every_instruction : setup.budget != 0 ? Watch::budget : Watch::none;
}

RunEnding run_machine(const RunSetup& setup) {
    RunSettings settings(setup);
    RunEnding ending;
    try {
        run_on_engine(setup.engine, watch_of(setup));
    } catch (const Fatal& fatal) {
        ending.halted = false;
        ending.fatal = fatal;
    }
    // What was written before the end goes out before anyone shows how the
    // run ended (the engines' endings have sent it already); output that
    // can't be written any more is the end itself.
    if (ending.halted || ending.fatal.kind != FatalKind::output_failed) {
        try {
            flush_output();
        } catch (const Fatal& late) {
            ending.halted = false;
            ending.fatal = late;
        }
    }
    return ending;
}
