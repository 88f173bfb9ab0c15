// The engine choice: which machine runs the code store.  The native tier
// (vm/native.hpp) where it is built and can run, the interpreter
// (vm/machine.hpp) everywhere else.
#pragma once

// `standard` and `native` both mean native code where it can run;
// `interpreter` always runs the interpreter.
enum class Engine { standard, interpreter, native };

// The environment variable with which a user names the engine of tsumiki.
inline constexpr const char* ENGINE_VARIABLE = "TSUMIKI_ENGINE";

// Whether `name` names an engine, and which: "native" or "interpreter"; no
// name at all (nullptr) is the standard engine.
bool engine_named(const char* name, Engine& engine);

// Runs the code store on `engine` from the registers and the stack as a
// run starts them, with the run's settings (run_machine, vm/run.hpp, does
// both: every front end runs a program through it).  The native tier
// runs what it can: a `watched` run (with a trace, a budget, a stop flag
// or a pulse) looks at every instruction, and a place without executable
// memory has none; those, and every run of a build without the tier, run
// on the interpreter, without a word.
void run_on_engine(Engine engine, bool watched);
