// The optimising tier against the exact tiers: every program of the
// end-to-end tests and a program for every
// guard, forced to fail where the run is hot.  Whatever a caller can see
// must be the same: the output bytes, how the run ended, the message, the
// instruction, and the registers and cells: all of them after an error,
// those up to t after HLT (a run the tier finishes shows no other cell)
// and after an end where a failed guard resumed (the cells above t hold
// what the tier left there, which nothing reads once the run has ended).
//
// Linked with the traced build: its plain loop, with an instruction
// budget, is the reference, and leaves out endless programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "driver/api.hpp"
#include "limited_writer.hpp"
#include "vm/code.hpp"
#include "vm/machine.hpp"
#include "vm/speculation.hpp"
#include "wild_references.hpp"

namespace {

constexpr std::uint64_t BUDGET = 3'000'000;

struct Seen {
    std::string out;
    RunEnd end = RunEnd::halted;
    std::string message;
    std::int32_t pc = 0, p = 0, b = 0, t = 0;
    Instruction ir{};
    std::vector<std::int32_t> cells;
    // A failed guard of the optimising tier resumed: the cells above t
    // hold what the tier left there, which nothing reads after the run.
    bool resumed = false;
};

// A writer onto a descriptor (a device), as the process's own would write.
bool write_descriptor(void* context, const char* bytes, std::size_t n) {
    int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(context));
    while (n > 0) {
        ssize_t k = ::write(fd, bytes, n);
        if (k <= 0) return false;
        bytes += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

// The writer of a run: the limited sink, or descriptor `fd` when it is not -1.
int writer_fd = -1;
// Whether a run delivers every line as it is written.
bool deliver_by_line = false;

Seen run_on(Engine engine, std::string_view input, std::uint64_t budget = 0,
            std::size_t room = std::size_t{1} << 30) {
    Limited sink{{}, room};
    RunOptions options;
    options.encoding = Encoding::utf8;
    options.input = view_reader(input);
    options.output = writer_fd == -1 ? Writer{write_limited, &sink}
                                     : Writer{write_descriptor,
                                              reinterpret_cast<void*>(std::intptr_t{writer_fd})};
    options.engine = engine;
    options.budget = budget;
    options.output_by_line = deliver_by_line;
    const int resumed = speculation_stats.resumed;
    RunResult r = run_program(options);
    Seen seen;
    seen.resumed = speculation_stats.resumed != resumed;
    seen.out = sink.bytes;
    seen.end = r.end;
    seen.message = r.message;
    seen.pc = r.pc;
    seen.p = p;
    seen.b = b;
    seen.t = t;
    seen.ir = ir;
    seen.cells.assign(s, s + STACK_SIZE);
    return seen;
}

const char* engine_name(Engine e) {
    switch (e) {
    case Engine::standard: return "standard";
    case Engine::tiered: return "tiered";
    case Engine::interpreter: return "interpreter";
    case Engine::native: return "native";
    case Engine::optimising: return "optimising";
    }
    return "?";
}

// Whether `other` shows what `exact` shows; a failure says where not.
bool agree(const Seen& exact, const Seen& other, const char* what) {
    bool registers = exact.end == RunEnd::halted || exact.end == RunEnd::runtime_error;
    // After an end a writer or reader made, the plain loop's t is not the
    // stack's top: up to the higher of the two.
    const std::int32_t top = registers ? exact.t : std::max(exact.t, other.t);
    std::size_t cells = exact.end == RunEnd::halted || other.resumed
                            ? static_cast<std::size_t>(std::clamp(top + 1, 0, STACK_SIZE))
                            : exact.cells.size();
    bool same = exact.out == other.out && exact.end == other.end &&
                exact.message == other.message && exact.pc == other.pc &&
                (!registers || (exact.p == other.p && exact.b == other.b && exact.t == other.t &&
                                exact.ir.op == other.ir.op && exact.ir.l == other.ir.l &&
                                exact.ir.a == other.ir.a)) &&
                std::equal(exact.cells.begin(), exact.cells.begin() + static_cast<long>(cells),
                           other.cells.begin());
    auto differs = std::mismatch(exact.cells.begin(), exact.cells.end(), other.cells.begin());
    EXPECT_TRUE(same) << what
                      << "\nfirst cell that differs: " << (differs.first - exact.cells.begin())
                      << " (" << (differs.first != exact.cells.end() ? *differs.first : 0)
                      << " and " << (differs.first != exact.cells.end() ? *differs.second : 0)
                      << ")"
                      << "\nexact: end " << static_cast<int>(exact.end) << " pc " << exact.pc
                      << " p " << exact.p << " b " << exact.b << " t " << exact.t << " "
                      << exact.message << exact.out.size() << " bytes\nother: end "
                      << static_cast<int>(other.end) << " pc " << other.pc << " p " << other.p
                      << " b " << other.b << " t " << other.t << " " << other.message
                      << other.out.size() << " bytes";
    return same;
}

// Programs the optimising tier declined (not of the compiler's usual
// shape), and programs it ran.
int declined = 0;
int entered = 0;
// Runs the tiered engine moved up to the optimising tier, and those of
// them that went on in frames the exact tiers made.
int moved_up = 0;
int returned = 0;

// The tiered engine looks at every loop head and routine start from the
// first_loops-th on (each test sets it), and waits for its compilation.
[[maybe_unused]] const bool eager = [] {
    tier_settings = TierSettings{0, 0, 0, 200, true};
    tier_settings.back_off = 5; // and moves up again soon after a failed guard
    return true;
}();

// Compiles `source` and runs it on the plain loop and on every engine;
// false when the program did not compile or did not end within the budget.
bool all_agree(const std::string& source, const std::string& input, const std::string& what,
               std::size_t room = std::size_t{1} << 30,
               const std::vector<int>& move_ups = {0, 1, 2, 3, 5, 8, 13, 40}) {
    CompileOptions options;
    options.encoding = Encoding::utf8;
    if (compile_text(source, options).error != ErrorKind::none) return false;
    Seen exact = run_on(Engine::interpreter, input, BUDGET, room);
    if (exact.end == RunEnd::budget_spent) return false;
    for (Engine e : {Engine::interpreter, Engine::native, Engine::optimising, Engine::standard}) {
        reset_speculation_stats();
        Seen other = run_on(e, input, 0, room);
        if (e == Engine::optimising) {
            declined += speculation_stats.declined ? 1 : 0;
            entered += speculation_stats.entered > 0 ? 1 : 0;
        }
        if (!agree(exact, other, (what + " on " + engine_name(e)).c_str())) return true;
    }
    // The tiered engine, moving up at the first, second, ... loop head or
    // routine start that allows it (the first is the main program's start),
    // compiling on the spot and on another thread in turn.
    for (int first : move_ups) {
        tier_settings.first_loops = first;
        tier_settings.compile_here_up_to = first % 2 == 0 ? 1 << 30 : 0;
        reset_speculation_stats();
        Seen other = run_on(Engine::tiered, input, 0, room);
        moved_up += speculation_stats.entered > 0 ? 1 : 0;
        returned += speculation_stats.returns > 0 ? 1 : 0;
        if (!agree(exact, other, (what + " on tiered from " + std::to_string(first)).c_str()))
            return true;
    }
    return true;
}

// The programs and inputs of the end-to-end tests (the sections of their
// files, split as split-file splits them).
std::map<std::string, std::string> e2e_files() {
    std::map<std::string, std::string> files;
    namespace fs = std::filesystem;
    for (const auto& entry :
         fs::recursive_directory_iterator(std::string(TSUMIKI_SOURCE_DIR) + "/tests/e2e")) {
        if (entry.path().extension() != ".test") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string all = text.str();
        std::string name;
        std::size_t at = 0;
        std::string prefix = entry.path().string() + ":";
        while (at < all.size()) {
            std::size_t end = all.find('\n', at);
            if (end == std::string::npos) end = all.size();
            std::string line = all.substr(at, end - at);
            if (line.rfind("#--- ", 0) == 0) {
                name = prefix + line.substr(5);
                files[name];
            } else if (!name.empty()) {
                files[name] += line + "\n";
            }
            at = end + 1;
        }
    }
    return files;
}

} // namespace

TEST(Speculation, EveryEndToEndProgramRunsAsOnTheExactTiers) {
    auto files = e2e_files();
    int compared = 0;
    for (const auto& [name, text] : files) {
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".tsu") != 0) continue;
        std::string stem = name.substr(0, name.size() - 4);
        auto input = files.find(stem + ".in");
        if (all_agree(text, input == files.end() ? "" : input->second, name)) ++compared;
    }
    // A few are hostile on purpose (a main program that calls itself, more
    // arguments than parameters, arrays with no cells or too many): left
    // to the exact tiers.
    EXPECT_GT(compared, 100);
    EXPECT_GT(entered, 100);
    EXPECT_LT(declined, 12);
    EXPECT_GT(moved_up, 350);
    EXPECT_GT(returned, 100);
}

