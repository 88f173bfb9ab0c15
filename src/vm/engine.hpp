// The engine choice: which machine runs the code store.  The native tier
// (vm/native.hpp) and the optimising tier (vm/speculation.hpp) where they
// are built and can run, the interpreter (vm/machine.hpp) everywhere else.
#pragma once

#include <string>

// `standard` (no name) and `tiered` start on the native tier and move a
// run that goes on long up to the optimising tier (below); `native` stays
// on the native tier; `optimising` compiles the whole program with the
// optimising tier before it runs, and goes back to the exact tiers when a
// guard fails; `interpreter` always runs the interpreter.  Where the
// optimising tier is not built, the standard engine is the native tier.
enum class Engine { standard, interpreter, native, optimising, tiered };

struct TierSettings {
    int first_loops = 50'000;
    int loops_per_instruction = 500;
    int loops_between_looks = 10'000; // once the compilation has started
    int most_looks = 1 << 30;         // looks that find no fit before it stops looking
    bool wait = false;                // wait for the compilation at the first look (for the tests)
    // A program of at most this many instructions is compiled on the spot,
    // the native tier waiting: it compiles in a millisecond or two, and the
    // native tier would spend that time going at less than half the speed
    // on the other core.  A larger one is compiled on another thread.
    int compile_here_up_to = 2'000;
    // After a run of the optimising tier that a guard ended, the loop heads
    // the native tier passes before the run may move up again: back_off
    // after the first failure at that guard's exit, doubled at each further
    // one; after most_failures at one exit, the run stays down.
    int back_off = 1'000'000;
    int most_failures = 3;
    // After an index past its array that went on from the guard (the run
    // may end soon after, the guard having failed on a loop's last turn),
    // the loop heads the native tier passes before it goes back to that
    // run's checkpoint after all, and backs off from there.
    int resumed_for = 10'000;
};
// The tiered engine's counts: the tests set them low, to move every run
// up as soon as it can.
extern TierSettings tier_settings;

// The environment variable with which a user names the engine of tsumiki.
inline constexpr const char* ENGINE_VARIABLE = "TSUMIKI_ENGINE";

// Whether `name` names an engine, and which: "tiered", "optimising",
// "native" or "interpreter"; no name at all (nullptr) is the standard
// engine.
//
// The tiered engine runs the native tier, which counts the loop heads it
// passes, and the routine starts.  After first_loops plus
// loops_per_instruction per instruction of the store (a run that long has paid for a compilation
// several times over), the program is compiled with the optimising tier:
// on the spot when it is small, else on another thread while the native
// tier goes on.  At the first loop head
// or routine start after that where the frames are as the code makes them
// (vm/speculation.hpp: loop_head_fits), the run moves up: the optimising
// tier goes on from there, and back to the native tier from there,
// exactly, if a guard fails; it moves up again later, after a back-off
// that grows with each failure at the same guard's exit (TierSettings).
// A run that ends first waits for the compilation to end.
bool engine_named(const char* name, Engine& engine);

// What watches a run: nothing; only its instruction budget, which the
// native tier counts as exactly as the traced interpreter; or more (a
// trace, a stop flag, a pulse, a checked run), which look at every
// instruction.
enum class Watch { none, budget, every_instruction };

// Runs the code store on `engine` from the registers and the stack as a
// run starts them, with the run's settings (run_machine, vm/run.hpp, does
// both: every front end runs a program through it).  The native and
// optimising tiers run what they can: a run watched at every instruction
// runs on the interpreter, and so does one of a place without executable
// memory and every run of a build without the tiers, without a word.  A
// run watched by its budget alone runs on the native tier, counting, in
// the traced build (the other never counts), whatever tier `engine`
// names but the interpreter.  The optimising tier falls back on the
// native tier for whatever it does not compile.
void run_on_engine(Engine engine, Watch watch);

// Makes, once, what each run on `engine` that `watch` watches would make at
// its start, and keeps it for those runs until forget_prepared: the native
// tier's machine code for a run watched by its budget alone, in the traced
// build.  True when something was kept; false when those runs make
// nothing (the interpreter, a build without the tier) or it could not be
// made, and they then go as before.
bool prepare_engine(Engine engine, Watch watch);
void forget_prepared();

// What the optimising tier makes of the code store, for the listing: the
// machine code of every routine's functions, the instructions of the store
// they come from as comments.  Empty when it makes nothing (a build without
// the tier, no executable memory, a program it leaves to the exact tiers),
// and `why` then says why, in the tier's own words.
std::string list_optimised(std::string& why);
