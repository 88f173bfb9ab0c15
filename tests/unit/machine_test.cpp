// The stack machine: hand-assembled code stores run by interpret, with the
// registers, the stack and the output checked after HLT or after the
// run-time error that ended the run.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "support.hpp"
#include "vm/code.hpp"
#include "vm/machine.hpp"

namespace {

constexpr std::int32_t INT_MIN32 = -2147483647 - 1;
constexpr std::int32_t INT_MAX32 = 2147483647;

// A fresh machine and code store holding `program`.
void assemble(std::initializer_list<Instruction> program) {
    reset_all();
    for (const Instruction& in : program)
        generate_code(in.op, in.l, in.a);
}

// Runs the store from the registers as they are: 0 after assemble.
Outcome run() {
    return capture([] { interpret(); });
}

// Runs the store with instruction k replaced by HLT, from a clean machine:
// the state just before k would first execute (with p one past k).
Outcome run_until(int k) {
    Instruction saved = code[k];
    code[k] = Instruction{HLT, 0, 0};
    reset_machine();
    Outcome o = run();
    code[k] = saved;
    return o;
}

std::string runtime(const char* text) {
    return std::string("実行中にエラーがおきました: ") + text + "\n";
}

const std::string overflow = runtime("スタックオーバフロー");
const std::string underflow = runtime("スタックアンダーフロー");
const std::string undefined_op = runtime("未定義の命令がありました");
const std::string division_by_zero = runtime("0による除算がありました");
const std::string bad_address = runtime("スタックの範囲外のアドレスを使いました");
const std::string bad_jump = runtime("命令の範囲外へ飛ぼうとしました");
const std::string prompt = "数を入力して下さい>";

// The output of `x op y` (or of the one-operand op on x) written by PUT.
std::string operate(Opcode op, std::int32_t sub, std::int32_t x, std::int32_t y) {
    assemble({{ENT, 0, 2}, {LDC, 0, x}, {LDC, 0, y}, {op, 0, sub}, {PUT, 0, 0}, {HLT, 0, 0}});
    return run().out;
}
std::string negate(std::int32_t x) {
    assemble({{ENT, 0, 2}, {LDC, 0, x}, {OPR, 0, OPR_NEG}, {PUT, 0, 0}, {HLT, 0, 0}});
    return run().out;
}

} // namespace

// ---------------------------------------------------------------------------
// Start and end of a run

TEST(MachineRun, AnEmptyBodyRunsItsJumpEntryAndHalt) {
    assemble({{UJP, 0, 1}, {ENT, 0, 2}, {HLT, 0, 0}});
    Outcome o = run();
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(p, 3); // HLT, like every instruction, advanced p past itself
    EXPECT_EQ(b, 0);
    EXPECT_EQ(t, 2);
}

TEST(MachineRun, HaltLeavesTheInstructionRegisterOnIt) {
    // The machine ignores HLT's operands; ir keeps them as fetched.
    assemble({{ENT, 0, 2}, {HLT, 3, -4}});
    run();
    EXPECT_EQ(ir.op, HLT);
    EXPECT_EQ(ir.l, 3);
    EXPECT_EQ(ir.a, -4);
}

TEST(MachineRun, ClearsTheStackBeforeTheFirstInstruction) {
    assemble({{LOD, 0, 500}, {PUT, 0, 0}, {LOD, 0, 999}, {PUT, 0, 0}, {HLT, 0, 0}});
    s[500] = 7;
    s[999] = -7;
    EXPECT_EQ(run().out, "0\n0\n");
}

TEST(MachineRun, StartsFromTheRegistersAsItFindsThem) {
    // interpret does not set p, b and t: at start-up they are 0.
    assemble({{LDC, 0, 1}, {PUT, 0, 0}, {LDC, 0, 5}, {PUT, 0, 0}, {HLT, 0, 0}});
    p = 2;
    EXPECT_EQ(run().out, "5\n");
}

TEST(MachineRun, ChecksTheStackBeforeTheFirstFetch) {
    assemble({{LDC, 0, 1}, {PUT, 0, 0}, {HLT, 0, 0}});
    t = 998;
    Outcome o = run();
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, overflow);
    EXPECT_EQ(p, 0);

    assemble({{PUT, 0, 0}, {HLT, 0, 0}});
    t = 997;
    o = run();
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.out, "0\n");
    EXPECT_EQ(t, 996);
}

// ---------------------------------------------------------------------------
// The worked example: a procedure that sets the main program's variable.

namespace {

void assemble_worked_example() {
    assemble({
        {UJP, 0, 6}, // 0
        {UJP, 0, 2}, // 1  the procedure
        {ENT, 0, 2}, // 2
        {LDC, 0, 1}, // 3
        {STR, 1, 3}, // 4  one level out: the main program's variable
        {RET, 0, 0}, // 5
        {ENT, 0, 3}, // 6  main
        {MST, 0, 3}, // 7
        {CUP, 0, 1}, // 8
        {LOD, 0, 3}, // 9
        {PUT, 0, 0}, // 10
        {HLT, 0, 0}, // 11
    });
}

} // namespace

