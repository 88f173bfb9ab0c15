#include "inspect/debug_show.hpp"

#include <cstdio>
#include <string>
#include <string_view>

#include "driver/place.hpp"
#include "vm/code.hpp"
#include "vm/frame.hpp"

namespace {

bool output_ended_line = true;

// Prints line `number` of the source, `line`, with the caret under
// `column` when it is above 0.
void print_source_line(std::string_view line, int number, int column) {
    std::string shown = show_line(line, number, column, current_encoding());
    std::fwrite(shown.data(), 1, shown.size(), stdout);
}

bool write_program_output(void*, const char* bytes, std::size_t n) {
    if (n == 0) return true;
    bool ok = std::fwrite(bytes, 1, n, stdout) == n;
    output_ended_line = bytes[n - 1] == '\n';
    return ok && std::fflush(stdout) == 0;
}

const char* file_name(const DebugView& view) {
    return view.path;
}

std::string name_of(const DebugView& view, int declaration) {
    const auto& d = view.session.program().declarations;
    if (declaration < 0 || static_cast<std::size_t>(declaration) >= d.size()) return "?";
    return d[static_cast<std::size_t>(declaration)].name;
}

const Declaration& declared(const DebugView& view, int declaration) {
    return view.session.program().declarations[static_cast<std::size_t>(declaration)];
}

// A text of the message table with its arguments filled in; one without
// arguments is taken as it is (it has no conversions).
std::string format(Msg text, auto... args) {
    if constexpr (sizeof...(args) == 0) {
        return msg(text);
    } else {
        char small[512];
        int n = std::snprintf(small, sizeof small, msg(text), args...);
        if (n < 0) return "";
        if (static_cast<std::size_t>(n) < sizeof small) return small;
        std::string big(static_cast<std::size_t>(n) + 1, '\0');
        std::snprintf(big.data(), big.size(), msg(text), args...);
        big.resize(static_cast<std::size_t>(n));
        return big;
    }
}

std::string frame_name(const DebugView& view, const std::vector<Frame>& frames, int frame) {
    return name_of(view, frames[static_cast<std::size_t>(frame)].routine);
}

// What a cell is, in words.
std::string label_text(const DebugView& view, const std::vector<Frame>& frames,
                       const CellLabel& l) {
    auto routine = [&] {
        return l.frame >= 0 ? frame_name(view, frames, l.frame) : std::string("?");
    };
    switch (l.role) {
    case CellRole::static_link: return format(MSG_DBG_LABEL_STATIC, l.frame, routine().c_str());
    case CellRole::dynamic_link: return format(MSG_DBG_LABEL_DYNAMIC, l.frame, routine().c_str());
    case CellRole::return_address: return format(MSG_DBG_LABEL_RETURN, l.frame, routine().c_str());
    case CellRole::result:
        return format(MSG_DBG_LABEL_RESULT, name_of(view, l.declaration).c_str(), l.frame);
    case CellRole::variable:
        return format(MSG_DBG_LABEL_VARIABLE, name_of(view, l.declaration).c_str(), l.frame,
                      routine().c_str());
    case CellRole::element:
        return format(MSG_DBG_LABEL_ELEMENT, name_of(view, l.declaration).c_str(), l.index, l.frame,
                      routine().c_str());
    case CellRole::temporary:
        return l.frame >= 0 ? format(MSG_DBG_LABEL_TEMPORARY) : format(MSG_DBG_LABEL_FRAMELESS);
    case CellRole::unused: return format(MSG_DBG_LABEL_UNUSED);
    }
    return "";
}

// The most elements of an array that are shown, as gdb shows them.
constexpr std::int64_t ELEMENTS_SHOWN = 200;

// A name's value, and a note on it (a var parameter's target, a function's
// result, a name hidden by a nearer one).
std::string value_text(const DebugView& view, const std::vector<Frame>& frames, const NameValue& v,
                       std::string& note) {
    const Declaration& d = declared(view, v.declaration);
    std::string outside = format(MSG_DBG_OUTSIDE_STACK);
    note.clear();
    if (v.result) {
        note = format(MSG_DBG_RESULT, d.name.c_str());
    } else if (d.kind == SYM_REF && v.in_stack) {
        note = v.target_in_stack
                   ? format(MSG_DBG_VAR_TARGET, v.value, label_text(view, frames, v.target).c_str())
                   : format(MSG_DBG_VAR_WILD, v.value);
    }
    if (v.shadowed) note += (note.empty() ? "" : ", ") + format(MSG_DBG_SHADOWED);
    if (!v.result && d.kind == SYM_ARRAY) {
        std::string text = "{";
        std::int64_t length = array_length(d);
        for (std::int64_t k = 0; k < length && k < ELEMENTS_SHOWN; ++k) {
            std::int32_t value = 0;
            if (k > 0) text += ", ";
            text += element_value(v, d, d.low + k, value) ? std::to_string(value) : "?";
        }
        if (length > ELEMENTS_SHOWN) text += "...";
        return text + "}";
    }
    if (!v.in_stack) return outside;
    if (!v.result && d.kind == SYM_REF)
        return v.target_in_stack ? std::to_string(v.target_value) : outside;
    return std::to_string(v.value);
}

void print_name(const DebugView& view, const std::vector<Frame>& frames, const NameValue& v) {
    std::string note;
    std::string value = value_text(view, frames, v, note);
    std::string name = name_of(view, v.declaration);
    if (note.empty())
        std::printf(msg(MSG_DBG_NAME_VALUE), name.c_str(), value.c_str());
    else
        std::printf(msg(MSG_DBG_NAME_VALUE_NOTE), name.c_str(), value.c_str(), note.c_str());
}

// "k=1, v=@3: 5": the parameters' values, as a backtrace shows them.
std::string arguments(const DebugView& view, const std::vector<Frame>& frames, int frame) {
    std::string text;
    std::vector<Scope> scopes = frame_scopes(view.session.program(), frames, frame);
    if (scopes.empty()) return text;
    for (const NameValue& v : scopes.front().names) {
        const Declaration& d = declared(view, v.declaration);
        if (v.result || !d.parameter) continue;
        if (!text.empty()) text += ", ";
        text += d.name + "=";
        if (!v.in_stack) {
            text += "?";
        } else if (d.kind == SYM_REF) {
            // Appended piece by piece: a literal put before a temporary
            // string trips g++ 12's -Wrestrict at -O3 (a false alarm).
            text += "@";
            text += std::to_string(v.value);
            text += ": ";
            text += v.target_in_stack ? std::to_string(v.target_value) : "?";
        } else {
            text += std::to_string(v.value);
        }
    }
    return text;
}

// The source line of an instruction, with a caret under its statement when
// the statement does not start the line.
void show_line_of(const DebugView& view, std::int32_t pc) {
    Place place = view.session.place(pc);
    int line = place.pos.line;
    int column = 0;
    const ProgramMap& map = view.session.program();
    if (place.statement >= 0) {
        const StatementSpan& st = map.statements[static_cast<std::size_t>(place.statement)];
        line = st.begin.line;
        std::string_view text = source_line(map, line);
        std::size_t first = text.find_first_not_of(" \t");
        if (first != std::string_view::npos && static_cast<int>(first) + 1 != st.begin.column)
            column = st.begin.column;
    }
    if (line <= 0) return;
    print_source_line(source_line(map, line), line, column);
}

// The source an instruction computes, marked under its lines; false, with
// nothing shown, when the instruction has no range.
bool show_range_of(const DebugView& view, std::int32_t pc) {
    const SourceRange range = view.session.place(pc).range;
    if (range.first.line <= 0) return false;
    std::string shown = show_range(view.session.program().source, range, current_encoding());
    if (shown.empty()) return false;
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    return true;
}

void show_instruction(const DebugView& view, std::int32_t pc) {
    const auto& code = view.session.program().code;
    if (pc < 0 || static_cast<std::size_t>(pc) >= code.size()) return;
    const Instruction& in = code[static_cast<std::size_t>(pc)];
    std::printf(msg(MSG_DBG_INSTRUCTION), pc, mnemonic(in.op), in.l, in.a);
}

ShownFrame frame_seen(const std::vector<Frame>& frames) {
    ShownFrame seen;
    if (frames.empty()) return seen;
    seen.routine = frames[0].routine;
    seen.base = frames[0].base;
    seen.depth = frames.size();
    return seen;
}

} // namespace

