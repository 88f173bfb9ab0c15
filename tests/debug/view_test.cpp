// What a stop shows: the call stack, each frame's names and those of the
// routines around it, what each cell is, and the value of a name or an
// element by the scope rules of the statement; and that none of it fails
// on a program that has written wildly over its own stack.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.hpp"

namespace {

const Declaration& declared(const DebugSession& session, int index) {
    return session.program().declarations.at(static_cast<std::size_t>(index));
}

std::string name_of(const DebugSession& session, int declaration) {
    return declaration < 0 ? "?" : declared(session, declaration).name;
}

// The names of a scope, "name=value", an enclosing one's marked "^", a
// shadowed one's "~".
std::string names(const DebugSession& session, const Scope& scope) {
    std::string text;
    for (const NameValue& v : scope.names) {
        if (!text.empty()) text += " ";
        text += (v.enclosing ? "^" : "") + std::string(v.shadowed ? "~" : "") +
                name_of(session, v.declaration) + (v.result ? "()" : "") + "=" +
                (v.in_stack ? std::to_string(v.value) : "?");
    }
    return name_of(session, scope.routine) + "@" + std::to_string(scope.base) + ": " + text;
}

std::string label_text(const DebugSession& session, std::int32_t cell) {
    CellLabel l = session.label(cell);
    switch (l.role) {
    case CellRole::static_link: return "SL" + std::to_string(l.frame);
    case CellRole::dynamic_link: return "DL" + std::to_string(l.frame);
    case CellRole::return_address: return "RA" + std::to_string(l.frame);
    case CellRole::result: return name_of(session, l.declaration) + "()";
    case CellRole::variable: return name_of(session, l.declaration);
    case CellRole::element:
        return name_of(session, l.declaration) + "[" + std::to_string(l.index) + "]";
    case CellRole::temporary: return "tmp";
    case CellRole::unused: return "-";
    }
    return "";
}

TEST(View, TheFramesOfANestedCallAndTheNamesTheyCanSee) {
    DebugSession session;
    open_program(session, source_file("examples/nested.tsu"));
    ASSERT_TRUE(session.break_at_line(8));
    ASSERT_EQ(session.run(Motion::cont).reason, StopReason::breakpoint);

    std::vector<Frame> frames = session.frames();
    ASSERT_EQ(frames.size(), 4u);
    std::vector<std::string> routines;
    std::vector<int> lines, bases, statics;
    for (const Frame& f : frames) {
        routines.push_back(name_of(session, f.routine));
        lines.push_back(f.place.pos.line);
        bases.push_back(f.base);
        statics.push_back(f.static_frame);
    }
    EXPECT_EQ(routines, (std::vector<std::string>{"add", "addrange", "count", "nested"}));
    EXPECT_EQ(lines, (std::vector<int>{8, 14, 20, 25}));
    EXPECT_EQ(bases, (std::vector<int>{14, 9, 4, 0}));
    // add and addrange are both declared in count: their static links lead
    // there, past addrange for add.
    EXPECT_EQ(statics, (std::vector<int>{2, 2, 3, -1}));
    EXPECT_EQ(frames[0].dynamic_link, 9);
    EXPECT_EQ(frames[1].return_address, frames[0].dynamic_link == 9 ? frames[1].return_address : -1);
    EXPECT_EQ(frames[0].place.text, "calls := calls + 1");

    std::vector<Scope> scopes = session.scopes(0);
    ASSERT_EQ(scopes.size(), 3u);
    EXPECT_EQ(names(session, scopes[0]), "add@14: k=1");
    EXPECT_EQ(names(session, scopes[1]), "count@4: ^n=10 ^calls=0");
    EXPECT_EQ(names(session, scopes[2]), "nested@0: ^total=1");
    // From addrange's frame, its own names.
    EXPECT_EQ(names(session, session.scopes(1)[0]), "addrange@9: lo=1 hi=10");

    std::vector<std::string> labels;
    for (std::int32_t c = 0; c <= 18; ++c)
        labels.push_back(label_text(session, c));
    EXPECT_EQ(labels, (std::vector<std::string>{"SL3", "DL3", "RA3", "total", "SL2", "DL2", "RA2", "n",
                                                "calls", "SL1", "DL1", "RA1", "lo", "hi", "SL0", "DL0",
                                                "RA0", "k", "-"}));

    Evaluation total = session.evaluate("total", 0);
    ASSERT_TRUE(total.ok);
    EXPECT_EQ(total.value, 1);
    EXPECT_TRUE(total.name.enclosing);
    EXPECT_EQ(total.name.cell, 3);
    // lo is addrange's: not seen from add, but seen from addrange's frame.
    EXPECT_EQ(session.evaluate("lo", 0).error, MSG_D_NO_SUCH_NAME);
    EXPECT_EQ(session.evaluate("lo", 1).value, 1);
    EXPECT_EQ(session.evaluate("count", 0).error, MSG_D_NOT_A_VARIABLE);
    EXPECT_EQ(session.evaluate("k[1]", 0).error, MSG_D_NOT_AN_ARRAY);
    EXPECT_EQ(session.evaluate("k +", 0).error, MSG_D_BAD_EXPRESSION);
    EXPECT_EQ(session.evaluate("", 0).error, MSG_D_BAD_EXPRESSION);
    EXPECT_EQ(session.evaluate("  k  ", 0).value, 1);
}

const char* const REFERENCES = R"(program refs;
var x, a[2..4], i;
procedure bump(var v, by);
begin
  v := v + by
end;
function twice(n);
var x;
begin
  x := n;
  twice := x + x
end;
begin
  x := 5;
  i := 3;
  a[3] := 7;
  bump(x, 1);
  bump(a[i], 2);
  x := twice(4)
end.
)";