TEST(WorkedExample, WritesOneAndHaltsInTheMainFrame) {
    assemble_worked_example();
    Outcome o = run();
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.out, "1\n");
    EXPECT_EQ(p, 12);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(t, 3);
    EXPECT_EQ(s[3], 1);
    EXPECT_EQ(s[6], 9); // the return address stays behind in the dead frame
}

TEST(WorkedExample, RegisterTrace) {
    // Each instruction runs once; the state just before it.
    struct Before {
        int index;
        std::int32_t b, t;
        std::vector<std::int32_t> cells; // s[3] to s[7]
        const char* out;
    };
    const Before trace[] = {
        {6, 0, 0, {0, 0, 0, 0, 0}, ""},     // UJP 0,6 jumped over the procedure
        {7, 0, 3, {0, 0, 0, 0, 0}, ""},     // ENT 0,3
        {8, 0, 6, {0, 0, 0, 0, 0}, ""},     // MST 0,3: links 0 and 0
        {1, 4, 6, {0, 0, 0, 9, 0}, ""},     // CUP 0,1: return to 9, frame at 4
        {2, 4, 6, {0, 0, 0, 9, 0}, ""},     // UJP 0,2
        {3, 4, 6, {0, 0, 0, 9, 0}, ""},     // ENT 0,2
        {4, 4, 7, {0, 0, 0, 9, 1}, ""},     // LDC 0,1
        {5, 4, 6, {1, 0, 0, 9, 1}, ""},     // STR 1,3 through the static link
        {9, 0, 3, {1, 0, 0, 9, 1}, ""},     // RET
        {10, 0, 4, {1, 1, 0, 9, 1}, ""},    // LOD 0,3
        {11, 0, 3, {1, 1, 0, 9, 1}, "1\n"}, // PUT
    };
    assemble_worked_example();
    for (const Before& step : trace) {
        SCOPED_TRACE(step.index);
        Outcome o = run_until(step.index);
        EXPECT_EQ(o.status, -1);
        EXPECT_EQ(o.out, step.out);
        EXPECT_EQ(p, step.index + 1);
        EXPECT_EQ(b, step.b);
        EXPECT_EQ(t, step.t);
        EXPECT_EQ(std::vector<std::int32_t>(s + 3, s + 8), step.cells);
    }
}

// ---------------------------------------------------------------------------
// Calls and returns

TEST(Calls, ProcedureWithArgumentsReturnsToTheHeightBeforeTheCall) {
    assemble({
        {UJP, 0, 10}, // 0
        {UJP, 0, 2},  // 1  procedure q(x, y); var z
        {ENT, 0, 5},  // 2  3 header cells, 2 parameters, 1 local
        {LOD, 0, 3},  // 3  x
        {LOD, 0, 4},  // 4  y
        {OPR, 0, 2},  // 5
        {STR, 0, 5},  // 6  z := x - y
        {LOD, 0, 5},  // 7
        {PUT, 0, 0},  // 8  write(z)
        {RET, 0, 0},  // 9
        {ENT, 0, 3},  // 10 main, one variable
        {LDC, 0, 77}, // 11 a value in progress below the call
        {MST, 0, 3},  // 12
        {LDC, 0, 10}, // 13
        {LDC, 0, 20}, // 14
        {CUP, 2, 1},  // 15
        {PUT, 0, 0},  // 16
        {HLT, 0, 0},  // 17
    });
    Outcome o = run_until(2);
    EXPECT_EQ(b, 5);
    EXPECT_EQ(t, 9);
    EXPECT_EQ(std::vector<std::int32_t>(s + 4, s + 10),
              (std::vector<std::int32_t>{77, 0, 0, 16, 10, 20}));

    o = run_until(9);
    EXPECT_EQ(o.out, "-10\n");
    EXPECT_EQ(b, 5);
    EXPECT_EQ(t, 10);
    EXPECT_EQ(s[10], -10);

    o = run_until(16);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(t, 4); // what it was before MST
    EXPECT_EQ(s[4], 77);

    reset_machine();
    o = run();
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.out, "-10\n77\n");
    EXPECT_EQ(t, 3);
}

TEST(Calls, FunctionLeavesItsValueAsOneNewCell) {
    assemble({
        {UJP, 0, 8}, // 0
        {UJP, 0, 2}, // 1  function f(x)
        {ENT, 0, 4}, // 2  4 header cells, 1 parameter
        {LOD, 0, 4}, // 3  x, after the result cell
        {LOD, 0, 4}, // 4
        {OPR, 0, 3}, // 5
        {STR, 0, 3}, // 6  f := x * x
        {FRT, 0, 0}, // 7
        {ENT, 0, 3}, // 8  main
        {LDC, 0, 5}, // 9  5 + f(9)
        {MST, 0, 4}, // 10
        {LDC, 0, 9}, // 11
        {CUP, 2, 1}, // 12 one argument and the result cell
        {OPR, 0, 1}, // 13
        {PUT, 0, 0}, // 14
        {HLT, 0, 0}, // 15
    });
    run_until(2);
    EXPECT_EQ(b, 5);
    EXPECT_EQ(t, 9);
    EXPECT_EQ(s[7], 13); // return address
    EXPECT_EQ(s[9], 9);  // the argument, above the result cell s[8]

    run_until(7);
    EXPECT_EQ(s[8], 81);

    run_until(13);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(t, 5); // one more than before MST
    EXPECT_EQ(s[5], 81);
    EXPECT_EQ(s[4], 5);

    reset_machine();
    Outcome o = run();
    EXPECT_EQ(o.out, "86\n");
    EXPECT_EQ(t, 3);
}

