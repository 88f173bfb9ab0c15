// The debug adapter: the requests of the Debug Adapter Protocol answered
// with a debugging session (debug/session.hpp).
//
//   Channel out{write};
//   Adapter adapter(out);
//   adapter.handle(request);     // on one thread, in the order they came
//   adapter.interrupt();         // from any other: stops a motion under way
//
// The order a client follows: initialize; launch (compiles the program,
// then the "initialized" event); setBreakpoints, setInstructionBreakpoints;
// configurationDone (stops on entry, or runs to the first breakpoint);
// then stops, looks and motions; disconnect.  A request out of that order
// is refused with a message saying what comes first.
#pragma once

#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "dap/channel.hpp"
#include "dap/views.hpp"
#include "debug/session.hpp"
#include "lsp/transport.hpp"

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
    // Pause: stops the motion under way, if any, before its next
    // instruction.  Safe from any thread.
    void interrupt();
    // After disconnect: the process may end.
    bool done() const { return done_; }

    // What a request needs done before it can be handled.
    enum class Needs : unsigned char { nothing, initialize, launch };

    // One request the adapter answers: every command, its handler, what it
    // needs first and the capability initialize announces for it, in one
    // table (requests()), which handle() dispatches by and initialize()
    // builds its answer from.
    struct Request {
        const char* command;
        void (*handler)(Adapter& adapter, const json& request, const json& arguments);
        Needs needs;
        const char* capability; // announced as true; nullptr: none of its own
    };
    static std::span<const Request> requests();

  private:
    void initialize(const json& request, const json& arguments);
    void launch(const json& request, const json& arguments);
    void set_breakpoints(const json& request, const json& arguments);
    void set_instruction_breakpoints(const json& request, const json& arguments);
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
    void report(const Stop& stop);
    void end_run(const Stop& stop);
    bool frame_argument(const json& request, const json& arguments, int& frame);
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

    std::mutex motion_mutex_;    // guards the two below
    bool moving_ = false;        // a motion is under way
    bool pending_pause_ = false; // a pause came while none was: the next motion stops at once
};