namespace {

// Runs `source` on the fast loop (the reference, for programs too long for
// the plain loop), the native tier and the optimising tier; true when all
// agree and the optimising tier's runs ended as `expected` says: that
// guard failed once, or none (GUARD_NONE).
void guard_fails(const std::string& source, const std::string& input, Guard expected,
                 std::size_t room = std::size_t{1} << 30) {
    CompileOptions options;
    options.encoding = Encoding::utf8;
    ASSERT_EQ(compile_text(source, options).error, ErrorKind::none);
    Seen exact = run_on(Engine::interpreter, input, 0, room);
    agree(exact, run_on(Engine::native, input, 0, room), "native");
    const int back_off = tier_settings.back_off;
    tier_settings.back_off = 1 << 30; // one run of the tier
    reset_speculation_stats();
    Seen optimised = run_on(Engine::optimising, input, 0, room);
    agree(exact, optimised, "optimising");
    EXPECT_FALSE(speculation_stats.declined) << speculation_stats.why;
    EXPECT_EQ(speculation_stats.entered, 1);
    for (int g = GUARD_NONE + 1; g < GUARD_COUNT; ++g)
        EXPECT_EQ(speculation_stats.failed[g], g == expected ? 1 : 0)
            << guard_name(static_cast<Guard>(g));
    // Moved up in the middle, the same guard fails, and the native tier
    // goes on from where the run moved up.
    for (int first : {0, 3, 1000, 1001}) {
        tier_settings.first_loops = first;
        tier_settings.compile_here_up_to = first % 2 == 0 ? 1 << 30 : 0;
        reset_speculation_stats();
        agree(exact, run_on(Engine::tiered, input, 0, room), "tiered");
        EXPECT_EQ(speculation_stats.entered, 1);
        for (int g = GUARD_NONE + 1; g < GUARD_COUNT; ++g)
            EXPECT_EQ(speculation_stats.failed[g], g == expected ? 1 : 0)
                << "tiered from " << first << ": " << guard_name(static_cast<Guard>(g));
    }
    tier_settings.back_off = back_off;
}

// The instruction of the n-th (from 0) `op` in the code store, or -1.
std::int32_t nth(Opcode op, int n) {
    for (std::int32_t i = 0; i < cx; ++i)
        if (code[i].op == op && n-- == 0) return i;
    return -1;
}

// Compiles `source` and runs it on `engine` (the tiered one moves up at
// its first loop head) as the interpreter runs it.
void run_backing_off(const std::string& source, int back_off, Engine engine = Engine::optimising) {
    CompileOptions options;
    options.encoding = Encoding::utf8;
    ASSERT_EQ(compile_text(source, options).error, ErrorKind::none);
    Seen exact = run_on(Engine::interpreter, "");
    const TierSettings saved = tier_settings;
    tier_settings.back_off = back_off;
    tier_settings.first_loops = 0;
    reset_speculation_stats();
    agree(exact, run_on(engine, ""), engine_name(engine));
    tier_settings = saved;
}

// A loop that stores i in a[j], j being i's last digit except on the turns
// WILD holds, where it is 10, past a's end (b's cell); s adds SUM each of
// its TURNS turns.  wild_store_loop fills in the three words.
const char* const WILD_STORE_LOOP = R"(program p;
var i, s, j, a[0..9], b;
begin
  i := 0; s := 0; b := 0;
  while i < TURNS do
  begin
    j := i - i div 10 * 10;
    if WILD then j := 10;
    a[j] := i;
    s := s + SUM;
    i := i + 1
  end;
  write(s);
  write(b)
end.
)";