// main (g) declares a (a) which declares b (bb) which declares c.  c reads
// all three, and once calls b again: that b's static link must be a's frame
// (MST 2,3 from c), while its dynamic link is c's frame.
TEST(Calls, StaticLinksThroughSeveralLevels) {
    assemble({
        {UJP, 0, 34},  // 0  main
        {UJP, 0, 28},  // 1  procedure a (level 1)
        {UJP, 0, 20},  // 2  procedure b (level 2)
        {UJP, 0, 4},   // 3  procedure c (level 3)
        {ENT, 0, 2},   // 4
        {LOD, 3, 3},   // 5  write(g)
        {PUT, 0, 0},   // 6
        {LOD, 2, 3},   // 7  write(a's variable)
        {PUT, 0, 0},   // 8
        {LOD, 1, 3},   // 9  write(b's variable)
        {PUT, 0, 0},   // 10
        {LOD, 3, 3},   // 11 if g = 1 then
        {LDC, 0, 1},   // 12
        {COP, 0, 1},   // 13
        {FJP, 0, 19},  // 14
        {LDC, 0, 2},   // 15 g := 2
        {STR, 3, 3},   // 16
        {MST, 2, 3},   // 17 b, declared two levels out
        {CUP, 0, 2},   // 18
        {RET, 0, 0},   // 19
        {ENT, 0, 3},   // 20 b
        {LOD, 2, 3},   // 21 bb := g * 100
        {LDC, 0, 100}, // 22
        {OPR, 0, 3},   // 23
        {STR, 0, 3},   // 24
        {MST, 0, 3},   // 25 c
        {CUP, 0, 3},   // 26
        {RET, 0, 0},   // 27
        {ENT, 0, 3},   // 28 a
        {LDC, 0, 2},   // 29 its variable := 2
        {STR, 0, 3},   // 30
        {MST, 0, 3},   // 31 b
        {CUP, 0, 2},   // 32
        {RET, 0, 0},   // 33
        {ENT, 0, 3},   // 34 main
        {LDC, 0, 1},   // 35 g := 1
        {STR, 0, 3},   // 36
        {MST, 0, 3},   // 37 a
        {CUP, 0, 1},   // 38
        {HLT, 0, 0},   // 39
    });
    Outcome o = run();
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.out, "1\n2\n100\n2\n2\n200\n");
    EXPECT_EQ(b, 0);
    EXPECT_EQ(t, 3);
    // Frames: main 0, a 4, b 8, c 12, b again 15, c again 19.
    EXPECT_EQ(s[15], 4);  // static link of the second b: a's frame
    EXPECT_EQ(s[16], 12); // its dynamic link: the calling c
    EXPECT_EQ(s[19], 15); // the second c's static and dynamic links
    EXPECT_EQ(s[20], 15);
}

TEST(Calls, ReferenceParameterReadsAndWritesThroughItsAddress) {
    assemble({
        {UJP, 0, 10}, // 0
        {UJP, 0, 2},  // 1  procedure inc(var r)
        {ENT, 0, 3},  // 2
        {LOD, 0, 3},  // 3  the address
        {LOD, 0, 3},  // 4
        {IND, 0, 0},  // 5  the value it points at
        {LDC, 0, 1},  // 6
        {OPR, 0, 1},  // 7
        {STO, 0, 0},  // 8  r := r + 1
        {RET, 0, 0},  // 9
        {ENT, 0, 3},  // 10 main
        {LDC, 0, 41}, // 11
        {STR, 0, 3},  // 12
        {MST, 0, 3},  // 13
        {LDA, 0, 3},  // 14 the variable's address
        {CUP, 1, 1},  // 15
        {LOD, 0, 3},  // 16
        {PUT, 0, 0},  // 17
        {HLT, 0, 0},  // 18
    });
    run_until(9);
    EXPECT_EQ(s[7], 3); // the parameter holds the address
    EXPECT_EQ(s[3], 42);
    EXPECT_EQ(t, 7); // STO popped both of its cells
    reset_machine();
    Outcome o = run();
    EXPECT_EQ(o.out, "42\n");
}

TEST(Calls, IndAddsItsOffsetToTheAddress) {
    assemble({{ENT, 0, 6},
              {LDC, 0, 33},
              {STR, 0, 5},
              {LDA, 0, 3},
              {IND, 0, 2},
              {PUT, 0, 0},
              {HLT, 0, 0}});
    EXPECT_EQ(run().out, "33\n");
}

