#include "parser/statements.hpp"

#include "diag/diag.hpp"
#include "diag/trace.hpp"
#include "lexer/lexer.hpp"
#include "lexer/reader.hpp"
#include "parser/blocks.hpp"
#include "parser/calls.hpp"
#include "parser/expressions.hpp"
#include "parser/warnings.hpp"
#include "symtab/names.hpp"
#include "symtab/symtab.hpp"
#include "vm/code.hpp"

namespace {

// ":=" expression
void compile_becomes(int d, int L) {
    if (token.kind != WD_BECOM) syntax_error(MSG_NO_BECOM);
    next_token(d + 1);
    parse_expression(d + 1, L);
}

// name ":=" expression, for a variable or value parameter
void variable_assignment(int d, int L) {
    trace_parse(MSG_T_STMT_VAR, d + 1, "");
    note_access(NameAccess::write);
    Token name = token;
    SourcePos at = token_pos;
    next_token(d + 1);
    compile_becomes(d, L);
    emit_name_at(at, STR, name.text, L);
}

// name ":=" expression, for a reference parameter: store through it
void reference_assignment(int d, int L) {
    trace_parse(MSG_T_STMT_REF, d + 1, "");
    note_access(NameAccess::write);
    SourcePos at = token_pos;
    emit_name(LOD, token.text, L);
    next_token(d + 1);
    compile_becomes(d, L);
    emit_at(at, STO, 0, 0);
}

// array "[" expression "]" ":=" expression
void array_assignment(int d, int L) {
    trace_parse(MSG_T_STMT_ARRAY, d + 1, "");
    note_access(NameAccess::write);
    SourcePos at = token_pos;
    Token name = token;
    emit_name(LDA, name.text, L);
    emit(LDC, 0, get_array_low(name.text));
    next_token(d + 1);
    if (token.kind != WD_L_BRAC) syntax_error(MSG_NO_LBRAC);
    parse_index(d, L, name.text, at);
    compile_becomes(d, L);
    emit_at(at, STO, 0, 0);
}

// function-name ":=" expression: the result cell of the function's own
// frame, so only in the statements of that function itself.  Anywhere else
// the cell at offset 3 belongs to something else.
void function_result_assignment(int d, int L) {
    trace_parse(MSG_T_FUNC_NAME, d + 1, "");
    note_access(NameAccess::write);
    int function = newest_entry(token.text);
    SourcePos at = token_pos;
    next_token(d + 1);
    if (token.kind == WD_BECOM && function != current_routine)
        syntax_error(MSG_FUNCTION_RESULT_ELSEWHERE);
    compile_becomes(d, L);
    emit_at(at, STR, 0, 3);
}

// "begin" statement { ";" statement } "end"
void compound_statement(int d, int L) {
    do {
        next_token(d + 1);
        warn_misleading_indentation(token_pos, token_line_indent);
        parse_statement(d + 1, L);
    } while (token.kind == WD_SEMI);
    forget_unbraced_bodies();
    if (token.kind != WD_END) syntax_error(MSG_NO_END);
    next_token(d + 1);
}

// "if" condition "then" statement [ "else" statement ]
void if_statement(int d, int L) {
    SourcePos at = token_pos;
    const int indent = token_line_indent;
    next_token(d + 1);
    parse_condition(d + 1, L);
    if (token.kind != WD_THEN) syntax_error(MSG_NO_THEN);
    int false_jump = emit_at(at, FJP, 0, 0);
    const SourceRange heading = range_from(at); // "if" and the condition
    next_token(d + 1);
    const SourcePos body = token_pos;
    const bool braced = token.kind == WD_BEGIN;
    parse_statement(d + 1, L);
    if (token.kind == WD_ELSE) {
        forget_unbraced_bodies();
        const SourcePos else_at = token_pos;
        const int else_indent = token_line_indent;
        int jump_over_else = emit_at(at, UJP, 0, 0);
        set_range(jump_over_else, heading);
        backpatch(false_jump);
        next_token(d + 1);
        const SourcePos else_body = token_pos;
        const bool else_braced = token.kind == WD_BEGIN;
        parse_statement(d + 1, L);
        backpatch(jump_over_else);
        if (!else_braced) note_unbraced_body("else", else_indent, else_at.line, else_body);
    } else {
        backpatch(false_jump);
        if (!braced) note_unbraced_body("if", indent, at.line, body);
    }
}

// "while" condition "do" statement
void while_statement(int d, int L) {
    int loop_start = last_emitted + 1;
    SourcePos at = token_pos;
    const int indent = token_line_indent;
    next_token(d + 1);
    parse_condition(d + 1, L);
    int exit_jump = emit_at(at, FJP, 0, 0);
    const SourceRange heading = range_from(at); // "while" and the condition
    if (token.kind != WD_DO) syntax_error(MSG_NO_DO);
    next_token(d + 1);
    const SourcePos body = token_pos;
    const bool braced = token.kind == WD_BEGIN;
    parse_statement(d + 1, L);
    if (!braced) note_unbraced_body("while", indent, at.line, body);
    set_range(emit_at(at, UJP, 0, loop_start), heading);
    backpatch(exit_jump);
}

// "read" "(" name [ "[" expression "]" ] ")"
//
// A reference parameter reads into the variable it refers to, as an
// assignment to it does; procedure and function names, and an index after
// a name that is not an array, are rejected.
void read_statement(int d, int L) {
    SourcePos read_at = token_pos;
    next_token(d + 1);
    if (token.kind != WD_L_PAREN) syntax_error(MSG_NO_LPAREN);
    next_token(d + 1);
    if (token.kind != WD_ID) syntax_error(MSG_NO_IDENT);
    std::int32_t offset = get_offset(token.text);
    std::int32_t level = get_level(token.text);
    SymbolKind kind = get_kind(token.text);
    if (kind == SYM_PROC || kind == SYM_FUNC) syntax_error(MSG_READ_NOT_VARIABLE);
    note_access(NameAccess::write);
    SourcePos name_at = token_pos;
    int address = emit(kind == SYM_REF ? LOD : LDA, L - level, offset);
    if (kind != SYM_REF) note_cells(address, cells_of(token.text));
    Token name = token;
    next_token(d + 1);
    if (token.kind == WD_L_BRAC) {
        if (kind != SYM_ARRAY) syntax_error(MSG_INDEX_NOT_ARRAY);
        set_range(emit(LDC, 0, get_array_low(name.text)), range_from(name_at));
        parse_index(d, L, name.text, name_at);
    }
    const SourceRange target = range_from(name_at); // the name or element read into
    if (token.kind != WD_R_PAREN) syntax_error(MSG_NO_RPAREN);
    next_token(d + 1);
    emit_at(read_at, GET, 0, 0);
    set_range(emit_at(name_at, STO, 0, 0), target);
}

// "write" "(" expression ")"
void write_statement(int d, int L) {
    SourcePos at = token_pos;
    next_token(d + 1);
    if (token.kind != WD_L_PAREN) syntax_error(MSG_NO_LPAREN);
    next_token(d + 1);
    parse_expression(d + 1, L);
    if (token.kind != WD_R_PAREN) syntax_error(MSG_NO_RPAREN);
    next_token(d + 1);
    emit_at(at, PUT, 0, 0);
}

} // namespace

bool parse_statement(int d, int L) {
    check_depth(d);
    trace_parse(MSG_T_STATEMENT, d, "");
    watch_routine(WATCH_ENTER, ROUTINE_STATEMENT);
    SourcePos begin = token_pos;
    int first = cx;
    bool compound = token.kind == WD_BEGIN;
    switch (token.kind) {
    case WD_ID:
        switch (get_kind(token.text)) {
        case SYM_VAR: variable_assignment(d, L); break;
        case SYM_REF: reference_assignment(d, L); break;
        case SYM_ARRAY: array_assignment(d, L); break;
        case SYM_FUNC: function_result_assignment(d, L); break;
        case SYM_PROC: parse_call(SYM_PROC, d, L); break;
        }
        break;
    case WD_BEGIN: compound_statement(d, L); break;
    case WD_IF: if_statement(d, L); break;
    case WD_WHILE: while_statement(d, L); break;
    case WD_READ: read_statement(d, L); break;
    case WD_WRITE: write_statement(d, L); break;
    default: break; // the empty statement reads nothing
    }
    if (!compound) note_statement(begin, first);
    trace_parse(MSG_T_STATEMENT_END, d, "");
    watch_routine(WATCH_LEAVE, ROUTINE_STATEMENT);
    return true;
}