std::string wild_store_loop(int turns, const std::string& wild, const std::string& sum) {
    std::string source = WILD_STORE_LOOP;
    for (auto [word, text] : {std::pair<std::string, std::string>{"TURNS", std::to_string(turns)},
                              {"WILD", wild},
                              {"SUM", sum}})
        source.replace(source.find(word), word.size(), text);
    return source;
}

// One wild store in 30000 turns, then a loop over it: the store's exit
// alone fails, once; the run moves up again after the back-off, with the
// other guards (the loads' indices) still checked, and ends on the tier.
const std::string wild_once = wild_store_loop(30000, "i = 2000", "a[i - i div 10 * 10] - a[j]");

} // namespace

TEST(Speculation, AFailedGuardNamesItsExit) {
    run_backing_off(wild_once, 1 << 30);
    const GuardExit store{nth(STO, 0), GUARD_BOUNDS};
    EXPECT_EQ(speculation_stats.entered, 1);
    ASSERT_EQ(speculation_stats.exits.size(), 1u);
    EXPECT_EQ(speculation_stats.exits[0].exit.at, store.at);
    EXPECT_EQ(speculation_stats.exits[0].exit.kind, GUARD_BOUNDS);
    EXPECT_EQ(speculation_stats.exits[0].failed, 1);
    EXPECT_EQ(failures_at(store), 1);
    EXPECT_EQ(exit_name(speculation_stats.last), "bounds at " + std::to_string(store.at));
}

TEST(Speculation, AFailedExitBacksOffAndTheRunMovesUpAgain) {
    // Back at the store once, then up again (past the store's turn) to the
    // end: the loads' guards, checked all along, never failed.
    for (Engine e : {Engine::optimising, Engine::tiered}) {
        run_backing_off(wild_once, 5000, e);
        EXPECT_EQ(speculation_stats.entered, 2) << engine_name(e);
        ASSERT_EQ(speculation_stats.exits.size(), 1u) << engine_name(e);
        EXPECT_EQ(speculation_stats.exits[0].exit.at, nth(STO, 0)) << engine_name(e);
        EXPECT_EQ(speculation_stats.exits[0].failed, 1) << engine_name(e);
    }
}

TEST(Speculation, AnExitThatKeepsFailingStaysDown) {
    // A wild store every 1000 turns: each run of the tier ends there, the
    // back-off doubles (100, 200), and after the third failure the run
    // stays on the native tier.
    run_backing_off(wild_store_loop(100000, "i - i div 1000 * 1000 = 999", "j"), 100);
    EXPECT_EQ(speculation_stats.entered, 3);
    ASSERT_EQ(speculation_stats.exits.size(), 1u);
    EXPECT_EQ(speculation_stats.exits[0].failed, 3);
}

// An index outside its array on the millionth time round a loop: the cell
// it reaches is another variable's, as the exact tiers make it.
TEST(Speculation, AnIndexOutOfBoundsOnTheMillionthIteration) {
    guard_fails(R"(program p;
var i, s, a[0..9], b;
begin
  i := 0; s := 0; b := 5;
  while i < 1000000 do
  begin
    a[i - i div 10 * 10] := i;
    s := s + a[i - i div 10 * 10];
    if i - i div 250000 * 250000 = 0 then write(s);
    if i = 999999 then a[i - 999989] := 42;
    i := i + 1
  end;
  write(s);
  write(b)
end.
)",
                "", GUARD_BOUNDS);
}

// A var parameter aimed at the loop variable: no guard, the variable lives
// in its cell.  Aimed at it through an index past its array: the bounds.
TEST(Speculation, AVarParameterAimedAtALoopVariable) {
    const char* program = R"(program p;
var k, a[1..3], i, s;
procedure bump(var x);
begin x := x + 1 end;
begin
  read(k);
  i := 0; s := 0;
  while i < 200000 do
  begin
    s := s + i;
    bump(i);
    if i = 199990 then bump(a[k])
  end;
  write(s);
  write(i)
end.
)";
    guard_fails(program, "3", GUARD_NONE);
    guard_fails(program, "4", GUARD_BOUNDS); // a[4] is the cell of i
    guard_fails(program, "0", GUARD_BOUNDS); // a[0] that of k
}

