// Where each motion stops: statements forward and backward, into and over
// calls and out of them, breakpoints both ways, run-time errors, the end,
// pause from another thread, budgets, the history's limit and seeking.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support.hpp"
#include "vm/code.hpp"

namespace {

// The lines where `motion`, made `count` times, stops.
std::vector<int> lines_of(DebugSession& session, Motion motion, int count) {
    std::vector<int> lines;
    for (int i = 0; i < count; ++i) {
        Stop stop = session.run(motion);
        if (stop.reason == StopReason::exited) {
            lines.push_back(0);
            break;
        }
        lines.push_back(line_here(session));
    }
    return lines;
}

class Nested : public testing::Test {
protected:
    void SetUp() override { open_program(session, source_file("examples/nested.tsu")); }
    DebugSession session;
};

TEST_F(Nested, StepGoesIntoCallsAndBackOut) {
    EXPECT_EQ(lines_of(session, Motion::step, 12),
              (std::vector<int>{24, 25, 19, 20, 12, 14, 7, 8, 15, 12, 14, 7}));
}

TEST_F(Nested, NextStaysInItsRoutine) {
    EXPECT_EQ(lines_of(session, Motion::next, 7), (std::vector<int>{24, 25, 26, 27, 28, 0}));
    EXPECT_TRUE(session.ended());
    EXPECT_EQ(session.output(), "10\n55\n4\n65\n");
}

TEST_F(Nested, NextInsideALoopComesBackToItsCondition) {
    ASSERT_TRUE(session.break_at_line(14));
    ASSERT_EQ(session.run(Motion::cont).reason, StopReason::breakpoint);
    session.delete_breakpoints();
    EXPECT_EQ(lines_of(session, Motion::next, 5), (std::vector<int>{15, 12, 14, 15, 12}));
}

TEST_F(Nested, FinishReturnsToTheCaller) {
    ASSERT_TRUE(session.break_at_line(7));
    ASSERT_EQ(session.run(Motion::cont).reason, StopReason::breakpoint);
    EXPECT_EQ(session.frames().size(), 4u);
    Stop stop = session.run(Motion::finish);
    EXPECT_EQ(stop.reason, StopReason::step);
    EXPECT_FALSE(stop.returned); // a procedure returns nothing
    EXPECT_EQ(line_here(session), 15);
    EXPECT_EQ(session.frames().size(), 3u);
    // In the program's own frame there is nothing to finish.
    session.delete_breakpoints();
    while (session.frames().size() > 1)
        session.run(Motion::finish);
    stop = session.run(Motion::finish);
    EXPECT_EQ(stop.reason, StopReason::refused);
    EXPECT_EQ(stop.refusal, MSG_D_OUTERMOST);
    EXPECT_EQ(session.run(Motion::reverse_finish).refusal, MSG_D_OUTERMOST);
}

TEST_F(Nested, ReverseMotionsMirrorTheForwardOnes) {
    lines_of(session, Motion::next, 3); // at 26, after count(10)
    ASSERT_EQ(line_here(session), 26);
    std::uint64_t at26 = whole_state(session);
    // Back over the call into its last statement, and into the call
    // before that: the last test of the loop, the last increment.
    EXPECT_EQ(lines_of(session, Motion::reverse_step, 1), (std::vector<int>{21}));
    EXPECT_EQ(session.frames().size(), 2u);
    EXPECT_EQ(lines_of(session, Motion::reverse_step, 2), (std::vector<int>{12, 15}));
    EXPECT_EQ(session.frames().size(), 3u);
    // Out of the routine backwards: before the CUP that called it.
    Stop stop = session.run(Motion::reverse_finish);
    EXPECT_EQ(stop.reason, StopReason::step);
    EXPECT_EQ(line_here(session), 20);
    EXPECT_EQ(session.program().code[static_cast<std::size_t>(stop.pc)].op, CUP);
    EXPECT_EQ(session.frames().size(), 2u);
    // From the middle of a statement, back to its start first.
    EXPECT_EQ(lines_of(session, Motion::reverse_next, 2), (std::vector<int>{20, 19}));
    EXPECT_EQ(session.run(Motion::reverse_finish).reason, StopReason::step);
    EXPECT_EQ(line_here(session), 25);
    EXPECT_EQ(session.frames().size(), 1u);
    EXPECT_EQ(lines_of(session, Motion::reverse_next, 2), (std::vector<int>{25, 24}));
    EXPECT_EQ(lines_of(session, Motion::next, 2), (std::vector<int>{25, 26}));
    EXPECT_EQ(whole_state(session), at26);
    EXPECT_EQ(lines_of(session, Motion::reverse_next, 1), (std::vector<int>{25}));
    // The start of the history stops every reverse motion.
    EXPECT_EQ(session.run(Motion::reverse_continue).reason, StopReason::history_start);
    EXPECT_EQ(session.history().position, 0u);
}

TEST_F(Nested, BreakpointsOnLinesAndInstructions) {
    // A line without a statement: the next one with one.
    std::optional<Breakpoint> on13 = session.break_at_line(13);
    ASSERT_TRUE(on13);
    EXPECT_EQ(on13->line, 14);
    std::optional<Breakpoint> on5 = session.break_at_line(5);
    ASSERT_TRUE(on5);
    EXPECT_EQ(on5->line, 7);
    EXPECT_FALSE(session.break_at_line(29)); // "end." has no statement, nor any line after
    EXPECT_FALSE(session.break_at_instruction(-1));
    EXPECT_FALSE(session.break_at_instruction(static_cast<std::int32_t>(session.program().code.size())));

    Stop stop = session.run(Motion::cont);
    EXPECT_EQ(stop.reason, StopReason::breakpoint);
    EXPECT_EQ(stop.breakpoint, on13->number);
    stop = session.run(Motion::cont);
    EXPECT_EQ(stop.breakpoint, on5->number);
    EXPECT_EQ(line_here(session), 7);
    // Back to where the first one stopped.
    stop = session.run(Motion::reverse_continue);
    EXPECT_EQ(stop.breakpoint, on13->number);
    EXPECT_TRUE(session.delete_breakpoint(on13->number));
    EXPECT_FALSE(session.delete_breakpoint(on13->number));
    EXPECT_EQ(session.breakpoints().size(), 1u);
    EXPECT_EQ(session.breakpoints()[0].hits, 1u);

    // An instruction: before it runs, whatever statement it is in.
    session.delete_breakpoints();
    std::int32_t put = -1;
    for (std::size_t i = 0; i < session.program().code.size() && put < 0; ++i)
        if (session.program().code[i].op == PUT) put = static_cast<std::int32_t>(i);
    ASSERT_TRUE(session.break_at_instruction(put));
    stop = session.run(Motion::cont);
    EXPECT_EQ(stop.reason, StopReason::breakpoint);
    EXPECT_EQ(stop.pc, put);
    EXPECT_EQ(line_here(session), 21);
    EXPECT_EQ(session.output(), "");
    // The same PUT in the second call of count.
    EXPECT_EQ(session.run(Motion::cont).pc, put);
    EXPECT_EQ(session.output(), "10\n55\n");
}

TEST_F(Nested, ABreakpointOnTheFirstInstructionStopsTheFirstContinue) {
    ASSERT_TRUE(session.break_at_instruction(0));
    EXPECT_EQ(session.run(Motion::cont).reason, StopReason::breakpoint);
    EXPECT_EQ(session.history().position, 0u);
    Stop stop = session.run(Motion::cont);
    EXPECT_EQ(stop.reason, StopReason::exited);
    EXPECT_EQ(stop.exit_status, 0);
    // After the end, only going back.
    EXPECT_EQ(session.run(Motion::step).refusal, MSG_D_ENDED);
    EXPECT_EQ(session.run(Motion::reverse_stepi).reason, StopReason::step);
    EXPECT_FALSE(session.ended());
    EXPECT_EQ(session.run(Motion::stepi).reason, StopReason::exited);
}

TEST(Session, ARunTimeErrorStopsBeforeTheFailingInstruction) {
    DebugSession session;
    open_program(session, "program p;\nvar i;\nbegin\n  i := 0;\n  write(1);\n  i := 7 div i;\n"
                          "  write(2)\nend.\n");
    Stop stop = session.run(Motion::cont);
    ASSERT_EQ(stop.reason, StopReason::error);
    EXPECT_EQ(stop.message, "実行中にエラーがおきました: 0による除算がありました\n");
    EXPECT_EQ(stop.error_pc, stop.pc);
    const Instruction& failing = session.program().code[static_cast<std::size_t>(stop.pc)];
    EXPECT_EQ(failing.op, OPR);
    EXPECT_EQ(failing.a, OPR_DIV);
    EXPECT_EQ(line_here(session), 6);
    EXPECT_EQ(session.output(), "1\n");
    // Both operands still on the stack.
    Registers r = session.registers();
    EXPECT_EQ(session.cell(r.t - 1), 7);
    EXPECT_EQ(session.cell(r.t), 0);
    std::uint64_t before = whole_state(session);

    // Going on ends the run with the error, as tsumiki does.
    stop = session.run(Motion::step);
    EXPECT_EQ(stop.reason, StopReason::exited);
    EXPECT_EQ(stop.exit_status, 1);
    EXPECT_EQ(stop.message, "実行中にエラーがおきました: 0による除算がありました\n");
    EXPECT_TRUE(session.ended());
    EXPECT_EQ(session.run(Motion::cont).refusal, MSG_D_ENDED);
    // And back from the end.
    EXPECT_EQ(session.run(Motion::reverse_stepi).reason, StopReason::step);
    EXPECT_EQ(whole_state(session), before);
    EXPECT_EQ(session.run(Motion::stepi).reason, StopReason::error);
    EXPECT_EQ(whole_state(session), before);
}

TEST(Session, AReadPastTheInputStopsWithTheFirstPromptOnly) {
    DebugSession session;
    std::string shown;
    open_program(session, "program p;\nvar x;\nbegin\n  read(x);\n  read(x)\nend.\n", "5", &shown);
    Stop stop = session.run(Motion::cont);
    ASSERT_EQ(stop.reason, StopReason::error);
    EXPECT_EQ(stop.message, "実行中にエラーがおきました: 数が読み込めませんでした\n");
    EXPECT_EQ(session.output(), "数を入力して下さい>");
    EXPECT_EQ(session.input_position(), 1u);
    EXPECT_EQ(session.run(Motion::cont).exit_status, 1);
    EXPECT_EQ(session.output(), "数を入力して下さい>数を入力して下さい>");
    // Back to before the first read: its input is given again.
    EXPECT_EQ(session.run(Motion::reverse_continue).reason, StopReason::history_start);
    EXPECT_EQ(session.input_position(), 0u);
    EXPECT_EQ(session.output(), "");
    EXPECT_EQ(lines_of(session, Motion::next, 2), (std::vector<int>{4, 5}));
    EXPECT_EQ(session.cell(3), 5);
    EXPECT_EQ(shown, "数を入力して下さい>数を入力して下さい>");
}

TEST(Session, AnErrorRightAfterTheStartStopsThere) {
    // 996 cells in the program's frame: the ENT after the first jump
    // leaves t at 998.
    DebugSession session;
    open_program(session, "program p;\nvar a[1..996];\nbegin\n  a[1] := 1\nend.\n");
    EXPECT_EQ(session.run(Motion::stepi).reason, StopReason::step);
    Stop stop = session.run(Motion::stepi);
    EXPECT_EQ(stop.reason, StopReason::error);
    EXPECT_EQ(stop.message, "実行中にエラーがおきました: スタックオーバフロー\n");
    EXPECT_EQ(session.program().code[static_cast<std::size_t>(stop.pc)].op, ENT);
    EXPECT_EQ(session.registers().t, 0);
}

TEST(Session, RecursionToTheEndOfTheStackStopsWithItsError) {
    DebugSession session;
    open_program(session, "program p;\nprocedure r(n);\nbegin\n  r(n + 1)\nend;\nbegin\n  r(1)\nend.\n");
    Stop stop = session.run(Motion::cont);
    ASSERT_EQ(stop.reason, StopReason::error);
    EXPECT_EQ(stop.message, "実行中にエラーがおきました: スタックオーバフロー\n");
    std::vector<Frame> frames = session.frames();
    EXPECT_GT(frames.size(), 150u);
    EXPECT_EQ(frames.back().base, 0);
    Evaluation n = session.evaluate("n", 0);
    ASSERT_TRUE(n.ok);
    EXPECT_EQ(n.value, static_cast<std::int32_t>(frames.size()) - 1);
}

const char* const ENDLESS = "program p;\nvar x;\nbegin\n  while 0 = 0 do\n    x := x + 1\nend.\n";

TEST(Session, PauseFromAnotherThreadStopsAnEndlessLoop) {
    DebugSession session;
    open_program(session, ENDLESS);
    std::thread pauser([&session] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        session.pause();
    });
    Stop stop = session.run(Motion::cont);
    pauser.join();
    EXPECT_EQ(stop.reason, StopReason::paused);
    EXPECT_GT(session.history().position, 0u);
    // The session goes on from there, both ways.
    EXPECT_EQ(session.run(Motion::step).reason, StopReason::step);
    EXPECT_EQ(session.run(Motion::reverse_step).reason, StopReason::step);
    // A pause made while stopped stops the next motion before it moves.
    std::uint64_t at = session.history().position;
    session.pause();
    EXPECT_EQ(session.run(Motion::cont).reason, StopReason::paused);
    EXPECT_EQ(session.history().position, at);
    session.pause();
    session.forget_pause();
    EXPECT_EQ(session.run(Motion::stepi).reason, StopReason::step);
}

