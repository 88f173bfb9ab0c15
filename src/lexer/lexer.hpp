// The lexer: tokens, their names, the keyword table and get_token.
#pragma once

#include <cstdint>

#include "diag/watch.hpp"

// The 34 token codes.
enum TokenKind : unsigned char {
    WD_ID,      // identifier: a letter, then letters and digits; not a keyword
    WD_NUM,     // number: decimal digits
    WD_PLUS,    // +
    WD_MIN,     // -
    WD_TIM,     // *
    WD_EQ,      // =
    WD_NEQ,     // <>
    WD_LT,      // <
    WD_LEQ,     // <=
    WD_GT,      // >
    WD_GEQ,     // >=
    WD_L_PAREN, // (
    WD_R_PAREN, // )
    WD_COM,     // ,
    WD_SEMI,    // ;
    WD_PERIOD,  // .
    WD_BECOM,   // :=
    WD_L_BRAC,  // [
    WD_R_BRAC,  // ]
    WD_RENGE,   // ..
    WD_DIV,     // the keywords, in keyword-table order
    WD_BEGIN,
    WD_END,
    WD_IF,
    WD_THEN,
    WD_ELSE,
    WD_WHILE,
    WD_DO,
    WD_PROG,
    WD_PROC,
    WD_FUNC,
    WD_VAR,
    WD_READ,
    WD_WRITE,
};

inline constexpr int TOKEN_KIND_COUNT = 34;

// The longest identifier; its text and the NUL fill a 32-byte field.  (Not
// NAME_MAX: <limits.h> defines that macro as the file-name limit, 255.)
inline constexpr int MAX_NAME_LENGTH = 31;

struct Token {
    TokenKind kind;
    char text[MAX_NAME_LENGTH + 1]; // identifiers and keywords, NUL-terminated
    std::int32_t value;             // numbers
};

// The name of each token code, "WD_ID" to "WD_WRITE", for the lexer trace.
extern const char* const token_names[TOKEN_KIND_COUNT];

// The keywords in code order; the keyword at position i has code
// KEYWORD_FIRST + i.
inline constexpr int KEYWORD_FIRST = WD_DIV;
inline constexpr int KEYWORD_COUNT = 14;
extern const char* const keywords[KEYWORD_COUNT];

// The parser's one token of look-ahead.  Written by the parser.
extern Token token;

// Reads the next token from the current character on.  The depth only
// indents the lexer trace.
Token get_token(int depth);

// Fills an event's token fields (kind, text, value) from `tok`, and its
// place from where the lexer stands: the token read last, from its first
// character to just past its last.
void set_event_token(WatchEvent& event, const Token& tok);

// Reads the next token into the current token.
inline void next_token(int depth) {
    token = get_token(depth);
}
