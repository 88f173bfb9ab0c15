// The playground's Compile view: one compile session (debug/compile_session.hpp)
// driven by the page's worker (compiler.js).  The compile is recorded once,
// when the view opens; after that each call rebuilds the state at one step
// from the record, here in the module, and answers with that state alone
// as a JSON text (json.hpp), valid until the next call.  The page thus
// never holds the whole record, only what it draws: a state costs the
// events up to its step (a few thousand for the examples), well under a
// millisecond.
//
//   tsu_cv_open(source, n)   compiles and records; {"error", "message", "line", "column",
//                            "last", "truncated"}
//   tsu_cv_go(step)          to a step (the last one, for a step past it); the state
//   tsu_cv_move(motion)      a motion (the order of CompileMotion); the state
//
// The state at a step:
//   {"step", "last", "moved",
//    "event": {"kind", ...} or null at step 0: what the step did (below),
//    "token": [line, column, endLine, endColumn] the last token read, or null,
//    "construct": [line, column] where the innermost routine under way was entered, or null,
//    "routines": [[name, line, column, step], ...] innermost first; step: its entry's,
//    "scopes": [level, ...] outermost first,
//    "symbols": [[name, kind, level, offset, address, low, high, params, step], ...]
//               oldest first; kind in the compiler's words ("variable", "array",
//               "var parameter", "procedure", "function"); params: "v" or "r" per
//               parameter; step: the one that registered the entry,
//    "code": [[mnemonic, l, a, line, column, endLine, endColumn, step], ...] step: its emission's,
//    "open": [index, ...] the jumps still waiting for their backpatch}
//
// An event: "kind" is token, enter, leave, scope, close, regist, lookup,
// passing, emit, backpatch or error, with the fields of WatchEvent that
// kind uses: "token" (WD_ name), "text", "value", "routine", "level",
// "entry", "symbol" (a kind word), "lookup" (the lookup's letters),
// "difference" (a lookup's level difference), "position", "index", "op",
// "l", "a", "oldA", "first"/"last" ([line, column]), and for an emit the
// lookup that led to it, "name" and "difference", when one came since the
// emit before; for an error, "message".
#include <emscripten/emscripten.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "debug/compile_session.hpp"
#include "json.hpp"
#include "lexer/lexer.hpp"
#include "vm/code.hpp"