TEST(View, AVarParameterShowsWhereItsAddressLeads) {
    DebugSession session;
    open_program(session, REFERENCES);
    ASSERT_TRUE(session.break_at_line(5));
    ASSERT_EQ(session.run(Motion::cont).reason, StopReason::breakpoint);
    std::vector<Scope> scopes = session.scopes(0);
    const NameValue& v = scopes[0].names[0];
    EXPECT_EQ(name_of(session, v.declaration), "v");
    EXPECT_EQ(v.value, 3); // x's cell
    EXPECT_TRUE(v.target_in_stack);
    EXPECT_EQ(v.target_value, 5);
    EXPECT_EQ(v.target.role, CellRole::variable);
    EXPECT_EQ(name_of(session, v.target.declaration), "x");
    EXPECT_EQ(v.target.frame, 1);
    EXPECT_EQ(session.evaluate("v", 0).value, 5);

    ASSERT_EQ(session.run(Motion::cont).reason, StopReason::breakpoint);
    NameValue w = session.scopes(0)[0].names[0];
    EXPECT_EQ(w.target.role, CellRole::element);
    EXPECT_EQ(name_of(session, w.target.declaration), "a");
    EXPECT_EQ(w.target.index, 3);
    EXPECT_EQ(w.target_value, 7);

    // Elements by number or by name, in and out of bounds.
    Evaluation e = session.evaluate("a[i]", 0);
    ASSERT_TRUE(e.ok);
    EXPECT_TRUE(e.element);
    EXPECT_EQ(e.index, 3);
    EXPECT_EQ(e.value, 7);
    EXPECT_TRUE(e.in_bounds);
    EXPECT_EQ(session.evaluate("a[ 4 ]", 0).cell, 6);
    Evaluation past = session.evaluate("a[5]", 0);
    EXPECT_TRUE(past.ok);
    EXPECT_FALSE(past.in_bounds);
    EXPECT_EQ(past.cell, 7); // i's cell, as the machine would use it
    EXPECT_EQ(past.value, 3);
    EXPECT_FALSE(session.evaluate("a[-100000]", 0).in_stack);
    EXPECT_EQ(session.evaluate("a[a]", 0).error, MSG_D_INDEX_NOT_NUMBER);
    EXPECT_EQ(session.evaluate("a[nothing]", 0).error, MSG_D_NO_SUCH_NAME);
    EXPECT_EQ(session.evaluate("a[2", 0).error, MSG_D_BAD_EXPRESSION);
}

TEST(View, AFunctionsResultAndItsNamesHidingTheProgramsOnes) {
    DebugSession session;
    open_program(session, REFERENCES);
    ASSERT_TRUE(session.break_at_line(11));
    ASSERT_EQ(session.run(Motion::cont).reason, StopReason::breakpoint);
    std::vector<Scope> scopes = session.scopes(0);
    ASSERT_EQ(scopes.size(), 2u);
    // The result cell still holds what the last call of bump left there.
    EXPECT_EQ(names(session, scopes[0]), "twice@8: twice()=5 n=4 x=4");
    EXPECT_EQ(names(session, scopes[1]), "refs@0: ^~x=6 ^a=0 ^i=3");
    EXPECT_EQ(session.evaluate("x", 0).value, 4);
    EXPECT_EQ(session.evaluate("twice", 0).value, 5);
    EXPECT_TRUE(session.evaluate("twice", 0).name.result);
    EXPECT_EQ(label_text(session, 11), "twice()");
    EXPECT_EQ(label_text(session, 12), "n");
    Stop stop = session.run(Motion::finish);
    EXPECT_TRUE(stop.returned);
    EXPECT_EQ(stop.value, 8);
}

