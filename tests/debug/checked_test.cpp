// A checked session: it stops before a slip as before a run-time error,
// with the check's message and place, the state before the instruction
// there to look at; going back puts the checker's marks back, so that
// running again stops exactly where the run would; unchecked, nothing stops.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "support.hpp"

namespace {

// A routine called twice: the second call's entry takes its local's value
// away again, and sets it before reading it.
const char* const TWICE = "program twice;\n"
                          "procedure p;\n"
                          "var v;\n"
                          "begin\n"
                          "  v := 1;\n"
                          "  write(v)\n"
                          "end;\n"
                          "begin\n"
                          "  p;\n"
                          "  p\n"
                          "end.\n";

// An index one past the bounds in a loop.
const char* const LOOP = "program loop;\n"
                         "var a[1..3], i;\n"
                         "begin\n"
                         "  i := 1;\n"
                         "  while i <= 4 do\n"
                         "  begin\n"
                         "    a[i] := i;\n"
                         "    i := i + 1\n"
                         "  end;\n"
                         "  write(i)\n"
                         "end.\n";

// The output is kept by the session (output()); nothing goes on from it.
bool drop_output(void*, const char*, std::size_t) {
    return true;
}

Compiled open_checked(DebugSession& session, const char* source, bool check) {
    SessionOptions options;
    options.check = check;
    options.output = Writer{drop_output, nullptr};
    return session.open_text(source, options);
}

TEST(CheckedSession, StopsBeforeTheBadIndexAndGoesOnFromIt) {
    DebugSession session;
    ASSERT_EQ(open_checked(session, LOOP, true).error, ErrorKind::none);
    Stop stop = session.run(Motion::cont);
    ASSERT_EQ(stop.reason, StopReason::check);
    EXPECT_EQ(stop.message, "検査で実行を止めました: 添字 4 は配列 a[1..3] の範囲の外です\n");
    EXPECT_EQ(stop.where.line, 7);
    EXPECT_EQ(stop.where.column, 7);
    EXPECT_FALSE(session.ended());
    EXPECT_EQ(session.evaluate("i", 0).value, 4);
    // Back a statement and on again: the same stop.
    session.run(Motion::reverse_step);
    EXPECT_EQ(session.run(Motion::cont).reason, StopReason::check);
    EXPECT_EQ(session.evaluate("i", 0).value, 4);
    // Going on runs the store as the machine does: it lands on i.
    stop = session.run(Motion::cont);
    EXPECT_EQ(stop.reason, StopReason::exited);
    EXPECT_EQ(session.output(), "5\n");
    // A restart is a fresh checked run.
    session.restart();
    EXPECT_EQ(session.run(Motion::cont).reason, StopReason::check);
}

TEST(CheckedSession, UncheckedNothingStops) {
    DebugSession session;
    ASSERT_EQ(open_checked(session, LOOP, false).error, ErrorKind::none);
    EXPECT_EQ(session.run(Motion::cont).reason, StopReason::exited);
    EXPECT_EQ(session.output(), "5\n");
}

TEST(CheckedSession, GoingBackPutsTheMarksBack) {
    DebugSession session;
    ASSERT_EQ(open_checked(session, TWICE, true).error, ErrorKind::none);
    ASSERT_TRUE(session.break_at_line(5));
    ASSERT_TRUE(session.break_at_line(6));
    // The first call's store and write, then the second call's entry,
    // which takes v's value away.
    EXPECT_EQ(session.run(Motion::cont).breakpoint, 1);
    EXPECT_EQ(session.run(Motion::cont).breakpoint, 2);
    EXPECT_EQ(session.run(Motion::cont).breakpoint, 1);
    // Back into the first call, where v has its value: reading it again
    // is no slip.
    Stop stop = session.run(Motion::reverse_continue);
    EXPECT_EQ(stop.breakpoint, 2);
    stop = session.run(Motion::cont);
    EXPECT_EQ(stop.reason, StopReason::breakpoint);
    EXPECT_EQ(stop.breakpoint, 1);
    stop = session.run(Motion::cont);
    EXPECT_EQ(stop.breakpoint, 2);
    session.delete_breakpoints();
    EXPECT_EQ(session.run(Motion::cont).reason, StopReason::exited);
    EXPECT_EQ(session.output(), "1\n1\n");
}

} // namespace