TEST(Session, ABudgetComesBackAndTheMotionGoesOn) {
    DebugSession session;
    open_program(session, ENDLESS);
    Stop stop = session.run(Motion::cont, 1000);
    EXPECT_EQ(stop.reason, StopReason::budget);
    EXPECT_TRUE(session.moving());
    EXPECT_EQ(session.history().position, 1000u);
    stop = session.resume(500);
    EXPECT_EQ(stop.reason, StopReason::budget);
    EXPECT_EQ(session.history().position, 1500u);
    session.pause();
    EXPECT_EQ(session.resume(500).reason, StopReason::paused);
    EXPECT_FALSE(session.moving());
    EXPECT_EQ(session.resume(500).refusal, MSG_D_NOT_MOVING);
    // A step that is not done when its budget is spent.
    open_program(session, source_file("examples/nested.tsu"));
    session.run(Motion::next);
    EXPECT_EQ(session.run(Motion::next, 1).reason, StopReason::budget);
    stop = session.resume();
    EXPECT_EQ(stop.reason, StopReason::step);
    EXPECT_EQ(line_here(session), 25);
}

// Runs `steps` instructions of an endless loop with a history of at most
// `limit` bytes, then goes back as far as it can.
void drop_and_go_back(std::size_t limit, int steps) {
    DebugSession session;
    open_program(session, ENDLESS, "", nullptr, limit);
    std::vector<std::uint64_t> states{whole_state(session)};
    std::uint64_t dropped = 0;
    for (int i = 0; i < steps; ++i) {
        Stop stop = session.run(Motion::stepi);
        dropped += stop.dropped;
        states.push_back(whole_state(session));
    }
    HistoryState h = session.history();
    EXPECT_LE(h.bytes, limit);
    EXPECT_GT(h.oldest, 0u);
    EXPECT_EQ(h.dropped, h.oldest);
    EXPECT_EQ(dropped, h.dropped);
    Stop stop = session.run(Motion::reverse_continue);
    EXPECT_EQ(stop.reason, StopReason::history_start);
    EXPECT_EQ(session.history().position, h.oldest);
    EXPECT_EQ(whole_state(session), states[h.oldest]);
    EXPECT_EQ(session.seek(h.oldest - 1).refusal, MSG_D_OUTSIDE_HISTORY);
    // And forward again over what is kept.
    EXPECT_EQ(session.seek(steps).reason, StopReason::step);
    EXPECT_EQ(whole_state(session), states.back());
}

