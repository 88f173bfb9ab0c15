// A backend of the experiment: compiles a Program (program.hpp) in this
// process to a callable main routine (runtime.hpp).
#pragma once
#include <memory>
#include <string>

#include "program.hpp"
#include "runtime.hpp"

namespace backends {

struct Compiled {
    MainFn main = nullptr;
    std::shared_ptr<void> owner; // keeps the code alive
    // Wall time in ms of building the IR, of optimising it and of making
    // machine code (libgccjit does the last two in one call: all in
    // `codegen`).
    double build_ms = 0, optimise_ms = 0, codegen_ms = 0;
};

class Backend {
public:
    virtual ~Backend() = default;
    virtual std::string name() const = 0;
    // Builds the program's functions through the backend's API, optimises
    // them and makes machine code; throws std::runtime_error on a failure.
    virtual Compiled compile(const Program& p) = 0;
};

// How the main routine is made.  Plain: its arrays are locals of its own,
// and it starts only at its beginning.  Resumable, as the tiered engine
// needs it: its arrays live in the machine's stack (where addresses reach
// them), and it can start at the head of any of its loops, its variables
// taken from the stack.  The other two have one of the resumable form's
// traits each, to tell what each costs.
enum class Form { Plain, Resumable, StackArrays, Entries };

inline bool arrays_in_stack(Form f) { return f == Form::Resumable || f == Form::StackArrays; }
inline bool entries_at_loops(Form f) { return f == Form::Resumable || f == Form::Entries; }
// ", resumable" and so on: what a backend's name says of its form.
inline const char* form_suffix(Form f) {
    switch (f) {
    case Form::Plain: return "";
    case Form::Resumable: return ", resumable";
    case Form::StackArrays: return ", arrays in the stack";
    default: return ", entries at loops";
    }
}

// LLVM's ORC LLJIT, the standard pass pipeline at -O`level` (1 or 2) and
// the code generator at the matching level.
std::unique_ptr<Backend> make_llvm(int level, Form form);
// libgccjit at -O`level`.
std::unique_ptr<Backend> make_gccjit(int level, Form form);

} // namespace backends
