#include "inspect/compile_stepper.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "debug/compile_session.hpp"
#include "driver/place.hpp"
#include "driver/user_file.hpp"
#include "inspect/commands.hpp"

namespace {

struct Stepper {
    CompileSession& session;
    const char* path;
    std::vector<int> breakpoints; // lines, in the order set
    int list_from = 0;            // where the next plain list starts; 0: around here
    bool quit = false;
};

using CommandEntry = Command<Stepper>;

// Line `number` of the source, without its line break; empty past the end.
std::string_view source_line(std::string_view source, int number) {
    std::size_t from = 0;
    for (int line = 1; line < number; ++line) {
        from = source.find('\n', from);
        if (from == std::string_view::npos) return {};
        ++from;
    }
    std::string_view text = source.substr(from);
    text = text.substr(0, text.find('\n'));
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    return text;
}

// The source text from `first` to just before `last`, when both lie on one
// line; empty otherwise.
std::string source_text(std::string_view source, SourcePos first, SourcePos last) {
    if (first.line != last.line || first.column < 1 || last.column <= first.column) return {};
    std::string_view line = source_line(source, first.line);
    auto from = static_cast<std::size_t>(first.column - 1);
    if (from >= line.size()) return {};
    return printable_line(line.substr(from, static_cast<std::size_t>(last.column - first.column)),
                          current_encoding());
}

void print_line(const Stepper& s, int line, int column) {
    std::string shown =
        show_line(source_line(s.session.source(), line), line, column, current_encoding());
    std::fwrite(shown.data(), 1, shown.size(), stdout);
}

const char* lookup_letters(unsigned char lookup) {
    static const char* const letters[LOOKUP_KIND_COUNT] = {"k", "l", "a", "i", "as", "rr"};
    return lookup < LOOKUP_KIND_COUNT ? letters[lookup] : "?";
}

const char* passing_word(SymbolKind kind) {
    return msg(kind == SYM_REF ? MSG_CMP_BY_REF : MSG_CMP_BY_VALUE);
}

// One entry of the symbol table, as info symbols and print show it.
void print_symbol(const CompileSymbol& n) {
    switch (n.kind) {
    case SYM_VAR: std::printf(msg(MSG_CMP_SYMBOL_VAR), n.name.c_str(), n.level, n.offset); break;
    case SYM_REF: std::printf(msg(MSG_CMP_SYMBOL_REF), n.name.c_str(), n.level, n.offset); break;
    case SYM_ARRAY:
        std::printf(msg(MSG_CMP_SYMBOL_ARRAY), n.name.c_str(), n.low, n.high, n.level, n.offset);
        break;
    case SYM_PROC:
    case SYM_FUNC: {
        std::string params;
        for (SymbolKind p : n.params)
            params += std::string(params.empty() ? "" : ", ") + passing_word(p);
        std::string shown;
        if (!params.empty()) {
            shown.resize(params.size() + 64);
            int length =
                std::snprintf(shown.data(), shown.size(), msg(MSG_CMP_PARAMS), params.c_str());
            shown.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        }
        std::printf(msg(n.kind == SYM_PROC ? MSG_CMP_SYMBOL_PROC : MSG_CMP_SYMBOL_FUNC),
                    n.name.c_str(), n.level, n.code_adr, shown.c_str());
        break;
    }
    }
}

// The event that made the current step, and the source line it stands at.
void show_step(const Stepper& s) {
    const CompileSession& session = s.session;
    const std::size_t step = session.step();
    if (step == 0) {
        std::printf("%s", msg(MSG_CMP_AT_START));
        return;
    }
    const WatchEvent& e = session.events()[step - 1];
    const auto token_name = [](unsigned char kind) {
        return kind < TOKEN_KIND_COUNT ? token_names[kind] : "?";
    };
    bool placed = true;
    switch (e.kind) {
    case WATCH_TOKEN: {
        std::string text = e.token == WD_NUM ? std::to_string(e.value)
                                             : source_text(session.source(), e.first, e.last);
        std::printf(msg(MSG_CMP_TOKEN), step, token_name(e.token), text.c_str(), e.first.line,
                    e.first.column);
        break;
    }
    case WATCH_ENTER:
    case WATCH_LEAVE:
        std::printf(msg(e.kind == WATCH_ENTER ? MSG_CMP_ENTER : MSG_CMP_LEAVE), step,
                    e.routine < PARSE_ROUTINE_COUNT ? parse_routine_names[e.routine] : "?",
                    e.first.line, e.first.column, token_name(e.token));
        break;
    case WATCH_SCOPE:
        std::printf(msg(MSG_CMP_SCOPE), step, e.level);
        placed = false;
        break;
    case WATCH_CLOSE:
        std::printf(msg(MSG_CMP_CLOSE), step, e.level, e.entry);
        placed = false;
        break;
    case WATCH_REGIST: {
        std::printf(msg(MSG_CMP_REGIST), step);
        const auto& names = session.state().symbols;
        if (e.entry >= 1 && static_cast<std::size_t>(e.entry) <= names.size())
            print_symbol(names[static_cast<std::size_t>(e.entry - 1)]);
        placed = false;
        break;
    }
    case WATCH_LOOKUP:
        if (e.entry > 0)
            std::printf(msg(MSG_CMP_LOOKUP), step, e.text, lookup_letters(e.lookup), e.entry,
                        session.level_difference(step - 1));
        else
            std::printf(msg(MSG_CMP_LOOKUP_NONE), step, e.text, lookup_letters(e.lookup));
        placed = false;
        break;
    case WATCH_PASSING: {
        const auto& names = session.state().symbols;
        const char* owner = e.entry >= 1 && static_cast<std::size_t>(e.entry) <= names.size()
                                ? names[static_cast<std::size_t>(e.entry - 1)].name.c_str()
                                : "?";
        std::printf(msg(MSG_CMP_PASSING), step, owner, e.position + 1,
                    passing_word(static_cast<SymbolKind>(e.symbol)));
        placed = false;
        break;
    }
    case WATCH_EMIT:
        std::printf(msg(MSG_CMP_EMIT), step, e.index, mnemonic(e.op), e.l, e.a, e.first.line,
                    e.first.column, e.last.line, e.last.column);
        break;
    case WATCH_BACKPATCH:
        std::printf(msg(MSG_CMP_BACKPATCH), step, e.index, e.old_a, e.a);
        placed = false;
        break;
    case WATCH_ERROR: {
        std::printf(msg(MSG_CMP_ERROR), step);
        const std::string& message = session.compiled().message;
        std::fwrite(message.data(), 1, message.size(), stdout);
        break;
    }
    }
    SourcePos at = placed ? e.first : session.place();
    if (at.line > 0) print_line(s, at.line, placed ? at.column : 0);
}

// Makes a motion `count` times and shows where it ended.
void move(Stepper& s, CompileMotion motion, long long count) {
    bool moved = true;
    for (long long i = 0; i < count && moved; ++i)
        moved = s.session.move(motion);
    std::fflush(stdout);
    if ((!moved || motion == CompileMotion::end) && s.session.step() == s.session.last_step())
        std::printf("%s", msg(MSG_CMP_AT_END));
    show_step(s);
    s.list_from = 0;
}

template <CompileMotion motion> void do_motion(Stepper& s, std::string_view args) {
    long long count = 1;
    if (!trimmed(args).empty()) {
        if (!number_argument(args, count, MSG_DBG_BAD_NUMBER)) return;
        if (count < 1) {
            std::printf(msg(MSG_DBG_BAD_NUMBER), std::string(trimmed(args)).c_str());
            return;
        }
    }
    move(s, motion, count);
}

template <bool reverse> void do_until(Stepper& s, std::string_view args) {
    long long index;
    if (trimmed(args).empty()) {
        std::printf("%s", msg(MSG_CMP_UNTIL_WHAT));
        return;
    }
    if (!number_argument(args, index, MSG_DBG_BAD_NUMBER)) return;
    const int code_size = static_cast<int>(s.session.state_at(s.session.last_step()).code.size());
    std::optional<std::size_t> step;
    if (index >= 0 && index < code_size) step = s.session.emission_of(static_cast<int>(index));
    if (!step) {
        if (code_size == 0)
            std::printf("%s", msg(MSG_CMP_NO_INSTRUCTIONS));
        else
            std::printf(msg(MSG_CMP_NO_INSTRUCTION), index, code_size - 1);
        return;
    }
    if (!reverse && *step <= s.session.step()) {
        std::printf(msg(MSG_CMP_ALREADY_EMITTED), index);
        return;
    }
    if (reverse && *step >= s.session.step()) {
        std::printf(msg(MSG_CMP_NOT_YET_EMITTED), index);
        return;
    }
    s.session.go_to(*step);
    show_step(s);
    s.list_from = 0;
}

template <bool reverse> void do_continue(Stepper& s, std::string_view) {
    const std::size_t now = s.session.step();
    std::optional<std::size_t> stop = reverse ? s.session.line_before(s.breakpoints, now)
                                              : s.session.line_after(s.breakpoints, now);
    if (!stop) {
        move(s, reverse ? CompileMotion::start : CompileMotion::end, 1);
        return;
    }
    s.session.go_to(*stop);
    const int line = s.session.events()[*stop - 1].first.line;
    for (std::size_t i = 0; i < s.breakpoints.size(); ++i)
        if (s.breakpoints[i] == line) std::printf(msg(MSG_CMP_AT_BREAKPOINT), int(i) + 1);
    show_step(s);
    s.list_from = 0;
}

void do_break(Stepper& s, std::string_view args) {
    long long line;
    if (trimmed(args).empty()) {
        std::printf("%s", msg(MSG_CMP_BREAK_WHAT));
        return;
    }
    if (!number_argument(args, line, MSG_CMP_BREAK_WHAT)) return;
    if (line < 1 || line > 1'000'000'000 || !s.session.line_after({int(line)}, 0)) {
        std::printf(msg(MSG_CMP_BREAK_NO_LINE), static_cast<int>(line < 1 ? 0 : line));
        return;
    }
    s.breakpoints.push_back(static_cast<int>(line));
    std::printf(msg(MSG_CMP_BREAK_AT), static_cast<int>(s.breakpoints.size()), s.path,
                static_cast<int>(line));
}

void do_delete(Stepper& s, std::string_view) {
    s.breakpoints.clear();
    std::printf("%s", msg(MSG_DBG_DELETED_ALL));
}

void do_backtrace(Stepper& s, std::string_view) {
    const auto& routines = s.session.state().routines;
    if (routines.empty()) std::printf("%s", msg(MSG_CMP_NO_ROUTINES));
    int frame = 0;
    for (std::size_t i = routines.size(); i-- > 0;) {
        const WatchEvent& e = s.session.events()[routines[i]];
        std::printf(msg(MSG_CMP_BACKTRACE), frame++, parse_routine_names[e.routine], e.first.line,
                    e.first.column);
    }
}

void show_symbols(const Stepper& s) {
    const auto& names = s.session.state().symbols;
    if (names.empty()) std::printf("%s", msg(MSG_CMP_NO_SYMBOLS));
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::printf(msg(MSG_CMP_ENTRY), static_cast<int>(i) + 1);
        print_symbol(names[i]);
    }
}