// The loop's own variable stepped only through a var parameter, two frames
// down, and a division by zero late in the loop: after the guard fails, the
// replay makes the same output and stops with the same cells.
TEST(Speculation, ALoopVariableSteppedThroughAVarParameter) {
    guard_fails(R"(program p;
var i, s, d;
procedure step(var x, by);
  procedure again(var y, n);
  begin
    if n > 1 then again(y, n - 1) else y := y + by
  end;
begin again(x, 2) end;
begin
  read(d);
  i := 0; s := 0;
  while i < 300000 do
  begin
    s := s + i;
    if i - i div 100000 * 100000 = 0 then write(s);
    step(i, 1);
    if i = 299999 then s := s div d
  end;
  write(s);
  write(i)
end.
)",
                "0", GUARD_DIVISION);
}

// A division by zero thirty calls deep, after a thousand calls that were not.
TEST(Speculation, ADivisionByZeroDeepInARecursion) {
    guard_fails(R"(program p;
var i, s;
function f(n, d);
begin
  if n = 0 then f := 100 div (d - 30)
  else f := f(n - 1, d) + 1
end;
begin
  i := 0; s := 0;
  while i < 1000 do
  begin
    s := s + f(20, 35);
    i := i + 1
  end;
  write(s);
  write(f(30, 30))
end.
)",
                "", GUARD_DIVISION);
}

// Deeper and deeper recursion from a loop, until the stack is full.
TEST(Speculation, AStackOverflowInAHotLoop) {
    guard_fails(R"(program p;
var i;
function depth(n);
begin
  if n = 0 then depth := 0 else depth := depth(n - 1) + 1
end;
begin
  i := 0;
  while i < 400 do
  begin
    write(depth(i));
    i := i + 1
  end
end.
)",
                "", GUARD_STACK);
}

// A read that finds no number, after a long loop and a read that did.
TEST(Speculation, AFailedReadAfterHotCode) {
    guard_fails(R"(program p;
var i, s, x;
begin
  read(x);
  i := 0; s := 0;
  while i < 300000 do
  begin
    s := s + i * x;
    i := i + 1
  end;
  write(s);
  read(x);
  write(x)
end.
)",
                "7", GUARD_READ);
}

// The writer takes the first buffers of a long loop's output, then no more.
TEST(Speculation, OutputToAFullDeviceDuringAHotLoop) {
    guard_fails(R"(program p;
var i;
begin
  i := 0;
  while i < 100000 do
  begin
    write(i * 7);
    i := i + 1
  end
end.
)",
                "", GUARD_ENDED, 150000);
}

// The same loop writing to a full device: the first buffer of output is
// refused, and every engine ends with the same message, registers and cells.
TEST(Speculation, OutputToDevFullDuringAHotLoop) {
    writer_fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_NE(writer_fd, -1) << "no /dev/full";
    guard_fails(R"(program p;
var i, s;
begin
  i := 0; s := 0;
  while i < 100000 do
  begin
    s := s + i;
    write(i * 7);
    i := i + 1
  end;
  write(s)
end.
)",
                "", GUARD_ENDED);
    ::close(writer_fd);
    writer_fd = -1;
}

// A function whose result is set on one path only, inlined in a loop: the
// run that takes the other path returns what the cell held before.
TEST(Speculation, AReadOfACellWithNoValueYet) {
    guard_fails(R"(program p;
var i, s;
function pick(n);
begin
  if n > 0 then pick := n
end;
begin
  i := 10000; s := 0;
  while i >= 0 do
  begin
    s := s + pick(i);
    i := i - 1
  end;
  write(s)
end.
)",
                "", GUARD_UNSET);
}

// Constant indices far outside their array, up to the ends of the
// numbers: the guard fails where the translator would otherwise have to
// add the index to the array's first cell.
TEST(Speculation, ConstantIndicesFarOutsideTheirArray) {
    for (const char* index : {"2147483647", "-2147483647", "10", "-1", "1000"}) {
        std::string source =
            std::string("program p;\nvar a[0..9], b;\nbegin\n  b := 1;\n  write(b);\n"
                        "  write(a[") +
            index + "]);\n  a[" + index + "] := 5;\n  write(b)\nend.\n";
        EXPECT_TRUE(all_agree(source, "", index)) << index;
    }
}

// A loop's jump back tests its condition again: an element read past its
// array by that test, on the millionth turn, reaches the next variable.
TEST(Speculation, AnIndexOutOfBoundsInTheTestOfALoopTurnedOver) {
    guard_fails(R"(program p;
var i, s, a[0..9], b;
begin
  i := 0; s := 0; b := -1;
  while i < 10 do begin a[i] := i; i := i + 1 end;
  i := 0;
  while a[i - i div 10 * 10 + i div 1000000 * 10] <> -1 do
  begin
    s := s + i;
    if i - i div 250000 * 250000 = 0 then write(s);
    i := i + 1
  end;
  write(i);
  write(s)
end.
)",
                "", GUARD_BOUNDS);
}

// The same test divides by zero in its millionth turn: a run-time error
// there, in the middle of the test, with the dump of the exact tiers.
TEST(Speculation, ADivisionByZeroInTheTestOfALoopTurnedOver) {
    guard_fails(R"(program p;
var i, s;
begin
  i := 0; s := 0;
  while 1000000 div (1000000 - i) + i > 0 do
  begin
    s := s + i * 3 + 1;
    i := i + 1
  end;
  write(s)
end.
)",
                "", GUARD_DIVISION);
}

