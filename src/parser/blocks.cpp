#include "parser/blocks.hpp"

#include <cstdint>
#include <limits>

#include "diag/diag.hpp"
#include "diag/trace.hpp"
#include "lexer/lexer.hpp"
#include "lexer/reader.hpp"
#include "parser/statements.hpp"
#include "parser/warnings.hpp"
#include "symtab/names.hpp"
#include "vm/check.hpp"
#include "vm/code.hpp"
#include "vm/frame.hpp"

std::uintptr_t parser_stack_limit = 0;
int parser_depth_limit = 0;
int current_routine = 0;

void check_depth(int depth) {
    if (depth > PARSE_DEPTH_MAX) syntax_error(MSG_NESTING_TOO_DEEP);
    if (parser_depth_limit != 0 && depth > parser_depth_limit) syntax_error(MSG_NESTING_TOO_DEEP);
    if (parser_stack_limit != 0) {
        auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
        if (here < parser_stack_limit) syntax_error(MSG_NESTING_TOO_DEEP);
    }
}

void send_routine_event(WatchKind kind, ParseRoutine routine) {
    WatchEvent event{};
    event.kind = kind;
    event.routine = routine;
    set_event_token(event, token);
    send_event(event);
}

namespace {

// A block's scope opened (WATCH_SCOPE) or a routine's closed (WATCH_CLOSE),
// with the live entries before it or left by it.
void watch_scope(WatchKind kind, int level) {
    if (!watching()) return;
    WatchEvent event{};
    event.kind = kind;
    event.level = level;
    event.entry = sym_count;
    send_event(event);
}

// The range of the "end" that closed the block compiled last: its RET or
// FRT computes nothing else.  Written by parse_block while positions are
// counted.
SourceRange block_end{};

} // namespace

int frame_header_size(SymbolKind kind) {
    switch (kind) {
    case SYM_PROC: return FRAME_PROCEDURE_CELLS;
    case SYM_FUNC: return FRAME_FUNCTION_CELLS;
    default: syntax_error(MSG_ODD_KIND);
    }
}

// program = "program" identifier block "."
void parse_program() {
    trace_parse(MSG_T_PROGRAM);
    watch_routine(WATCH_ENTER, ROUTINE_PROGRAM);
    next_token(0);
    if (token.kind != WD_PROG) syntax_error(MSG_NO_PROGRAM);
    const SourcePos heading = token_pos;
    next_token(0);
    if (token.kind != WD_ID) syntax_error(MSG_NO_PROGRAM_NAME);
    regist_proc(token.text, 0, 0);
    current_routine = sym_count;
    Token name = token;
    next_token(0);
    parse_block(SYM_PROC, 0, nullptr, heading);
    if (token.kind != WD_PERIOD) syntax_error(MSG_NO_PERIOD);
    note_routine_end(name.text, emit(HLT, 0, 0));
    watch_routine(WATCH_LEAVE, ROUTINE_PROGRAM);
}

// block = [ params ] ";" [ vardecls ] { routine } "begin" statement { ";" statement } "end"
void parse_block(SymbolKind kind, int level, const char* owner, SourcePos heading) {
    check_depth(level);
    trace_parse(MSG_T_BLOCK, level, "");
    watch_routine(WATCH_ENTER, ROUTINE_BLOCK);
    watch_scope(WATCH_SCOPE, level);
    int header = frame_header_size(kind);
    int jump_over_routines = emit(UJP, 0, 0);

    int params = parse_params(level, header, owner);
    if (token.kind != WD_SEMI) syntax_error(MSG_NO_SEMI_AFTER_HEADING);
    // The jump starts the block: its range is the heading, to its ";".
    set_range(jump_over_routines, SourceRange{heading, range_from(token_pos).last});
    next_token(level + 1);
    std::int32_t cells = sregist_vardecls(level, header + params);
    parse_proc_func(level);
    if (token.kind != WD_BEGIN) syntax_error(MSG_NO_BEGIN);

    backpatch(jump_over_routines);
    // The offset of the frame's last cell; sregist_vardecls keeps it in range.
    switch (kind) {
    case SYM_PROC: emit(ENT, 0, params + cells + 2); break;
    case SYM_FUNC: emit(ENT, 0, params + cells + 3); break;
    default: syntax_error(MSG_HUH);
    }

    bool ok = true;
    do {
        next_token(level + 1);
        warn_misleading_indentation(token_pos, token_line_indent);
        if (!parse_statement(level + 1, level)) ok = false;
    } while (token.kind == WD_SEMI);
    forget_unbraced_bodies();
    if (token.kind != WD_END) syntax_error(MSG_NO_BLOCK_END);
    if (positions_on) block_end = range_from(token_pos);
    next_token(level + 1);
    if (!ok) syntax_error(MSG_STATEMENT_FAILED);
    trace_parse(MSG_T_BLOCK_END, level, "");
    watch_routine(WATCH_LEAVE, ROUTINE_BLOCK);
}