Writer program_output_writer() {
    return Writer{write_program_output, nullptr};
}

void begin_own_text() {
    if (!output_ended_line) std::fputs("\n", stdout);
    output_ended_line = true;
}

void show_frame(DebugView& view, int frame) {
    std::vector<Frame> frames = view.session.frames();
    if (frame < 0 || static_cast<std::size_t>(frame) >= frames.size()) return;
    const Frame& f = frames[static_cast<std::size_t>(frame)];
    std::printf(msg(MSG_DBG_FRAME), frame_name(view, frames, frame).c_str(),
                arguments(view, frames, frame).c_str(), file_name(view), f.place.pos.line);
    show_line_of(view, f.pc);
}

void show_stop(DebugView& view, const Stop& stop, bool instruction_motion) {
    begin_own_text();
    std::vector<Frame> frames = view.session.frames();
    ShownFrame now = frame_seen(frames);
    bool moved_frame = now.routine != view.shown.routine || now.base != view.shown.base ||
                       now.depth != view.shown.depth;
    view.frame = 0;
    if (stop.history_filled)
        std::printf(msg(MSG_DBG_HISTORY_DROPPED), view.session.history().limit >> 20,
                    static_cast<unsigned long long>(stop.dropped));
    const ProgramMap& map = view.session.program();
    bool at_statement = stop.pc >= 0 && static_cast<std::size_t>(stop.pc) < map.code.size() &&
                        map.starts_statement[static_cast<std::size_t>(stop.pc)];
    switch (stop.reason) {
    case StopReason::refused: std::printf(msg(MSG_DBG_REFUSED), msg(stop.refusal)); return;
    case StopReason::exited:
        std::fputs(stop.message.c_str(), stdout);
        std::printf(msg(MSG_DBG_EXITED), stop.exit_status);
        view.shown = ShownFrame{};
        return;
    case StopReason::error: {
        std::fputs(stop.message.c_str(), stdout);
        Place place = view.session.place(stop.error_pc);
        std::printf(msg(MSG_DBG_ERROR_PLACE), file_name(view), place.pos.line, place.pos.column);
        print_source_line(source_line(map, place.pos.line), place.pos.line, place.pos.column);
        show_instruction(view, stop.pc);
        view.shown = now;
        return;
    }
    case StopReason::breakpoint:
        std::printf(msg(MSG_DBG_AT_BREAKPOINT), stop.breakpoint);
        moved_frame = true;
        break;
    case StopReason::paused: std::printf("%s", msg(MSG_DBG_PAUSED)); break;
    case StopReason::history_start: std::printf("%s", msg(MSG_DBG_HISTORY_START)); break;
    case StopReason::check:
        if (stop.where.line > 0) {
            // The checked run: its message, and what it points at.
            std::fputs(stop.message.c_str(), stdout);
            std::printf(msg(MSG_I_CHECK_POSITION), file_name(view), stop.where.line,
                        stop.where.column);
            print_source_line(source_line(map, stop.where.line), stop.where.line,
                              stop.where.column);
            show_instruction(view, stop.pc);
            view.shown = now;
            return;
        }
        std::printf(msg(MSG_DBG_CHECK_STOP), stop.message.c_str());
        break;
    case StopReason::entry:
    case StopReason::step:
    case StopReason::budget: break;
    }
    if (stop.returned) std::printf(msg(MSG_DBG_RETURNED), stop.value);
    if (moved_frame && !frames.empty()) {
        const Frame& f = frames[0];
        std::printf(msg(MSG_DBG_FRAME), frame_name(view, frames, 0).c_str(),
                    arguments(view, frames, 0).c_str(), file_name(view), f.place.pos.line);
    }
    // A step by instruction shows what the instruction computes.
    if (!instruction_motion || !show_range_of(view, stop.pc)) show_line_of(view, stop.pc);
    if (instruction_motion || !at_statement) show_instruction(view, stop.pc);
    view.shown = now;
}

