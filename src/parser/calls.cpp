#include "parser/calls.hpp"

#include "diag/diag.hpp"
#include "diag/trace.hpp"
#include "lexer/lexer.hpp"
#include "lexer/reader.hpp"
#include "parser/blocks.hpp"
#include "parser/expressions.hpp"
#include "parser/warnings.hpp"
#include "symtab/names.hpp"
#include "symtab/symtab.hpp"
#include "vm/code.hpp"
#include "vm/frame.hpp"

namespace {

// An argument at a reference position: the address of a variable, of the
// variable a reference parameter refers to, or of an array element.
//   argument = name | array "[" expression "]"
void reference_argument(int d, int L) {
    if (token.kind != WD_ID) syntax_error(MSG_REF_NOT_VARIABLE);
    SymbolKind kind = get_kind(token.text);
    // A routine name has no cell whose address could be passed.
    if (kind == SYM_PROC || kind == SYM_FUNC) syntax_error(MSG_REF_NOT_VARIABLE);
    note_access(NameAccess::address);
    const SourcePos name_at = token_pos;
    emit_name(kind == SYM_REF ? LOD : LDA, token.text, L);
    if (get_kind(token.text) == SYM_ARRAY) {
        Token name = token;
        emit(LDC, 0, get_array_low(name.text));
        next_token(d + 1);
        if (token.kind != WD_L_BRAC) syntax_error(MSG_BAD_ID);
        parse_index(d, L, name.text, name_at);
    } else {
        next_token(d + 1);
    }
}

} // namespace

// call = name [ "(" argument { "," argument } ")" ]
//
// MST, the arguments in the order written, CUP: the arguments land in the
// callee's frame where its parameters were registered.  Every parameter
// needs an argument (a missing one would be a cell nobody set, a missing
// reference an address nobody gave); more arguments than parameters
// compile, the extra cells lying above the parameters (a warning says
// where they land).
void parse_call(SymbolKind kind, int d, int L) {
    const bool is_function = kind == SYM_FUNC;
    trace_parse(is_function ? MSG_T_FUNC_NAME : MSG_T_PROC_NAME, d + 1, "");
    watch_routine(WATCH_ENTER, ROUTINE_CALL);
    SourcePos at = token_pos;
    const int start = emit_at(at, MST, L - get_level(token.text), frame_header_cells(is_function));
    Token callee = token;
    const int entry = newest_entry(callee.text);
    const int params = symtab[entry].param_count;
    next_token(d + 1);
    int n = 0;
    SourcePos surplus_at{};
    if (token.kind == WD_L_PAREN) {
        do {
            next_token(d + 1);
            if (n == params) surplus_at = token_pos;
            if (get_param_kind(callee.text, n) == SYM_REF) {
                if (!is_function) trace_parse(MSG_T_REF_ARG, d + 1, "");
                reference_argument(d, L);
            } else {
                if (!is_function) trace_parse(MSG_T_VALUE_ARG, d + 1, "");
                parse_expression(d + 1, L);
            }
            ++n;
        } while (token.kind == WD_COM);
        if (token.kind != WD_R_PAREN) syntax_error(MSG_NO_RPAREN);
        if (n < params) syntax_error(MSG_TOO_FEW_ARGUMENTS);
        if (warnings_on && n > params) warn_surplus_arguments(symtab[entry], n, surplus_at);
        next_token(d + 1);
    } else if (params > 0) {
        syntax_error(MSG_TOO_FEW_ARGUMENTS);
    }
    emit_at(at, CUP, is_function ? n + 1 : n, get_code_adr(callee.text));
    set_range(start, range_from(at)); // the whole call, now that it is read
    watch_routine(WATCH_LEAVE, ROUTINE_CALL);
}
