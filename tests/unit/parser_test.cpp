// The parser and code generator, through the code it emits: the shape of
// blocks and frames, every statement form, expressions, conditions and
// calls, and the symbol table left behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "parser/blocks.hpp"
#include "support.hpp"
#include "symtab/symtab.hpp"
#include "vm/code.hpp"

namespace {

// Compiles a program that must compile, and returns its listing.
std::string code_of(const std::string& source) {
    Outcome o = compile(source);
    EXPECT_EQ(o.status, -1) << o.out;
    EXPECT_EQ(o.out, "");
    return listing();
}

// Compiles a program that must fail, and returns what it printed.
std::string error_of(const std::string& source) {
    Outcome o = compile(source);
    EXPECT_EQ(o.status, 1) << listing();
    return o.out;
}

// Instructions from..to-1 of the code store as "OPC l,a; OPC l,a".
std::string ops(int from, int to) {
    std::string out;
    for (int i = from; i < to && i < cx; ++i) {
        if (!out.empty()) out += "; ";
        out += mnemonic(code[i].op);
        out += " " + std::to_string(code[i].l) + "," + std::to_string(code[i].a);
    }
    return out;
}

// The code of `write(expr)` in a main program with a, b, c in cells 3 to 5
// and v[0..9] in cells 6 to 15, without the PUT.
std::string expression_code(const std::string& expr) {
    Outcome o = compile("program p;\nvar a, b, c, v[0..9];\nbegin write(" + expr + ") end.\n");
    EXPECT_EQ(o.status, -1) << expr << ": " << o.out;
    return ops(2, cx - 2);
}

// The code of the statements of a main program with `decls`, between its
// ENT and its HLT.
std::string main_body_code(const std::string& decls, const std::string& body) {
    Outcome o = compile("program m;\n" + decls + "\nbegin\n" + body + "\nend.\n");
    EXPECT_EQ(o.status, -1) << body << ": " << o.out;
    return ops(code[0].a + 1, cx - 1);
}

std::string many_names(const char* prefix, int count) {
    std::string out;
    for (int i = 1; i <= count; ++i) {
        if (i > 1) out += ", ";
        out += prefix + std::to_string(i);
    }
    return out;
}

const char* const SYNTAX = "構文エラー: ";

} // namespace

// ---------------------------------------------------------------------------
// Program and blocks

TEST(ParserProgram, TheRoadOfOneSmallProgram) {
    EXPECT_EQ(code_of("program p;\nvar x;\nbegin\n  x := 2;\n  write(x * 3)\nend.\n"),
              "0: UJP(0,1)\n"
              "1: ENT(0,3)\n"
              "2: LDC(0,2)\n"
              "3: STR(0,3)\n"
              "4: LOD(0,3)\n"
              "5: LDC(0,3)\n"
              "6: OPR(0,3)\n"
              "7: PUT(0,0)\n"
              "8: HLT(0,0)\n");
    ASSERT_EQ(sym_count, 2);
    EXPECT_STREQ(symtab[1].name, "p");
    EXPECT_EQ(symtab[1].kind, SYM_PROC);
    EXPECT_EQ(symtab[1].code_adr, 0);
    EXPECT_EQ(symtab[2].kind, SYM_VAR);
    EXPECT_EQ(symtab[2].level, 0);
    EXPECT_EQ(symtab[2].offset, 3);
}

TEST(ParserProgram, SmallestProgram) {
    EXPECT_EQ(code_of("program p;\nbegin end.\n"), "0: UJP(0,1)\n1: ENT(0,2)\n2: HLT(0,0)\n");
    EXPECT_EQ(code_of("program p; begin ; ; end.\n"), "0: UJP(0,1)\n1: ENT(0,2)\n2: HLT(0,0)\n");
}

TEST(ParserProgram, NestedRoutinesCompileBetweenTheJumpAndTheEnt) {
    EXPECT_EQ(code_of("program p;\n"
                      "var x, a[1..3];\n"
                      "procedure q(v, var r);\n"
                      "var y;\n"
                      "begin end;\n"
                      "function f;\n"
                      "begin end;\n"
                      "begin end.\n"),
              "0: UJP(0,7)\n"
              "1: UJP(0,2)\n"
              "2: ENT(0,5)\n"
              "3: RET(0,0)\n"
              "4: UJP(0,5)\n"
              "5: ENT(0,3)\n"
              "6: FRT(0,0)\n"
              "7: ENT(0,6)\n"
              "8: HLT(0,0)\n");
    // After q its parameters and local are gone; f took slot 5 and stays.
    ASSERT_EQ(sym_count, 5);
    const SymbolEntry& q = symtab[4];
    EXPECT_STREQ(q.name, "q");
    EXPECT_EQ(q.kind, SYM_PROC);
    EXPECT_EQ(q.level, 0);
    EXPECT_EQ(q.code_adr, 1);
    EXPECT_EQ(q.param_kinds[0], SYM_VAR);
    EXPECT_EQ(q.param_kinds[1], SYM_REF);
    const SymbolEntry& f = symtab[5];
    EXPECT_STREQ(f.name, "f");
    EXPECT_EQ(f.kind, SYM_FUNC);
    EXPECT_EQ(f.level, 0);
    EXPECT_EQ(f.code_adr, 4);
}