// Loops turned over in every form of test (a variable in its cell, a
// constant, a constant on the left, an expression, an inlined routine's
// loop, a loop left at once) and sums kept as x + (a + b): the same
// output, registers and cells on every engine, moved up at every point.
TEST(Speculation, LoopsTurnedOverAndSumsRegrouped) {
    EXPECT_TRUE(all_agree(R"(program p;
var i, j, k, s, t, a[0..4];
procedure bump(var x);
begin x := x + 1 end;
procedure count(n);
var c;
begin
  c := n;
  while c > 0 do begin s := s + c + 2147483000; c := c - 1 end
end;
begin
  s := 2147483600; t := 0; i := 0;
  while i < 50 do
  begin
    j := 0;
    while j - 7 <> 0 do begin t := t + i * j + s; j := j + 1 end;
    k := 0;
    while 9 > k do begin k := k + 1; bump(k) end;
    while 0 = 1 do s := 0;
    count(i - i div 4 * 4);
    while i < 0 do i := i + 1;
    a[i - i div 5 * 5] := s + t + k;
    bump(t);
    i := i + 1
  end;
  write(s); write(t); write(a[0]); write(a[4])
end.
)",
                          "", "turned over"));
}

// A var parameter aimed past its array at the return address of a frame
// the exact tiers made, written by the tier after it moved up in a routine
// deeper down: the return must come back where the exact tiers go (one
// instruction further, here), not where the frame pointed at the move.
TEST(Speculation, AVarParameterPastItsArrayAimedAtAReturnAddress) {
    EXPECT_TRUE(all_agree(R"(program nest;
var g, a[0..4];
procedure outer(k);
  var v;
  procedure inner(var w);
    function f(x, var y);
    begin y := y + x; f := g + v + k end;
  begin w := f(1, a[7]); g := g + 1 end;
begin v := 5; inner(a[k]); write(a[k]) end;
begin
  g := 1;
  outer(3);
  if g <> 2 then write(0) else write(g);
  if a[2] >= 1 then write(a[2]);
  if -g < +g then write(-(g div (0 - 2)))
end.
)",
                          "", "a return address written"));
}

// A var parameter aimed by an index past its array at every cell from the
// main program's variables to past its own frame (static and dynamic
// links, return addresses, a function's result, value and var parameters,
// locals, elements, cells pushed for a call), written before or after a
// hot loop with several values (a frame's base, 0, outside the stack):
// every engine, moved up at every loop head and routine start in turn,
// compiled on the spot and on the thread, shows what the exact tiers show.
TEST(Speculation, AWildReferenceAtEveryCellBelowItsFrame) {
    std::vector<int> everywhere;
    for (int first = 0; first <= 16; ++first)
        everywhere.push_back(first);
    int compared = 0;
    for (int index = -3; index <= 36; ++index) {
        for (std::int32_t value : {0, 17, 2000000000}) {
            for (bool before : {true, false}) {
                WildReference w;
                w.index = index;
                w.value = value;
                w.before = before;
                w.after = !before;
                w.padded = value == 17 && !before;
                std::string what = "a[" + std::to_string(index) + "] (cell " +
                                   std::to_string(wild_reference_cell(index)) +
                                   ") := " + std::to_string(value) +
                                   (before ? " before" : " after") + " the hot loop" +
                                   (w.padded ? ", padded" : "");
                if (all_agree(wild_reference_program(w), "", what, std::size_t{1} << 30,
                              everywhere))
                    ++compared;
                if (HasFailure()) return;
            }
        }
    }
    // A few end in an endless loop (a return address aimed back).
    EXPECT_GT(compared, 220);
}

namespace {

// A hot loop of 300 turns in which guard `kind` fails at turn `turn` (from
// 0), in the main program's own code or in a small procedure it calls
// (inlined), right after a write or not.
std::string failing_at(const std::string& kind, int turn, bool in_call, bool after_write) {
    std::string k = std::to_string(turn);
    std::string step, procs;
    if (kind == "division") {
        step = "s := s + 7 div (i - " + k + ")";
    } else if (kind == "bounds") {
        step = "if i = " + k + " then j := 10 else j := i - i div 10 * 10;\n    a[j] := s";
    } else if (kind == "read") {
        step = "read(x); s := s + x";
    } else if (kind == "ended") {
        step = "write(1000 + i)";
    } else if (kind == "unset") {
        procs =
            "procedure r;\nvar u;\nbegin\n  if i = " + k + " then s := s + u;\n  u := i\nend;\n";
        step = "r";
    } else if (kind == "stack") {
        procs = "procedure deep(n);\nbegin\n  if n > 0 then deep(n - 1)\nend;\n";
        step = "if i = " + k + " then deep(5000) else deep(3)";
    }
    if (in_call) {
        procs += "procedure q;\nbegin\n  " + step + "\nend;\n";
        step = "q";
    }
    return "program p;\nvar i, s, j, x, a[0..9], after;\n" + procs +
           "begin\n  i := 0; s := 0; j := 0; x := 0; after := 5;\n"
           "  while i < 300 do\n  begin\n    s := s + i * 3;\n" +
           (after_write ? "    write(s);\n" : "") + "    " + step +
           ";\n    i := i + 1\n  end;\n  write(s); write(after); write(j)\nend.\n";
}

} // namespace