// ---------------------------------------------------------------------------
// Cells are never cleared after start-up

TEST(StaleCells, FunctionThatNeverAssignsReturnsTheOldCell) {
    assemble({
        {UJP, 0, 9},  // 0
        {UJP, 0, 2},  // 1  function f: f := 99
        {ENT, 0, 3},  // 2
        {LDC, 0, 99}, // 3
        {STR, 0, 3},  // 4
        {FRT, 0, 0},  // 5
        {UJP, 0, 7},  // 6  function g: assigns nothing
        {ENT, 0, 3},  // 7
        {FRT, 0, 0},  // 8
        {ENT, 0, 2},  // 9  main
        {MST, 0, 4},  // 10 write(f)
        {CUP, 1, 1},  // 11
        {PUT, 0, 0},  // 12
        {MST, 0, 4},  // 13 write(g): its result cell is where f's was
        {CUP, 1, 6},  // 14
        {PUT, 0, 0},  // 15
        {HLT, 0, 0},  // 16
    });
    EXPECT_EQ(run().out, "99\n99\n");
}

TEST(StaleCells, LocalsStartWithWhatThePreviousFrameLeft) {
    assemble({
        {UJP, 0, 11}, // 0
        {UJP, 0, 2},  // 1  procedure set; var z; z := 5
        {ENT, 0, 3},  // 2
        {LDC, 0, 5},  // 3
        {STR, 0, 3},  // 4
        {RET, 0, 0},  // 5
        {UJP, 0, 7},  // 6  procedure show; var w; write(w)
        {ENT, 0, 3},  // 7
        {LOD, 0, 3},  // 8
        {PUT, 0, 0},  // 9
        {RET, 0, 0},  // 10
        {ENT, 0, 2},  // 11 main
        {MST, 0, 3},  // 12
        {CUP, 0, 1},  // 13
        {MST, 0, 3},  // 14
        {CUP, 0, 6},  // 15
        {HLT, 0, 0},  // 16
    });
    EXPECT_EQ(run().out, "5\n");
}

TEST(StaleCells, AddressesInsideTheStackReachAnyCell) {
    // No bound is checked inside cells 0 to 999: the last cell, above the
    // top, and the main frame's header are all reachable.
    assemble({{ENT, 0, 3},
              {LDC, 0, 999},
              {LDC, 0, 31},
              {STO, 0, 0},
              {LDC, 0, 999},
              {IND, 0, 0},
              {PUT, 0, 0},
              {LDC, 0, 0},
              {LDC, 0, -8},
              {STO, 0, 0},
              {LOD, 0, 0},
              {PUT, 0, 0},
              {LDA, 0, 3},
              {IND, 0, -2},
              {PUT, 0, 0},
              {LOD, 0, 999},
              {PUT, 0, 0},
              {HLT, 0, 0}});
    EXPECT_EQ(run().out, "31\n-8\n0\n31\n");
}

// ---------------------------------------------------------------------------
// Arithmetic and comparison

TEST(Arithmetic, WrapsAroundModulo2To32) {
    EXPECT_EQ(operate(OPR, OPR_ADD, INT_MAX32, 1), "-2147483648\n");
    EXPECT_EQ(operate(OPR, OPR_ADD, INT_MIN32, -1), "2147483647\n");
    EXPECT_EQ(operate(OPR, OPR_ADD, -3, 5), "2\n");
    EXPECT_EQ(operate(OPR, OPR_SUB, INT_MIN32, 1), "2147483647\n");
    EXPECT_EQ(operate(OPR, OPR_SUB, 0, INT_MIN32), "-2147483648\n");
    EXPECT_EQ(operate(OPR, OPR_SUB, 3, 5), "-2\n");
    EXPECT_EQ(operate(OPR, OPR_MUL, 65536, 65536), "0\n");
    EXPECT_EQ(operate(OPR, OPR_MUL, INT_MAX32, 2), "-2\n");
    EXPECT_EQ(operate(OPR, OPR_MUL, INT_MIN32, -1), "-2147483648\n");
    EXPECT_EQ(operate(OPR, OPR_MUL, -3, 4), "-12\n");
    EXPECT_EQ(negate(5), "-5\n");
    EXPECT_EQ(negate(0), "0\n");
    EXPECT_EQ(negate(INT_MIN32), "-2147483648\n");
}

