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

// What the tiers and tools know of an instruction without running it, one
// row per opcode: how it changes t, whether l counts static links, where
// control goes on.  The interpreter's effects (vm/effects.hpp) are what the
// instruction does; a test runs every opcode's effect and checks it against
// its row.

// How an instruction changes t.
enum TopChange : unsigned char {
    TOP_CELLS,   // by pushes - pops
    TOP_OPERAND, // up by a (MST: the callee's header)
    TOP_FRAME,   // set from b (ENT, RET, FRT)
};

// Where control goes on after an instruction.
enum Flow : unsigned char {
    FLOW_NEXT,   // to the next instruction
    FLOW_BRANCH, // to a, or to the next one (FJP)
    FLOW_CALL,   // to a, and back to the next one when the routine returns (CUP)
    FLOW_JUMP,   // to a (UJP)
    FLOW_RETURN, // to the return address in the frame's header (RET, FRT)
    FLOW_HALT,   // nowhere: the run ends (HLT, and an op byte outside the set)
};

struct OpcodeProperties {
    Opcode op;          // the row's opcode, checked below
    signed char pops;   // TOP_CELLS: cells taken from the top
    signed char pushes; // TOP_CELLS: cells put there
    TopChange top;
    Flow flow;
    bool level;     // l counts static links: the cells are base(l)'s
    bool sub_coded; // a picks the operation; pops and pushes are a binary one's
    bool computes;  // only computes the top cells: reads no input, writes no
                    // output and no cell below the top, and goes on to the next
};

// clang-format off
inline constexpr OpcodeProperties opcode_properties[OPCODE_COUNT] = {
    // op   pops pushes top          flow         level  sub    computes
    {LDC,  0,   1,     TOP_CELLS,   FLOW_NEXT,   false, false, true},
    {OPR,  2,   1,     TOP_CELLS,   FLOW_NEXT,   false, true,  true},
    {COP,  2,   1,     TOP_CELLS,   FLOW_NEXT,   false, true,  true},
    {LOD,  0,   1,     TOP_CELLS,   FLOW_NEXT,   true,  false, true},
    {STR,  1,   0,     TOP_CELLS,   FLOW_NEXT,   true,  false, false},
    {UJP,  0,   0,     TOP_CELLS,   FLOW_JUMP,   false, false, false},
    {FJP,  1,   0,     TOP_CELLS,   FLOW_BRANCH, false, false, false},
    {RET,  0,   0,     TOP_FRAME,   FLOW_RETURN, false, false, false},
    {MST,  0,   0,     TOP_OPERAND, FLOW_NEXT,   true,  false, false},
    {ENT,  0,   0,     TOP_FRAME,   FLOW_NEXT,   false, false, false},
    {HLT,  0,   0,     TOP_CELLS,   FLOW_HALT,   false, false, false},
    {GET,  0,   1,     TOP_CELLS,   FLOW_NEXT,   false, false, false},
    {PUT,  1,   0,     TOP_CELLS,   FLOW_NEXT,   false, false, false},
    {LDA,  0,   1,     TOP_CELLS,   FLOW_NEXT,   true,  false, true},
    {IND,  1,   1,     TOP_CELLS,   FLOW_NEXT,   false, false, true},
    {STO,  2,   0,     TOP_CELLS,   FLOW_NEXT,   false, false, false},
    {FRT,  0,   0,     TOP_FRAME,   FLOW_RETURN, false, false, false},
    {CUP,  0,   0,     TOP_CELLS,   FLOW_CALL,   false, false, false},
};

// The row of an op byte outside the instruction set: the machine stops on
// it with an error.
inline constexpr OpcodeProperties undefined_opcode_properties =
    {HLT,  0,   0,     TOP_CELLS,   FLOW_HALT,   false, false, false};
// clang-format on

// Every opcode has its row, in the enum's order: a row left out leaves a
// zero row whose op does not match its place.
constexpr bool opcode_rows_in_order() {
    for (int k = 0; k < OPCODE_COUNT; ++k)
        if (opcode_properties[k].op != k) return false;
    return true;
}
static_assert(opcode_rows_in_order(), "one row per opcode, in the enum's order");

// The row of any op byte.
constexpr const OpcodeProperties& properties_of(unsigned op) {
    return op < OPCODE_COUNT ? opcode_properties[op] : undefined_opcode_properties;
}