// Every guard kind the main program's loop can make fail, on the first, a
// middle and the last turn, in the loop's own code and in an inlined call,
// right after a write and not: every engine as the interpreter.
TEST(Speculation, EveryGuardFailingOnTheFirstAMiddleAndTheLastTurn) {
    int compared = 0;
    for (const char* kind : {"division", "bounds", "read", "ended", "unset", "stack"}) {
        for (int turn : {0, 150, 299}) {
            // read: `turn` numbers, then a word; ended: room for `turn` lines.
            std::string input;
            for (int n = 0; n < turn; ++n)
                input += std::to_string(n % 7) + "\n";
            input += "x\n";
            std::size_t room = std::string(kind) == "ended" ? static_cast<std::size_t>(turn) * 5 + 2
                                                            : std::size_t{1} << 30;
            for (bool in_call : {false, true}) {
                for (bool after_write : {false, true}) {
                    std::string what = std::string(kind) + " at turn " + std::to_string(turn) +
                                       (in_call ? " in a call" : "") +
                                       (after_write ? " after a write" : "");
                    deliver_by_line = room != std::size_t{1} << 30;
                    if (all_agree(failing_at(kind, turn, in_call, after_write), input, what, room,
                                  {0, 1, 2, 40, 151, 299}))
                        ++compared;
                    deliver_by_line = false;
                    if (HasFailure()) return;
                }
            }
        }
    }
    EXPECT_EQ(compared, 72);
}

namespace {

// The optimising engine's run of `source`, as the interpreter's, with the
// failed runs of the tier that went on from their guard, of kind `kind`
// (which fails once, or at least once when not `once`).
int resumed_runs(const std::string& source, Engine engine = Engine::optimising,
                 Guard kind = GUARD_DIVISION, const std::string& input = "",
                 std::size_t room = std::size_t{1} << 30, bool once = true) {
    CompileOptions options;
    options.encoding = Encoding::utf8;
    EXPECT_EQ(compile_text(source, options).error, ErrorKind::none);
    deliver_by_line = room != std::size_t{1} << 30;
    Seen exact = run_on(Engine::interpreter, input, 0, room);
    const TierSettings saved = tier_settings;
    tier_settings.first_loops = 10;
    tier_settings.compile_here_up_to = 1 << 30;
    reset_speculation_stats();
    agree(exact, run_on(engine, input, 0, room), engine_name(engine));
    tier_settings = saved;
    deliver_by_line = false;
    if (once) {
        EXPECT_EQ(speculation_stats.entered, 1);
        EXPECT_EQ(speculation_stats.failed[kind], 1);
    } else {
        EXPECT_GE(speculation_stats.failed[kind], 1);
    }
    EXPECT_EQ(speculation_stats.resumed, speculation_stats.resumed_by[kind]);
    return speculation_stats.resumed_by[kind];
}

} // namespace

// A division by zero in the main program's code resumes at its OPR: the
// run is not done again from the checkpoint (the output is written once,
// and no read is replayed).  The loop's variables, the sum pending in a
// register and the value pushed for the call all reach their cells.
TEST(Speculation, ADivisionByZeroInTheFramesOwnCodeResumes) {
    EXPECT_EQ(resumed_runs(failing_at("division", 299, false, true)), 1);
    EXPECT_EQ(resumed_runs(R"(program p;
var i, s, t;
begin
  i := 0; s := 0; t := 1;
  while i < 100000 do
  begin
    s := s + i;
    t := t * 3 + s;
    i := i + 1;
    if i = 100000 then write(s + t + 100 div (i - 100000))
  end
end.
)"),
              1);
    // A procedure's own frame, run by its resume function: moved up in its
    // loop, not called by the tier's code.
    const char* const in_procedure = R"(program p;
var g;
procedure hot(n, var r);
var i, acc;
begin
  i := 0; acc := 0;
  while i < n do
  begin
    acc := acc + i;
    r := acc;
    i := i + 1;
    acc := acc + 5 div (n - i)
  end
end;
begin
  hot(100000, g);
  write(g)
end.
)";
    EXPECT_EQ(resumed_runs(in_procedure, Engine::tiered), 1);
    EXPECT_EQ(resumed_runs(in_procedure, Engine::optimising), 0);
}

// Where the exact tiers' frames are not the tier's, a division by zero
// goes back to the checkpoint: in an inlined call, in a call of another
// function, with a call's header pushed.
TEST(Speculation, ADivisionByZeroElsewhereGoesBackToTheCheckpoint) {
    EXPECT_EQ(resumed_runs(failing_at("division", 299, true, true)), 0);
    EXPECT_EQ(resumed_runs(R"(program p;
var i, s;
function f(a, b);
begin
  f := a + b
end;
begin
  i := 0; s := 0;
  while i < 1000 do
  begin
    s := s + f(i, 1000 div (999 - i));
    i := i + 1
  end
end.
)"),
              0);
}

// Guard by guard, on the last turn of the main program's loop, in its own
// code: those whose failure is an error of the exact tiers at the guard's
// instruction resume there, and an index past its array, after which the
// run goes on; the others go back to the checkpoint; in an inlined call,
// none resumes.  (A run that goes back to the checkpoint may move up and
// fail again.)
TEST(Speculation, EachGuardKindResumesOnlyWhereTheExactTiersCanGoOn) {
    std::string input;
    for (int n = 0; n < 299; ++n)
        input += std::to_string(n % 7) + "\n";
    input += "x\n";
    struct Case {
        const char* kind;
        Guard guard;
        int resumes;
    };
    for (const Case& c : {Case{"division", GUARD_DIVISION, 1}, Case{"ended", GUARD_ENDED, 1},
                          Case{"bounds", GUARD_BOUNDS, 1}, Case{"read", GUARD_READ, 0},
                          Case{"unset", GUARD_UNSET, 0}}) {
        std::size_t room = c.guard == GUARD_ENDED ? 299 * 5 + 2 : std::size_t{1} << 30;
        for (bool in_call : {false, true}) {
            SCOPED_TRACE(std::string(c.kind) + (in_call ? " in a call" : ""));
            EXPECT_EQ(resumed_runs(failing_at(c.kind, 299, in_call, false), Engine::optimising,
                                   c.guard, input, room, c.resumes == 1 && !in_call),
                      in_call ? 0 : c.resumes);
        }
    }
}

