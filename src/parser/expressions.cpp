#include "parser/expressions.hpp"

#include "diag/diag.hpp"
#include "diag/trace.hpp"
#include "lexer/lexer.hpp"
#include "lexer/reader.hpp"
#include "parser/blocks.hpp"
#include "parser/calls.hpp"
#include "parser/warnings.hpp"
#include "symtab/symtab.hpp"
#include "vm/check.hpp"
#include "vm/code.hpp"

// condition = expression relop expression
//
// The operator is only examined once the right operand is compiled, so a
// missing operator is reported after it.
bool parse_condition(int d, int L) {
    trace_parse(MSG_T_CONDITION, d, "");
    watch_routine(WATCH_ENTER, ROUTINE_CONDITION);
    const SourcePos first = token_pos;
    parse_expression(d + 1, L);
    TokenKind relation = token.kind;
    SourcePos at = token_pos;
    next_token(d + 1);
    parse_expression(d + 1, L);
    switch (relation) {
    case WD_EQ: emit_from(at, first, COP, 0, COP_EQ); break;
    case WD_NEQ: emit_from(at, first, COP, 0, COP_NEQ); break;
    case WD_GT: emit_from(at, first, COP, 0, COP_GT); break;
    case WD_GEQ: emit_from(at, first, COP, 0, COP_GEQ); break;
    case WD_LT: emit_from(at, first, COP, 0, COP_LT); break;
    case WD_LEQ: emit_from(at, first, COP, 0, COP_LEQ); break;
    default: syntax_error(MSG_NO_RELOP);
    }
    trace_parse(MSG_T_CONDITION_END, d, "");
    watch_routine(WATCH_LEAVE, ROUTINE_CONDITION);
    return true;
}

// expression = [ "+" | "-" ] term { ( "+" | "-" ) term }
bool parse_expression(int d, int L) {
    check_depth(d);
    trace_parse(MSG_T_EXPRESSION, d, "");
    watch_routine(WATCH_ENTER, ROUTINE_EXPRESSION);
    TokenKind sign = token.kind;
    const SourcePos first = token_pos;
    SourcePos sign_at = token_pos;
    if (sign == WD_PLUS || sign == WD_MIN) next_token(d + 1);
    parse_term(d + 1, L);
    if (sign == WD_MIN) emit_at(sign_at, OPR, 0, OPR_NEG);
    while (token.kind == WD_PLUS || token.kind == WD_MIN) {
        TokenKind op = token.kind;
        SourcePos at = token_pos;
        next_token(d + 1);
        parse_term(d + 1, L);
        emit_from(at, first, OPR, 0, op == WD_PLUS ? OPR_ADD : OPR_SUB);
    }
    trace_parse(MSG_T_EXPRESSION_END, d, "");
    watch_routine(WATCH_LEAVE, ROUTINE_EXPRESSION);
    return true;
}

// term = factor { ( "*" | "div" ) factor }
bool parse_term(int d, int L) {
    trace_parse(MSG_T_TERM, d, "");
    watch_routine(WATCH_ENTER, ROUTINE_TERM);
    const SourcePos first = token_pos;
    parse_factor(d + 1, L);
    while (token.kind == WD_TIM || token.kind == WD_DIV) {
        TokenKind op = token.kind;
        SourcePos at = token_pos;
        next_token(d + 1);
        parse_factor(d + 1, L);
        emit_from(at, first, OPR, 0, op == WD_TIM ? OPR_MUL : OPR_DIV);
    }
    trace_parse(MSG_T_TERM_END, d, "");
    watch_routine(WATCH_LEAVE, ROUTINE_TERM);
    return true;
}

// factor = variable | reference | array "[" expression "]" | function-call
//        | number | "(" expression ")"
bool parse_factor(int d, int L) {
    trace_parse(MSG_T_FACTOR, d, "");
    watch_routine(WATCH_ENTER, ROUTINE_FACTOR);
    switch (token.kind) {
    case WD_ID:
        switch (get_kind(token.text)) {
        case SYM_VAR: {
            trace_parse(MSG_T_FACTOR_VAR, d + 1, "");
            note_check(cx, CHECK_VARIABLE, token.text, token_pos);
            emit_name(LOD, token.text, L);
            next_token(d + 1);
            break;
        }
        case SYM_REF: {
            trace_parse(MSG_T_FACTOR_REF, d + 1, "");
            emit_name(LOD, token.text, L);
            note_check(cx, CHECK_THROUGH, token.text, token_pos);
            emit(IND, 0, 0);
            next_token(d + 1);
            break;
        }
        case SYM_ARRAY: {
            trace_parse(MSG_T_FACTOR_ARRAY, d + 1, "");
            SourcePos name_at = token_pos;
            Token name = token;
            emit_name(LDA, name.text, L);
            emit(LDC, 0, get_array_low(name.text));
            next_token(d + 1);
            if (token.kind != WD_L_BRAC) syntax_error(MSG_BAD_ID);
            parse_index(d, L, name.text, name_at);
            note_check(cx, CHECK_ELEMENT, name.text, name_at);
            emit_at(name_at, IND, 0, 0);
            break;
        }
        case SYM_FUNC: parse_call(SYM_FUNC, d, L); break;
        case SYM_PROC: syntax_error(MSG_BAD_ID);
        }
        break;
    case WD_NUM:
        emit(LDC, 0, token.value);
        next_token(d + 1);
        break;
    case WD_L_PAREN:
        next_token(d + 1);
        parse_expression(d + 1, L);
        if (token.kind != WD_R_PAREN) syntax_error(MSG_NO_RPAREN);
        next_token(d + 1);
        break;
    default: syntax_error(MSG_NO_FACTOR);
    }
    trace_parse(MSG_T_FACTOR_END, d, "");
    watch_routine(WATCH_LEAVE, ROUTINE_FACTOR);
    return true;
}

void parse_index(int d, int L, const char* array, SourcePos name_at) {
    watch_routine(WATCH_ENTER, ROUTINE_INDEX);
    next_token(d + 1);
    const int first = cx;
    const SourcePos at = token_pos;
    parse_expression(d + 1, L);
    const SymbolEntry& entry = symtab[newest_entry(array)];
    if (warnings_on) warn_constant_index(entry, first, at);
    if (token.kind != WD_R_BRAC) syntax_error(MSG_NO_RBRAC);
    next_token(d + 1);
    // The first subtraction has the index on top: a checked run looks at it.
    note_check(cx, CHECK_INDEX, array, at, entry.low,
               static_cast<std::int32_t>(static_cast<std::uint32_t>(entry.low) +
                                         static_cast<std::uint32_t>(entry.size) - 1u));
    emit_from(token_pos, name_at, OPR, 0, OPR_SUB);
    emit_from(token_pos, name_at, OPR, 0, OPR_SUB);
    watch_routine(WATCH_LEAVE, ROUTINE_INDEX);
}

void emit_name(Opcode op, const char* name, int L) {
    emit_name_at(token_pos, op, name, L);
}

void emit_name_at(SourcePos where, Opcode op, const char* name, int L) {
    std::int32_t offset = get_offset(name);
    std::int32_t level = get_level(name);
    int i = emit_at(where, op, L - level, offset);
    if (op == LDA) note_cells(i, cells_of(name));
}

std::int32_t cells_of(const char* name) {
    const SymbolEntry& e = symtab[newest_entry(name)];
    return e.kind == SYM_ARRAY ? e.size : 1;
}