// An error in q's body stops compilation with the table as q's body sees it.
TEST(ParserProgram, SymbolTableWhileAProcedureBodyIsCompiled) {
    EXPECT_EQ(error_of("program p;\n"
                       "var x, a[1..3];\n"
                       "procedure q(v, var r);\n"
                       "var y;\n"
                       "begin zz end;\n"
                       "begin end.\n"),
              std::string(SYNTAX) + "宣言されていない識別子の使用(k)\n\n");
    ASSERT_EQ(sym_count, 7);
    struct Expected {
        const char* name;
        SymbolKind kind;
        int level;
        int offset_or_adr;
    };
    const Expected expected[] = {
        {"p", SYM_PROC, 0, 0}, {"x", SYM_VAR, 0, 3}, {"a", SYM_ARRAY, 0, 4}, {"q", SYM_PROC, 0, 1},
        {"v", SYM_VAR, 1, 3},  {"r", SYM_REF, 1, 4}, {"y", SYM_VAR, 1, 5},
    };
    for (int i = 0; i < 7; ++i) {
        const SymbolEntry& e = symtab[i + 1];
        const Expected& x = expected[i];
        EXPECT_STREQ(e.name, x.name);
        EXPECT_EQ(e.kind, x.kind) << x.name;
        EXPECT_EQ(e.level, x.level) << x.name;
        if (x.kind == SYM_PROC)
            EXPECT_EQ(e.code_adr, x.offset_or_adr) << x.name;
        else
            EXPECT_EQ(e.offset, x.offset_or_adr) << x.name;
    }
    EXPECT_EQ(symtab[3].low, 1);
    EXPECT_EQ(symtab[3].size, 3);
    EXPECT_EQ(symtab[4].param_kinds[0], SYM_VAR);
    EXPECT_EQ(symtab[4].param_kinds[1], SYM_REF);
}

TEST(ParserProgram, MainProgramParametersHaveNoOwner) {
    EXPECT_EQ(code_of("program p(a, var b);\nbegin end.\n"),
              "0: UJP(0,1)\n1: ENT(0,4)\n2: HLT(0,0)\n");
    ASSERT_EQ(sym_count, 3);
    EXPECT_EQ(symtab[2].kind, SYM_VAR);
    EXPECT_EQ(symtab[2].offset, 3);
    EXPECT_EQ(symtab[3].kind, SYM_REF);
    EXPECT_EQ(symtab[3].offset, 4);
    EXPECT_EQ(symtab[1].param_kinds[0], SYM_VAR);
    EXPECT_EQ(symtab[1].param_kinds[1], SYM_VAR);
    EXPECT_EQ(symtab[1].param_count, 0);
}