// A write whose writer ends the run, in the main program's code: the exit
// writes the loop's registers back, the write is made again and ends the
// run with the same message, the output written once.
TEST(Speculation, AnEndedWriteResumesAtItsPut) {
    const char* const source = R"(program p;
var i, s, t;
begin
  i := 0; s := 0; t := 7;
  while i < 2000 do
  begin
    s := s + i;
    t := t * 3 + s div 7;
    write(s + t);
    i := i + 1
  end
end.
)";
    EXPECT_EQ(resumed_runs(source, Engine::optimising, GUARD_ENDED, "", 4000), 1);
    EXPECT_EQ(resumed_runs(source, Engine::tiered, GUARD_ENDED, "", 4000), 1);
}

namespace {

// A hot loop of 300 turns calling a recursive function f (which the tier
// inlines once into itself) whose guard `kind` fails, at turn `turn`, in
// the call `depth` deep (0: the call the loop makes; 1: its own call,
// inlined; 2: a call made as a call; ...).  f's locals are changed by a
// nested routine inlined into it, through a var parameter, and by a
// nested routine that calls itself (a function of its own, reaching f's
// frame through its static link).
std::string recursion_failing(const std::string& kind, int turn, int depth) {
    std::string step;
    if (kind == "division") {
        step = "s := s + 100 div (n - d)";
    } else if (kind == "bounds") {
        step = "a[n - d + 10] := 1";
    } else if (kind == "unset") {
        step = "w := w + u";
    } else if (kind == "stack") {
        step = "walk(5000)";
    }
    return "program p;\nvar i, s, dd, a[0..9];\n"
           "function f(n, d);\nvar u, w;\n"
           "  procedure add(var x);\n  begin x := x + n end;\n"
           "  procedure walk(k);\n  begin if k > 0 then begin w := w + 1; walk(k - 1) end end;\n"
           "begin\n  w := 0;\n  if n = d then " +
           step +
           ";\n  add(w); walk(n div 2);\n"
           "  if n < 2 then f := n + w\n  else f := f(n - 1, d) + f(n - 2, d) - w\n"
           "end;\n"
           "begin\n  i := 0; s := 0;\n  while i < 300 do\n  begin\n"
           "    if i = " +
           std::to_string(turn) + " then dd := " + std::to_string(7 - depth) +
           " else dd := 100;\n"
           "    s := s + f(7, dd);\n    i := i + 1\n  end;\n  write(s)\nend.\n";
}

} // namespace

// Every guard kind failing in a recursion inlined once into itself: in the
// outermost call, the inlined one, the calls below, on the first, a middle
// and the last turn: every engine as the interpreter.
TEST(Speculation, AGuardFailingAtEveryDepthOfARecursionInlinedIntoItself) {
    int compared = 0;
    for (const char* kind : {"division", "bounds", "unset", "stack"}) {
        for (int turn : {0, 150, 299}) {
            for (int depth : {0, 1, 2, 3, 6}) {
                std::string what = std::string(kind) + " at turn " + std::to_string(turn) + ", " +
                                   std::to_string(depth) + " calls deep";
                if (all_agree(recursion_failing(kind, turn, depth), "", what, std::size_t{1} << 30,
                              {0, 1, 2, 40, 151, 299}))
                    ++compared;
                if (HasFailure()) return;
            }
        }
    }
    EXPECT_EQ(compared, 60);
}

// The same with no guard failing: the tier runs the whole loop, its
// recursion inlined once, and ends as the interpreter does.
TEST(Speculation, ARecursionInlinedIntoItselfRunsAsTheInterpreter) {
    reset_speculation_stats();
    EXPECT_TRUE(all_agree(recursion_failing("none", 0, 100), "", "no guard failing"));
}

// Deeper and deeper recursion of a function inlined once into itself,
// until the stack is full, with the main program's frame 0 to 7 cells
// larger: the call that finds no room is in turn the outer and the inlined
// one, and each ends as on the interpreter.
TEST(Speculation, ARecursionInlinedIntoItselfFillsTheStack) {
    int compared = 0;
    for (int pad = 0; pad < 8; ++pad) {
        std::string vars;
        for (int k = 0; k < pad; ++k)
            vars += ", p" + std::to_string(k);
        std::string source = "program p;\nvar i" + vars +
                             ";\nfunction depth(n);\nbegin\n"
                             "  if n = 0 then depth := 0 else depth := depth(n - 1) + 1\n"
                             "end;\nbegin\n  i := 0;\n  while i < 400 do\n  begin\n"
                             "    write(depth(i));\n    i := i + 1\n  end\nend.\n";
        if (all_agree(source, "", "padded by " + std::to_string(pad), std::size_t{1} << 30,
                      {0, 1, 2, 40}))
            ++compared;
        if (HasFailure()) return;
    }
    EXPECT_EQ(compared, 8);
}

