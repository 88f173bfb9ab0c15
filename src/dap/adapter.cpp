// The requests and the events of the debug adapter (adapter.hpp).
#include "dap/adapter.hpp"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <stdexcept>

#include "driver/user_file.hpp"

namespace {

constexpr int THREAD_ID = 1;

// The largest program and input file the adapter reads: as large a source
// as tsumiki itself reads.
constexpr std::size_t PROGRAM_BYTES_MAX = std::size_t{64} << 20;
constexpr std::size_t INPUT_BYTES_MAX = std::size_t{64} << 20;

// Line numbers a client may name, either way it counts them.
constexpr long long LINE_MAX_ASKED = 1'000'000'000;

// A number in the arguments that is no whole number in the range the
// request takes: answered as malformed, as the library's own type errors.
struct BadNumber : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A whole number within [low, high]; anything else (a fraction, a string,
// a number out of range) throws BadNumber naming `what`.
long long integer_value(const json& value, const char* what, long long low, long long high) {
    if (value.is_number_unsigned()) {
        auto n = value.get<unsigned long long>();
        if (high >= 0 && n <= static_cast<unsigned long long>(high) &&
            static_cast<long long>(n) >= low)
            return static_cast<long long>(n);
    } else if (value.is_number_integer()) {
        auto n = value.get<long long>();
        if (n >= low && n <= high) return n;
    }
    throw BadNumber(std::string(what) + " is a whole number from " + std::to_string(low) + " to " +
                    std::to_string(high));
}

// The same for a field, `fallback` when it is missing.
long long integer_field(const json& arguments, const char* key, long long fallback, long long low,
                        long long high) {
    auto it = arguments.find(key);
    if (it == arguments.end() || it->is_null()) return fallback;
    return integer_value(*it, key, low, high);
}

// a + b, false when it does not fit.
bool add_checked(long long a, long long b, long long& sum) {
    if ((b > 0 && a > LLONG_MAX - b) || (b < 0 && a < LLONG_MIN - b)) return false;
    sum = a + b;
    return true;
}

// A field of the arguments of a given type; false when it is missing.  One
// of another type throws, and the request is answered as malformed.
bool string_field(const json& arguments, const char* key, std::string& value) {
    auto it = arguments.find(key);
    if (it == arguments.end() || it->is_null()) return false;
    value = it->get<std::string>();
    return true;
}

bool bool_field(const json& arguments, const char* key) {
    auto it = arguments.find(key);
    return it != arguments.end() && !it->is_null() && it->get<bool>();
}

// A number written as text (memory and instruction references).
bool number_text(const std::string& text, long long& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

// A whole number as the lexer takes one (digits, modulo 2^32), with a
// sign, blanks around it.
bool number_literal(const std::string& text, std::int32_t& value) {
    std::size_t i = 0;
    auto blank = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
    };
    blank();
    bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    std::size_t digits = i;
    std::uint32_t n = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        n = n * 10u + static_cast<std::uint32_t>(text[i++] - '0');
    if (i == digits) return false;
    blank();
    if (i != text.size()) return false;
    if (negative) n = 0u - n;
    value = static_cast<std::int32_t>(n); // modular since C++20
    return true;
}

bool same_file(const std::string& a, const std::string& b) {
    std::error_code ea;
    std::error_code eb;
    auto ca = std::filesystem::weakly_canonical(a, ea);
    auto cb = std::filesystem::weakly_canonical(b, eb);
    return ea || eb ? a == b : ca == cb;
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// Messages of the protocol itself (the program's own are Japanese, from the
// message table).
constexpr const char* INITIALIZE_FIRST = "initialize comes first";
constexpr const char* LAUNCH_FIRST = "no program: launch comes first";
constexpr const char* CONFIGURE_FIRST = "configurationDone comes first";

} // namespace

void Adapter::complain(const std::string& what) {
    out_.event("output", json{{"category", "console"}, {"output", "tsumiki-dap: " + what + "\n"}});
}

void Adapter::take(FrameStatus status, const std::string& body) {
    if (status == FrameStatus::bad_header)
        return complain("a header without a valid Content-Length");
    if (status == FrameStatus::too_large)
        return complain("a message longer than the adapter takes");
    if (status != FrameStatus::message) return;
    json message;
    BodyStatus parsed = parse_body(body, message);
    if (parsed == BodyStatus::not_json) return complain("a message that is not JSON");
    if (parsed == BodyStatus::too_deep) return refuse(message, "the message " + too_deep_text());
    handle(message);
}

void Adapter::refuse(const json& message, const std::string& why) {
    if (message.is_object() && message.value("type", json()) == "request")
        out_.fail(message, why);
    else
        complain(why);
}

void Adapter::handle(const json& request) {
    if (!request.is_object() || request.value("type", json()) != "request") {
        complain("a message to the adapter is a request object: {\"type\": \"request\", ...}");
        return;
    }
    std::string command = command_of(request);
    if (command.empty()) {
        out_.fail(request, "a request needs a command");
        return;
    }
    json arguments = json::object();
    if (auto it = request.find("arguments"); it != request.end() && !it->is_null()) {
        if (!it->is_object()) {
            out_.fail(request, "the arguments of a request are an object");
            return;
        }
        arguments = *it;
    }
    try {
        auto kinds = requests();
        auto kind = std::find_if(kinds.begin(), kinds.end(),
                                 [&](const Request& r) { return command == r.command; });
        if (kind == kinds.end()) {
            if (!initialized_) return out_.fail(request, INITIALIZE_FIRST);
            return out_.fail(request, "unknown request: " + command);
        }
        if (kind->needs != Needs::nothing && !initialized_)
            return out_.fail(request, INITIALIZE_FIRST);
        if (kind->needs == Needs::launch && !launched_) return out_.fail(request, LAUNCH_FIRST);
        if (kind->needs_stop && running_) return out_.fail(request, message_text(MSG_D_RUNNING));
        kind->handler(*this, request, arguments);
    } catch (const json::exception& e) {
        out_.fail(request, std::string("malformed arguments: ") + e.what());
    } catch (const BadNumber& e) {
        out_.fail(request, std::string("malformed arguments: ") + e.what());
    }
}

std::span<const Adapter::Request> Adapter::requests() {
    using A = Adapter;
    using J = const json&;
    // A step "by instruction" when the client asks for that granularity.
    static auto by_instruction = [](J arguments) {
        return arguments.value("granularity", json()) == "instruction";
    };
    // Answered while the program runs: what reads only the program, the
    // breakpoints (in place for the next slice), pause, the end.  The rest
    // looks at or moves the stopped machine.
    static const Request table[] = {
        {"initialize", [](A& a, J r, J args) { a.initialize(r, args); }, Needs::nothing, false,
         nullptr},
        {"disconnect", [](A& a, J r, J) { a.disconnect(r, false); }, Needs::nothing, false,
         nullptr},
        {"launch", [](A& a, J r, J args) { a.launch(r, args); }, Needs::initialize, false, nullptr},
        {"threads",
         [](A& a, J r, J) {
             a.out_.respond(r, {{"threads", {{{"id", THREAD_ID}, {"name", "main"}}}}});
         },
         Needs::initialize, false, nullptr},
        {"pause", [](A& a, J r, J) { a.pause(r); }, Needs::initialize, false, nullptr},
        {"terminate", [](A& a, J r, J) { a.disconnect(r, true); }, Needs::initialize, false,
         "supportsTerminateRequest"},
        {"attach",
         [](A& a, J r, J) { a.out_.fail(r, "tsumiki-dap starts the program: use launch"); },
         Needs::initialize, false, nullptr},
        {"setBreakpoints", [](A& a, J r, J args) { a.set_breakpoints(r, args); }, Needs::launch,
         false, nullptr},
        {"setInstructionBreakpoints",
         [](A& a, J r, J args) { a.set_instruction_breakpoints(r, args); }, Needs::launch, false,
         "supportsInstructionBreakpoints"},
        {"setFunctionBreakpoints", [](A& a, J r, J args) { a.set_function_breakpoints(r, args); },
         Needs::launch, false, "supportsFunctionBreakpoints"},
        {"setExceptionBreakpoints",
         [](A& a, J r, J) {
             a.out_.respond(r, {{"breakpoints", json::array()}});
         },
         Needs::launch, false, nullptr},
        {"configurationDone", [](A& a, J r, J) { a.configuration_done(r); }, Needs::launch, false,
         "supportsConfigurationDoneRequest"},
        {"stackTrace", [](A& a, J r, J args) { a.stack_trace(r, args); }, Needs::launch, true,
         nullptr},
        {"scopes", [](A& a, J r, J args) { a.scopes(r, args); }, Needs::launch, true, nullptr},
        {"variables", [](A& a, J r, J args) { a.variables(r, args); }, Needs::launch, true,
         nullptr},
        // While the program runs, only a number.
        {"evaluate", [](A& a, J r, J args) { a.evaluate(r, args); }, Needs::launch, false,
         "supportsEvaluateForHovers"},
        {"disassemble", [](A& a, J r, J args) { a.disassemble(r, args); }, Needs::launch, false,
         "supportsDisassembleRequest"},
        // The motions.
        {"continue", [](A& a, J r, J) { a.motion(r, Motion::cont); }, Needs::launch, true, nullptr},
        {"next",
         [](A& a, J r, J args) {
             a.motion(r, by_instruction(args) ? Motion::stepi : Motion::next);
         },
         Needs::launch, true, "supportsSteppingGranularity"},
        {"stepIn",
         [](A& a, J r, J args) {
             a.motion(r, by_instruction(args) ? Motion::stepi : Motion::step);
         },
         Needs::launch, true, nullptr},
        {"stepOut", [](A& a, J r, J) { a.motion(r, Motion::finish); }, Needs::launch, true,
         nullptr},
        {"stepBack",
         [](A& a, J r, J args) {
             a.motion(r, by_instruction(args) ? Motion::reverse_stepi : Motion::reverse_next);
         },
         Needs::launch, true, "supportsStepBack"},
        {"reverseContinue", [](A& a, J r, J) { a.motion(r, Motion::reverse_continue); },
         Needs::launch, true, nullptr},
    };
    return table;
}

void Adapter::initialize(const json& request, const json& arguments) {
    if (initialized_) return out_.fail(request, "initialize was sent twice");
    initialized_ = true;
    bool lines_from_1 = arguments.value("linesStartAt1", json(true)) != json(false);
    bool columns_from_1 = arguments.value("columnsStartAt1", json(true)) != json(false);
    views_.set_origin(lines_from_1, columns_from_1, "");
    // What the table's requests announce; restart is not one of them, and
    // no exception breakpoints are offered.
    json capabilities{{"supportsRestartRequest", false},
                      {"exceptionBreakpointFilters", json::array()}};
    for (const Request& r : requests())
        if (r.capability != nullptr) capabilities[r.capability] = true;
    out_.respond(request, capabilities);
    lines_from_1_ = lines_from_1;
    columns_from_1_ = columns_from_1;
}

void Adapter::launch(const json& request, const json& arguments) {
    if (launched_) return out_.fail(request, "a program is already launched");
    std::string path;
    if (!string_field(arguments, "program", path) || path.empty())
        return out_.fail(request, "launch needs \"program\": the path of a source file");
    SessionOptions options;
    options.encoding = Encoding::utf8;
    std::string input_file;
    bool has_input = string_field(arguments, "input", options.input);
    if (string_field(arguments, "inputFile", input_file)) {
        if (has_input) return out_.fail(request, "give \"input\" or \"inputFile\", not both");
        FileRefusal refusal = read_user_file(input_file, INPUT_BYTES_MAX, options.input);
        if (refusal != FileRefusal::none)
            return out_.fail(request, "the input file " + input_file + " " +
                                          refusal_text(refusal, INPUT_BYTES_MAX));
    }
    stop_on_entry_ = bool_field(arguments, "stopOnEntry");
    no_debug_ = bool_field(arguments, "noDebug");
    options.check = bool_field(arguments, "check");
    options.output = Writer{write_output, this};
    // Read once, and only a regular file: a FIFO would wait for ever.
    std::string source;
    FileRefusal refusal = read_user_file(path, PROGRAM_BYTES_MAX, source);
    if (refusal != FileRefusal::none)
        return out_.fail(request,
                         "the program " + path + " " + refusal_text(refusal, PROGRAM_BYTES_MAX));
    Compiled compiled = session_.open_text(source, options);
    if (compiled.error != ErrorKind::none) {
        std::string where;
        if (compiled.where.line > 0)
            where = path + ":" + std::to_string(compiled.where.line) + ":" +
                    std::to_string(compiled.where.column) + ": ";
        return out_.fail(request, where + trimmed(compiled.message));
    }
    if (!session_.is_open()) return out_.fail(request, "the program compiled to no instructions");
    launched_ = true;
    // The frames name their source by an absolute path, which an editor
    // opens whatever its own folder.
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    path_ = error ? path : absolute.lexically_normal().string();
    views_.set_origin(lines_from_1_, columns_from_1_, path_);
    out_.respond(request);
    out_.event("initialized");
}

void Adapter::set_breakpoints(const json& request, const json& arguments) {
    std::string path;
    const json source = arguments.value("source", json::object());
    bool ours =
        !source.is_object() || !string_field(source, "path", path) || same_file(path, path_);
    for (int number : line_breakpoints_)
        session_.delete_breakpoint(number);
    line_breakpoints_.clear();
    std::vector<int> lines;
    if (auto it = arguments.find("breakpoints"); it != arguments.end() && !it->is_null()) {
        for (const json& bp : *it)
            lines.push_back(
                static_cast<int>(integer_value(bp.at("line"), "line", 0, LINE_MAX_ASKED)));
    } else if (auto at = arguments.find("lines"); at != arguments.end() && !at->is_null()) {
        for (const json& line : *at)
            lines.push_back(static_cast<int>(integer_value(line, "line", 0, LINE_MAX_ASKED)));
    }
    json list = json::array();
    for (int line : lines) {
        std::optional<Breakpoint> made;
        if (ours && !no_debug_) made = session_.break_at_line(views_.line_in(line));
        if (!made) {
            list.push_back(
                json{{"verified", false},
                     {"line", line},
                     {"message", !ours       ? "not the program being debugged"
                                 : no_debug_ ? "the program runs without debugging"
                                             : "no statement starts on this line or after it"}});
            continue;
        }
        line_breakpoints_.push_back(made->number);
        list.push_back(json{{"id", made->number},
                            {"verified", true},
                            {"line", views_.line_out(made->line)},
                            {"source", views_.source()},
                            {"instructionReference", std::to_string(made->pc)}});
    }
    out_.respond(request, json{{"breakpoints", std::move(list)}});
}

json Adapter::instruction_breakpoint(const Breakpoint& made) {
    json entry{
        {"id", made.number}, {"verified", true}, {"instructionReference", std::to_string(made.pc)}};
    Place place = session_.place(made.pc);
    if (place.pos.line > 0) {
        entry["line"] = views_.line_out(place.pos.line);
        entry["source"] = views_.source();
    }
    return entry;
}

void Adapter::set_instruction_breakpoints(const json& request, const json& arguments) {
    for (int number : instruction_breakpoints_)
        session_.delete_breakpoint(number);
    instruction_breakpoints_.clear();
    json list = json::array();
    for (const json& bp : arguments.at("breakpoints")) {
        std::string reference = bp.at("instructionReference").get<std::string>();
        long long pc = 0;
        long long offset = integer_field(bp, "offset", 0, LLONG_MIN, LLONG_MAX);
        std::optional<Breakpoint> made;
        bool number = number_text(reference, pc);
        long long at = 0;
        bool fits = number && add_checked(pc, offset, at);
        if (fits && !no_debug_ && at >= 0 && at <= INT32_MAX)
            made = session_.break_at_instruction(static_cast<std::int32_t>(at));
        if (!made) {
            std::string what =
                !number ? "an instruction reference is its number"
                : fits  ? "no instruction " + std::to_string(at)
                        : "no instruction " + reference + " + (" + std::to_string(offset) + ")";
            list.push_back(json{{"verified", false}, {"message", what}});
            continue;
        }
        instruction_breakpoints_.push_back(made->number);
        list.push_back(instruction_breakpoint(*made));
    }
    out_.respond(request, json{{"breakpoints", std::move(list)}});
}

// A breakpoint on each named routine's ENT: the first instruction of every
// call, after the jump over the routines it declares.
void Adapter::set_function_breakpoints(const json& request, const json& arguments) {
    for (int number : function_breakpoints_)
        session_.delete_breakpoint(number);
    function_breakpoints_.clear();
    const ProgramMap& map = session_.program();
    json list = json::array();
    for (const json& bp : arguments.at("breakpoints")) {
        std::string name = bp.at("name").get<std::string>();
        std::int32_t entry = -1;
        for (const Declaration& d : map.declarations) {
            if (d.name != name || (d.kind != SYM_PROC && d.kind != SYM_FUNC) || d.code_first < 0 ||
                static_cast<std::size_t>(d.code_first) >= map.code.size())
                continue;
            entry = d.code_first;
            const Instruction& first = map.code[static_cast<std::size_t>(entry)];
            if (first.op == UJP && first.a >= 0 &&
                static_cast<std::size_t>(first.a) < map.code.size())
                entry = first.a;
            break;
        }
        std::optional<Breakpoint> made;
        if (entry >= 0 && !no_debug_) made = session_.break_at_instruction(entry);
        if (!made) {
            list.push_back(json{{"verified", false},
                                {"message", no_debug_ ? "the program runs without debugging"
                                                      : "no procedure or function " + name}});
            continue;
        }
        function_breakpoints_.push_back(made->number);
        list.push_back(instruction_breakpoint(*made));
    }
    out_.respond(request, json{{"breakpoints", std::move(list)}});
}

void Adapter::configuration_done(const json& request) {
    if (configured_) return out_.fail(request, "configurationDone was sent twice");
    configured_ = true;
    out_.respond(request);
    if (stop_on_entry_ && !no_debug_)
        report(Stop{});
    else
        run(Motion::cont);
}

void Adapter::motion(const json& request, Motion motion) {
    if (!configured_) return out_.fail(request, CONFIGURE_FIRST);
    if (terminated_) return out_.fail(request, message_text(MSG_D_ENDED));
    if (motion == Motion::cont)
        out_.respond(request, json{{"allThreadsContinued", true}});
    else
        out_.respond(request);
    run(motion);
}

// The motion, a slice at a time when there is an inbox, answering what
// came between two; a disconnect or a terminate then ends it without a
// stop, as does the end of the input or of the client.
void Adapter::run(Motion motion) {
    views_.clear();
    std::uint64_t left = motion_budget_;
    Stop stop = session_.run(motion, next_slice(left));
    while (stop.reason == StopReason::budget && (motion_budget_ == 0 || left > 0)) {
        answer_waiting();
        if (done_ || terminated_ || hung_up_ || out_.broken()) return;
        // A pause asked for stops the session before its next instruction.
        if (pause_asked_) session_.pause();
        pause_asked_ = false;
        stop = session_.resume(next_slice(left));
    }
    report(stop);
}

// How many instructions the next slice runs (0: as many as the motion
// takes), and what is left of the adapter's own budget after it.
std::uint64_t Adapter::next_slice(std::uint64_t& left) const {
    std::uint64_t slice = inbox_ ? RUN_SLICE : 0;
    if (motion_budget_ == 0) return slice;
    if (slice == 0 || slice > left) slice = left;
    left -= slice;
    return slice;
}

// Answers every message that waits, until a pause or the end.
void Adapter::answer_waiting() {
    running_ = true;
    FrameStatus status = FrameStatus::end;
    std::string body;
    while (!pause_asked_ && !done_ && !terminated_ && inbox_(status, body)) {
        if (status == FrameStatus::end) {
            hung_up_ = true;
            break;
        }
        take(status, body);
    }
    running_ = false;
}

// While the program runs, it stops once the slice under way is done; while
// it is stopped, there is nothing to do.
void Adapter::pause(const json& request) {
    out_.respond(request);
    if (running_) pause_asked_ = true;
}

void Adapter::report(const Stop& stop) {
    if (stop.history_filled) {
        // The same note the terminal debugger prints, in the learner's words.
        char note[256];
        std::snprintf(note, sizeof note, msg_in(MSG_DBG_HISTORY_DROPPED, Encoding::utf8),
                      session_.history().limit >> 20,
                      static_cast<unsigned long long>(stop.dropped));
        out_.event("output", json{{"category", "console"}, {"output", note}});
    }
    json body{{"threadId", THREAD_ID}, {"allThreadsStopped", true}};
    switch (stop.reason) {
    case StopReason::entry: body["reason"] = "entry"; break;
    case StopReason::breakpoint: {
        auto among = [&](const std::vector<int>& numbers) {
            return std::find(numbers.begin(), numbers.end(), stop.breakpoint) != numbers.end();
        };
        body["reason"] = among(instruction_breakpoints_) ? "instruction breakpoint"
                         : among(function_breakpoints_)  ? "function breakpoint"
                                                         : "breakpoint";
        body["hitBreakpointIds"] = json::array({stop.breakpoint});
        break;
    }
    case StopReason::error:
        body["reason"] = "exception";
        body["description"] = "run-time error";
        body["text"] = trimmed(stop.message);
        break;
    case StopReason::paused: body["reason"] = "pause"; break;
    case StopReason::exited: return end_run(stop);
    case StopReason::refused: {
        std::string why = message_text(stop.refusal);
        complain(why);
        body["reason"] = "step";
        body["description"] = why;
        break;
    }
    case StopReason::history_start:
        body["reason"] = "step";
        body["description"] = "the start of the history";
        break;
    case StopReason::check:
        // The checked run stops before the slip, as before an error.
        body["reason"] = "exception";
        body["description"] = "check";
        body["text"] = trimmed(stop.message);
        break;
    case StopReason::budget:
    case StopReason::step: body["reason"] = "step"; break;
    }
    out_.event("stopped", std::move(body));
}

void Adapter::end_run(const Stop& stop) {
    // After a run-time error the run ends as tsumiki ends it, with its message.
    if (stop.exit_status != 0 && !stop.message.empty())
        out_.event("output",
                   json{{"category", "stderr"}, {"output", trimmed(stop.message) + "\n"}});
    // Editors keep the exit status to themselves: say it where the output is.
    char said[256];
    std::snprintf(said, sizeof said, msg_in(MSG_DBG_EXITED, Encoding::utf8), stop.exit_status);
    out_.event("output", json{{"category", "console"}, {"output", std::string(said)}});
    out_.event("exited", json{{"exitCode", stop.exit_status}});
    out_.event("terminated");
    terminated_ = true;
}

bool Adapter::write_output(void* context, const char* bytes, std::size_t n) {
    auto* adapter = static_cast<Adapter*>(context);
    adapter->out_.event("output", json{{"category", "stdout"}, {"output", std::string(bytes, n)}});
    return !adapter->out_.broken();
}

bool Adapter::frame_argument(const json& request, const json& arguments, int& frame) {
    long long asked = integer_field(arguments, "frameId", 0, LLONG_MIN, LLONG_MAX);
    if (asked >= 0 && asked < static_cast<long long>(session_.frames().size())) {
        frame = static_cast<int>(asked);
        return true;
    }
    out_.fail(request, "no frame " + std::to_string(asked) + " (stackTrace lists them)");
    return false;
}

void Adapter::stack_trace(const json& request, const json& arguments) {
    out_.respond(request, views_.stack_trace(arguments));
}

void Adapter::scopes(const json& request, const json& arguments) {
    int frame = 0;
    if (!frame_argument(request, arguments, frame)) return;
    out_.respond(request, views_.scopes(frame));
}

void Adapter::variables(const json& request, const json& arguments) {
    json body;
    if (!views_.variables(integer_value(arguments.at("variablesReference"), "variablesReference",
                                        LLONG_MIN, LLONG_MAX),
                          arguments, body))
        return out_.fail(
            request,
            "no such variables: variables are gone once the program has moved; ask scopes again");
    out_.respond(request, std::move(body));
}

void Adapter::evaluate(const json& request, const json& arguments) {
    std::string expression = arguments.at("expression").get<std::string>();
    // A number is its own value, whether the program runs or not; anything
    // else is looked up in the stopped machine.
    std::int32_t number = 0;
    if (number_literal(expression, number))
        return out_.respond(request, json{{"result", std::to_string(number)},
                                          {"type", "number"},
                                          {"variablesReference", 0}});
    if (running_) return out_.fail(request, message_text(MSG_D_RUNNING));
    int frame = 0;
    if (!frame_argument(request, arguments, frame)) return;
    json body;
    if (!views_.evaluate(expression, frame, body))
        return out_.fail(request, body.get<std::string>());
    out_.respond(request, std::move(body));
}

void Adapter::disassemble(const json& request, const json& arguments) {
    long long first = 0;
    std::string reference = arguments.at("memoryReference").get<std::string>();
    if (!number_text(reference, first))
        return out_.fail(request, "a memory reference is an instruction's number");
    long long offset = integer_field(arguments, "offset", 0, LLONG_MIN, LLONG_MAX);
    long long instruction_offset =
        integer_field(arguments, "instructionOffset", 0, LLONG_MIN, LLONG_MAX);
    long long count =
        integer_value(arguments.at("instructionCount"), "instructionCount", 0, LLONG_MAX);
    if (!add_checked(first, offset, first) || !add_checked(first, instruction_offset, first))
        return out_.fail(request, "no instruction " + reference + " + (" + std::to_string(offset) +
                                      ") + (" + std::to_string(instruction_offset) + ")");
    out_.respond(request, views_.disassemble(first, count));
}

void Adapter::disconnect(const json& request, bool terminate) {
    out_.respond(request);
    if (terminate) {
        if (!terminated_) out_.event("terminated");
        terminated_ = true;
        return;
    }
    done_ = true;
}