// Every view at every instruction of a program, which must not fail.
void look_everywhere(DebugSession& session, int most) {
    Stop stop = session.restart();
    for (int i = 0; i < most && stop.reason != StopReason::exited; ++i) {
        std::vector<Frame> frames = session.frames();
        ASSERT_FALSE(frames.empty());
        for (std::size_t f = 0; f < frames.size(); ++f) {
            for (const Scope& scope : session.scopes(static_cast<int>(f)))
                for (const NameValue& v : scope.names)
                    session.evaluate(declared(session, v.declaration).name + "[2]", static_cast<int>(f));
        }
        for (std::int32_t c = -5; c < STACK_SIZE + 5; c += 7)
            session.label(c);
        session.place(stop.pc);
        stop = session.run(Motion::stepi);
        if (stop.reason == StopReason::error) stop = session.run(Motion::stepi);
    }
}

TEST(View, ProgramsThatWriteOverTheirOwnLinks) {
    DebugSession session;
    // An element below the array: the frame's own dynamic link and return
    // address, then its static link.
    open_program(session, "program p;\nvar x;\nprocedure q(var y);\nvar a[1..1];\nbegin\n"
                          "  a[-1] := 500;\n  a[0] := 9999;\n  a[-2] := -7;\n  y := 1\nend;\n"
                          "begin\n  q(x);\n  write(x)\nend.\n");
    look_everywhere(session, 200);
    Stop stop = session.run(Motion::reverse_continue);
    EXPECT_EQ(stop.reason, StopReason::history_start);

    // A var parameter given a wild address.
    open_program(session, "program p;\nvar a[1..2];\nprocedure q(var y);\nbegin\n  y := y + 1\nend;\n"
                          "begin\n  q(a[-300]);\n  q(a[3000])\nend.\n");
    look_everywhere(session, 200);
    session.restart();
    ASSERT_TRUE(session.break_at_line(5));
    ASSERT_EQ(session.run(Motion::cont).reason, StopReason::breakpoint);
    NameValue y = session.scopes(0)[0].names[0];
    EXPECT_FALSE(y.target_in_stack);
    EXPECT_EQ(session.evaluate("y", 0).in_stack, false);
    Stop error = session.run(Motion::cont);
    EXPECT_EQ(error.reason, StopReason::error);
    EXPECT_EQ(error.message, "実行中にエラーがおきました: スタックの範囲外のアドレスを使いました\n");
}

TEST(View, AProgramThatDoesNotCompileLeavesTheSessionClosed) {
    DebugSession session;
    SessionOptions options;
    Compiled c = session.open_text("program p;\nbegin\n  x := 1\nend.\n", options);
    EXPECT_EQ(c.error, ErrorKind::syntax);
    EXPECT_EQ(c.where.line, 3);
    EXPECT_FALSE(session.is_open());
    EXPECT_EQ(session.run(Motion::step).refusal, MSG_D_NO_PROGRAM);
    EXPECT_EQ(session.restart().refusal, MSG_D_NO_PROGRAM);
    EXPECT_FALSE(session.break_at_line(3));
    Compiled missing = session.open_file("/nonexistent/prog.tsu", options);
    EXPECT_EQ(missing.error, ErrorKind::open);
    EXPECT_FALSE(session.is_open());
}

TEST(View, AFileOpensWithItsSourceLines) {
    DebugSession session;
    std::string out;
    SessionOptions options;
    options.output = string_writer(out);
    std::string path = std::string(TSUMIKI_SOURCE_DIR) + "/examples/hello.tsu";
    ASSERT_EQ(session.open_file(path.c_str(), options).error, ErrorKind::none);
    EXPECT_EQ(session.program().source, source_file("examples/hello.tsu"));
    EXPECT_EQ(source_line(session.program(), 1), "program hello;");
    EXPECT_EQ(session.run(Motion::cont).exit_status, 0);
    EXPECT_EQ(out, source_file("examples/hello.out"));
}

} // namespace
