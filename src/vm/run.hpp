// A run of the machine from its start to its end, the one way every engine
// is run: run_machine puts the machine in its state at start-up, sets up
// the run's input, output, trace and watches, runs the code store
// on the engine asked for, and whatever ends the run (HLT, a run-time
// error, the budget, the stop flag, output that can't be written, or an
// exception from one of the caller's writers or readers) puts the run's
// settings back, so that the machine is ready for the next run.
//
// How the engines themselves end a run, with the registers where the
// caller finds them, is in vm/effects.hpp (check_entry, fail_at, fail_test,
// fail_off_end, stop_before, halt_at).
#pragma once

#include <atomic>
#include <cstdint>

#include "diag/diag.hpp"
#include "diag/stream.hpp"
#include "vm/engine.hpp"

// A call the traced build makes every `every` instructions of a run (every
// instruction for 0), after delivering the output written so far: for a
// front end that holds text back, such as the playground's worker, to send
// it on however long the run goes on.  An exception it throws ends the run
// and reaches the caller, as one from a writer does.
struct Pulse {
    void (*call)(void* context) = nullptr;
    void* context = nullptr;
    std::uint64_t every = 0;
};

// A call told the number each GET took, once the output written before it
// (the prompt) has been delivered: for a front end that shows the number
// after its prompt, as a terminal echoes what is typed.  Not called for a
// read that finds no number.  An exception it throws ends the run and
// reaches the caller, as one from the reader does.
struct ReadEcho {
    void (*call)(void* context, std::int32_t number) = nullptr;
    void* context = nullptr;
};

// What a run is given.
struct RunSetup {
    Writer output{};      // PUT's lines and GET's prompts
    Reader input{};       // GET's bytes
    bool by_line = false; // deliver every line as PUT writes it
    // The run trace (traced build only), to trace_out.
    bool trace = false;
    Writer trace_out{};
    // The traced build's watches, looked at before every instruction: the
    // number of instructions the run may execute (0: no limit), a flag
    // that ends the run when someone sets it, and the pulse.
    std::uint64_t budget = 0;
    const std::atomic<bool>* stop = nullptr;
    // The checked run (vm/check.hpp; traced build only), on the plain loop.
    bool check = false;
    Pulse pulse{};
    ReadEcho echo{};
    Engine engine = Engine::standard;
};

// How a run ended: by HLT, or by the Fatal that ended it.
struct RunEnding {
    bool halted = true;
    Fatal fatal{};
};

// What watches a run made with `setup` (vm/engine.hpp).
Watch watch_of(const RunSetup& setup);

// Runs the code store from instruction 0 on a cleared stack with `setup`
// until the run ends, and says how it ended.  When it returns, what was
// written before the end has been delivered (or else the ending is
// FatalKind::output_failed).  An exception from a writer or reader of
// `setup` leaves run_machine unchanged, after the same
// putting back; the output the run held then is dropped.
RunEnding run_machine(const RunSetup& setup);