TEST(Arithmetic, DivisionTruncatesTowardZero) {
    EXPECT_EQ(operate(OPR, OPR_DIV, -7, 2), "-3\n");
    EXPECT_EQ(operate(OPR, OPR_DIV, 7, -2), "-3\n");
    EXPECT_EQ(operate(OPR, OPR_DIV, 7, 2), "3\n");
    EXPECT_EQ(operate(OPR, OPR_DIV, -7, -2), "3\n");
    EXPECT_EQ(operate(OPR, OPR_DIV, -1, 2), "0\n");
    EXPECT_EQ(operate(OPR, OPR_DIV, 0, -5), "0\n");
    EXPECT_EQ(operate(OPR, OPR_DIV, INT_MIN32, 2), "-1073741824\n");
    EXPECT_EQ(operate(OPR, OPR_DIV, INT_MIN32, INT_MIN32), "1\n");
    EXPECT_EQ(operate(OPR, OPR_DIV, INT_MAX32, -1), "-2147483647\n");
    // The one quotient that does not fit wraps, as negation does.
    EXPECT_EQ(operate(OPR, OPR_DIV, INT_MIN32, -1), "-2147483648\n");
}

TEST(Arithmetic, DivisionByZeroEndsTheRunAfterItsOutput) {
    assemble({{ENT, 0, 2},
              {LDC, 0, 1},
              {PUT, 0, 0},
              {LDC, 0, 7},
              {LDC, 0, 0},
              {OPR, 0, OPR_DIV},
              {PUT, 0, 0},
              {HLT, 0, 0}});
    Outcome o = run();
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "1\n" + division_by_zero);
    EXPECT_EQ(p, 6);
    EXPECT_EQ(ir.op, OPR);
    EXPECT_EQ(ir.a, OPR_DIV);

    EXPECT_EQ(operate(OPR, OPR_DIV, INT_MIN32, 0), division_by_zero);
}

TEST(Arithmetic, ComparisonsAreSignedAndYieldOneOrZero) {
    struct Case {
        std::int32_t x, y;
        const char* eq;
        const char* neq;
        const char* gt;
        const char* geq;
        const char* lt;
        const char* leq;
    };
    const Case cases[] = {
        {1, 2, "0\n", "1\n", "0\n", "0\n", "1\n", "1\n"},
        {2, 2, "1\n", "0\n", "0\n", "1\n", "0\n", "1\n"},
        {2, 1, "0\n", "1\n", "1\n", "1\n", "0\n", "0\n"},
        {-1, 1, "0\n", "1\n", "0\n", "0\n", "1\n", "1\n"},
        {INT_MIN32, INT_MAX32, "0\n", "1\n", "0\n", "0\n", "1\n", "1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.x) + " vs " + std::to_string(c.y));
        EXPECT_EQ(operate(COP, COP_EQ, c.x, c.y), c.eq);
        EXPECT_EQ(operate(COP, COP_NEQ, c.x, c.y), c.neq);
        EXPECT_EQ(operate(COP, COP_GT, c.x, c.y), c.gt);
        EXPECT_EQ(operate(COP, COP_GEQ, c.x, c.y), c.geq);
        EXPECT_EQ(operate(COP, COP_LT, c.x, c.y), c.lt);
        EXPECT_EQ(operate(COP, COP_LEQ, c.x, c.y), c.leq);
    }
}

TEST(Arithmetic, SubCodesOutsideTheTablesDoNothing) {
    struct Case {
        Opcode op;
        std::int32_t sub;
    };
    const Case cases[] = {{OPR, 0}, {OPR, 6}, {OPR, -1}, {OPR, INT_MAX32}, {OPR, INT_MIN32},
                          {COP, 0}, {COP, 7}, {COP, -1}, {COP, INT_MAX32}, {COP, INT_MIN32}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(mnemonic(c.op)) + " " + std::to_string(c.sub));
        assemble({{ENT, 0, 2}, {LDC, 0, 5}, {LDC, 0, 3}, {c.op, 0, c.sub}, {HLT, 0, 0}});
        Outcome o = run();
        EXPECT_EQ(o.status, -1);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(t, 4);
        EXPECT_EQ(s[3], 5);
        EXPECT_EQ(s[4], 3);
        EXPECT_EQ(p, 5);
    }
}

TEST(Jumps, FalseJumpTakesOnlyZeroAndPopsEitherWay) {
    // write(1) is skipped; write(2) is not, for -1 counts as true.
    assemble({{ENT, 0, 2},
              {LDC, 0, 0},
              {FJP, 0, 5},
              {LDC, 0, 1},
              {PUT, 0, 0},
              {LDC, 0, -1},
              {FJP, 0, 9},
              {LDC, 0, 2},
              {PUT, 0, 0},
              {HLT, 0, 0}});
    Outcome o = run();
    EXPECT_EQ(o.out, "2\n");
    EXPECT_EQ(t, 2);
}

TEST(Output, WritesSignedDecimalLines) {
    assemble({{ENT, 0, 2},
              {LDC, 0, -5},
              {PUT, 0, 0},
              {LDC, 0, 0},
              {PUT, 0, 0},
              {LDC, 0, INT_MIN32},
              {PUT, 0, 0},
              {LDC, 0, INT_MAX32},
              {PUT, 0, 0},
              {HLT, 0, 0}});
    EXPECT_EQ(run().out, "-5\n0\n-2147483648\n2147483647\n");
    EXPECT_EQ(t, 2);
}

// ---------------------------------------------------------------------------
// read: prompt and %d conversion

