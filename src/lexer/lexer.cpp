#include "lexer/lexer.hpp"

#include <cstring>

#include "diag/diag.hpp"
#include "diag/trace.hpp"
#include "lexer/reader.hpp"

const char* const token_names[TOKEN_KIND_COUNT] = {
    "WD_ID",    "WD_NUM",    "WD_PLUS",  "WD_MIN",    "WD_TIM",     "WD_EQ",      "WD_NEQ",
    "WD_LT",    "WD_LEQ",    "WD_GT",    "WD_GEQ",    "WD_L_PAREN", "WD_R_PAREN", "WD_COM",
    "WD_SEMI",  "WD_PERIOD", "WD_BECOM", "WD_L_BRAC", "WD_R_BRAC",  "WD_RENGE",   "WD_DIV",
    "WD_BEGIN", "WD_END",    "WD_IF",    "WD_THEN",   "WD_ELSE",    "WD_WHILE",   "WD_DO",
    "WD_PROG",  "WD_PROC",   "WD_FUNC",  "WD_VAR",    "WD_READ",    "WD_WRITE",
};

const char* const keywords[KEYWORD_COUNT] = {
    "div", "begin",   "end",       "if",       "then", "else", "while",
    "do",  "program", "procedure", "function", "var",  "read", "write",
};

Token token;

namespace {

// The character classes of the default C locale, spelled out so that no
// locale and no byte above 127 can change them.
bool is_digit(int c) {
    return c >= '0' && c <= '9';
}
bool is_letter(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// identifier = letter { letter | digit }
// An identifier longer than MAX_NAME_LENGTH characters is an error: keeping only a
// prefix would let two different long names become the same name.
Token read_identifier() {
    Token tok{};
    int length = 0;
    while (is_letter(ch) || is_digit(ch)) {
        if (length == MAX_NAME_LENGTH) lexical_error(MSG_IDENT_TOO_LONG);
        tok.text[length++] = static_cast<char>(ch);
        next_char();
    }
    tok.text[length] = '\0';
    tok.kind = WD_ID;
    for (int i = 0; i < KEYWORD_COUNT; ++i) {
        if (std::strcmp(tok.text, keywords[i]) == 0) {
            tok.kind = static_cast<TokenKind>(KEYWORD_FIRST + i);
            break;
        }
    }
    return tok;
}

// number = digit { digit }, modulo 2^32, read as a signed 32-bit value.
Token read_number() {
    Token tok{};
    tok.kind = WD_NUM;
    std::uint32_t value = 0;
    while (is_digit(ch)) {
        value = value * 10u + static_cast<std::uint32_t>(ch - '0');
        next_char();
    }
    tok.value = static_cast<std::int32_t>(value);
    return tok;
}

// After a first character that may start a two-character operator: if the
// next one is `second`, consume it and return `pair`, else return `single`.
TokenKind one_or_two(int second, TokenKind pair, TokenKind single) {
    next_char();
    if (ch != second) return single;
    next_char();
    return pair;
}

} // namespace

Token get_token(int depth) {
    trace_lex(MSG_T_LEX_START, depth, "");
    if (positions_on) previous_token_end = ch_pos;
    while (ch == ' ')
        next_char();
    if (positions_on) {
        token_pos = ch_pos;
        if (token_pos.line != token_indent_line) {
            token_indent_line = token_pos.line;
            token_line_indent = token_pos.column;
        }
    }

    Token tok{};
    if (is_letter(ch)) {
        tok = read_identifier();
    } else if (is_digit(ch)) {
        tok = read_number();
    } else {
        switch (ch) {
        case '(':
            tok.kind = WD_L_PAREN;
            next_char();
            break;
        case ')':
            tok.kind = WD_R_PAREN;
            next_char();
            break;
        case '*':
            tok.kind = WD_TIM;
            next_char();
            break;
        case '+':
            tok.kind = WD_PLUS;
            next_char();
            break;
        case ',':
            tok.kind = WD_COM;
            next_char();
            break;
        case '-':
            tok.kind = WD_MIN;
            next_char();
            break;
        case ';':
            tok.kind = WD_SEMI;
            next_char();
            break;
        case '=':
            tok.kind = WD_EQ;
            next_char();
            break;
        case '[':
            tok.kind = WD_L_BRAC;
            next_char();
            break;
        case ']':
            tok.kind = WD_R_BRAC;
            next_char();
            break;
        case '.': tok.kind = one_or_two('.', WD_RENGE, WD_PERIOD); break;
        case '>': tok.kind = one_or_two('=', WD_GEQ, WD_GT); break;
        case ':':
            next_char();
            if (ch != '=') lexical_error(MSG_BAD_TOKEN);
            next_char();
            tok.kind = WD_BECOM;
            break;
        case '<':
            next_char();
            if (ch == '>') {
                tok.kind = WD_NEQ;
                next_char();
            } else if (ch == '=') {
                tok.kind = WD_LEQ;
                next_char();
            } else {
                tok.kind = WD_LT;
            }
            break;
        default: lexical_error(MSG_BAD_TOKEN);
        }
    }
    trace_lex(MSG_T_LEX_TOKEN, static_cast<int>(tok.kind), token_names[tok.kind]);
    if (watching()) {
        WatchEvent event{};
        event.kind = WATCH_TOKEN;
        set_event_token(event, tok);
        send_event(event);
    }
    return tok;
}

void set_event_token(WatchEvent& event, const Token& tok) {
    event.token = tok.kind;
    set_event_text(event, tok.text);
    event.value = tok.value;
    event.first = token_pos;
    // The lexer stops at the character after the token.
    event.last = ch_pos;
}