void show_backtrace(const DebugView& view) {
    std::vector<Frame> frames = view.session.frames();
    for (std::size_t k = 0; k < frames.size(); ++k) {
        const Frame& f = frames[k];
        int frame = static_cast<int>(k);
        std::printf(msg(MSG_DBG_BACKTRACE), frame, frame_name(view, frames, frame).c_str(),
                    arguments(view, frames, frame).c_str(), file_name(view), f.place.pos.line,
                    f.base);
    }
    if (!frames.empty() && frames.back().base != 0)
        std::printf("%s", msg(MSG_DBG_BACKTRACE_BROKEN));
}

void show_names(const DebugView& view, bool arguments_only) {
    std::vector<Frame> frames = view.session.frames();
    std::vector<Scope> scopes = frame_scopes(view.session.program(), frames, view.frame);
    bool any = false;
    for (const Scope& scope : scopes) {
        if (arguments_only && scope.enclosing) break;
        bool heading = false;
        for (const NameValue& v : scope.names) {
            const Declaration& d = declared(view, v.declaration);
            if (arguments_only && (v.result || !d.parameter)) continue;
            if (scope.enclosing && !heading) {
                std::string routine = name_of(view, scope.routine);
                if (scope.base >= 0)
                    std::printf(msg(MSG_DBG_ENCLOSING), routine.c_str(),
                                static_cast<int>(scope.base));
                else
                    std::printf(msg(MSG_DBG_ENCLOSING_LOST), routine.c_str());
                heading = true;
            }
            print_name(view, frames, v);
            any = true;
        }
    }
    if (!any) std::printf("%s", msg(MSG_DBG_NO_NAMES));
}