namespace {

constexpr int PLAYGROUND_DEPTH_MAX = 2000; // as for a run (playground.cpp)

CompileSession session;
std::string answer;

const char* const kind_names[WATCH_KIND_COUNT] = {
    "token",  "enter",   "leave", "scope",     "close", "regist",
    "lookup", "passing", "emit",  "backpatch", "error",
};

const char* symbol_word(unsigned kind) {
    switch (kind) {
    case SYM_VAR: return "variable";
    case SYM_ARRAY: return "array";
    case SYM_REF: return "var parameter";
    case SYM_PROC: return "procedure";
    case SYM_FUNC: return "function";
    default: return "?";
    }
}

const char* lookup_letters(unsigned lookup) {
    static const char* const letters[LOOKUP_KIND_COUNT] = {"k", "l", "a", "i", "as", "rr"};
    return lookup < LOOKUP_KIND_COUNT ? letters[lookup] : "?";
}

void field(std::string& out, std::string_view key, std::int64_t n) {
    json_key(out, key);
    json_number(out, n);
    out += ',';
}

void text_field(std::string& out, std::string_view key, std::string_view text) {
    json_key(out, key);
    json_string(out, text);
    out += ',';
}

void place_field(std::string& out, std::string_view key, SourcePos pos) {
    json_key(out, key);
    out += '[' + std::to_string(pos.line) + ',' + std::to_string(pos.column) + "],";
}

// Ends an object whose last member left a comma.
void close_object(std::string& out) {
    if (out.back() == ',') out.pop_back();
    out += '}';
}

// The source text from `first` to just before `last` on one line; empty
// for a place over several lines or outside the source.
std::string_view source_text(SourcePos first, SourcePos last) {
    std::string_view source = session.source();
    if (first.line != last.line || first.column < 1 || last.column <= first.column) return {};
    std::size_t from = 0;
    for (int line = 1; line < first.line; ++line) {
        from = source.find('\n', from);
        if (from == std::string_view::npos) return {};
        ++from;
    }
    from += static_cast<std::size_t>(first.column - 1);
    if (from >= source.size()) return {};
    std::string_view text =
        source.substr(from, static_cast<std::size_t>(last.column - first.column));
    return text.substr(0, text.find('\n'));
}

// The event that made step `step` (from 1).
void event_json(std::string& out, std::size_t step) {
    const auto& events = session.events();
    const WatchEvent& e = events[step - 1];
    out += '{';
    text_field(out, "kind", e.kind < WATCH_KIND_COUNT ? kind_names[e.kind] : "?");
    switch (e.kind) {
    case WATCH_TOKEN:
    case WATCH_ENTER:
    case WATCH_LEAVE:
        text_field(out, "token", e.token < TOKEN_KIND_COUNT ? token_names[e.token] : "?");
        text_field(out, "text", source_text(e.first, e.last));
        field(out, "value", e.value);
        if (e.kind != WATCH_TOKEN)
            text_field(out, "routine",
                       e.routine < PARSE_ROUTINE_COUNT ? parse_routine_names[e.routine] : "?");
        place_field(out, "first", e.first);
        place_field(out, "last", e.last);
        break;
    case WATCH_SCOPE:
    case WATCH_CLOSE:
        field(out, "level", e.level);
        field(out, "entry", e.entry);
        break;
    case WATCH_REGIST:
        text_field(out, "text", e.text);
        text_field(out, "symbol", symbol_word(e.symbol));
        field(out, "entry", e.entry);
        field(out, "level", e.level);
        field(out, "offset", e.offset);
        field(out, "address", e.code_adr);
        break;
    case WATCH_LOOKUP:
        text_field(out, "text", e.text);
        text_field(out, "lookup", lookup_letters(e.lookup));
        field(out, "entry", e.entry);
        field(out, "difference", session.level_difference(step - 1));
        break;
    case WATCH_PASSING:
        field(out, "entry", e.entry);
        field(out, "position", e.position);
        text_field(out, "symbol", e.symbol == SYM_REF ? "r" : "v");
        break;
    case WATCH_EMIT:
        field(out, "index", e.index);
        text_field(out, "op", mnemonic(e.op));
        field(out, "l", e.l);
        field(out, "a", e.a);
        place_field(out, "first", e.first);
        place_field(out, "last", e.last);
        // The lookup that led to it: the last one since the emit before.
        for (std::size_t k = step - 1; k-- > 0 && events[k].kind != WATCH_EMIT;) {
            if (events[k].kind != WATCH_LOOKUP || events[k].entry < 1) continue;
            text_field(out, "name", events[k].text);
            field(out, "difference", session.level_difference(k));
            break;
        }
        break;
    case WATCH_BACKPATCH:
        field(out, "index", e.index);
        field(out, "a", e.a);
        field(out, "oldA", e.old_a);
        break;
    case WATCH_ERROR:
        place_field(out, "first", e.first);
        text_field(out, "message", session.compiled().message);
        break;
    }
    close_object(out);
}

const char* state(bool moved) {
    const CompileState& s = session.state();
    const auto& events = session.events();
    std::string& out = answer;
    out = "{";
    field(out, "step", static_cast<std::int64_t>(s.step));
    field(out, "last", static_cast<std::int64_t>(session.last_step()));
    json_key(out, "moved");
    json_bool(out, moved);
    out += ',';
    json_key(out, "event");
    if (s.step == 0)
        out += "null";
    else
        event_json(out, s.step);
    out += ',';
    json_key(out, "token");
    if (s.token) {
        const WatchEvent& t = events[*s.token];
        out += '[' + std::to_string(t.first.line) + ',' + std::to_string(t.first.column) + ',' +
               std::to_string(t.last.line) + ',' + std::to_string(t.last.column) + ']';
    } else {
        out += "null";
    }
    out += ',';
    json_key(out, "construct");
    if (s.routines.empty()) {
        out += "null";
    } else {
        const WatchEvent& r = events[s.routines.back()];
        out += '[' + std::to_string(r.first.line) + ',' + std::to_string(r.first.column) + ']';
    }
    out += ',';
    json_key(out, "routines");
    out += '[';
    for (std::size_t i = s.routines.size(); i-- > 0;) {
        const WatchEvent& r = events[s.routines[i]];
        out += '[';
        json_string(out, r.routine < PARSE_ROUTINE_COUNT ? parse_routine_names[r.routine] : "?");
        out += ',' + std::to_string(r.first.line) + ',' + std::to_string(r.first.column) + ',' +
               std::to_string(s.routines[i] + 1) + ']';
        if (i > 0) out += ',';
    }
    out += "],";
    json_key(out, "scopes");
    out += '[';
    for (std::size_t i = 0; i < s.scopes.size(); ++i)
        out += (i > 0 ? "," : "") + std::to_string(s.scopes[i]);
    out += "],";
    // The step that registered each live entry: the last registration of
    // its index before now.
    std::vector<std::size_t> registered(s.symbols.size(), 0);
    for (std::size_t k = 0; k < s.step; ++k) {
        const WatchEvent& e = events[k];
        if (e.kind == WATCH_REGIST && e.entry >= 1 &&
            static_cast<std::size_t>(e.entry) <= registered.size())
            registered[static_cast<std::size_t>(e.entry - 1)] = k + 1;
    }
    json_key(out, "symbols");
    out += '[';
    for (std::size_t i = 0; i < s.symbols.size(); ++i) {
        const CompileSymbol& n = s.symbols[i];
        if (i > 0) out += ',';
        out += '[';
        json_string(out, n.name);
        out += ',';
        json_string(out, symbol_word(n.kind));
        std::string params;
        for (SymbolKind p : n.params)
            params += p == SYM_REF ? 'r' : 'v';
        out += ',' + std::to_string(n.level) + ',' + std::to_string(n.offset) + ',' +
               std::to_string(n.code_adr) + ',' + std::to_string(n.low) + ',' +
               std::to_string(n.high) + ',';
        json_string(out, params);
        out += ',' + std::to_string(registered[i]) + ']';
    }
    out += "],";
    json_key(out, "code");
    out += '[';
    for (std::size_t i = 0; i < s.code.size(); ++i) {
        const CompiledInstruction& c = s.code[i];
        if (i > 0) out += ',';
        out += '[';
        json_string(out, mnemonic(c.instruction.op));
        out += ',' + std::to_string(c.instruction.l) + ',' + std::to_string(c.instruction.a) + ',' +
               std::to_string(c.first.line) + ',' + std::to_string(c.first.column) + ',' +
               std::to_string(c.last.line) + ',' + std::to_string(c.last.column) + ',' +
               std::to_string(c.step) + ']';
    }
    out += "],";
    json_key(out, "open");
    out += '[';
    for (std::size_t i = 0; i < s.open_jumps.size(); ++i)
        out += (i > 0 ? "," : "") + std::to_string(s.open_jumps[i]);
    out += "]}";
    return out.c_str();
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE const char* tsu_cv_open(const char* source, std::size_t n) {
    CompileOptions options;
    options.encoding = Encoding::utf8;
    options.large_stack = false;
    options.stack_bytes = 0;
    options.max_depth = PLAYGROUND_DEPTH_MAX;
    Compiled compiled = session.open_text(std::string_view(source, n), options);
    std::string& out = answer;
    out = "{";
    field(out, "error", static_cast<int>(compiled.error));
    field(out, "line", compiled.error == ErrorKind::none ? 0 : compiled.where.line);
    field(out, "column", compiled.error == ErrorKind::none ? 0 : compiled.where.column);
    field(out, "last", static_cast<std::int64_t>(session.last_step()));
    json_key(out, "truncated");
    json_bool(out, session.truncated());
    out += ',';
    json_key(out, "message");
    json_string(out, compiled.message);
    out += '}';
    return out.c_str();
}

EMSCRIPTEN_KEEPALIVE const char* tsu_cv_go(double step) {
    if (!(step >= 0)) step = 0;
    const double last = static_cast<double>(session.last_step());
    session.go_to(static_cast<std::size_t>(step < last ? step : last));
    return state(true);
}

EMSCRIPTEN_KEEPALIVE const char* tsu_cv_move(int motion) {
    if (motion < 0 || motion > static_cast<int>(CompileMotion::start)) motion = 0;
    const bool moved = session.move(static_cast<CompileMotion>(motion));
    return state(moved);
}

} // extern "C"