bool is_open(const CompileState& state, int index) {
    for (int j : state.open_jumps)
        if (j == index) return true;
    return false;
}

void show_code(const Stepper& s, bool open_only) {
    const CompileState& state = s.session.state();
    if (open_only && state.open_jumps.empty()) std::printf("%s", msg(MSG_CMP_NO_JUMPS));
    if (!open_only && state.code.empty()) std::printf("%s", msg(MSG_CMP_NO_CODE));
    for (std::size_t i = 0; i < state.code.size(); ++i) {
        const bool open = is_open(state, static_cast<int>(i));
        if (open_only && !open) continue;
        const Instruction& in = state.code[i].instruction;
        std::printf(msg(MSG_CMP_CODE_LINE), static_cast<int>(i), mnemonic(in.op), in.l, in.a,
                    open ? msg(MSG_CMP_OPEN_MARK) : "");
    }
}

void do_info(Stepper& s, std::string_view args) {
    std::string_view what = trimmed(args);
    auto is = [&](const char* full) {
        return !what.empty() && std::string_view(full).substr(0, what.size()) == what;
    };
    if (is("symbols")) {
        show_symbols(s);
    } else if (is("code")) {
        show_code(s, false);
    } else if (is("jumps")) {
        show_code(s, true);
    } else if (is("breakpoints")) {
        if (s.breakpoints.empty()) std::printf("%s", msg(MSG_DBG_NO_BREAKPOINTS));
        for (std::size_t i = 0; i < s.breakpoints.size(); ++i)
            std::printf(msg(MSG_CMP_BREAKPOINT_LINE), static_cast<int>(i) + 1, s.path,
                        s.breakpoints[i]);
    } else {
        std::printf("%s", msg(MSG_CMP_UNKNOWN_INFO));
    }
}