TEST(ParserProgram, VarMarksOnlyTheParameterAfterIt) {
    Outcome o = compile("program m;\nprocedure q(var a, b);\nbegin zz end;\nbegin end.\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(symtab[3].kind, SYM_REF);
    EXPECT_EQ(symtab[4].kind, SYM_VAR);
    EXPECT_EQ(get_param_kind("q", 0), SYM_REF);
    EXPECT_EQ(get_param_kind("q", 1), SYM_VAR);
}

TEST(ParserProgram, RoutinesWithoutParametersOrVariables) {
    EXPECT_EQ(code_of("program p;\nprocedure q; begin end;\nfunction f; begin end;\nbegin end.\n"),
              "0: UJP(0,7)\n"
              "1: UJP(0,2)\n"
              "2: ENT(0,2)\n"
              "3: RET(0,0)\n"
              "4: UJP(0,5)\n"
              "5: ENT(0,3)\n"
              "6: FRT(0,0)\n"
              "7: ENT(0,2)\n"
              "8: HLT(0,0)\n");
}

TEST(ParserProgram, FunctionFramesStartTheirParametersAtFour) {
    Outcome o = compile("program p;\nfunction f(a, var b);\nvar c, d[2..3];\nbegin zz end;\n"
                        "begin end.\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(get_offset("a"), 4);
    EXPECT_EQ(get_offset("b"), 5);
    EXPECT_EQ(get_offset("c"), 6);
    EXPECT_EQ(get_offset("d"), 7);
    EXPECT_EQ(get_level("d"), 1);
    // Its ENT covers 4 header cells, 2 parameters and 3 variable cells.
    EXPECT_EQ(code_of("program p;\nfunction f(a, var b);\nvar c, d[2..3];\nbegin end;\n"
                      "begin end.\n"),
              "0: UJP(0,4)\n1: UJP(0,2)\n2: ENT(0,8)\n3: FRT(0,0)\n4: ENT(0,2)\n5: HLT(0,0)\n");
}

TEST(ParserProgram, ArrayBoundsAndTheCellsTheyTake) {
    Outcome o = compile("program p;\nvar a[5..3], b, c[5..4], d, e[0..0], f;\nbegin zz end.\n");
    EXPECT_EQ(o.status, 1);
    const SymbolEntry& a = symtab[2];
    EXPECT_EQ(a.low, 5);
    EXPECT_EQ(a.size, -1);
    EXPECT_EQ(a.offset, 3);
    EXPECT_EQ(get_offset("b"), 4); // a took one cell
    const SymbolEntry& c = symtab[4];
    EXPECT_EQ(c.low, 5);
    EXPECT_EQ(c.size, 0);
    EXPECT_EQ(c.offset, 5);
    EXPECT_EQ(get_offset("d"), 5); // c took none
    EXPECT_EQ(symtab[6].size, 1);
    EXPECT_EQ(get_offset("e"), 6);
    EXPECT_EQ(get_offset("f"), 7); // e took one
    EXPECT_EQ(code_of("program p;\nvar a[5..3], b, c[5..4], d, e[0..0], f;\nbegin end.\n"),
              "0: UJP(0,1)\n1: ENT(0,7)\n2: HLT(0,0)\n");
}

TEST(ParserProgram, NamesLeaveScopeWithTheirRoutine) {
    // The local x hides the global one inside q; afterwards the global one
    // is found again.
    EXPECT_EQ(main_body_code("var x;\nprocedure q;\nvar x;\nbegin x := 1 end;", "x := 2"),
              "LDC 0,2; STR 0,3");
    EXPECT_EQ(ops(3, 5), "LDC 0,1; STR 0,3");
    // A name declared twice in one block: the second one is used.
    EXPECT_EQ(main_body_code("var x, x;", "x := 2"), "LDC 0,2; STR 0,4");
    EXPECT_EQ(error_of("program m;\nprocedure q;\nvar y;\nbegin end;\nbegin y := 1 end.\n"),
              std::string(SYNTAX) + "宣言されていない識別子の使用(k)\n\n");
    // A sibling declared later is not yet visible.
    EXPECT_EQ(error_of("program m;\nprocedure q; begin r end;\nprocedure r; begin end;\n"
                       "begin end.\n"),
              std::string(SYNTAX) + "宣言されていない識別子の使用(k)\n\n");
}

// A value parameter bearing its routine's name hides the routine before
// ReRegist looks for it; a reference parameter is registered after.
TEST(ParserProgram, ParameterNamedLikeItsRoutine) {
    EXPECT_EQ(error_of("program m;\nprocedure q(q);\nbegin end;\nbegin end.\n"),
              std::string(SYNTAX) + "関数以外の属性を変更しようとしました(rr)\n\n");
    EXPECT_EQ(error_of("program m;\nprocedure q(var q, a);\nbegin end;\nbegin end.\n"),
              std::string(SYNTAX) + "関数以外の属性を変更しようとしました(rr)\n\n");
    // As the last parameter it is accepted and means the parameter inside.
    EXPECT_EQ(code_of("program m;\nvar x;\nfunction f(a, var f);\nbegin f := a end;\n"
                      "begin write(f(1, x)) end.\n"),
              "0: UJP(0,7)\n"
              "1: UJP(0,2)\n"
              "2: ENT(0,5)\n"
              "3: LOD(0,5)\n"
              "4: LOD(0,4)\n"
              "5: STO(0,0)\n"
              "6: FRT(0,0)\n"
              "7: ENT(0,3)\n"
              "8: MST(0,4)\n"
              "9: LDC(0,1)\n"
              "10: LDA(0,3)\n"
              "11: CUP(3,1)\n"
              "12: PUT(0,0)\n"
              "13: HLT(0,0)\n");
}

// ---------------------------------------------------------------------------
// Statements

TEST(ParserStatements, WhileAndIfAtTheirWorkedIndices) {
    std::string program = "program p;\n"
                          "var i, s;\n"
                          "begin\n"
                          "  i := 1; s := 0; write(i); write(s);\n"
                          "  while i <= 10 do begin s := s + i; i := i + 1 end;\n"
                          "  i := 0; s := 0; write(-1);\n"
                          "  if i = 0 then write(1) else write(2)\n"
                          "end.\n";
    std::string all = code_of(program);
    EXPECT_EQ(ops(10, 23), "LOD 0,3; LDC 0,10; COP 0,6; FJP 0,23; LOD 0,4; LOD 0,3; OPR 0,1; "
                           "STR 0,4; LOD 0,3; LDC 0,1; OPR 0,1; STR 0,3; UJP 0,10");
    EXPECT_EQ(ops(30, 39), "LOD 0,3; LDC 0,0; COP 0,1; FJP 0,37; LDC 0,1; PUT 0,0; UJP 0,39; "
                           "LDC 0,2; PUT 0,0");
    EXPECT_EQ(ops(39, 40), "HLT 0,0");
    Outcome ran = compile_and_run(program);
    EXPECT_EQ(ran.status, -1);
    EXPECT_EQ(ran.out, "1\n0\n-1\n1\n");
}

TEST(ParserStatements, ReadOfAnArrayElementInAProcedure) {
    EXPECT_EQ(code_of("program p;\nvar v[1..10];\nprocedure q;\nvar k;\nbegin read(v[k]) end;\n"
                      "begin end.\n"),
              "0: UJP(0,11)\n"
              "1: UJP(0,2)\n"
              "2: ENT(0,3)\n"
              "3: LDA(1,3)\n"
              "4: LDC(0,1)\n"
              "5: LOD(0,3)\n"
              "6: OPR(0,2)\n"
              "7: OPR(0,2)\n"
              "8: GET(0,0)\n"
              "9: STO(0,0)\n"
              "10: RET(0,0)\n"
              "11: ENT(0,12)\n"
              "12: HLT(0,0)\n");
}

TEST(ParserStatements, EveryFormHasItsShape) {
    const char* decls = "var x, v[2..5], y;\n"
                        "function f; begin f := 2 end;\n"
                        "procedure q(var r); begin r := 1 end;";
    // x in cell 3, v in 4 to 7, y in 8; f at 1, q at 6.
    EXPECT_EQ(main_body_code(decls, "x := 1"), "LDC 0,1; STR 0,3");
    EXPECT_EQ(ops(2, 6), "ENT 0,3; LDC 0,2; STR 0,3; FRT 0,0");
    EXPECT_EQ(ops(8, 12), "LOD 0,3; LDC 0,1; STO 0,0; RET 0,0");
    EXPECT_EQ(main_body_code(decls, "v[x] := y"),
              "LDA 0,4; LDC 0,2; LOD 0,3; OPR 0,2; OPR 0,2; LOD 0,8; STO 0,0");
    EXPECT_EQ(main_body_code(decls, "q(y)"), "MST 0,3; LDA 0,8; CUP 1,6");
    EXPECT_EQ(main_body_code(decls, "begin x := 1; begin end; y := 2; end"),
              "LDC 0,1; STR 0,3; LDC 0,2; STR 0,8");
    EXPECT_EQ(main_body_code(decls, "if x > 0 then y := 1"),
              "LOD 0,3; LDC 0,0; COP 0,3; FJP 0,19; LDC 0,1; STR 0,8");
    EXPECT_EQ(main_body_code(decls, "if x > 0 then else y := 1"),
              "LOD 0,3; LDC 0,0; COP 0,3; FJP 0,18; UJP 0,20; LDC 0,1; STR 0,8");
    EXPECT_EQ(main_body_code(decls, "while x <> 0 do"),
              "LOD 0,3; LDC 0,0; COP 0,2; FJP 0,18; UJP 0,13");
    EXPECT_EQ(main_body_code(decls, "read(x)"), "LDA 0,3; GET 0,0; STO 0,0");
    EXPECT_EQ(main_body_code(decls, "read(v[3])"),
              "LDA 0,4; LDC 0,2; LDC 0,3; OPR 0,2; OPR 0,2; GET 0,0; STO 0,0");
    // Without an index read stores into the element at the low bound.
    EXPECT_EQ(main_body_code(decls, "read(v)"), "LDA 0,4; GET 0,0; STO 0,0");
    EXPECT_EQ(main_body_code(decls, "write(y)"), "LOD 0,8; PUT 0,0");
    EXPECT_EQ(main_body_code(decls, ""), "");
}

TEST(ParserStatements, DanglingElseBelongsToTheInnermostIf) {
    EXPECT_EQ(main_body_code("var a, b;", "if a = 0 then if b = 0 then write(1) else write(2)"),
              "LOD 0,3; LDC 0,0; COP 0,1; FJP 0,15; "
              "LOD 0,4; LDC 0,0; COP 0,1; FJP 0,13; LDC 0,1; PUT 0,0; UJP 0,15; "
              "LDC 0,2; PUT 0,0");
}

TEST(ParserStatements, NestedLoopsPatchTheirOwnJumps) {
    EXPECT_EQ(main_body_code("var a, b;", "while a < 2 do begin while b < 3 do b := b + 1; "
                                          "if a = b then a := 0 else a := a + 1 end"),
              "LOD 0,3; LDC 0,2; COP 0,5; FJP 0,27; "
              "LOD 0,4; LDC 0,3; COP 0,5; FJP 0,15; LOD 0,4; LDC 0,1; OPR 0,1; STR 0,4; "
              "UJP 0,6; "
              "LOD 0,3; LOD 0,4; COP 0,1; FJP 0,22; LDC 0,0; STR 0,3; UJP 0,26; "
              "LOD 0,3; LDC 0,1; OPR 0,1; STR 0,3; UJP 0,2");
}

// Read of a reference parameter reads into the variable it refers to, like
// an assignment to it.
TEST(ParserStatements, ReadAndAssignThroughAReferenceParameter) {
    EXPECT_EQ(code_of("program m;\nprocedure q(var r);\nbegin read(r); r := r + 1 end;\n"
                      "begin end.\n"),
              "0: UJP(0,13)\n"
              "1: UJP(0,2)\n"
              "2: ENT(0,3)\n"
              "3: LOD(0,3)\n"
              "4: GET(0,0)\n"
              "5: STO(0,0)\n"
              "6: LOD(0,3)\n"
              "7: LOD(0,3)\n"
              "8: IND(0,0)\n"
              "9: LDC(0,1)\n"
              "10: OPR(0,1)\n"
              "11: STO(0,0)\n"
              "12: RET(0,0)\n"
              "13: ENT(0,2)\n"
              "14: HLT(0,0)\n");
}

// An assignment to a function's name stores into cell 3 of the frame it
// stands in, however deep.
// In the function's own statements the result cell is cell 3 of its frame;
// anywhere else that cell belongs to something else, and the assignment is
// an error found at the ":=".
TEST(ParserStatements, FunctionResultOnlyInItsOwnStatements) {
    EXPECT_EQ(code_of("program m;\n"
                      "var x;\n"
                      "function f;\n"
                      "  procedure g(a);\n"
                      "  begin x := 7 end;\n"
                      "begin f := 1 end;\n"
                      "begin x := f end.\n"),
              "0: UJP(0,11)\n"
              "1: UJP(0,7)\n"
              "2: UJP(0,3)\n"
              "3: ENT(0,3)\n"
              "4: LDC(0,7)\n"
              "5: STR(2,3)\n"
              "6: RET(0,0)\n"
              "7: ENT(0,3)\n"
              "8: LDC(0,1)\n"
              "9: STR(0,3)\n"
              "10: FRT(0,0)\n"
              "11: ENT(0,3)\n"
              "12: MST(0,4)\n"
              "13: CUP(1,1)\n"
              "14: STR(0,3)\n"
              "15: HLT(0,0)\n");
    const std::string elsewhere =
        std::string(SYNTAX) + "関数の値を代入できるのはその関数の中だけです\n";
    const char* nested = "program m;\nfunction f;\n  procedure g;\n  begin f := 7 end;\n"
                         "begin f := 1 end;\nbegin end.\n";
    EXPECT_EQ(error_of(nested), elsewhere);
    EXPECT_EQ(error_of("program m;\nfunction f; begin f := 1 end;\nbegin f := 5 end.\n"),
              elsewhere);
    EXPECT_EQ(error_of("program m;\nfunction f; begin f := 1 end;\n"
                       "function g; begin g := 2; f := 3 end;\nbegin end.\n"),
              elsewhere);
    // Recursion inside the function is a call, not a store.
    EXPECT_EQ(error_of("program m;\nfunction f(n); begin f(1) end;\nbegin end.\n"),
              std::string(SYNTAX) + ":=がありません\n\n");
}

TEST(ParserStatements, ErrorsComeWhereTheirTokenIs) {
    // The FJP of a while is emitted before its "do" is checked.
    EXPECT_EQ(error_of("program m; var a; begin while a = 0 a := 1 end.\n"),
              std::string(SYNTAX) + "DOがありません\n\n");
    EXPECT_EQ(ops(2, cx), "LOD 0,3; LDC 0,0; COP 0,1; FJP 0,0");
    // The "then" is checked before the FJP.
    EXPECT_EQ(error_of("program m; var a; begin if a = 0 a := 1 end.\n"),
              std::string(SYNTAX) + "THENがありません\n\n");
    EXPECT_EQ(ops(2, cx), "LOD 0,3; LDC 0,0; COP 0,1");
    // A reference assignment loads the reference before it looks for ":=".
    EXPECT_EQ(error_of("program m; procedure q(var r); begin r = 1 end; begin end.\n"),
              std::string(SYNTAX) + ":=がありません\n\n");
    EXPECT_EQ(ops(3, cx), "LOD 0,3");
    // An array assignment loads the base and low bound before the "[".
    EXPECT_EQ(error_of("program m; var v[3..4]; begin v := 1 end.\n"),
              std::string(SYNTAX) + "[がありません\n\n");
    EXPECT_EQ(ops(2, cx), "LDA 0,3; LDC 0,3");
    // A variable assignment emits nothing before its ":=".
    EXPECT_EQ(error_of("program m; var x; begin x[1] := 1 end.\n"),
              std::string(SYNTAX) + ":=がありません\n\n");
    EXPECT_EQ(ops(2, cx), "");
    // Read looks the name up (offset first) before it reads what follows.
    EXPECT_EQ(error_of("program m; begin read(zz) end.\n"),
              std::string(SYNTAX) + "宣言されていない識別子の使用(a)\n\n");
    EXPECT_EQ(error_of("program m; var x; begin read(x[1]) end.\n"),
              std::string(SYNTAX) + "配列でない名前に添字がついています\n");
    EXPECT_EQ(ops(2, cx), "LDA 0,3");
    EXPECT_EQ(error_of("program m; procedure q; begin end; begin read(q) end.\n"),
              std::string(SYNTAX) + "readで読み込めるのは変数のみです\n");
    EXPECT_EQ(error_of("program m; function f; begin end; begin read(f) end.\n"),
              std::string(SYNTAX) + "readで読み込めるのは変数のみです\n");
    EXPECT_EQ(error_of("program m; begin read(m) end.\n"),
              std::string(SYNTAX) + "readで読み込めるのは変数のみです\n");
}

// ---------------------------------------------------------------------------
// Conditions and expressions

TEST(ParserExpressions, WorkedExpressionAndCondition) {
    Outcome o = compile("program p;\nvar a, b, v[0..9];\n"
                        "begin write(-a * (b + 2) div v[a] - 7); if a + 1 <= b then end.\n");
    ASSERT_EQ(o.status, -1) << o.out;
    EXPECT_EQ(ops(0, 2), "UJP 0,1; ENT 0,14");
    EXPECT_EQ(ops(2, 17), "LOD 0,3; LOD 0,4; LDC 0,2; OPR 0,1; OPR 0,3; LDA 0,5; LDC 0,0; "
                          "LOD 0,3; OPR 0,2; OPR 0,2; IND 0,0; OPR 0,4; OPR 0,5; LDC 0,7; "
                          "OPR 0,2");
    EXPECT_EQ(ops(17, cx), "PUT 0,0; LOD 0,3; LDC 0,1; OPR 0,1; LOD 0,4; COP 0,6; FJP 0,24; "
                           "HLT 0,0");
}

TEST(ParserExpressions, SignsApplyToTheWholeFirstTerm) {
    EXPECT_EQ(expression_code("-a*b"), "LOD 0,3; LOD 0,4; OPR 0,3; OPR 0,5");
    EXPECT_EQ(expression_code("-a+b"), "LOD 0,3; OPR 0,5; LOD 0,4; OPR 0,1");
    EXPECT_EQ(expression_code("+a"), "LOD 0,3");
    EXPECT_EQ(expression_code("a*(-b)"), "LOD 0,3; LOD 0,4; OPR 0,5; OPR 0,3");
    EXPECT_EQ(expression_code("-(-a)"), "LOD 0,3; OPR 0,5; OPR 0,5");
    EXPECT_EQ(expression_code("-7"), "LDC 0,7; OPR 0,5");
}

TEST(ParserExpressions, OperatorsAreLeftAssociativeWithUsualPrecedence) {
    EXPECT_EQ(expression_code("a - b - c"), "LOD 0,3; LOD 0,4; OPR 0,2; LOD 0,5; OPR 0,2");
    EXPECT_EQ(expression_code("a div b div c"), "LOD 0,3; LOD 0,4; OPR 0,4; LOD 0,5; OPR 0,4");
    EXPECT_EQ(expression_code("a + b * c"), "LOD 0,3; LOD 0,4; LOD 0,5; OPR 0,3; OPR 0,1");
    EXPECT_EQ(expression_code("a * b - c div 2"),
              "LOD 0,3; LOD 0,4; OPR 0,3; LOD 0,5; LDC 0,2; OPR 0,4; OPR 0,2");
    EXPECT_EQ(expression_code("a - (b - c)"), "LOD 0,3; LOD 0,4; LOD 0,5; OPR 0,2; OPR 0,2");
    EXPECT_EQ(expression_code("((((a))))"), "LOD 0,3");
}

TEST(ParserExpressions, FactorsOfEveryKind) {
    EXPECT_EQ(expression_code("2147483647"), "LDC 0,2147483647");
    EXPECT_EQ(expression_code("2147483648"), "LDC 0,-2147483648");
    EXPECT_EQ(expression_code("007"), "LDC 0,7");
    EXPECT_EQ(expression_code("v[b + 1]"),
              "LDA 0,6; LDC 0,0; LOD 0,4; LDC 0,1; OPR 0,1; OPR 0,2; OPR 0,2; IND 0,0");
    EXPECT_EQ(expression_code("v[v[a]]"), "LDA 0,6; LDC 0,0; LDA 0,6; LDC 0,0; LOD 0,3; "
                                          "OPR 0,2; OPR 0,2; IND 0,0; OPR 0,2; OPR 0,2; IND 0,0");
    // A reference parameter always reads through its address.
    code_of("program m;\nprocedure q(a, var r);\nbegin write(r + a) end;\nbegin end.\n");
    EXPECT_EQ(ops(3, 8), "LOD 0,4; IND 0,0; LOD 0,3; OPR 0,1; PUT 0,0");
}

TEST(ParserExpressions, NamesFromOuterBlocksCarryTheLevelDifference) {
    code_of("program m;\n"
            "var g, w[1..2];\n"
            "procedure a(x);\n"
            "  var y;\n"
            "  procedure b(var r);\n"
            "    var z;\n"
            "  begin z := g + x + y + r + w[1] end;\n"
            "begin end;\n"
            "begin end.\n");
    EXPECT_EQ(ops(2, 3), "UJP 0,3");
    EXPECT_EQ(ops(3, 18), "ENT 0,4; LOD 2,3; LOD 1,3; OPR 0,1; LOD 1,4; OPR 0,1; LOD 0,3; "
                          "IND 0,0; OPR 0,1; LDA 2,4; LDC 0,1; LDC 0,1; OPR 0,2; OPR 0,2; "
                          "IND 0,0");
    EXPECT_EQ(ops(18, 21), "OPR 0,1; STR 0,4; RET 0,0");
}

TEST(ParserExpressions, MissingRelationalOperatorIsReportedLate) {
    // "then" stands where the operator belongs: it is consumed, x is parsed
    // as the right operand, then the operator is found missing.
    EXPECT_EQ(error_of("program m; var a, x; begin if a then x := 1 end.\n"),
              std::string(SYNTAX) + "= <> > >= <=がいずれも存在しません\n\n");
    EXPECT_EQ(ops(2, cx), "LOD 0,3; LOD 0,4");
    // "do" is consumed and "begin" cannot start a factor.
    EXPECT_EQ(error_of("program m; var a; begin while a do begin a := 1 end end.\n"),
              std::string(SYNTAX) + "FACTORが存在しません\n");
    EXPECT_EQ(error_of("program m; var a, b; begin if a == b then end.\n"),
              std::string(SYNTAX) + "FACTORが存在しません\n");
    EXPECT_EQ(error_of("program m; var a, b; begin while (a) (b) do end.\n"),
              std::string(SYNTAX) + "= <> > >= <=がいずれも存在しません\n\n");
    EXPECT_EQ(ops(2, cx), "LOD 0,3; LOD 0,4");
}

TEST(ParserExpressions, WhatCannotBeAFactor) {
    const std::string decls = "program m; var a, b, v[1..2]; procedure q; begin end;\nbegin ";
    EXPECT_EQ(error_of(decls + "write(a*-b) end.\n"),
              std::string(SYNTAX) + "FACTORが存在しません\n");
    EXPECT_EQ(error_of(decls + "write(a - -b) end.\n"),
              std::string(SYNTAX) + "FACTORが存在しません\n");
    EXPECT_EQ(error_of(decls + "write(--a) end.\n"),
              std::string(SYNTAX) + "FACTORが存在しません\n");
    EXPECT_EQ(error_of(decls + "write() end.\n"), std::string(SYNTAX) + "FACTORが存在しません\n");
    EXPECT_EQ(error_of(decls + "write(v) end.\n"), std::string(SYNTAX) + "認識できないIDです\n");
    EXPECT_EQ(error_of(decls + "write(q) end.\n"), std::string(SYNTAX) + "認識できないIDです\n");
    EXPECT_EQ(error_of(decls + "write(m) end.\n"), std::string(SYNTAX) + "認識できないIDです\n");
    EXPECT_EQ(error_of(decls + "write(zz) end.\n"),
              std::string(SYNTAX) + "宣言されていない識別子の使用(k)\n\n");
    EXPECT_EQ(error_of(decls + "write((a) end.\n"), std::string(SYNTAX) + ")がありません\n\n");
    EXPECT_EQ(error_of(decls + "write(v[1) end.\n"), std::string(SYNTAX) + "]がありません\n\n");
    // A plain variable followed by "[" is a complete factor; write then
    // finds "[" where its ")" belongs.
    EXPECT_EQ(error_of(decls + "write(a[1]) end.\n"), std::string(SYNTAX) + ")がありません\n\n");
    EXPECT_EQ(ops(5, cx), "LOD 0,3");
}

// ---------------------------------------------------------------------------
// Calls

TEST(ParserCalls, WorkedProcedureAndFunctionCalls) {
    EXPECT_EQ(code_of("program m;\nvar x, y;\nprocedure p(a, var b);\nbegin end;\n"
                      "begin p(x + 1, y) end.\n"),
              "0: UJP(0,4)\n"
              "1: UJP(0,2)\n"
              "2: ENT(0,4)\n"
              "3: RET(0,0)\n"
              "4: ENT(0,4)\n"
              "5: MST(0,3)\n"
              "6: LOD(0,3)\n"
              "7: LDC(0,1)\n"
              "8: OPR(0,1)\n"
              "9: LDA(0,4)\n"
              "10: CUP(2,1)\n"
              "11: HLT(0,0)\n");
    EXPECT_EQ(code_of("program m;\nvar v[1..10], i, y;\nfunction f(var r);\nbegin end;\n"
                      "begin y := f(v[i]) end.\n"),
              "0: UJP(0,4)\n"
              "1: UJP(0,2)\n"
              "2: ENT(0,4)\n"
              "3: FRT(0,0)\n"
              "4: ENT(0,14)\n"
              "5: MST(0,4)\n"
              "6: LDA(0,3)\n"
              "7: LDC(0,1)\n"
              "8: LOD(0,13)\n"
              "9: OPR(0,2)\n"
              "10: OPR(0,2)\n"
              "11: CUP(2,1)\n"
              "12: STR(0,14)\n"
              "13: HLT(0,0)\n");
}

TEST(ParserCalls, CallsWithoutArguments) {
    const char* decls = "var x;\nprocedure q; begin end;\nfunction f; begin end;";
    EXPECT_EQ(main_body_code(decls, "q"), "MST 0,3; CUP 0,1");
    EXPECT_EQ(main_body_code(decls, "x := f"), "MST 0,4; CUP 1,4; STR 0,3");
    EXPECT_EQ(main_body_code(decls, "x := f + f"),
              "MST 0,4; CUP 1,4; MST 0,4; CUP 1,4; OPR 0,1; STR 0,3");
}

TEST(ParserCalls, ReferenceArguments) {
    const char* decls = "var x, v[4..6];\nfunction f(var r); begin end;\n"
                        "procedure q(var r, a); begin end;";
    // A plain variable at a reference position passes its address.
    EXPECT_EQ(main_body_code(decls, "x := f(x)"), "MST 0,4; LDA 0,3; CUP 2,1; STR 0,3");
    EXPECT_EQ(main_body_code(decls, "q(v[x], v[5])"),
              "MST 0,3; LDA 0,4; LDC 0,4; LOD 0,3; OPR 0,2; OPR 0,2; "
              "LDA 0,4; LDC 0,4; LDC 0,5; OPR 0,2; OPR 0,2; IND 0,0; CUP 2,4");
    // A reference parameter passed on at a reference position passes the
    // address it holds.
    code_of("program m;\n"
            "procedure q(var r);\n"
            "  procedure s(var t); begin t := 1 end;\n"
            "begin s(r) end;\n"
            "begin end.\n");
    EXPECT_EQ(ops(9, 13), "MST 0,3; LOD 0,3; CUP 1,2; RET 0,0");
}

TEST(ParserCalls, RecursionAndStaticLinks) {
    // The function's own name in its body is a call.
    code_of("program m;\nfunction f(n);\nbegin f := f(n - 1) end;\nbegin end.\n");
    EXPECT_EQ(ops(2, 10), "ENT 0,4; MST 1,4; LOD 0,4; LDC 0,1; OPR 0,2; CUP 2,1; STR 0,3; "
                          "FRT 0,0");
    // From a routine nested k levels inside the declaring block, MST k.
    code_of("program m;\n"
            "var g;\n"
            "procedure a(x);\n"
            "  var y;\n"
            "  procedure b(n);\n"
            "    var z;\n"
            "    procedure c;\n"
            "    begin\n"
            "      g := g + x + y + n + z;\n"
            "      if n > 0 then b(n - 1)\n"
            "    end;\n"
            "  begin z := n * 10; c end;\n"
            "begin y := 100; b(2) end;\n"
            "begin g := 0; a(1000); write(g) end.\n");
    EXPECT_EQ(ops(4, 27), "ENT 0,2; LOD 3,3; LOD 2,3; OPR 0,1; LOD 2,4; OPR 0,1; LOD 1,3; "
                          "OPR 0,1; LOD 1,4; OPR 0,1; STR 3,3; LOD 1,3; LDC 0,0; COP 0,3; "
                          "FJP 0,24; MST 2,3; LOD 1,3; LDC 0,1; OPR 0,2; CUP 1,2; RET 0,0; "
                          "ENT 0,4; LOD 0,3");
    EXPECT_EQ(ops(27, 33), "LDC 0,10; OPR 0,3; STR 0,4; MST 0,3; CUP 0,3; RET 0,0");
    Outcome ran = compile_and_run("program m;\n"
                                  "var g;\n"
                                  "procedure a(x);\n"
                                  "  var y;\n"
                                  "  procedure b(n);\n"
                                  "    var z;\n"
                                  "    procedure c;\n"
                                  "    begin\n"
                                  "      g := g + x + y + n + z;\n"
                                  "      if n > 0 then b(n - 1)\n"
                                  "    end;\n"
                                  "  begin z := n * 10; c end;\n"
                                  "begin y := 100; b(2) end;\n"
                                  "begin g := 0; a(1000); write(g) end.\n");
    EXPECT_EQ(ran.out, "3333\n");
    // The program's own name is a procedure at code address 0.
    EXPECT_EQ(main_body_code("", "m"), "MST 0,3; CUP 0,0");
}

TEST(ParserCalls, NestedCallsKeepTheirOwnPositions) {
    const char* decls = "var x, y;\nprocedure p(a, var b); begin end;\n"
                        "function f(var r); begin end;";
    EXPECT_EQ(main_body_code(decls, "p(f(x), y)"),
              "MST 0,3; MST 0,4; LDA 0,3; CUP 2,4; LDA 0,4; CUP 2,1");
}

// Fewer arguments than parameters is an error, with a list or without;
// more compile, the extra cells lying above the parameters.
TEST(ParserCalls, EveryParameterNeedsAnArgument) {
    const char* decls = "var x, y;\nprocedure p(a, var b); begin end;";
    EXPECT_EQ(main_body_code(decls, "p(1, y, 3, x)"),
              "MST 0,3; LDC 0,1; LDA 0,4; LDC 0,3; LOD 0,3; CUP 4,1");
    const std::string few = std::string(SYNTAX) + "引数が足りません\n";
    const std::string head = "program m;\nvar x, y;\nprocedure p(a, var b); begin end;\n"
                             "function f(a); begin f := a end;\nbegin ";
    EXPECT_EQ(error_of(head + "p(1) end.\n"), few);
    EXPECT_EQ(error_of(head + "p end.\n"), few);
    EXPECT_EQ(error_of(head + "x := f end.\n"), few);
    EXPECT_EQ(error_of(head + "x := f(1) + f end.\n"), few);
    EXPECT_EQ(compile(head + "x := f(1, 2) end.\n").status, -1);
}

// c takes the slot that b held inside a; b's reference kinds are still in
// the slot, but an argument beyond c's own parameter passes by value.
TEST(ParserCalls, ExtraArgumentInAReusedSlotPassesByValue) {
    std::string source = "program m;\n"
                         "var x;\n"
                         "procedure a;\n"
                         "  procedure b(var r, var s); begin end;\n"
                         "begin end;\n"
                         "procedure c(v); begin write(v) end;\n"
                         "begin c(x, 2 + 3) end.\n";
    code_of(source);
    ASSERT_EQ(sym_count, 4);
    EXPECT_STREQ(symtab[4].name, "c");
    EXPECT_EQ(symtab[4].param_kinds[1], SYM_REF);
    EXPECT_EQ(ops(13, cx), "MST 0,3; LOD 0,3; LDC 0,2; LDC 0,3; OPR 0,1; CUP 2,7; HLT 0,0");
}

TEST(ParserCalls, WhatCannotBeAnArgument) {
    const std::string decls = "program m; var x, v[1..2];\n"
                              "procedure p(a, var b); begin end;\n"
                              "function f(var r); begin end;\nbegin ";
    EXPECT_EQ(error_of(decls + "p() end.\n"), std::string(SYNTAX) + "FACTORが存在しません\n");
    EXPECT_EQ(error_of(decls + "x := f() end.\n"),
              std::string(SYNTAX) + "リファレンスとして取れるのは、変数のみです\n");
    EXPECT_EQ(error_of(decls + "p(1, 2) end.\n"),
              std::string(SYNTAX) + "リファレンスとして取れるのは、変数のみです\n");
    EXPECT_EQ(error_of(decls + "p(1, v) end.\n"), std::string(SYNTAX) + "認識できないIDです\n");
    EXPECT_EQ(ops(cx - 2, cx), "LDA 0,4; LDC 0,1");
    EXPECT_EQ(error_of(decls + "p(1, x[1]) end.\n"), std::string(SYNTAX) + ")がありません\n\n");
    EXPECT_EQ(error_of(decls + "p(1, v[1) end.\n"), std::string(SYNTAX) + "]がありません\n\n");
    EXPECT_EQ(error_of(decls + "p(1, zz) end.\n"),
              std::string(SYNTAX) + "宣言されていない識別子の使用(k)\n\n");
    EXPECT_EQ(error_of(decls + "p(1, p) end.\n"),
              std::string(SYNTAX) + "リファレンスとして取れるのは、変数のみです\n");
    EXPECT_EQ(error_of(decls + "p(1, f) end.\n"),
              std::string(SYNTAX) + "リファレンスとして取れるのは、変数のみです\n");
    EXPECT_EQ(error_of(decls + "p(1, x end.\n"), std::string(SYNTAX) + ")がありません\n\n");
    EXPECT_EQ(error_of(decls + "p(1 x) end.\n"), std::string(SYNTAX) + ")がありません\n\n");
    // A function can't be called as a statement.
    EXPECT_EQ(error_of(decls + "f(x) end.\n"), std::string(SYNTAX) + ":=がありません\n\n");
}

// ---------------------------------------------------------------------------
// Limits

TEST(ParserLimits, ThirtyTwoParametersPerHeading) {
    std::string params32 = many_names("a", 32);
    std::string params33 = many_names("a", 33);
    code_of("program m;\nprocedure q(" + params32 + ");\nbegin end;\nbegin end.\n");
    EXPECT_EQ(ops(2, 3), "ENT 0,34");
    EXPECT_EQ(error_of("program m;\nprocedure q(" + params33 + ");\nbegin end;\nbegin end.\n"),
              std::string(SYNTAX) + "引数が多すぎます(32個まで)\n");
    EXPECT_EQ(error_of("program m;\nfunction f(" + params32 +
                       ", var b);\nbegin end;\n"
                       "begin end.\n"),
              std::string(SYNTAX) + "引数が多すぎます(32個まで)\n");
    // The main program has no owner to record them on, and the same limit.
    code_of("program m(" + params32 + ");\nbegin end.\n");
    EXPECT_EQ(ops(1, 2), "ENT 0,34");
    EXPECT_EQ(error_of("program m(" + params33 + ");\nbegin end.\n"),
              std::string(SYNTAX) + "引数が多すぎます(32個まで)\n");
}

TEST(ParserLimits, NineThousandNineHundredNinetyNineLiveNames) {
    // The program name and 9998 variables.
    code_of("program m;\nvar " + many_names("v", 9998) + ";\nbegin end.\n");
    EXPECT_EQ(sym_count, 9999);
    EXPECT_EQ(error_of("program m;\nvar " + many_names("v", 9999) + ";\nbegin end.\n"),
              std::string(SYNTAX) + "名前が多すぎます(9999個まで)\n");
    // The names of a finished routine make room for its siblings.
    std::string wide = "program m;\n"
                       "procedure q;\nvar " +
                       many_names("v", 9997) +
                       ";\nbegin end;\n"
                       "procedure r;\nvar " +
                       many_names("w", 9996) + ";\nbegin end;\nbegin end.\n";
    code_of(wide);
    EXPECT_EQ(sym_count, 3);
    EXPECT_EQ(error_of("program m;\nprocedure q;\nvar " + many_names("v", 9998) +
                       ";\nbegin end;\nbegin end.\n"),
              std::string(SYNTAX) + "名前が多すぎます(9999個まで)\n");
}

TEST(ParserLimits, FrameOffsetsFitIn32Bits) {
    const std::string too_large = std::string(SYNTAX) + "変数の領域が大きすぎます\n";
    // The last cell at offset 2147483647 fits.
    code_of("program m;\nvar a[1..2147483645];\nbegin end.\n");
    EXPECT_EQ(ops(1, 2), "ENT 0,2147483647");
    code_of("program m;\nfunction f(x); var a[1..2147483643]; begin end;\nbegin end.\n");
    EXPECT_EQ(ops(2, 3), "ENT 0,2147483647");
    code_of("program m;\nvar a[2147483647..1];\nbegin end.\n"); // size -2147483645
    EXPECT_EQ(ops(1, 2), "ENT 0,2147483647");
    // One more cell does not.
    EXPECT_EQ(error_of("program m;\nvar a[1..2147483646];\nbegin end.\n"), too_large);
    EXPECT_EQ(error_of("program m;\nvar a[1..2147483645], b;\nbegin end.\n"), too_large);
    EXPECT_EQ(error_of("program m;\nvar a[2147483647..0];\nbegin end.\n"), too_large);
    EXPECT_EQ(error_of("program m;\nvar a[0..2147483647];\nbegin end.\n"), too_large);
    EXPECT_EQ(error_of("program m;\nfunction f(x); var a[1..2147483644]; begin end;\n"
                       "begin end.\n"),
              too_large);
    EXPECT_EQ(error_of("program m;\nvar a[1..2000000000], b[1..2000000000];\nbegin end.\n"),
              too_large);
    // Even an empty array can't start past the last offset.
    EXPECT_EQ(error_of("program m;\nvar a[1..2147483645], b[1..0];\nbegin end.\n"), too_large);
}

TEST(ParserLimits, NestingStopsBeforeTheNativeStackRunsOut) {
    const std::string too_deep = std::string(SYNTAX) + "入れ子が深すぎます\n";
    int here = 0;
    // Pretend only 64 KiB of stack are left.
    auto limit = reinterpret_cast<std::uintptr_t>(&here) - (std::uintptr_t{1} << 16);
    struct Shape {
        const char* open;
        const char* middle;
        const char* close;
    };
    const Shape shapes[] = {
        {"(", "1", ")"},
        {"begin ", "", " end"},
        {"if 1 = 1 then ", "", ""},
        {"while 1 = 1 do ", "", ""},
        {"v[", "1", "]"},
    };
    for (const Shape& s : shapes) {
        std::string body;
        for (int i = 0; i < 100000; ++i)
            body += s.open;
        body += s.middle;
        for (int i = 0; i < 100000; ++i)
            body += s.close;
        std::string source = std::string("program m; var v[1..1]; begin ") +
                             (s.middle[0] == '1' ? "write(" + body + ")" : body) + " end.\n";
        reset_all();
        parser_stack_limit = limit;
        Outcome o = capture([&] {
            open_source_text(source);
            parse_program();
        });
        parser_stack_limit = 0;
        EXPECT_EQ(o.status, 1) << s.open;
        EXPECT_EQ(o.out, too_deep) << s.open;
    }
}
