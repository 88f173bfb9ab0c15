// A link to one moment of a run: the library counts the instructions run
// before the write of a byte of the output (steps_before_output_byte), and
// a session sent forward that far (run_to) stops just before that write,
// with the output written before it; run_to a run-time error's count stops
// before the failing instruction, and one past the end at the end.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "programs.hpp"
#include "support.hpp"
#include "vm/code.hpp"

namespace {

// The count before the write of byte `byte`, for `source` given `input`.
std::optional<std::uint64_t> count_before(const std::string& source, const std::string& input,
                                          std::uint64_t byte) {
    CompileOptions compile;
    compile.encoding = Encoding::utf8;
    Compiled compiled = compile_text(source, compile);
    EXPECT_EQ(compiled.error, ErrorKind::none);
    std::string_view rest = input;
    RunOptions run;
    run.encoding = Encoding::utf8;
    run.input = view_reader(rest);
    run.budget = 1'000'000;
    return steps_before_output_byte(run, byte);
}

TEST(Link, EachWriteIsFoundByItsFirstAndItsLastByte) {
    // "数を入力して下さい>" (28 bytes), "4\n", "8\n", "12\n".
    const std::string prompt = "数を入力して下さい>";
    const std::uint64_t starts[] = {0, prompt.size(), prompt.size() + 2, prompt.size() + 4};
    const std::uint64_t ends[] = {prompt.size(), prompt.size() + 2, prompt.size() + 4,
                                  prompt.size() + 7};
    for (int w = 0; w < 4; ++w) {
        for (std::uint64_t byte : {starts[w], ends[w] - 1}) {
            std::optional<std::uint64_t> count = count_before(THREE_WRITES, "4\n", byte);
            ASSERT_TRUE(count.has_value()) << byte;
            DebugSession session;
            std::string out;
            open_program(session, THREE_WRITES, "4\n", &out);
            Stop stop = session.run_to(*count);
            EXPECT_EQ(stop.reason, StopReason::step) << byte;
            EXPECT_EQ(session.history().position, *count);
            // Before the write: its instruction is next, and what it
            // writes is not out yet.
            EXPECT_EQ(session.program().code[static_cast<std::size_t>(stop.pc)].op,
                      w == 0 ? GET : PUT)
                << byte;
            EXPECT_EQ(session.output().size(), starts[w]) << byte;
            EXPECT_EQ(line_here(session), 4 + w) << byte;
            // One instruction more writes it.
            session.run(Motion::stepi);
            EXPECT_EQ(session.output().size(), ends[w]) << byte;
        }
    }
}

TEST(Link, NoCountForAByteNeverWritten) {
    EXPECT_FALSE(count_before(THREE_WRITES, "4\n", 35).has_value());
    EXPECT_FALSE(count_before(THREE_WRITES, "4\n", 1000).has_value());
    // A run that ends in an error before it writes the byte.
    EXPECT_FALSE(
        count_before("program p; begin write(1); write(1 div 0) end.\n", "", 2).has_value());
}

TEST(Link, AnErrorsCountStopsBeforeIt) {
    const char* source =
        "program p;\nvar x;\nbegin\n  x := 0;\n  write(1);\n  write(6 div x)\nend.\n";
    CompileOptions compile;
    compile_text(source, compile);
    std::string printed;
    RunOptions run;
    run.output = string_writer(printed);
    run.budget = 1000;
    run.engine = Engine::interpreter;
    RunResult result = run_program(run);
    ASSERT_EQ(result.end, RunEnd::runtime_error);
    DebugSession session;
    open_program(session, source);
    Stop stop = session.run_to(result.steps);
    EXPECT_EQ(stop.reason, StopReason::error);
    EXPECT_EQ(stop.pc, result.pc);
    EXPECT_EQ(session.history().position, result.steps - 1);
    EXPECT_EQ(line_here(session), 6);
    EXPECT_EQ(session.output(), "1\n");
}

TEST(Link, RunToGoesPastTheFurthestAndStopsAtTheEnd) {
    DebugSession session;
    open_program(session, "program p; var i; begin i := 0; while i < 100 do i := i + 1 end.\n");
    Stop stop = session.run_to(50, 7);
    EXPECT_EQ(stop.reason, StopReason::budget);
    stop = session.resume();
    EXPECT_EQ(stop.reason, StopReason::step);
    EXPECT_EQ(session.history().position, 50u);
    EXPECT_EQ(session.history().furthest, 50u);
    // Back is a seek.
    stop = session.run_to(10);
    EXPECT_EQ(session.history().position, 10u);
    stop = session.run_to(1'000'000);
    EXPECT_EQ(stop.reason, StopReason::exited);
    EXPECT_EQ(session.run_to(2'000'000).reason, StopReason::refused);
}

} // namespace
