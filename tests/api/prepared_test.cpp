// Runs made ready once (prepare_runs) and run many times, as the judge
// runs a submission on its cases: each run exactly as an unprepared one and
// as the interpreter's, whatever the run before it did, and nothing kept
// past the next compile.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "driver/api.hpp"

namespace {

struct Ran {
    RunResult result;
    std::string out;
};

RunOptions options_for(Engine engine, std::uint64_t budget) {
    RunOptions options;
    options.encoding = Encoding::utf8;
    options.budget = budget;
    options.engine = engine;
    return options;
}

Ran run_on(std::string_view input, Engine engine, std::uint64_t budget) {
    Ran ran;
    RunOptions options = options_for(engine, budget);
    options.input = view_reader(input);
    options.output = string_writer(ran.out);
    ran.result = run_program(options);
    return ran;
}

void expect_same(const Ran& got, const Ran& want, const std::string& what) {
    EXPECT_EQ(got.out, want.out) << what;
    EXPECT_EQ(got.result.end, want.result.end) << what;
    EXPECT_EQ(got.result.steps, want.result.steps) << what;
    EXPECT_EQ(got.result.pc, want.result.pc) << what;
    EXPECT_EQ(got.result.message, want.result.message) << what;
}

// Reads n, writes the sum of 1..n through a global, then divides by
// n - 3: a run-time error for n = 3.
const char* const SUMS = "program p;\nvar n, s, i;\nbegin read(n); i := 1;\n"
                         "  while i <= n do begin s := s + i; i := i + 1 end;\n"
                         "  write(s); write(s div (n - 3))\nend.\n";

} // namespace

TEST(PreparedRuns, ArePreparedForTheNativeTierUnderABudgetAlone) {
    ASSERT_EQ(compile_text(SUMS, utf8_compile_options()).error, ErrorKind::none);
    EXPECT_FALSE(prepare_runs(options_for(Engine::interpreter, 1000)));
    EXPECT_EQ(prepare_runs(options_for(Engine::standard, 1000)), TSUMIKI_NATIVE != 0);
    EXPECT_EQ(prepare_runs(options_for(Engine::native, 1000)), TSUMIKI_NATIVE != 0);
    RunOptions traced = options_for(Engine::standard, 1000);
    traced.trace = true;
    EXPECT_FALSE(prepare_runs(traced));
}

TEST(PreparedRuns, RunAsTheInterpreterAtEveryBudgetAroundTheirEnd) {
    ASSERT_EQ(compile_text(SUMS, utf8_compile_options()).error, ErrorKind::none);
    const Ran whole = run_on("5", Engine::interpreter, 1'000'000);
    ASSERT_EQ(whole.result.end, RunEnd::halted);
    ASSERT_EQ(whole.out, "数を入力して下さい>15\n7\n");
    const std::uint64_t total = whole.result.steps;
    prepare_runs(options_for(Engine::standard, 1));
    // The budget counts the same whatever it is: one set of machine code
    // serves every budget.
    for (std::uint64_t n = 1; n <= total + 1; ++n) {
        const Ran want = run_on("5", Engine::interpreter, n);
        expect_same(run_on("5", Engine::standard, n), want, "budget " + std::to_string(n));
    }
    expect_same(run_on("5", Engine::standard, total), whole, "exactly the run's steps");
    EXPECT_EQ(run_on("5", Engine::standard, total - 1).result.end, RunEnd::budget_spent);
}

TEST(PreparedRuns, EachStartsFromAClearedMachineAfterAnErrorOrAnEnd) {
    ASSERT_EQ(compile_text(SUMS, utf8_compile_options()).error, ErrorKind::none);
    ASSERT_EQ(prepare_runs(options_for(Engine::standard, 100'000)), TSUMIKI_NATIVE != 0);
    // The global s starts at 0 in every run, whatever the run before left
    // in it; a run after a run-time error or a spent budget is whole.
    for (std::string_view input : {"4", "3", "4", "2", "4"}) {
        const Ran want = run_on(input, Engine::interpreter, 100'000);
        expect_same(run_on(input, Engine::standard, 100'000), want, std::string(input));
        expect_same(run_on(input, Engine::standard, 20), run_on(input, Engine::interpreter, 20),
                    std::string(input) + " spent");
    }
    const Ran error = run_on("3", Engine::standard, 100'000);
    EXPECT_EQ(error.result.end, RunEnd::runtime_error);
    EXPECT_EQ(error.out, "数を入力して下さい>6\n");
    const Ran after = run_on("4", Engine::standard, 100'000);
    EXPECT_EQ(after.result.end, RunEnd::halted);
    EXPECT_EQ(after.out, "数を入力して下さい>10\n10\n");
}

TEST(PreparedRuns, AreForgottenByTheNextCompile) {
    // Two programs of as many instructions, differing in a constant: a
    // run of the second is never the machine code made for the first.
    ASSERT_EQ(compile_text("program p;\nbegin write(1) end.\n", utf8_compile_options()).error,
              ErrorKind::none);
    ASSERT_EQ(prepare_runs(options_for(Engine::standard, 100)), TSUMIKI_NATIVE != 0);
    EXPECT_EQ(run_on("", Engine::standard, 100).out, "1\n");
    ASSERT_EQ(compile_text("program p;\nbegin write(2) end.\n", utf8_compile_options()).error,
              ErrorKind::none);
    EXPECT_EQ(run_on("", Engine::standard, 100).out, "2\n");
    EXPECT_EQ(run_on("", Engine::native, 100).out, "2\n");
}