TEST(Session, PastItsLimitTheOldestHistoryIsDropped) {
    drop_and_go_back(4096, 2000);
    // Over several of the history's chunks of records.
    drop_and_go_back(400'000, 100'000);
}

TEST(Session, SeekGoesToAnyPositionOfTheHistory) {
    DebugSession session;
    open_program(session, source_file("examples/nested.tsu"));
    std::vector<std::uint64_t> states{whole_state(session)};
    for (int i = 0; i < 60; ++i) {
        session.run(Motion::stepi);
        states.push_back(whole_state(session));
    }
    for (std::uint64_t to : {10u, 40u, 0u, 60u, 33u}) {
        Stop stop = session.seek(to);
        EXPECT_EQ(stop.reason, StopReason::step);
        EXPECT_EQ(session.history().position, to);
        EXPECT_EQ(whole_state(session), states[to]) << "at " << to;
    }
    EXPECT_EQ(session.seek(61).refusal, MSG_D_OUTSIDE_HISTORY);
    EXPECT_EQ(session.seek(60, 5).reason, StopReason::budget);
    EXPECT_EQ(session.resume().reason, StopReason::step);
    EXPECT_EQ(whole_state(session), states[60]);
}

TEST(Session, WhatTheLastInstructionChanged) {
    DebugSession session;
    open_program(session, source_file("examples/nested.tsu"));
    EXPECT_TRUE(session.last_changed().empty());
    // To the MST of count(10): it writes the two links above t.
    while (session.program().code[static_cast<std::size_t>(session.registers().p)].op != MST)
        session.run(Motion::stepi);
    std::int32_t top = session.registers().t;
    session.run(Motion::stepi);
    EXPECT_EQ(session.last_changed(), (std::vector<std::int32_t>{top + 1, top + 2}));
    session.run(Motion::reverse_stepi);
    EXPECT_NE(session.last_changed(), (std::vector<std::int32_t>{top + 1, top + 2}));
}

