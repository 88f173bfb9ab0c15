#include "inspect/debugger.hpp"

#include <algorithm>
#include <atomic>
#include <climits>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "driver/hints.hpp"
#include "driver/place.hpp"
#include "driver/user_file.hpp"
#include "inspect/commands.hpp"
#include "inspect/debug_show.hpp"

namespace {

// The session Ctrl-C pauses while a motion is under way; none between
// them.  A lock-free atomic, as a signal handler may read it.
std::atomic<DebugSession*> interrupted{nullptr};
static_assert(std::atomic<DebugSession*>::is_always_lock_free);

extern "C" void on_interrupt(int) {
    if (DebugSession* session = interrupted.load(std::memory_order_relaxed)) session->pause();
}

struct Debugger {
    DebugView view;
    int list_from = 0; // where the next plain list starts; 0: around the current line
    bool quit = false;
};

using CommandEntry = Command<Debugger>;

// The count of a step command: 1 when none is given.
bool read_count(std::string_view args, long long& count) {
    count = 1;
    if (trimmed(args).empty()) return true;
    if (!number_argument(args, count, MSG_DBG_BAD_NUMBER)) return false;
    if (count >= 1) return true;
    std::printf(msg(MSG_DBG_BAD_NUMBER), std::string(trimmed(args)).c_str());
    return false;
}

bool running(Debugger& d) {
    if (d.view.started) return true;
    std::printf("%s", msg(MSG_DBG_NOT_STARTED));
    return false;
}

// Whether there is a machine to look at: started and not ended.
bool stopped(Debugger& d) {
    if (!running(d)) return false;
    if (!d.view.session.ended()) return true;
    std::printf("%s", msg(MSG_DBG_ENDED));
    return false;
}

// Makes a motion `count` times, showing only where the last one stopped,
// or the first stop that is not the motion's own.
void move(Debugger& d, Motion motion, long long count) {
    if (!running(d)) return;
    bool instruction = motion == Motion::stepi || motion == Motion::reverse_stepi;
    Stop stop;
    interrupted.store(&d.view.session, std::memory_order_relaxed);
    for (long long i = 0; i < count; ++i) {
        stop = d.view.session.run(motion);
        if (stop.reason != StopReason::step) break;
    }
    interrupted.store(nullptr, std::memory_order_relaxed);
    std::fflush(stdout);
    show_stop(d.view, stop, instruction);
    d.list_from = 0;
}

void restart(Debugger& d) {
    if (d.view.started) std::printf("%s", msg(MSG_DBG_RESTARTING));
    d.view.session.restart();
    d.view.shown = ShownFrame{};
    d.view.started = true;
}

void do_run(Debugger& d, std::string_view) {
    restart(d);
    move(d, Motion::cont, 1);
}

void do_start(Debugger& d, std::string_view) {
    restart(d);
    move(d, Motion::step, 1);
}

void do_continue(Debugger& d, std::string_view) {
    move(d, Motion::cont, 1);
}

void do_finish(Debugger& d, std::string_view) {
    if (!running(d)) return;
    std::vector<Frame> frames = d.view.session.frames();
    if (frames.size() > 1 && !d.view.session.ended()) {
        const auto& decl = d.view.session.program().declarations;
        int routine = frames[0].routine;
        std::printf(msg(MSG_DBG_FINISH_FROM),
                    routine >= 0 ? decl[static_cast<std::size_t>(routine)].name.c_str() : "?");
    }
    move(d, Motion::finish, 1);
}

template <Motion motion> void do_steps(Debugger& d, std::string_view args) {
    long long count;
    if (read_count(args, count)) move(d, motion, count);
}

template <Motion motion> void do_once(Debugger& d, std::string_view args) {
    if (!trimmed(args).empty()) {
        std::printf(msg(MSG_DBG_EXTRA), std::string(trimmed(args)).c_str());
        return;
    }
    move(d, motion, 1);
}

void do_break(Debugger& d, std::string_view args) {
    args = trimmed(args);
    DebugSession& session = d.view.session;
    long long number;
    if (!args.empty() && args.front() == '*') {
        long long last = static_cast<long long>(session.program().code.size()) - 1;
        if (!number_argument(args.substr(1), number, MSG_DBG_BREAK_WHAT)) return;
        if (std::optional<Breakpoint> made =
                number >= 0 && number <= last
                    ? session.break_at_instruction(static_cast<std::int32_t>(number))
                    : std::nullopt) {
            show_breakpoint_made(d.view, *made, 0);
        } else {
            std::printf(msg(MSG_DBG_BREAK_NO_INSTRUCTION), number, last);
        }
        return;
    }
    if (args.empty()) {
        // Where the selected frame stands.
        std::vector<Frame> frames = session.frames();
        if (!d.view.started || d.view.session.ended() ||
            static_cast<std::size_t>(d.view.frame) >= frames.size()) {
            std::printf("%s", msg(MSG_DBG_BREAK_WHAT));
            return;
        }
        if (std::optional<Breakpoint> made =
                session.break_at_instruction(frames[static_cast<std::size_t>(d.view.frame)].pc))
            show_breakpoint_made(d.view, *made, 0);
        return;
    }
    if (!number_argument(args, number, MSG_DBG_BREAK_WHAT)) return;
    if (number < 1 || number > 1'000'000'000) {
        std::printf("%s", msg(MSG_DBG_BREAK_WHAT));
        return;
    }
    if (std::optional<Breakpoint> made = session.break_at_line(static_cast<int>(number)))
        show_breakpoint_made(d.view, *made, static_cast<int>(number));
    else
        std::printf(msg(MSG_DBG_BREAK_NO_LINE), static_cast<int>(number));
}

void do_delete(Debugger& d, std::string_view args) {
    args = trimmed(args);
    if (args.empty()) {
        d.view.session.delete_breakpoints();
        std::printf("%s", msg(MSG_DBG_DELETED_ALL));
        return;
    }
    while (!args.empty()) {
        std::size_t end = args.find_first_of(" \t");
        std::string_view word = args.substr(0, end);
        long long number;
        if (number_argument(word, number, MSG_DBG_BAD_NUMBER) &&
            (number < 1 || number > 1'000'000'000 ||
             !d.view.session.delete_breakpoint(static_cast<int>(number)))) {
            std::printf(msg(MSG_DBG_NO_BREAKPOINT), number);
        }
        args = end == std::string_view::npos ? std::string_view{} : trimmed(args.substr(end));
    }
}

void do_backtrace(Debugger& d, std::string_view) {
    if (stopped(d)) show_backtrace(d.view);
}

// Selects frame `frame` and shows it.
void select_frame(Debugger& d, long long frame) {
    if (!stopped(d)) return;
    long long count = static_cast<long long>(d.view.session.frames().size());
    if (frame < 0 || frame >= count) {
        std::printf(msg(MSG_DBG_NOT_A_FRAME), frame, static_cast<int>(count - 1));
        return;
    }
    d.view.frame = static_cast<int>(frame);
    std::printf("#%d  ", d.view.frame);
    show_frame(d.view, d.view.frame);
    d.list_from = 0;
}

void do_frame(Debugger& d, std::string_view args) {
    long long frame = d.view.frame;
    if (!trimmed(args).empty() && !number_argument(args, frame, MSG_DBG_BAD_NUMBER)) return;
    select_frame(d, frame);
}

template <int direction> void do_up_down(Debugger& d, std::string_view args) {
    long long count;
    if (!read_count(args, count)) return;
    // The frame is never negative: only upwards can the sum overflow.
    long long step = direction * count;
    if (step > 0 && d.view.frame > LLONG_MAX - step) {
        std::printf(msg(MSG_DBG_NUMBER_RANGE), std::string(trimmed(args)).c_str());
        return;
    }
    select_frame(d, d.view.frame + step);
}

void do_print(Debugger& d, std::string_view args) {
    if (trimmed(args).empty()) {
        std::printf("%s", msg(MSG_DBG_PRINT_WHAT));
        return;
    }
    if (stopped(d)) show_value(d.view, trimmed(args));
}

void do_info(Debugger& d, std::string_view args) {
    std::string_view what = trimmed(args);
    auto is = [&](const char* full, std::size_t shortest) {
        return what.size() >= shortest && std::string_view(full).substr(0, what.size()) == what;
    };
    if (is("breakpoints", 1)) {
        show_breakpoints(d.view);
        return;
    }
    bool known = is("locals", 1) || is("args", 1) || is("frame", 1) || is("registers", 1);
    if (!known) {
        std::printf("%s", msg(MSG_DBG_UNKNOWN_INFO));
        return;
    }
    if (!stopped(d)) return;
    if (is("locals", 1)) show_names(d.view, false);
    if (is("args", 1)) show_names(d.view, true);
    if (is("frame", 1)) show_frame_info(d.view);
    if (is("registers", 1)) show_registers(d.view);
}

// x [/COUNT] [CELL|NAME]: cells with what they are; without a place, the
// stack from 0 to t.
void do_x(Debugger& d, std::string_view args) {
    if (!stopped(d)) return;
    args = trimmed(args);
    long long count = -1;
    if (!args.empty() && args.front() == '/') {
        std::size_t end = args.find_first_of(" \t");
        if (!number_argument(args.substr(1, end == std::string_view::npos ? end : end - 1), count,
                             MSG_DBG_X_WHAT))
            return;
        if (count < 1) {
            std::printf("%s", msg(MSG_DBG_X_WHAT));
            return;
        }
        // No more cells than the stack has.
        count = std::min(count, static_cast<long long>(STACK_SIZE));
        args = end == std::string_view::npos ? std::string_view{} : trimmed(args.substr(end));
    }
    long long from = 0;
    if (args.empty()) {
        if (count < 0) count = d.view.session.registers().t + 1;
    } else if (NumberText read = read_number(args, from); read == NumberText::too_large) {
        std::printf(msg(MSG_DBG_NUMBER_RANGE), std::string(args).c_str());
        return;
    } else if (read == NumberText::none) {
        Evaluation e = d.view.session.evaluate(args, d.view.frame);
        if (!e.ok) {
            std::printf(msg(e.error), e.argument.c_str());
            std::fputs("\n", stdout);
            return;
        }
        from = e.element ? e.cell : e.name.cell;
        if (count < 0) {
            const Declaration& decl =
                d.view.session.program().declarations[static_cast<std::size_t>(e.name.declaration)];
            count = !e.element && !e.name.result && decl.kind == SYM_ARRAY ? array_length(decl) : 1;
        }
    }
    if (count < 0) count = 1;
    if (from < 0 || from >= STACK_SIZE) {
        std::printf(msg(MSG_DBG_X_OUTSIDE), from);
        return;
    }
    show_cells(d.view, from, count);
}

void do_list(Debugger& d, std::string_view args) {
    long long line;
    int from;
    if (!trimmed(args).empty()) {
        if (!number_argument(args, line, MSG_DBG_BAD_NUMBER)) return;
        from = static_cast<int>(line < 6 ? 1 : line > 1'000'000'000 ? 1'000'000'000 : line - 5);
    } else if (d.list_from > 0) {
        from = d.list_from;
    } else {
        int current = 1;
        if (d.view.started && !d.view.session.ended()) {
            std::vector<Frame> frames = d.view.session.frames();
            if (static_cast<std::size_t>(d.view.frame) < frames.size())
                current = frames[static_cast<std::size_t>(d.view.frame)].place.pos.line;
        }
        from = current < 6 ? 1 : current - 5;
    }
    d.list_from = show_lines(d.view, from, from + 9) + 1;
}

void do_help(Debugger&, std::string_view) {
    std::printf("%s", msg(MSG_DBG_HELP));
}

void do_quit(Debugger& d, std::string_view) {
    d.quit = true;
}

const CommandEntry commands[] = {
    {"break", "b", do_break, false},
    {"delete", "d", do_delete, false},
    {"run", "r", do_run, false},
    {"start", nullptr, do_start, false},
    {"continue", "c", do_continue, true},
    {"step", "s", do_steps<Motion::step>, true},
    {"next", "n", do_steps<Motion::next>, true},
    {"stepi", "si", do_steps<Motion::stepi>, true},
    {"finish", nullptr, do_finish, true},
    {"reverse-step", "rs", do_steps<Motion::reverse_step>, true},
    {"reverse-next", "rn", do_steps<Motion::reverse_next>, true},
    {"reverse-stepi", "rsi", do_steps<Motion::reverse_stepi>, true},
    {"reverse-finish", nullptr, do_once<Motion::reverse_finish>, true},
    {"reverse-continue", "rc", do_once<Motion::reverse_continue>, true},
    {"backtrace", "bt", do_backtrace, true},
    {"where", nullptr, do_backtrace, true},
    {"frame", "f", do_frame, false},
    {"up", nullptr, do_up_down<1>, true},
    {"down", nullptr, do_up_down<-1>, true},
    {"print", "p", do_print, true},
    {"info", "i", do_info, true},
    {"x", nullptr, do_x, true},
    {"list", "l", do_list, true, "list"},
    {"help", "h", do_help, false},
    {"quit", "q", do_quit, false},
};

// The largest program and input file the debugger reads: as large a
// source as tsumiki itself reads.
constexpr std::size_t USER_FILE_MAX = std::size_t{64} << 20;

// Reads a file the user named, once; false with the reason said when it is
// no regular file of at most USER_FILE_MAX bytes.
bool read_named_file(const char* path, std::string& text) {
    FileRefusal refusal = read_user_file(path, USER_FILE_MAX, text);
    switch (refusal) {
    case FileRefusal::none: return true;
    case FileRefusal::not_regular: std::printf(msg(MSG_I_NOT_REGULAR), path); return false;
    case FileRefusal::too_large:
        std::printf(msg(MSG_I_TOO_LARGE), path, USER_FILE_MAX);
        return false;
    case FileRefusal::missing:
    case FileRefusal::outside:
    case FileRefusal::unreadable: break;
    }
    std::printf(msg(MSG_OPEN_FAILED), path);
    return false;
}

} // namespace

int run_debugger(const char* path, const char* input_path, bool check) {
    SessionOptions options;
    options.check = check;
    options.encoding = current_encoding();
    options.output = program_output_writer();
    options.large_stack = true;
    if (input_path != nullptr && !read_named_file(input_path, options.input)) return 1;
    std::string source;
    if (!read_named_file(path, source)) return 1;
    static DebugSession session;
    Compiled compiled = session.open_text(source, options);
    if (compiled.error != ErrorKind::none) {
        std::fwrite(compiled.message.data(), 1, compiled.message.size(), stdout);
        std::string out =
            show_place(path, compiled.where, MSG_I_POSITION, source, current_encoding());
        out += hint_for(source, compiled.error, compiled.error_text, compiled.where,
                        current_encoding());
        std::fwrite(out.data(), 1, out.size(), stdout);
        return 1;
    }

    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);

    Debugger d{DebugView{session, path, false, 0, ShownFrame{}}};
    CommandLoop<Debugger> loop{commands, "/"};
    loop.before = [](Debugger& d) { d.view.session.forget_pause(); };
    loop.after = [](Debugger&) { begin_own_text(); };
    run_command_loop(d, loop);
    return 0;
}