void show_frame_info(const DebugView& view) {
    std::vector<Frame> frames = view.session.frames();
    if (static_cast<std::size_t>(view.frame) >= frames.size()) return;
    const Frame& f = frames[static_cast<std::size_t>(view.frame)];
    std::printf(msg(MSG_DBG_FRAME_INFO), view.frame, frame_name(view, frames, view.frame).c_str(),
                f.base);
    std::printf(msg(MSG_DBG_FRAME_AT), file_name(view), f.place.pos.line, f.pc);
    if (f.base == 0) {
        std::printf("%s", msg(MSG_DBG_FRAME_MAIN));
        return;
    }
    auto points = [&](int to) {
        return to >= 0 ? format(MSG_DBG_FRAME_POINTS, to, frame_name(view, frames, to).c_str())
                       : format(MSG_DBG_FRAME_NOWHERE);
    };
    std::printf(msg(MSG_DBG_FRAME_CELL), msg(MSG_DBG_FRAME_STATIC), f.base + FRAME_STATIC_LINK,
                f.static_link, points(f.static_frame).c_str());
    int caller = static_cast<std::size_t>(view.frame) + 1 < frames.size() &&
                         frames[static_cast<std::size_t>(view.frame) + 1].base == f.dynamic_link
                     ? view.frame + 1
                     : -1;
    std::printf(msg(MSG_DBG_FRAME_CELL), msg(MSG_DBG_FRAME_DYNAMIC), f.base + FRAME_DYNAMIC_LINK,
                f.dynamic_link, points(caller).c_str());
    std::string to;
    Place back = view.session.place(f.return_address);
    if (back.pos.line > 0)
        to = format(MSG_DBG_FRAME_RETURNS_TO, f.return_address, file_name(view), back.pos.line);
    std::printf(msg(MSG_DBG_FRAME_CELL), msg(MSG_DBG_FRAME_RETURN), f.base + FRAME_RETURN_ADDRESS,
                f.return_address, to.c_str());
}