namespace {

// `reads` GETs into cell 3, each written at once; cell 3 first holds
// `stale`, left there by an LDC that ENT then dropped.
std::string read_numbers(const std::string& input, int reads, std::int32_t stale = 55) {
    assemble({{ENT, 0, 2}, {LDC, 0, stale}, {ENT, 0, 2}});
    for (int i = 0; i < reads; ++i) {
        generate_code(GET, 0, 0);
        generate_code(PUT, 0, 0);
    }
    generate_code(HLT, 0, 0);
    set_machine_input(input);
    Outcome o = run();
    EXPECT_EQ(o.status, o.out.find("実行中") == std::string::npos ? -1 : 1);
    return o.out;
}

std::string echoed(std::initializer_list<std::int32_t> values) {
    std::string out;
    for (std::int32_t v : values)
        out += prompt + std::to_string(v) + "\n";
    return out;
}

// The numbers read, then a read that finds none and stops the run.
std::string then_none(std::initializer_list<std::int32_t> values) {
    return echoed(values) + prompt + "実行中にエラーがおきました: 数が読み込めませんでした\n";
}

} // namespace

TEST(Read, SkipsWhiteSpaceAndTakesAnOptionalSign) {
    EXPECT_EQ(read_numbers("   42\n", 1), echoed({42}));
    EXPECT_EQ(read_numbers("42", 1), echoed({42}));
    EXPECT_EQ(read_numbers("+7\n", 1), echoed({7}));
    EXPECT_EQ(read_numbers("-7\n", 1), echoed({-7}));
    EXPECT_EQ(read_numbers("\n\n \t\v\f\r 5\n", 1), echoed({5}));
    EXPECT_EQ(read_numbers("007\n", 1), echoed({7}));
}

TEST(Read, SeveralNumbersOnOneLineFeedSuccessiveReads) {
    EXPECT_EQ(read_numbers("3 4\n", 2), echoed({3, 4}));
    EXPECT_EQ(read_numbers("3\n\n4", 2), echoed({3, 4}));
    EXPECT_EQ(read_numbers("-1 +2 3\n", 2), echoed({-1, 2}));
}

TEST(Read, AtTheEndOfInputTheRunStops) {
    EXPECT_EQ(read_numbers("", 2), then_none({}));
    EXPECT_EQ(read_numbers("  \n", 1, -9), then_none({}));
    EXPECT_EQ(read_numbers("8", 3), then_none({8}));
    EXPECT_EQ(read_numbers("8 \n\n", 2), then_none({8}));
}

TEST(Read, CharactersThatAreNoNumberStopTheRun) {
    EXPECT_EQ(read_numbers("abc 5\n", 2), then_none({}));
    EXPECT_EQ(read_numbers("12abc 5\n", 3), then_none({12}));
    EXPECT_EQ(read_numbers("0x10\n", 2), then_none({0}));
    EXPECT_EQ(read_numbers("1.5 2\n", 3), then_none({1}));
    // A sign must be followed by its digits.
    EXPECT_EQ(read_numbers("-x 5\n", 2), then_none({}));
    EXPECT_EQ(read_numbers("+ 5\n", 2), then_none({}));
    EXPECT_EQ(read_numbers("- 5\n", 2), then_none({}));
    EXPECT_EQ(read_numbers("7 -", 2), then_none({7}));
    // The failing GET has pushed its cell and is the instruction in ir.
    read_numbers("x", 1);
    EXPECT_EQ(ir.op, GET);
    EXPECT_EQ(ir_pc, 3);
    EXPECT_EQ(t, 3);
    EXPECT_EQ(p, 4);
}

TEST(Read, NumbersBeyond32BitsWrapModulo2To32) {
    EXPECT_EQ(read_numbers("2147483647 -2147483648\n", 2), echoed({INT_MAX32, INT_MIN32}));
    EXPECT_EQ(read_numbers("2147483648\n", 1), echoed({INT_MIN32}));
    EXPECT_EQ(read_numbers("-2147483649\n", 1), echoed({INT_MAX32}));
    EXPECT_EQ(read_numbers("4294967297\n", 1), echoed({1}));
    EXPECT_EQ(read_numbers("100000000000000000000 7\n", 2), echoed({1661992960, 7}));
    EXPECT_EQ(read_numbers("-100000000000000000000\n", 1), echoed({-1661992960}));
}

// ---------------------------------------------------------------------------
// Stack limits

TEST(StackLimit, EntCompletesAndTheNextFetchFailsAt998) {
    assemble({{ENT, 0, 997}, {PUT, 0, 0}, {HLT, 0, 0}});
    Outcome o = run();
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.out, "0\n");

    assemble({{ENT, 0, 998}, {PUT, 0, 0}, {HLT, 0, 0}});
    o = run();
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, overflow);
    EXPECT_EQ(t, 998);
    EXPECT_EQ(p, 1);
    EXPECT_EQ(ir.op, ENT);

    assemble({{ENT, 0, INT_MAX32}, {HLT, 0, 0}});
    EXPECT_EQ(run().out, overflow);
}

