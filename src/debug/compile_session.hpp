// A compile session: one compile recorded as it happened, to step through
// forwards and backwards.  The session the terminal's `tsumiki-inspect
// compile` drives.
//
//   CompileSession session;
//   Compiled c = session.open_text(source, options);  // records every event
//   session.move(CompileMotion::emit);                 // to the first instruction
//   const CompileState& now = session.state();         // routines, names, code
//   session.move(CompileMotion::reverse_token);
//
// The compiler runs once, on the traced core, with the session as its
// watcher (diag/watch.hpp): each token read, grammar routine entered or
// left, scope opened or closed, name registered or looked up, instruction
// emitted and backpatch becomes an event, in the order they happened, and
// a compile that fails ends with a WATCH_ERROR event at its error.
//
// Step k is the compile after its first k events: step 0 before anything,
// the last step once everything (or the error) has happened.  The state at
// a step is rebuilt from the events, not copied from the compiler: the
// stack of grammar routines, the live symbol table, the code store so far
// and the jumps that wait for their backpatch.
//
// One session at a time per process, as the compiler's tables are the
// process's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diag/watch.hpp"
#include "driver/api.hpp"

// A live entry of the symbol table as the session rebuilds it.
struct CompileSymbol {
    std::string name;
    SymbolKind kind;
    int level;
    std::int32_t offset;   // variables, arrays, parameters
    std::int32_t code_adr; // procedures, functions, the program
    std::int32_t low;      // arrays
    std::int32_t high;
    std::vector<SymbolKind> params; // routines: SYM_VAR or SYM_REF per parameter
};

// An instruction in the code store, with the place it was compiled from.
struct CompiledInstruction {
    Instruction instruction;
    SourcePos first;
    SourcePos last;   // just past the last character
    std::size_t step; // the step that emitted it
};

struct CompileState {
    std::size_t step = 0;
    // The grammar routines under way, outermost first: their WATCH_ENTER
    // events.
    std::vector<std::size_t> routines;
    // The levels of the scopes open, outermost first.
    std::vector<int> scopes;
    // Entries 1 to symbols.size() of the symbol table, oldest first.
    std::vector<CompileSymbol> symbols;
    std::vector<CompiledInstruction> code;
    // The forward jumps emitted and not yet backpatched, in emission order.
    std::vector<int> open_jumps;
    // The last token read: its WATCH_TOKEN event; none before the first.
    std::optional<std::size_t> token;
};

enum class CompileMotion : unsigned char {
    token,           // to just after the next token read
    routine,         // to the next entry to or exit from a grammar routine
    emit,            // to the next instruction emitted
    end,             // to the last step
    reverse_token,   // back the same ways: to just after the previous one,
    reverse_routine, // or to step 0 when there is none
    reverse_emit,
    start,
};

// How many events a session records; a compile that makes more is
// recorded up to there (a program at the code store's limit makes far
// fewer).
inline constexpr std::size_t COMPILE_EVENT_MAX = std::size_t{1} << 20;

class CompileSession {
  public:
    CompileSession() = default;
    CompileSession(const CompileSession&) = delete;
    CompileSession& operator=(const CompileSession&) = delete;

    // Compiles the source (positions on whatever the options say),
    // recording it, and goes to step 0.
    Compiled open_text(std::string_view source, const CompileOptions& options);

    const Compiled& compiled() const { return compiled_; }
    std::string_view source() const { return source_; }
    const std::vector<WatchEvent>& events() const { return events_; }
    // Whether events were left unrecorded past COMPILE_EVENT_MAX.
    bool truncated() const { return truncated_; }
    // For a WATCH_LOOKUP event: the level of the block being compiled
    // minus the level of the entry found (0 when none was).
    int level_difference(std::size_t event) const;

    std::size_t step() const { return state_.step; }
    std::size_t last_step() const { return events_.size(); }
    const CompileState& state() const { return state_; }
    // The state at any step, the current one left as it is.
    CompileState state_at(std::size_t step) const;

    // Goes to a step (the last one, for a step past it).
    void go_to(std::size_t step);
    // Makes a motion; false, at the end or at step 0, when there was
    // nothing more to go to.
    bool move(CompileMotion motion);

    // The step just after the emission of instruction `index`.
    std::optional<std::size_t> emission_of(int index) const;
    // The first step after `from` whose event registered `name`.
    std::optional<std::size_t> registration_of(std::string_view name, std::size_t from) const;
    // The first step after `from` (or, backwards, the last before it) that
    // reads the first token of a line in `lines`.
    std::optional<std::size_t> line_after(const std::vector<int>& lines, std::size_t from) const;
    std::optional<std::size_t> line_before(const std::vector<int>& lines, std::size_t from) const;

    // The entry the current scope would find for `name`: the newest live
    // one (its index in state().symbols), none when it is not declared.
    std::optional<std::size_t> visible(std::string_view name) const;
    // Where the compile stands at the current step: the place of the last
    // event that has one.
    SourcePos place() const;

  private:
    static void receive(void* context, const WatchEvent& event);
    bool matches(CompileMotion motion, const WatchEvent& event) const;

    std::string source_;
    Compiled compiled_;
    std::vector<WatchEvent> events_;
    std::vector<int> differences_; // per event; lookups only
    bool truncated_ = false;
    CompileState recording_; // while recording: the state so far
    CompileState state_;     // at the current step
};

// Applies one event to a state, moving it one step on.  `difference`
// receives a lookup's level difference.
void apply_event(CompileState& state, const WatchEvent& event, int* difference = nullptr);