void show_registers(const DebugView& view) {
    Registers r = view.session.registers();
    std::printf(msg(MSG_DBG_REGISTERS), r.p, r.b, r.t);
}

void show_cells(const DebugView& view, std::int64_t from, std::int64_t count) {
    std::vector<Frame> frames = view.session.frames();
    const ProgramMap& map = view.session.program();
    for (std::int64_t c = from; c < from + count && c < STACK_SIZE; ++c) {
        CellLabel l = label_cell(map, frames, c);
        std::printf(msg(MSG_DBG_CELL), 3, static_cast<int>(c),
                    view.session.cell(static_cast<std::int32_t>(c)),
                    label_text(view, frames, l).c_str());
    }
}

void show_value(const DebugView& view, std::string_view text) {
    Evaluation e = view.session.evaluate(text, view.frame);
    if (!e.ok) {
        std::printf(msg(e.error), e.argument.c_str());
        std::fputs("\n", stdout);
        return;
    }
    std::vector<Frame> frames = view.session.frames();
    if (!e.element) {
        print_name(view, frames, e.name);
        return;
    }
    const Declaration& d = declared(view, e.name.declaration);
    std::string name = d.name + "[" + std::to_string(e.index) + "]";
    std::string value = e.in_stack ? std::to_string(e.value) : format(MSG_DBG_OUTSIDE_STACK);
    if (e.in_bounds) {
        std::printf(msg(MSG_DBG_NAME_VALUE), name.c_str(), value.c_str());
        return;
    }
    std::string where =
        e.in_stack
            ? "s[" + std::to_string(e.cell) + "]: " +
                  label_text(view, frames, label_cell(view.session.program(), frames, e.cell))
            : format(MSG_DBG_OUTSIDE_STACK);
    std::string note = format(MSG_DBG_OUT_OF_BOUNDS, d.low, d.high, where.c_str());
    std::printf(msg(MSG_DBG_NAME_VALUE_NOTE), name.c_str(), value.c_str(), note.c_str());
}

int show_lines(const DebugView& view, int from, int to) {
    const ProgramMap& map = view.session.program();
    int last = static_cast<int>(map.lines.size());
    // A final line break leaves an empty last line, which is no line.
    if (last > 0 && map.lines.back().empty()) --last;
    if (from < 1) from = 1;
    if (to > last) to = last;
    if (from > last) {
        std::printf(msg(MSG_DBG_LIST_END), last);
        return last;
    }
    int current = 0;
    if (view.started && !view.session.ended()) {
        std::vector<Frame> frames = view.session.frames();
        if (static_cast<std::size_t>(view.frame) < frames.size())
            current = frames[static_cast<std::size_t>(view.frame)].place.pos.line;
    }
    for (int line = from; line <= to; ++line)
        std::printf(msg(MSG_DBG_LIST_LINE), line == current ? "=>" : "  ", line_number_width(to),
                    line, printable_line(source_line(map, line), current_encoding()).c_str());
    return to;
}

void show_breakpoint_made(const DebugView& view, const Breakpoint& made, int asked_line) {
    if (asked_line > 0 && made.line != asked_line)
        std::printf(msg(MSG_DBG_BREAK_MOVED), asked_line);
    int line = made.line > 0 ? made.line : view.session.place(made.pc).pos.line;
    std::printf(msg(MSG_DBG_BREAK_AT), made.number, file_name(view), line, made.pc);
}

void show_breakpoints(const DebugView& view) {
    const std::vector<Breakpoint>& all = view.session.breakpoints();
    if (all.empty()) {
        std::printf("%s", msg(MSG_DBG_NO_BREAKPOINTS));
        return;
    }
    std::printf("%s", msg(MSG_DBG_BREAKPOINT_HEADING));
    for (const Breakpoint& bp : all) {
        int line = bp.line > 0 ? bp.line : view.session.place(bp.pc).pos.line;
        std::printf(msg(MSG_DBG_BREAKPOINT_LINE), bp.number, file_name(view), line, bp.pc,
                    static_cast<unsigned long long>(bp.hits));
    }
}
