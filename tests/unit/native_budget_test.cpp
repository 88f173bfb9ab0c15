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
#include <string>
#include <string_view>
#include <vector>

#include "driver/api.hpp"
#include "vm/code.hpp"
#include "vm/machine.hpp"

namespace {

// Everything a run leaves behind.
struct Seen {
    std::string out;
    RunResult result;
    std::int32_t p = 0, b = 0, t = 0;
    Instruction ir{};
    std::vector<std::int32_t> cells;
};

// A writer that takes `room` bytes and refuses the rest.
struct Limited {
    std::string bytes;
    std::size_t room;
};
bool write_limited(void* context, const char* bytes, std::size_t n) {
    auto* to = static_cast<Limited*>(context);
    if (n > to->room - to->bytes.size()) return false;
    to->bytes.append(bytes, n);
    return true;
}

Seen run_on(Engine engine, std::string_view input, std::uint64_t budget,
            std::size_t room = 1u << 20) {
    Limited sink{{}, room};
    RunOptions options;
    options.encoding = Encoding::utf8;
    options.input = view_reader(input);
    options.output = Writer{write_limited, &sink};
    options.engine = engine;
    options.budget = budget;
    Seen seen;
    seen.result = run_program(options);
    seen.out = sink.bytes;
    seen.p = p;
    seen.b = b;
    seen.t = t;
    seen.ir = ir;
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
                (!registers || (i.p == n.p && i.b == n.b && i.t == n.t && i.ir.op == n.ir.op &&
                                i.ir.l == n.ir.l && i.ir.a == n.ir.a)) &&
                i.cells == n.cells;
    EXPECT_TRUE(same) << "budget " << budget << "\ninterpreter: " << run_end_name(a.end) << " pc "
                      << a.pc << " steps " << a.steps << " p " << i.p << " b " << i.b << " t "
                      << i.t << " " << a.message << " " << i.out.size()
                      << " bytes\nnative:      " << run_end_name(c.end) << " pc " << c.pc
                      << " steps " << c.steps << " p " << n.p << " b " << n.b << " t " << n.t << " "
                      << c.message << " " << n.out.size() << " bytes"
                      << (i.cells == n.cells ? "" : "\nthe cells differ");
    return same;
}

// Compiles `source` and compares the engines at every budget from 1 to
// one past the instructions its run begins (every `stride`-th beyond
// `dense`, and the last few exactly); returns the instructions begun.
std::uint64_t sweep(const char* source, std::string_view input = "", std::size_t room = 1u << 20,
                    std::uint64_t dense = 5000, std::uint64_t stride = 7) {
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
    sweep(R"(program loops;
var i, j, sum;
begin
  i := 0;
  sum := 0;
  while i < 12 do
  begin
    j := i;
    while j > 0 do
    begin
      if j div 2 * 2 = j then sum := sum + j else sum := sum - 1;
      j := j - 1
    end;
    write(sum);
    i := i + 1
  end
end.
)");
}

TEST(NativeBudget, CallsAndVarParametersStopAtEveryInstruction) {
    sweep(R"(program calls;
var a[1..8], n, i, j;
procedure swap(var x, var y);
var t;
begin
  t := x;
  x := y;
  y := t
end;
procedure outer(k);
var m;
  procedure inner(var r);
  begin
    r := r + k + m;
    n := n + 1
  end;
begin
  m := k * 2;
  inner(m);
  write(m)
end;
begin
  n := 8;
  i := 1;
  while i <= n do
  begin
    a[i] := (i * 37) div 5 - i * 3;
    i := i + 1
  end;
  i := 1;
  while i < 8 do
  begin
    j := 8;
    while j > i do
    begin
      if a[j] < a[j - 1] then swap(a[j], a[j - 1]);
      j := j - 1
    end;
    outer(i);
    i := i + 1
  end;
  i := 1;
  while i <= 8 do
  begin
    write(a[i]);
    i := i + 1
  end
end.
)");
}

TEST(NativeBudget, RecursionStopsAtEveryInstruction) {
    sweep(R"(program recursion;
function fact(n);
begin
  if n = 0 then fact := 1
  else fact := n * fact(n - 1)
end;
function fib(n);
begin
  if n < 2 then fib := n
  else fib := fib(n - 1) + fib(n - 2)
end;
procedure hanoi(n, from, to, via);
begin
  if n > 0 then
  begin
    hanoi(n - 1, from, via, to);
    write(from * 10 + to);
    hanoi(n - 1, via, to, from)
  end
end;
begin
  write(fact(10));
  write(fib(11));
  hanoi(4, 1, 3, 2)
end.
)");
}

// Each ends in a run-time error: the count includes the instruction that
// failed, on both engines.
TEST(NativeBudget, RunTimeErrorsStopAtEveryInstruction) {
    const char* wild_index = R"(program wild;
var a[0..3], i;
begin
  i := 0;
  while i < 20 do
  begin
    a[i * 97] := i;
    write(i);
    i := i + 1
  end
end.
)";
    const char* division = R"(program division;
var i, x;
begin
  i := 5;
  x := 0;
  while i >= 0 do
  begin
    x := x + 100 div i;
    write(x);
    i := i - 1
  end
end.
)";
    const char* overflow = R"(program overflow;
var d;
function deep(n, m);
var k;
begin
  k := n + m;
  d := d + 1;
  deep := deep(k, n) + 1
end;
begin
  d := 0;
  write(deep(1, 2))
end.
)";
    sweep(wild_index);
    sweep(division);
    std::uint64_t steps = sweep(overflow);
    EXPECT_GT(steps, 300u); // a recursion that went on until the stack was full
}

// Reads: numbers, then one that is not a number; a writer that takes only
// a few bytes.
TEST(NativeBudget, ReadsAndWritesStopAtEveryInstruction) {
    const char* stats = R"(program stats;
var x, count, sum, max;
begin
  count := 0;
  sum := 0;
  read(x);
  max := x;
  while x <> 0 do
  begin
    count := count + 1;
    sum := sum + x;
    if x > max then max := x;
    read(x)
  end;
  write(count);
  write(sum);
  write(max);
  if count > 0 then write(sum div count)
end.
)";
    sweep(stats, "3 -7 12 40 5 0");
    sweep(stats, "3 -7 12 x");
    sweep(stats, "3 -7 12 40 5 0", 9);
}

// A run too long to sweep: a dense sample of budgets, and its edges.
TEST(NativeBudget, LongRunsStopAtSampledBudgets) {
    std::uint64_t steps = sweep(R"(program long;
var i, j, s;
begin
  i := 0;
  s := 0;
  while i < 300 do
  begin
    j := 0;
    while j < 40 do
    begin
      s := s + i * j - (s div 3);
      j := j + 1
    end;
    i := i + 1
  end;
  write(s)
end.
)",
                                "", 1u << 20, 3000, 613);
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