namespace {

// A loop of 3000 turns whose last stores s at a[WILD] (or, `reads`, adds
// a[WILD] to s), the loop calling CALL each turn; after it, the cells
// a[FROM] to a[TO - 1] written out.  The cells past `after` lie above the
// top of the stack, where the calls' frames and the values pushed were.
std::string wild_after_the_loop(int wild, bool reads, const std::string& call, int from, int to) {
    const std::string w = std::to_string(wild);
    return "program p;\nvar i, s, j, k, a[0..9], after;\n"
           "procedure q(x);\nvar y, z, c[0..3];\nbegin\n"
           "  y := x * 3 + s; z := y - x; s := s + z div 5 + c[x - x div 4 * 4];\n"
           "  c[x - x div 4 * 4] := z\nend;\n"
           "function f(x);\nbegin f := x * 7 - s end;\n"
           "begin\n  i := 0; s := 0; after := 5;\n  while i < 3000 do\n  begin\n"
           "    s := s + i - s div 7;\n    j := i - i div 10 * 10;\n    " +
           call + ";\n    i := i + 1;\n    if i = 3000 then j := " + w + ";\n" +
           (reads ? "    s := s + a[j]\n" : "    a[j] := s\n") +
           "  end;\n  k := " + std::to_string(from) + ";\n  while k < " + std::to_string(to) +
           " do begin write(a[k]); k := k + 1 end;\n  write(s); write(after)\nend.\n";
}

} // namespace

// An index past its array on the last turn of the main program's loop
// resumes at its instruction, and the run goes on on the native tier; the
// cells above the top of the stack, which hold what the calls made in the
// loop left there (on the tier: in registers, or nowhere), are read after
// it, one by one, through the same array.  Whatever the engine and the
// place the run moved up, the interpreter's output and cells, the run
// going back to the checkpoint before it reads a cell the tier left
// unsure and only then.
TEST(Speculation, AResumedIndexPastItsArrayNeverReadsWhatTheTierLeftAbove) {
    int compared = 0, resumed = 0, unsure = 0;
    for (const char* call : {"k := 0", "q(i + j * 2)", "s := s + f(i)", "q(f(i))"}) {
        for (int wild : {10, 11, 13, 20, -1, -4}) {
            for (bool reads : {false, true}) {
                for (auto [from, to] : {std::pair{0, 0}, {-4, 10}, {10, 40}, {12, 13}}) {
                    std::string what = std::string(call) + ", a[" + std::to_string(wild) + "] " +
                                       (reads ? "read" : "written") + ", a[" +
                                       std::to_string(from) + ".." + std::to_string(to) + "]";
                    if (all_agree(wild_after_the_loop(wild, reads, call, from, to), "", what,
                                  std::size_t{1} << 30, {0, 1, 40, 2999}))
                        ++compared;
                    if (HasFailure()) return;
                    resumed += speculation_stats.resumed_by[GUARD_BOUNDS];
                    unsure += speculation_stats.unsure;
                }
            }
        }
    }
    EXPECT_EQ(compared, 4 * 6 * 2 * 4);
    // The sweep took both ways: on to the end, and back at the checkpoint.
    EXPECT_GT(resumed, unsure);
    EXPECT_GT(unsure, 0);
}

// Where the cells past an array's end are the main program's own (below
// the top of the stack), the run resumes and reads them without going
// back, and so the two cells the store's instruction had on the stack,
// which the guard's exit wrote (a[11] and a[12]); reading a cell above
// those goes back, each time.
TEST(Speculation, AResumedRunGoesBackOnlyForACellAboveTheStack) {
    reset_speculation_stats();
    EXPECT_EQ(resumed_runs(wild_after_the_loop(10, false, "s := s + f(i)", -4, 13),
                           Engine::optimising, GUARD_BOUNDS),
              1);
    EXPECT_EQ(speculation_stats.unsure, 0);
    reset_speculation_stats();
    // (Back at the checkpoint, the run moves up again, and so on.)
    const int resumed =
        resumed_runs(wild_after_the_loop(10, false, "s := s + f(i)", 13, 14), Engine::optimising,
                     GUARD_BOUNDS, "", std::size_t{1} << 30, false);
    EXPECT_GE(resumed, 1);
    EXPECT_EQ(speculation_stats.unsure, resumed);
}

// A routine that may read a local before giving it a value reads it at a
// frame offset, which the native tier does not watch: in such a program
// an index past its array goes back to the checkpoint at once (though the
// read is never made).
TEST(Speculation, AnIndexPastItsArrayDoesNotResumeWhereARoutineReadsAnUnsetLocal) {
    const std::string source = wild_after_the_loop(10, false, "r", 0, 0);
    const std::string with_r = std::string(source).replace(
        source.find("function f"), 0,
        "procedure r;\nvar u;\nbegin if i < 0 then s := s + u; u := i end;\n");
    EXPECT_EQ(
        resumed_runs(with_r, Engine::optimising, GUARD_BOUNDS, "", std::size_t{1} << 30, false), 0);
    // And where it reads one, after the loop: its cell is where f's result
    // was, which the tier kept in a register.
    std::string reads_u = wild_after_the_loop(10, false, "s := s + f(i)", 0, 0);
    reads_u.replace(reads_u.find("function f"), 0,
                    "procedure r;\nvar u;\nbegin write(u); u := i end;\n");
    reads_u.replace(reads_u.find("write(s); write(after)"), 0, "r; ");
    EXPECT_TRUE(all_agree(reads_u, "", "an unset local read after the loop"));
}