TEST(StackLimit, MarkStackWritesBothLinksBeforeTheCheck) {
    assemble({{ENT, 0, 991}, {MST, 0, 3}, {CUP, 0, 0}, {HLT, 0, 0}});
    b = 4; // as if in a frame at 4: its t becomes 995
    Outcome o = run();
    EXPECT_EQ(o.out, overflow);
    EXPECT_EQ(s[996], 4);
    EXPECT_EQ(s[997], 4);
    EXPECT_EQ(t, 998);
    EXPECT_EQ(p, 2); // CUP was never fetched
}

TEST(StackLimit, MainProgramFrameOf995CellsFitsAnd996DoNot) {
    Outcome o = compile_and_run("program p;\nvar a[1..995];\nbegin end.\n");
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(code[1].op, ENT);
    EXPECT_EQ(code[1].a, 997);

    // t is 997 after ENT: the next instruction, LDC, still runs.
    o = compile_and_run("program p;\nvar a[1..995];\nbegin write(1) end.\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, overflow);
    EXPECT_EQ(p, 3);
    EXPECT_EQ(t, 998);

    // 996 cells fail right after ENT, before any statement.
    o = compile_and_run("program p;\nvar a[1..996];\nbegin end.\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, overflow);
    EXPECT_EQ(p, 2);

    // The heading's parameters count with the variables.
    o = compile_and_run("program p(x, y);\nvar a[1..993];\nbegin end.\n");
    EXPECT_EQ(o.status, -1);
    o = compile_and_run("program p(x, y);\nvar a[1..994];\nbegin end.\n");
    EXPECT_EQ(o.out, overflow);
}

TEST(StackLimit, PoppingBelowCellZeroIsAnUnderflow) {
    assemble({{PUT, 0, 0}, {HLT, 0, 0}});
    Outcome o = run();
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "0\n" + underflow);
    EXPECT_EQ(t, -1);

    // RET in the main frame: t becomes b-1 and p the header's 0.
    assemble({{ENT, 0, 2}, {RET, 0, 0}, {HLT, 0, 0}});
    o = run();
    EXPECT_EQ(o.out, underflow);
    EXPECT_EQ(p, 0);
    EXPECT_EQ(ir.op, RET);

    assemble({{STO, 0, 0}, {HLT, 0, 0}});
    EXPECT_EQ(run().out, underflow);
    assemble({{ENT, 0, -5}, {HLT, 0, 0}});
    EXPECT_EQ(run().out, underflow);
    assemble({{MST, 0, INT_MIN32}, {HLT, 0, 0}});
    EXPECT_EQ(run().out, underflow);
}

// ---------------------------------------------------------------------------
// Run-time guards

TEST(Guards, AnOpOutsideTheInstructionSetIsUndefined) {
    for (int op : {18, 19, 255}) {
        SCOPED_TRACE(op);
        assemble({{ENT, 0, 2}, {LDC, 0, 1}, {PUT, 0, 0}, {static_cast<Opcode>(op), 0, 0}});
        Outcome o = run();
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.out, "1\n" + undefined_op);
        EXPECT_EQ(p, 4); // already advanced
        EXPECT_EQ(ir.op, op);
    }
}

TEST(Guards, AddressesOutsideTheStack) {
    // Each program puts 5000 into the main frame's static link cell first,
    // then uses an address outside cells 0 to 999.
    const std::vector<Instruction> uses[] = {
        {{LDC, 0, 1000}, {IND, 0, 0}},
        {{LDC, 0, -1}, {IND, 0, 0}},
        {{LDC, 0, 999}, {IND, 0, 1}},
        {{LDC, 0, 0}, {IND, 0, -1}},
        {{LDC, 0, INT_MAX32}, {IND, 0, INT_MAX32}},
        {{LDC, 0, 1000}, {LDC, 0, 5}, {STO, 0, 0}},
        {{LDC, 0, -1}, {LDC, 0, 5}, {STO, 0, 0}},
        {{LOD, 0, 1000}},
        {{LOD, 0, -1}},
        {{LDC, 0, 1}, {STR, 0, 1000}},
        {{LDC, 0, 1}, {STR, 0, -4}},
        {{LOD, 1, 3}}, // the frame at 5000
        {{LOD, 2, 0}}, // a link read from cell 5000
        {{LDC, 0, 1}, {STR, 2, 0}},
        {{LDA, 2, 0}},
        {{MST, 2, 3}},
        {{LDC, 0, -1}, {STR, 0, 1}, {RET, 0, 0}}, // a dynamic link outside
        {{LDC, 0, 5000}, {STR, 0, 1}, {FRT, 0, 0}},
        {{CUP, 4, 0}}, // its return-address cell would be -1
    };
    for (const std::vector<Instruction>& use : uses) {
        SCOPED_TRACE(std::string(mnemonic(use.back().op)) + " " + std::to_string(use.back().l) +
                     "," + std::to_string(use.back().a));
        assemble({{ENT, 0, 3}, {LDC, 0, 5000}, {STR, 0, 0}});
        for (const Instruction& in : use)
            generate_code(in.op, in.l, in.a);
        generate_code(HLT, 0, 0);
        Outcome o = run();
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.out, bad_address);
    }
}