void do_print(Stepper& s, std::string_view args) {
    std::string name(trimmed(args));
    if (name.empty()) {
        std::printf("%s", msg(MSG_CMP_PRINT_WHAT));
        return;
    }
    std::optional<std::size_t> found = s.session.visible(name);
    if (!found) {
        std::printf(msg(MSG_CMP_NOT_VISIBLE), printable_line(name, current_encoding()).c_str());
        return;
    }
    std::printf(msg(MSG_CMP_ENTRY), static_cast<int>(*found) + 1);
    print_symbol(s.session.state().symbols[*found]);
}

void do_list(Stepper& s, std::string_view args) {
    long long line;
    int from;
    if (!trimmed(args).empty()) {
        if (!number_argument(args, line, MSG_DBG_BAD_NUMBER)) return;
        from = static_cast<int>(line < 6 ? 1 : line > 1'000'000'000 ? 1'000'000'000 : line - 5);
    } else if (s.list_from > 0) {
        from = s.list_from;
    } else {
        int current = s.session.place().line;
        from = current < 6 ? 1 : current - 5;
    }
    int lines = 1;
    for (char c : s.session.source())
        if (c == '\n') ++lines;
    if (!s.session.source().empty() && s.session.source().back() == '\n') --lines;
    if (from > lines) {
        std::printf(msg(MSG_DBG_LIST_END), lines);
        return;
    }
    int to = std::min(from + 9, lines);
    for (int l = from; l <= to; ++l)
        print_line(s, l, 0);
    s.list_from = to + 1;
}

