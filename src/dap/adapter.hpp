// The debug adapter: the requests of the Debug Adapter Protocol answered
// with a debugging session (debug/session.hpp).
//
//   Channel out{write};
//   Adapter adapter(out);
//   adapter.listen(inbox);       // what came while the program runs
//   adapter.handle(request);     // on one thread, in the order they came
//
// The order a client follows: initialize; launch (compiles the program,
// then the "initialized" event); setBreakpoints, setInstructionBreakpoints;
// configurationDone (stops on entry, or runs to the first breakpoint);
// then stops, looks and motions; disconnect.  A request out of that order
// is refused with a message saying what comes first.
//
// While the program runs, the adapter runs it in slices of RUN_SLICE
// instructions and, between two, answers what came meanwhile through its
// inbox, on the same thread: a breakpoint set then is in place for the
// next slice, a pause stops the run there, and a request that needs the
// program stopped (the stack, the variables, a step) is refused.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "dap/channel.hpp"
#include "dap/views.hpp"
#include "debug/session.hpp"
#include "lsp/transport.hpp"

// How many instructions the program runs between two looks at the inbox.
// The session runs some ten to twenty million instructions a second on a
// shared 2 core machine (RelWithDebInfo): a slice takes 2 to 3 ms, about
// what a request waits while the program runs (a median of 5 ms measured,
// asking for the threads every 10 ms), and a look costs a lock and a
// return from the session, once a slice.  A loop of 50 million
// instructions under a client that sends nothing took 2.09 to 2.59 s of
// CPU before the slices and 1.82 to 2.66 s after (three runs each), and
// 2.16 to 2.21 s with the threads asked for every 10 ms: no difference
// beyond the machine's own variation.
inline constexpr std::uint64_t RUN_SLICE = std::uint64_t{1} << 15;

// Where the adapter finds a message that came while the program runs: one
// at a time, without waiting; false when none waits.  FrameStatus::end
// says the input has ended.
using Inbox = std::function<bool(FrameStatus& status, std::string& body)>;

class Adapter {
  public:
    // `motion_budget`, for the fuzz target: every motion stops after that
    // many instructions, as a step does (0: none).
    explicit Adapter(Channel& out, std::uint64_t motion_budget = 0)
        : out_(out), views_(session_), motion_budget_(motion_budget) {}

    // One frame as next_frame() read it: parsed and handled, refused (too
    // deep) or complained of.
    void take(FrameStatus status, const std::string& body);
    void handle(const json& request);
    // A frame that could not be read, or a body that is no request: said
    // on the console, and the conversation goes on.
    void complain(const std::string& what);
    // A message not to be handled: a request is answered with `why` as its
    // failure, anything else complained of.  Safe from any thread.
    void refuse(const json& message, const std::string& why);
    // From now on the program runs in slices, and what `inbox` holds is
    // answered between two.  Without one, a motion runs to its end.
    void listen(Inbox inbox) { inbox_ = std::move(inbox); }
    // After disconnect: the process may end.
    bool done() const { return done_; }
    // The inbox said the input has ended while the program ran.
    bool hung_up() const { return hung_up_; }

    // What a request needs done before it can be handled.
    enum class Needs : unsigned char { nothing, initialize, launch };

    // One request the adapter answers: every command, its handler, what it
    // needs first, whether it needs the program stopped (it is refused
    // while the program runs) and the capability initialize announces for
    // it, in one table (requests()), which handle() dispatches by and
    // initialize() builds its answer from.
    struct Request {
        const char* command;
        void (*handler)(Adapter& adapter, const json& request, const json& arguments);
        Needs needs;
        bool needs_stop;
        const char* capability; // announced as true; nullptr: none of its own
    };
    static std::span<const Request> requests();

  private:
    void initialize(const json& request, const json& arguments);
    void launch(const json& request, const json& arguments);
    void set_breakpoints(const json& request, const json& arguments);
    void set_instruction_breakpoints(const json& request, const json& arguments);
    void set_function_breakpoints(const json& request, const json& arguments);
    void pause(const json& request);
    void configuration_done(const json& request);
    void motion(const json& request, Motion motion);
    void stack_trace(const json& request, const json& arguments);
    void scopes(const json& request, const json& arguments);
    void variables(const json& request, const json& arguments);
    void evaluate(const json& request, const json& arguments);
    void disassemble(const json& request, const json& arguments);
    void disconnect(const json& request, bool terminate);

    // Runs a motion and tells the client where it stopped.
    void run(Motion motion);
    std::uint64_t next_slice(std::uint64_t& left) const;
    void answer_waiting();
    void report(const Stop& stop);
    void end_run(const Stop& stop);
    bool frame_argument(const json& request, const json& arguments, int& frame);
    // The answer for a breakpoint set at an instruction: verified, with its
    // instruction, and its line where the instruction has one.
    json instruction_breakpoint(const Breakpoint& made);
    static bool write_output(void* context, const char* bytes, std::size_t n);

    Channel& out_;
    DebugSession session_;
    Views views_;
    bool initialized_ = false;
    bool launched_ = false;
    bool configured_ = false;
    bool stop_on_entry_ = false;
    bool no_debug_ = false;
    bool terminated_ = false; // the "terminated" event was sent
    bool done_ = false;
    bool lines_from_1_ = true;
    bool columns_from_1_ = true;
    std::uint64_t motion_budget_;
    std::string path_;
    std::vector<int> line_breakpoints_;
    std::vector<int> instruction_breakpoints_;
    std::vector<int> function_breakpoints_;

    Inbox inbox_;
    bool running_ = false;     // answering between two slices of a motion
    bool pause_asked_ = false; // a pause came while it ran: it stops after this slice
    bool hung_up_ = false;
};
