// The symbol table: every declared name in scope, as a stack of fixed-size
// entries searched newest first.  Scopes close by restoring sym_count.
#pragma once

#include <cstdint>

#include "lexer/lexer.hpp"

enum SymbolKind : unsigned char {
    SYM_VAR,   // scalar variable or value parameter; also "by value"
    SYM_PROC,  // procedure, or the program name; also the kind of their blocks
    SYM_FUNC,  // function; also the kind of its block
    SYM_ARRAY, // array variable
    SYM_REF,   // reference (var) parameter; also "by reference"
};

inline constexpr int SYMTAB_MAX = 10000; // entries, the sentinel 0 included
inline constexpr int PARAM_MAX = 32;     // parameters one routine can record

struct SymbolEntry {
    char name[MAX_NAME_LENGTH + 1];
    SymbolKind kind;
    std::int32_t low;                     // arrays: low bound
    std::int32_t size;                    // arrays: hi - lo + 1 as declared
    unsigned char param_kinds[PARAM_MAX]; // routines: SYM_VAR or SYM_REF per position
    std::int32_t level;                   // level of the owning (or declaring) block
    std::int32_t offset;                  // cell offset in the frame
    std::int32_t code_adr;                // routines: index of the block's UJP
    std::int32_t param_count;             // routines: positions recorded by ReRegist
    int record;                           // its place in the record of names, or -1
};

// The table; entry 0 is the empty sentinel, 1 to sym_count are live, oldest
// first.  Written by the registrations below and, for scopes, the parser.
extern SymbolEntry symtab[SYMTAB_MAX];
extern int sym_count;

void regist_var(const char* name, std::int32_t level, std::int32_t offset);
void regist_array(const char* name, std::int32_t level, std::int32_t offset, std::int32_t low,
                  std::int32_t size);
void regist_ref_param(const char* name, std::int32_t level, std::int32_t offset);
void regist_proc(const char* name, std::int32_t level, std::int32_t code_adr);
void regist_func(const char* name, std::int32_t level, std::int32_t code_adr);

// Records the passing kind of parameter `position` on the routine `name`.
void ReRegist(const char* name, int position, SymbolKind passing);

// Lookups of the newest entry with the name; an undeclared name is a syntax
// error whose message tells which lookup failed.
std::int32_t get_array_low(const char* name);              // (as)
SymbolKind get_param_kind(const char* name, int position); // (rr)
SymbolKind get_kind(const char* name);                     // (k)
std::int32_t get_level(const char* name);                  // (l)
std::int32_t get_offset(const char* name);                 // (a)
std::int32_t get_code_adr(const char* name);               // (i)

// The index of the newest live entry with the name, 0 when there is none.
// Not a lookup of the language (no trace, no error): for the parser's own
// checks on an entry a lookup has found.
int newest_entry(const char* name);

// Forgets every entry (the fuzzer and tests run many programs per process).
void reset_symtab();