TEST(Guards, TheAddressOfACellFarOutIsOnlyANumber) {
    // LDA computes an address without using it.
    assemble({{ENT, 0, 3},
              {LDC, 0, 5000},
              {STR, 0, 0},
              {LDA, 1, 7},
              {PUT, 0, 0},
              {LDA, 1, INT_MAX32},
              {PUT, 0, 0},
              {HLT, 0, 0}});
    EXPECT_EQ(run().out, "5007\n-2147478649\n");
}

TEST(Guards, JumpsCallsAndReturnsOutsideTheCode) {
    const std::vector<Instruction> uses[] = {
        {{UJP, 0, 9}}, // exactly cx
        {{UJP, 0, -1}},
        {{UJP, 0, INT_MAX32}},
        {{LDC, 0, 0}, {FJP, 0, 9}},
        {{LDC, 0, 0}, {FJP, 0, INT_MIN32}},
        {{MST, 0, 3}, {CUP, 0, -5}},
        {{MST, 0, 3}, {CUP, 0, 9}},
        {{LDC, 0, 8}, {STR, 0, 2}, {FRT, 0, 0}}, // return address 8: inside
        {{LDC, 0, 9}, {STR, 0, 2}, {RET, 0, 0}},
        {{LDC, 0, -1}, {STR, 0, 2}, {FRT, 0, 0}},
    };
    // Each program is padded with HLTs to nine instructions; a jump to 8
    // halts, anything at 9 or beyond (or below 0) is outside.
    for (const std::vector<Instruction>& use : uses) {
        SCOPED_TRACE(std::string(mnemonic(use.back().op)) + " " + std::to_string(use.back().a));
        assemble({{ENT, 0, 3}, {LDC, 0, 1}, {PUT, 0, 0}});
        for (const Instruction& in : use)
            generate_code(in.op, in.l, in.a);
        while (cx < 9)
            generate_code(HLT, 0, 0);
        ASSERT_EQ(cx, 9);
        Outcome o = run();
        bool halts = use.back().op == FRT && use.front().a == 8;
        EXPECT_EQ(o.status, halts ? -1 : 1);
        EXPECT_EQ(o.out, halts ? "1\n" : "1\n" + bad_jump);
    }
}

TEST(Guards, FalseJumpNotTakenIgnoresItsTarget) {
    assemble({{ENT, 0, 2}, {LDC, 0, 1}, {FJP, 0, -3}, {LDC, 0, 7}, {PUT, 0, 0}, {HLT, 0, 0}});
    Outcome o = run();
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.out, "7\n");
}

TEST(Guards, RunningOffTheEndOfTheCode) {
    assemble({{ENT, 0, 2}, {LDC, 0, 3}, {PUT, 0, 0}});
    Outcome o = run();
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "3\n" + bad_jump);
    EXPECT_EQ(p, 3);
    EXPECT_EQ(ir.op, PUT); // no instruction was fetched past the end

    assemble({});
    o = run();
    EXPECT_EQ(o.out, bad_jump);
    EXPECT_EQ(p, 0);
}

TEST(Guards, RegistersSetOutsideTheCodeOrTheStack) {
    assemble({{HLT, 0, 0}});
    p = 5;
    EXPECT_EQ(run().out, bad_jump);
    assemble({{HLT, 0, 0}});
    p = -1;
    EXPECT_EQ(run().out, bad_jump);
    assemble({{RET, 0, 0}});
    b = 997;
    EXPECT_EQ(run().out, bad_address);
    assemble({{FRT, 0, 0}});
    b = -1;
    EXPECT_EQ(run().out, bad_address);
}

TEST(Guards, TheStaticChainStopsAtAFrameThatLinksToItself) {
    // The main frame's static link is 0, so base(l) stays at 0 for any l;
    // even the largest l is one step.
    assemble(
        {{ENT, 0, 3}, {LDC, 0, 12}, {STR, 0, 3}, {LOD, INT_MAX32, 3}, {PUT, 0, 0}, {HLT, 0, 0}});
    EXPECT_EQ(run().out, "12\n");
}

// ---------------------------------------------------------------------------
// base(l) on its own

TEST(Base, FollowsStaticLinksFromB) {
    reset_all();
    s[10] = 4;
    s[4] = 0;
    b = 10;
    EXPECT_EQ(base(0), 10);
    EXPECT_EQ(base(-3), 10);
    EXPECT_EQ(base(1), 4);
    EXPECT_EQ(base(2), 0);
    EXPECT_EQ(base(5), 0);
    EXPECT_EQ(base(INT_MAX32), 0);

    s[4] = 2000;
    EXPECT_EQ(base(2), 2000);
    Outcome o = capture([] { base(3); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, bad_address);
}
