// The native tier's count of an instruction budget against the traced
// interpreter's: programs of every shape (loops, calls, recursion, var
// parameters, wild array indexes, division by zero, reads and writes, a
// stack overflow, output that can't be written) run with every budget
// from 1 to one past the instructions they run, so that the budget runs
// out inside every straight run of instructions and at every jump, call
// and return; every field of the result, the output bytes, the registers
// and every cell must be the same.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "driver/api.hpp"
#include "limited_writer.hpp"
#include "vm/code.hpp"
#include "vm/machine.hpp"

namespace {

// The machine's registers where a run ended.
struct Registers {
    std::int32_t p = 0, b = 0, t = 0;
    Instruction ir{};
    bool operator==(const Registers& o) const {
        return p == o.p && b == o.b && t == o.t && ir.op == o.ir.op && ir.l == o.ir.l &&
               ir.a == o.ir.a;
    }
};

// Everything a run leaves behind.
struct Seen {
    std::string out;
    RunResult result;
    Registers at;
    std::vector<std::int32_t> cells;
};

Seen run_on(Engine engine, std::string_view input, std::uint64_t budget,
            std::size_t room = 1u << 20) {
    Limited sink{{}, room};
    Seen seen;
    seen.result = run_into(sink, engine, input, budget);
    seen.out = sink.bytes;
    seen.at = Registers{p, b, t, ir};
    seen.cells.assign(s, s + STACK_SIZE);
    return seen;
}

// Whether the native tier's run with `budget` is the interpreter's, field
// by field; a failure says which differ.
bool same_with_budget(std::string_view input, std::uint64_t budget, std::size_t room) {
    Seen i = run_on(Engine::interpreter, input, budget, room);
    Seen n = run_on(Engine::native, input, budget, room);
    const RunResult& a = i.result;
    const RunResult& c = n.result;
    // The registers mean something where the machine ended the run (not
    // where the writer did, from inside an instruction).
    bool registers = a.end != RunEnd::output_failed;
    bool same = i.out == n.out && a.end == c.end && a.message == c.message && a.pc == c.pc &&
                a.steps == c.steps && a.where.line == c.where.line &&
                a.where.column == c.where.column && a.call_pc == c.call_pc &&
                a.call_depth == c.call_depth && a.recursion_depth == c.recursion_depth &&
                (!registers || i.at == n.at) && i.cells == n.cells;
    EXPECT_TRUE(same) << "budget " << budget << "\ninterpreter: " << run_end_name(a.end) << " pc "
                      << a.pc << " steps " << a.steps << " p " << i.at.p << " b " << i.at.b << " t "
                      << i.at.t << " " << a.message << " " << i.out.size()
                      << " bytes\nnative:      " << run_end_name(c.end) << " pc " << c.pc
                      << " steps " << c.steps << " p " << n.at.p << " b " << n.at.b << " t "
                      << n.at.t << " " << c.message << " " << n.out.size() << " bytes"
                      << (i.cells == n.cells ? "" : "\nthe cells differ");
    return same;
}

// The text of tests/unit/budget/NAME.tsu, a program these tests run (kept
// as source files, which an editor and tsumiki itself open as they are).
std::string program_text(const char* name) {
    std::ifstream file(std::string(TSUMIKI_SOURCE_DIR) + "/tests/unit/budget/" + name + ".tsu");
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_FALSE(text.str().empty()) << name;
    return text.str();
}

// Compiles `source` and compares the engines at every budget from 1 to
// one past the instructions its run begins (every `stride`-th beyond
// `dense`, and the last few exactly); returns the instructions begun.
std::uint64_t sweep(const std::string& source, std::string_view input = "",
                    std::size_t room = 1u << 20, std::uint64_t dense = 5000,
                    std::uint64_t stride = 7) {
    CompileOptions options;
    options.encoding = Encoding::utf8;
    EXPECT_EQ(compile_text(source, options).error, ErrorKind::none) << source;
    Seen whole = run_on(Engine::interpreter, input, 100'000'000, room);
    EXPECT_NE(whole.result.end, RunEnd::budget_spent) << source;
    const std::uint64_t steps = whole.result.steps;
    EXPECT_GT(steps, 0u);
    for (std::uint64_t budget = 1; budget <= steps + 1; ++budget) {
        bool exact = budget <= dense || budget + 3 >= steps || budget % stride == 0;
        if (exact && !same_with_budget(input, budget, room)) {
            ADD_FAILURE() << source;
            break;
        }
    }
    // No budget at all (0), and one far beyond the run.
    EXPECT_TRUE(same_with_budget(input, 1'000'000'000, room));
    return steps;
}

TEST(NativeBudget, LoopsStopAtEveryInstruction) {
    sweep(program_text("loops"));
}

TEST(NativeBudget, CallsAndVarParametersStopAtEveryInstruction) {
    sweep(program_text("calls"));
}

TEST(NativeBudget, RecursionStopsAtEveryInstruction) {
    sweep(program_text("recursion"));
}

// Each ends in a run-time error: the count includes the instruction that
// failed, on both engines.
TEST(NativeBudget, RunTimeErrorsStopAtEveryInstruction) {
    sweep(program_text("wild"));
    sweep(program_text("division"));
    std::uint64_t steps = sweep(program_text("overflow"));
    EXPECT_GT(steps, 300u); // a recursion that went on until the stack was full
}

// Reads: numbers, then one that is not a number; a writer that takes only
// a few bytes.
TEST(NativeBudget, ReadsAndWritesStopAtEveryInstruction) {
    const std::string stats = program_text("stats");
    sweep(stats, "3 -7 12 40 5 0");
    sweep(stats, "3 -7 12 x");
    sweep(stats, "3 -7 12 40 5 0", 9);
}

// A run too long to sweep: a dense sample of budgets, and its edges.
TEST(NativeBudget, LongRunsStopAtSampledBudgets) {
    std::uint64_t steps = sweep(program_text("long"), "", 1u << 20, 3000, 613);
    EXPECT_GT(steps, 100'000u);
}

// A code store made by hand: an instruction the machine code leaves to
// the interpreter (a jump out of the store) inside the counted run.
TEST(NativeBudget, HandOversInsideARunCountOn) {
    for (std::int32_t out : {50, -3}) {
        reset_code();
        generate_code(ENT, 0, 4);
        generate_code(LDC, 0, 3);
        generate_code(STR, 0, 3);
        generate_code(LOD, 0, 3); // 3: the loop
        generate_code(LDC, 0, 1);
        generate_code(OPR, 0, OPR_SUB);
        generate_code(STR, 0, 3);
        generate_code(LOD, 0, 3);
        generate_code(PUT, 0, 0);
        generate_code(LOD, 0, 3);
        generate_code(FJP, 0, out); // 10: out of the store at 0
        generate_code(UJP, 0, 3);
        generate_code(HLT, 0, 0);
        for (std::uint64_t budget = 1; budget < 60; ++budget)
            if (!same_with_budget("", budget, 1u << 20)) return;
    }
}

} // namespace
