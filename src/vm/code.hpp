// The target machine's instruction set and the code store.
//
// Effects use the machine's registers (vm/machine.hpp): p is already past
// the executing instruction, t is the topmost occupied cell, base(l) follows
// l static links from b.
#pragma once

#include <cstdint>

#include "diag/diag.hpp"

enum Opcode : unsigned char {
    LDC, // LDC 0,n   push n
    OPR, // OPR 0,k   arithmetic k on the top cells: 1 + 2 - 3 * 4 div 5 negate
    COP, // COP 0,k   compare the two top cells: 1 = 2 <> 3 > 4 >= 5 < 6 <=; push 1 or 0
    LOD, // LOD l,a   push s[base(l)+a]
    STR, // STR l,a   s[base(l)+a] := s[t]; pop
    UJP, // UJP 0,x   p := x
    FJP, // FJP 0,x   if s[t] = 0 then p := x; pop
    RET, // RET 0,0   t := b-1; p := s[b+2]; b := s[b+1]
    MST, // MST l,a   s[t+1] := base(l); s[t+2] := b; t := t+a
    ENT, // ENT 0,m   t := b+m
    HLT, // HLT 0,0   stop
    GET, // GET 0,0   push a number read from standard input, after the prompt
    PUT, // PUT 0,0   write s[t] as a line; pop
    LDA, // LDA l,a   push base(l)+a, the address of that cell
    IND, // IND 0,a   s[t] := s[s[t]+a]
    STO, // STO 0,0   s[s[t-1]] := s[t]; t := t-2
    FRT, // FRT 0,0   s[b] := s[b+3]; t := b; p := s[b+2]; b := s[b+1]
    CUP, // CUP n,x   s[t-n] := p; b := t-n-2; p := x
};

inline constexpr int OPCODE_COUNT = 18;

// Sub-codes of OPR and COP.
enum OprCode : std::int32_t { OPR_ADD = 1, OPR_SUB, OPR_MUL, OPR_DIV, OPR_NEG };
enum CopCode : std::int32_t { COP_EQ = 1, COP_NEQ, COP_GT, COP_GEQ, COP_LT, COP_LEQ };

struct Instruction {
    Opcode op;
    std::int32_t l;
    std::int32_t a;
};

inline constexpr const char* mnemonics[OPCODE_COUNT] = {
    "LDC", "OPR", "COP", "LOD", "STR", "UJP", "FJP", "RET", "MST",
    "ENT", "HLT", "GET", "PUT", "LDA", "IND", "STO", "FRT", "CUP",
};

// The mnemonic table and the enum agree, checked where both are declared.
constexpr bool mnemonic_is(Opcode op, const char* name) {
    const char* m = mnemonics[op];
    return m[0] == name[0] && m[1] == name[1] && m[2] == name[2] && m[3] == '\0';
}
static_assert(mnemonic_is(LDC, "LDC") && mnemonic_is(OPR, "OPR") && mnemonic_is(COP, "COP") &&
              mnemonic_is(LOD, "LOD") && mnemonic_is(STR, "STR") && mnemonic_is(UJP, "UJP") &&
              mnemonic_is(FJP, "FJP") && mnemonic_is(RET, "RET") && mnemonic_is(MST, "MST") &&
              mnemonic_is(ENT, "ENT") && mnemonic_is(HLT, "HLT") && mnemonic_is(GET, "GET") &&
              mnemonic_is(PUT, "PUT") && mnemonic_is(LDA, "LDA") && mnemonic_is(IND, "IND") &&
              mnemonic_is(STO, "STO") && mnemonic_is(FRT, "FRT") && mnemonic_is(CUP, "CUP"));

// The mnemonic of any op byte; "???" for one outside the instruction set.
inline const char* mnemonic(unsigned op) {
    return op < OPCODE_COUNT ? mnemonics[op] : "???";
}

inline constexpr int CODE_MAX = 10000;

// The compiled program: entries 0 to cx-1.  Written by generate_code and
// backpatch during compilation, read by the interpreter.
extern Instruction code[CODE_MAX];
extern int cx;

// Per instruction, where in the source the construct it belongs to stands:
// the token the parser was at when it emitted the instruction, unless the
// parser named a place with emit_at.  Written only while positions are
// counted (lexer/reader.hpp).
extern SourcePos code_pos[CODE_MAX];

// A statement that compiled to at least one instruction, other than a
// compound one ("begin ... end": the statements inside it are where one
// steps): where it stands in the source, from its first character to just
// past its last, and its instructions, first to last, which follow one
// another in the store.  An instruction outside every statement belongs to
// a block (its jump over the routines, ENT, RET, FRT, HLT).
struct StatementSpan {
    SourcePos begin;
    SourcePos end;
    int first;
    int last;
};

// Every leaf statement takes instructions of its own, and every if and
// while an FJP, so a program has at most two statements per instruction.
inline constexpr int STATEMENT_MAX = 2 * CODE_MAX;

// The statements compiled, each recorded when it ends (an inner one before
// the statement around it).  Written only while positions are counted.
extern StatementSpan statement_spans[STATEMENT_MAX];
extern int statement_count;

// Records the statement that began at `begin` with instruction `first` and
// has just been compiled, when it took any instruction.
void note_statement(SourcePos begin, int first);

// The index of the instruction the parser emitted last.
extern int last_emitted;

// Appends `op l,a` and returns its index.  A program that needs more than
// CODE_MAX instructions is a syntax error.
int generate_code(Opcode op, std::int32_t l, std::int32_t a);

// Sets operand a of instruction i to cx, the index of the next instruction.
void backpatch(int i);

// Prints the code store: a heading, "i: OPC(l,a)" per instruction, a rule.
void list_code();

// Appends an instruction and records it as the last emitted one.
inline int emit(Opcode op, std::int32_t l, std::int32_t a) {
    last_emitted = generate_code(op, l, a);
    return last_emitted;
}

// Appends an instruction that belongs to the construct at `where`.
int emit_at(SourcePos where, Opcode op, std::int32_t l, std::int32_t a);

// Empties the store.
void reset_code();