void do_help(Stepper&, std::string_view) {
    std::printf("%s", msg(MSG_CMP_HELP));
}

void do_quit(Stepper& s, std::string_view) {
    s.quit = true;
}

const CommandEntry commands[] = {
    {"next", "n", do_motion<CompileMotion::token>, true},
    {"step", "s", do_motion<CompileMotion::routine>, true},
    {"emit", "e", do_motion<CompileMotion::emit>, true},
    {"until", "u", do_until<false>, false},
    {"reverse-next", "rn", do_motion<CompileMotion::reverse_token>, true},
    {"reverse-step", "rs", do_motion<CompileMotion::reverse_routine>, true},
    {"reverse-emit", "re", do_motion<CompileMotion::reverse_emit>, true},
    {"reverse-until", "ru", do_until<true>, false},
    {"break", "b", do_break, false},
    {"delete", "d", do_delete, false},
    {"continue", "c", do_continue<false>, true},
    {"reverse-continue", "rc", do_continue<true>, true},
    {"backtrace", "bt", do_backtrace, true},
    {"info", "i", do_info, true},
    {"print", "p", do_print, true},
    {"list", "l", do_list, true, "list"},
    {"help", "h", do_help, false},
    {"quit", "q", do_quit, false},
};

// As large a source as tsumiki itself reads.
constexpr std::size_t USER_FILE_MAX = std::size_t{64} << 20;

} // namespace

int run_compile_stepper(const char* path) {
    std::string source;
    switch (read_user_file(path, USER_FILE_MAX, source)) {
    case FileRefusal::none: break;
    case FileRefusal::not_regular: std::printf(msg(MSG_I_NOT_REGULAR), path); return 1;
    case FileRefusal::too_large: std::printf(msg(MSG_I_TOO_LARGE), path, USER_FILE_MAX); return 1;
    case FileRefusal::missing:
    case FileRefusal::outside:
    case FileRefusal::unreadable: std::printf(msg(MSG_OPEN_FAILED), path); return 1;
    }
    static CompileSession session;
    CompileOptions options;
    options.encoding = current_encoding();
    options.large_stack = true;
    Compiled compiled = session.open_text(source, options);
    if (compiled.error == ErrorKind::none)
        std::printf(msg(MSG_CMP_START), path, session.last_step(),
                    static_cast<int>(
                        std::count_if(session.events().begin(), session.events().end(),
                                      [](const WatchEvent& e) { return e.kind == WATCH_TOKEN; })),
                    compiled.code_size);
    else
        std::printf(msg(MSG_CMP_START_ERROR), path, session.last_step());
    if (session.truncated()) std::printf(msg(MSG_CMP_TRUNCATED), COMPILE_EVENT_MAX);

    Stepper s{session, path, {}, 0, false};
    run_command_loop(s, CommandLoop<Stepper>{commands});
    return 0;
}