// Whether a is an instruction's index: a jump's, a branch's or a call's.
constexpr bool has_code_address(unsigned op) {
    Flow f = properties_of(op).flow;
    return f == FLOW_BRANCH || f == FLOW_CALL || f == FLOW_JUMP;
}

// Whether the next instruction may run right after this one or, for a
// call, when the routine returns.
constexpr bool falls_through(unsigned op) {
    Flow f = properties_of(op).flow;
    return f == FLOW_NEXT || f == FLOW_BRANCH || f == FLOW_CALL;
}

// Whether the instruction ends its routine, or the run.
constexpr bool ends_routine(unsigned op) {
    Flow f = properties_of(op).flow;
    return f == FLOW_RETURN || f == FLOW_HALT;
}

// Whether OPR or COP has a binary operation's sub-code (OPR 1-4, COP 1-6).
constexpr bool is_binary_operation(const Instruction& in) {
    return (in.op == OPR && in.a >= OPR_ADD && in.a <= OPR_DIV) ||
           (in.op == COP && in.a >= COP_EQ && in.a <= COP_LEQ);
}

// The cells instruction `in` takes from the top and puts there (TOP_CELLS
// only): a sub-coded one's row is its binary operation's; OPR 0,5
// negates the top cell in place, and any other sub-code does nothing.
constexpr int pops_of(const Instruction& in) {
    const OpcodeProperties& row = properties_of(in.op);
    if (!row.sub_coded || is_binary_operation(in)) return row.pops;
    return in.op == OPR && in.a == OPR_NEG ? 1 : 0;
}
constexpr int pushes_of(const Instruction& in) {
    const OpcodeProperties& row = properties_of(in.op);
    if (!row.sub_coded || is_binary_operation(in)) return row.pushes;
    return in.op == OPR && in.a == OPR_NEG ? 1 : 0;
}

// How instruction `in` moves t: pushes - pops, or a for MST; 0 for one
// that sets t from b (TOP_FRAME), which says nothing of the change.
constexpr std::int64_t depth_change(const Instruction& in) {
    switch (properties_of(in.op).top) {
    case TOP_CELLS: return pushes_of(in) - pops_of(in);
    case TOP_OPERAND: return in.a;
    case TOP_FRAME: return 0;
    }
    return 0;
}

// What each instruction does, in symbols and in words (English and
// Japanese, UTF-8), for the listing's hover notes in the playground and the
// guide to the machine.  `l` and `a` are the operands; base(l) is the frame
// l static links out from b.
struct OpcodeEffect {
    const char* symbols;
    const char* english;
    const char* japanese;
};