// Stops before every STO, and counts what it hears.
struct StoreWatch : StepHook {
    int reads = 0, writes = 0, undos = 0;
    std::optional<std::string> before(std::int32_t pc) override {
        if (code[pc].op == STO) return std::string("STO");
        return std::nullopt;
    }
    void read(std::int32_t) override { ++reads; }
    void write(std::int32_t) override { ++writes; }
    void undone(std::int32_t) override { ++undos; }
};

TEST(Session, TheStepHookSeesEveryInstructionAndCanStopTheRun) {
    DebugSession session;
    StoreWatch watch;
    SessionOptions options;
    options.hook = &watch;
    ASSERT_EQ(session.open_text("program p;\nvar a[1..2], x;\nbegin\n  a[1] := 4;\n  x := a[1];\n"
                                "  a[2] := x\nend.\n",
                                options)
                  .error,
              ErrorKind::none);
    Stop stop = session.run(Motion::cont);
    EXPECT_EQ(stop.reason, StopReason::check);
    EXPECT_EQ(stop.message, "STO");
    EXPECT_EQ(line_here(session), 4);
    // Once more: it runs the STO it stopped before, and stops at the next.
    stop = session.run(Motion::cont);
    EXPECT_EQ(stop.reason, StopReason::check);
    EXPECT_EQ(line_here(session), 6);
    EXPECT_EQ(session.evaluate("x", 0).value, 4);
    EXPECT_EQ(watch.reads, 2); // LOD x... the element read through IND, and x
    EXPECT_GT(watch.writes, 5);
    session.run(Motion::reverse_stepi);
    EXPECT_EQ(watch.undos, 1);
}

} // namespace
