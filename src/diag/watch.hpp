// Watch hooks: the compile as a sequence of events, for whoever wants to
// step through it afterwards (debug/compile_session.hpp).
//
// Each hook sits where the matching trace hook sits (diag/trace.hpp), so the
// events come in the order of the lexer, parse and emit traces, with a few
// of their own that no trace prints: the routines with no trace line, the
// scopes, the passing kinds recorded on a routine and the backpatches.
//
// As with the traces, only the traced build (tsumiki_traced) looks at the
// watcher: in the plain build watching() is constant false, and every hook
// disappears with the event it would have built.
#pragma once

#include <cstdint>

#include "diag/diag.hpp"
#include "diag/trace.hpp"

enum WatchKind : unsigned char {
    WATCH_TOKEN,     // a token read: token, text, value, first, last
    WATCH_ENTER,     // a grammar routine entered: routine; token, text, value, first, last
    WATCH_LEAVE,     // a grammar routine left: routine; the current token as for WATCH_ENTER
    WATCH_SCOPE,     // a block's scope opened: level; entry, the live entries before it
    WATCH_CLOSE,     // a routine's scope closed: level; entry, the live entries left
    WATCH_REGIST,    // a name registered: entry, text, symbol, level, offset, code_adr, low, high
    WATCH_LOOKUP,    // a name looked up: lookup, text, entry (0: not found)
    WATCH_PASSING,   // a parameter's passing kind recorded: entry, position, symbol
    WATCH_EMIT,      // an instruction emitted: index, op, l, a, first, last
    WATCH_BACKPATCH, // a jump completed: index, a (the new target), old_a
    WATCH_ERROR,     // the compile's fatal error: first (where); never sent by a hook
};

inline constexpr int WATCH_KIND_COUNT = 11;

// The grammar routines whose entry and exit are events, named as in the
// code.  parse_program and parse_proc_func have a trace line on entry only,
// parse_params, parse_call and parse_index none at all.
enum ParseRoutine : unsigned char {
    ROUTINE_PROGRAM,
    ROUTINE_BLOCK,
    ROUTINE_PARAMS,
    ROUTINE_VARDECLS,
    ROUTINE_PROC_FUNC,
    ROUTINE_STATEMENT,
    ROUTINE_CONDITION,
    ROUTINE_EXPRESSION,
    ROUTINE_TERM,
    ROUTINE_FACTOR,
    ROUTINE_CALL,
    ROUTINE_INDEX,
};

inline constexpr int PARSE_ROUTINE_COUNT = 12;

inline constexpr const char* parse_routine_names[PARSE_ROUTINE_COUNT] = {
    "parse_program",   "parse_block",     "parse_params",    "sregist_vardecls",
    "parse_proc_func", "parse_statement", "parse_condition", "parse_expression",
    "parse_term",      "parse_factor",    "parse_call",      "parse_index",
};

// The six lookups of the symbol table, by the letter their undeclared-name
// message ends with.
enum LookupKind : unsigned char {
    LOOKUP_KIND,     // get_kind (k)
    LOOKUP_LEVEL,    // get_level (l)
    LOOKUP_OFFSET,   // get_offset (a)
    LOOKUP_CODE_ADR, // get_code_adr (i)
    LOOKUP_ARRAY,    // get_array_low (as)
    LOOKUP_PARAM,    // get_param_kind and ReRegist (rr)
};

inline constexpr int LOOKUP_KIND_COUNT = 6;

// One event: a fixed record whose fields mean what the event's kind says
// above; the rest are zero.  Places run from `first` to just past the last
// character (`last`).
struct WatchEvent {
    WatchKind kind;
    unsigned char token;   // TokenKind: the token read, or the current one
    unsigned char routine; // ParseRoutine
    unsigned char lookup;  // LookupKind
    unsigned char symbol;  // SymbolKind
    unsigned char op;      // Opcode
    std::int32_t value;    // a number token's value
    int entry;             // a symbol-table index
    int level;
    std::int32_t offset;
    std::int32_t code_adr;
    std::int32_t low;
    std::int32_t high;
    int position; // a parameter's position
    int index;    // an instruction's index
    std::int32_t l;
    std::int32_t a;
    std::int32_t old_a;
    SourcePos first;
    SourcePos last;
    char text[32]; // a name, or an identifier's or keyword's text; NUL-terminated
};

// Who receives the events: a plain routine and its context.  Set by the
// compile session for one compile, null otherwise.  Read only by the traced
// build.
using WatchSink = void (*)(void* context, const WatchEvent& event);
struct Watcher {
    WatchSink sink = nullptr;
    void* context = nullptr;
};
extern Watcher watcher;

// Whether the hooks build and send events.
inline bool watching() {
    if constexpr (trace_built)
        return watcher.sink != nullptr;
    else
        return false;
}

// Sends one event to the watcher (only called when watching()).
inline void send_event(const WatchEvent& event) {
    watcher.sink(watcher.context, event);
}

// Copies a NUL-terminated name into an event's text, cut to its field.
void set_event_text(WatchEvent& event, const char* text);