inline constexpr OpcodeEffect opcode_effects[OPCODE_COUNT] = {
    {"t := t+1; s[t] := a", "push the number a", "数 a を積む"},
    {"s[t-1] := s[t-1] op s[t]; t := t-1 (a=5: s[t] := -s[t])",
     "arithmetic on the top cells: a=1 +, 2 -, 3 *, 4 div, 5 negate the top",
     "一番上のセルで算術演算: a=1 +、2 -、3 *、4 div、5 符号反転"},
    {"s[t-1] := (s[t-1] rel s[t]) ? 1 : 0; t := t-1",
     "compare the two top cells: a=1 =, 2 <>, 3 >, 4 >=, 5 <, 6 <=; leave 1 (true) or 0",
     "上の二つのセルを比較: a=1 =、2 <>、3 >、4 >=、5 <、6 <=; 真なら 1、偽なら 0 を残す"},
    {"t := t+1; s[t] := s[base(l)+a]", "push the value of cell a of the frame l static links out",
     "静的リンクを l 回たどったフレームのセル a の値を積む"},
    {"s[base(l)+a] := s[t]; t := t-1", "pop the top into cell a of the frame l static links out",
     "一番上の値を、静的リンクを l 回たどったフレームのセル a に移す"},
    {"p := a", "jump to instruction a", "命令 a へ飛ぶ"},
    {"if s[t] = 0 then p := a; t := t-1", "pop the top; jump to instruction a if it was 0 (false)",
     "一番上を取り出し、0 (偽) なら命令 a へ飛ぶ"},
    {"t := b-1; p := s[b+2]; b := s[b+1]",
     "return from a procedure: drop its frame, go back to the return address and the caller's "
     "frame",
     "手続きから戻る: フレームを捨て、戻り番地と呼び出し元のフレームへ戻る"},
    {"s[t+1] := base(l); s[t+2] := b; t := t+a",
     "start a call: the static link (the frame l links out) and the dynamic link (b) go above "
     "the top, which grows by a: 3 for a procedure (the return address's cell is the third), "
     "4 for a function (its result's cell is the fourth)",
     "呼び出しの準備: 静的リンク (l 回たどったフレーム) と動的リンク (b) を上に置き、"
     "t を a 増やす: 手続きなら 3 (3 番目のセルは戻り番地用)、関数なら 4 (4 番目のセルは結果用)"},
    {"t := b+a",
     "make the frame reach cell b+a, so a+1 cells long: the three links' cells, "
     "a function's result, the parameters and the routine's variables",
     "フレームをセル b+a まで、a+1 セルの長さにする: "
     "リンクの 3 セル、関数の結果、引数、手続きの変数の場所"},
    {"stop", "end the run", "実行を終える"},
    {"t := t+1; s[t] := the next number of the input",
     "push a number read from standard input (after the prompt)",
     "標準入力から読んだ数を積む (プロンプトの後で)"},
    {"write s[t]; t := t-1", "pop the top and write it as a line", "一番上を取り出して 1 行に書く"},
    {"t := t+1; s[t] := base(l)+a",
     "push the address of cell a of the frame l static links out (for a var parameter)",
     "静的リンクを l 回たどったフレームのセル a の番地を積む (var 引数のため)"},
    {"s[t] := s[s[t]+a]",
     "replace the address on top with the value of the cell it points to (plus a)",
     "一番上の番地 (+a) が指すセルの値で置き換える"},
    {"s[s[t-1]] := s[t]; t := t-2",
     "store the top into the cell whose address lies below it; pop both",
     "一番上の値を、その下の番地が指すセルに入れ、両方を取り出す"},
    {"s[b] := s[b+3]; t := b; p := s[b+2]; b := s[b+1]",
     "return from a function: its result goes where its frame began, then back to the caller",
     "関数から戻る: 結果をフレームの先頭に置き、呼び出し元へ戻る"},
    {"s[t-l] := p; b := t-l-2; p := a",
     "call routine a; l counts the cells above the return address's: the arguments, "
     "and for a function its result's cell too (square(7) is CUP 2,1); "
     "store the return address, the new frame starts at the links",
     "命令 a の手続きを呼ぶ; l は戻り番地のセルより上のセルの数: 引数と、関数ならその結果のセル "
     "(square(7) は CUP 2,1); 戻り番地を入れ、リンクの所から新しいフレームを始める"},
};

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

// Per instruction, the stretch of source it computes, token to token: a
// name or number for the instruction that loads it, both operands and the
// operator for an operator's, the whole call for MST and CUP, the whole
// statement for the store or output that ends one, the keyword and the
// condition for the jumps of an if or while, the heading for a block's
// jump over its routines, "begin" for its ENT, "end" for its RET or FRT.
// Written only while positions are counted, like code_pos.
extern SourceRange code_range[CODE_MAX];

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

// Appends an instruction that belongs to the construct at `where`; its
// range runs from there to the end of what the parser has read of the
// construct (range_from).
int emit_at(SourcePos where, Opcode op, std::int32_t l, std::int32_t a);

// The same, for an instruction whose range begins earlier, at `first`: an
// operator's, which begins with its left operand.
int emit_from(SourcePos where, SourcePos first, Opcode op, std::int32_t l, std::int32_t a);

// The stretch from `first` to the end of the last token the parser has
// read, or of the current token when the construct begins there.  Only
// meaningful while positions are counted.
SourceRange range_from(SourcePos first);

// Gives instruction i another range, once the parser knows where its
// construct ends (a call's MST) or for a construct of several parts (the
// jumps of an if or while).  Nothing while positions are not counted.
void set_range(int i, SourceRange range);

// What the compiler knows of an LDA that the instruction does not say: the
// cells of the variable or array whose address it takes (1 for a
// variable).  The optimising tier checks an index against them.  The parser
// notes them right after it emits the LDA.
void note_cells(int i, std::int32_t cells);

// The cells noted for instruction i; 0 when none were, or when the
// instruction is no longer the LDA they were noted for.
std::int32_t cells_at(int i);

// Empties the store.
void reset_code();
