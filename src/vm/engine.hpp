// The engine choice: which machine runs the code store.  The native tier
// (vm/native.hpp) and the optimising tier (vm/speculation.hpp) where they
// are built and can run, the interpreter (vm/machine.hpp) everywhere else.
#pragma once

#include <string>

// `standard` (also named "tiered") and `native` run native code;
// `optimising` compiles the whole program with the optimising tier before
// it runs, and goes back to the exact tiers when a guard fails;
// `interpreter` always runs the interpreter.  (Moving only the code that
// runs long up to the optimising tier is the standard engine's next step;
// today it stays on the native tier.)
enum class Engine { standard, interpreter, native, optimising };

// The environment variable with which a user names the engine of tsumiki.
inline constexpr const char* ENGINE_VARIABLE = "TSUMIKI_ENGINE";

// Whether `name` names an engine, and which: "tiered", "optimising",
// "native" or "interpreter"; no name at all (nullptr) is the standard
// engine.
bool engine_named(const char* name, Engine& engine);

// Runs the code store on `engine` from the registers and the stack as a
// run starts them, with the run's settings (run_machine, vm/run.hpp, does
// both: every front end runs a program through it).  The native and
// optimising tiers run what they can: a `watched` run (with a trace, a
// budget, a stop flag or a pulse) looks at every instruction, and a place
// without executable memory has none; those, and every run of a build
// without the tiers, run on the interpreter, without a word.  The
// optimising tier falls back on the native tier for whatever it does not
// compile.
void run_on_engine(Engine engine, bool watched);

// What the optimising tier makes of the code store, for the listing: the
// machine code of every routine's functions, the instructions of the store
// they come from as comments.  Empty when it makes nothing (a build without
// the tier, no executable memory, a program it leaves to the exact tiers),
// and `why` then says why, in the tier's own words.
std::string list_optimised(std::string& why);