// params = "(" formal { "," formal } ")",  formal = identifier | "var" identifier
//
// A value parameter is entered before its passing kind is recorded on the
// owner, a reference parameter after: the owner is found by name, so the
// order matters when a parameter bears the routine's own name.
int parse_params(int level, std::int32_t offset, const char* owner) {
    watch_routine(WATCH_ENTER, ROUTINE_PARAMS);
    if (token.kind != WD_L_PAREN) {
        watch_routine(WATCH_LEAVE, ROUTINE_PARAMS);
        return 0;
    }
    int n = 0;
    do {
        next_token(level + 1);
        if (token.kind == WD_ID) {
            if (n >= PARAM_MAX) syntax_error(MSG_TOO_MANY_PARAMS);
            regist_var(token.text, level, offset);
            note_parameter();
            if (owner != nullptr) ReRegist(owner, n, SYM_VAR);
        } else if (token.kind == WD_VAR) {
            next_token(level + 1);
            if (token.kind != WD_ID) syntax_error(MSG_REF_FORMAL_NOT_IDENT);
            if (n >= PARAM_MAX) syntax_error(MSG_TOO_MANY_PARAMS);
            if (owner != nullptr) ReRegist(owner, n, SYM_REF);
            regist_ref_param(token.text, level, offset);
            note_parameter();
        } else {
            syntax_error(MSG_FORMAL_NOT_IDENT);
        }
        ++offset;
        ++n;
        next_token(level + 1);
    } while (token.kind == WD_COM);
    if (token.kind != WD_R_PAREN) syntax_error(MSG_NO_PARAMS_RPAREN);
    next_token(level + 1);
    watch_routine(WATCH_LEAVE, ROUTINE_PARAMS);
    return n;
}

namespace {

// The offset at which a variable is registered.  Instructions carry it, and
// the frame's last offset, as signed 32-bit values: a name can't start past
// the last offset that fits, even when it takes no cell.
std::int32_t cell_offset(std::int64_t offset) {
    if (offset > std::numeric_limits<std::int32_t>::max()) syntax_error(MSG_FRAME_TOO_LARGE);
    return static_cast<std::int32_t>(offset);
}

// The first free offset after `count` cells from `offset`; the last of those
// cells must fit in 32 bits.
std::int64_t reserve_cells(std::int64_t offset, std::int64_t count) {
    std::int64_t next = offset + count;
    if (next - 1 > std::numeric_limits<std::int32_t>::max()) syntax_error(MSG_FRAME_TOO_LARGE);
    return next;
}

} // namespace

// vardecls = "var" var-decl { "," var-decl } ";",  var-decl = identifier [ "[" number ".." number
// "]" ]
std::int32_t sregist_vardecls(int level, std::int32_t offset) {
    trace_parse(MSG_T_VARDECLS, level, "");
    watch_routine(WATCH_ENTER, ROUTINE_VARDECLS);
    if (token.kind != WD_VAR) {
        trace_parse(MSG_T_VARDECLS_END, level, "");
        watch_routine(WATCH_LEAVE, ROUTINE_VARDECLS);
        return 0;
    }
    std::int64_t next = offset; // the first free offset
    do {
        next_token(level + 1);
        if (token.kind != WD_ID) syntax_error(MSG_VAR_NOT_IDENT);
        Token lookahead = get_token(level + 1);
        if (lookahead.kind == WD_L_BRAC) {
            lookahead = get_token(level + 1);
            if (lookahead.kind != WD_NUM) syntax_error(MSG_NO_ARRAY_LOW);
            std::int32_t low = lookahead.value;
            lookahead = get_token(level + 1);
            if (lookahead.kind != WD_RENGE) syntax_error(MSG_BAD_ARRAY_RANGE);
            lookahead = get_token(level + 1);
            if (lookahead.kind != WD_NUM) syntax_error(MSG_NO_ARRAY_HIGH);
            // hi - lo + 1, as a signed 32-bit value: bounds above 2^31 - 1 have
            // already wrapped in the lexer, and so does the count.
            auto size = static_cast<std::int32_t>(static_cast<std::uint32_t>(lookahead.value) -
                                                  static_cast<std::uint32_t>(low) + 1u);
            lookahead = get_token(level + 1);
            if (lookahead.kind != WD_R_BRAC) syntax_error(MSG_NO_RBRAC);
            regist_array(token.text, level, cell_offset(next), low, size);
            std::int64_t count = size < 0 ? -std::int64_t{size} : std::int64_t{size};
            next = reserve_cells(next, count);
            next_token(level + 1);
        } else {
            regist_var(token.text, level, cell_offset(next));
            next = reserve_cells(next, 1);
            token = lookahead;
        }
    } while (token.kind == WD_COM);
    if (token.kind != WD_SEMI) syntax_error(MSG_NO_SEMI_AFTER_VARS);
    next_token(1);
    trace_parse(MSG_T_VARDECLS_END, level, "");
    watch_routine(WATCH_LEAVE, ROUTINE_VARDECLS);
    // The last cell fits, so the count does too.
    return static_cast<std::int32_t>(next - offset);
}

// routine = ( "procedure" | "function" ) identifier block ";"
void parse_proc_func(int level) {
    trace_parse(MSG_T_PROC_FUNC);
    watch_routine(WATCH_ENTER, ROUTINE_PROC_FUNC);
    while (token.kind == WD_PROC || token.kind == WD_FUNC) {
        SymbolKind kind = token.kind == WD_PROC ? SYM_PROC : SYM_FUNC;
        const SourcePos heading = token_pos;
        next_token(0);
        if (token.kind != WD_ID) syntax_error(MSG_NO_ROUTINE_NAME);
        if (kind == SYM_PROC)
            regist_proc(token.text, level, cx);
        else
            regist_func(token.text, level, cx);
        Token name = token;
        SourcePos name_at = token_pos;
        next_token(0);
        int saved = sym_count;
        int outer_routine = current_routine;
        current_routine = sym_count;
        parse_block(kind, level + 1, name.text, heading);
        current_routine = outer_routine;
        sym_count = saved;
        watch_scope(WATCH_CLOSE, level + 1);
        if (kind == SYM_FUNC) note_check(cx, CHECK_RESULT, name.text, name_at);
        int last = emit(kind == SYM_PROC ? RET : FRT, 0, 0);
        set_range(last, block_end);
        note_routine_end(name.text, last);
        if (token.kind != WD_SEMI) syntax_error(MSG_NO_SEMI);
        next_token(0);
    }
    watch_routine(WATCH_LEAVE, ROUTINE_PROC_FUNC);
}
