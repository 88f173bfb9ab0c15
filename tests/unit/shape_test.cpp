// The shape the optimising tier sees in a compiled program: routines,
// frames, depths, what pushed cells hold, loop heads and return sites, the
// cells addresses and nested routines reach, and reads that may find a
// cell without a value; and the code stores that have no such shape.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

#include "support.hpp"
#include "vm/code.hpp"
#include "vm/frame.hpp"
#include "vm/shape.hpp"

using namespace optimising;

namespace {

// The bytes of the file at `path`; nothing when it cannot be opened (not
// every folder holds every program).
std::optional<std::string> file_text(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return std::nullopt;
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        text.append(buf, n);
    std::fclose(f);
    return text;
}

Shape shape_of(const std::string& source) {
    Outcome o = compile(source);
    EXPECT_EQ(o.status, -1) << o.out;
    return shape_of_code();
}

// The index of the n-th instruction (from 0) that is `op l,a`.
int find(Opcode op, std::int32_t l, std::int32_t a, int n = 0) {
    for (int i = 0; i < cx; ++i)
        if (code[i].op == op && code[i].l == l && code[i].a == a && n-- == 0) return i;
    ADD_FAILURE() << "no " << mnemonic(op) << " " << l << "," << a;
    return 0;
}

const char* const nested_program = R"(program p;
var g, a[1..5];
procedure outer(n);
var i, acc;
  function inner(var x, k);
  var y;
  begin
    y := k + n;
    x := x + y;
    acc := acc + g;
    inner := y
  end;
begin
  acc := 0;
  i := 0;
  while i < n do
  begin
    g := g + inner(a[i + 1], i);
    i := i + 1
  end;
  write(acc)
end;
begin
  read(g);
  outer(3)
end.
)";

} // namespace

TEST(Shape, RoutinesFramesAndNesting) {
    Shape sh = shape_of(nested_program);
    ASSERT_TRUE(sh.ok) << sh.why << " at " << sh.failed_at;
    ASSERT_EQ(sh.routines.size(), 3u);
    const Routine& main = sh.routines[0];
    const Routine& outer = sh.routines[1];
    const Routine& inner = sh.routines[2];
    EXPECT_EQ(main.entry, 0);
    EXPECT_EQ(main.frame, 8); // header, g, a[1..5]
    EXPECT_EQ(code[main.exit].op, HLT);
    EXPECT_EQ(outer.parent, 0);
    EXPECT_EQ(outer.level, 1);
    EXPECT_FALSE(outer.function);
    EXPECT_EQ(outer.args, 1);
    EXPECT_EQ(outer.frame, 5);
    EXPECT_EQ(inner.parent, 1);
    EXPECT_EQ(inner.level, 2);
    EXPECT_TRUE(inner.function);
    EXPECT_EQ(inner.args, 3); // the result cell and two arguments
    EXPECT_EQ(inner.frame, 6);
    EXPECT_FALSE(inner.recursive);
    EXPECT_EQ(code[inner.exit].op, FRT);
    // Every instruction of the store belongs to one routine.
    for (int i = 0; i < cx; ++i)
        EXPECT_GE(sh.places[static_cast<std::size_t>(i)].routine, 0) << i;
}

TEST(Shape, CellsAddressesAndNestedRoutinesReach) {
    Shape sh = shape_of(nested_program);
    ASSERT_TRUE(sh.ok) << sh.why;
    const Routine& main = sh.routines[0];
    const Routine& outer = sh.routines[1];
    const Routine& inner = sh.routines[2];
    // g: read into (an address that goes no further), read by a nested routine.
    EXPECT_EQ(main.cells[3], CELL_NESTED);
    // a[1..5]: an array whose element's address a nested routine passes
    // to a call.
    for (int k = 4; k <= 8; ++k)
        EXPECT_EQ(main.cells[static_cast<std::size_t>(k)], CELL_ARRAY | CELL_ESCAPES | CELL_NESTED)
            << k;
    EXPECT_EQ(outer.cells[3], CELL_PARAMETER | CELL_NESTED);    // n
    EXPECT_EQ(outer.cells[4], 0);                               // i
    EXPECT_EQ(outer.cells[5], CELL_NESTED);                     // acc, set before the call
    EXPECT_EQ(inner.cells[4], CELL_PARAMETER | CELL_REFERENCE); // var x
    EXPECT_EQ(inner.cells[5], CELL_PARAMETER);                  // k
    EXPECT_EQ(inner.cells[6], 0);                               // y, set before it is read
}

TEST(Shape, DepthsSlotsLoopHeadsAndReturnSites) {
    Shape sh = shape_of(nested_program);
    ASSERT_TRUE(sh.ok) << sh.why;
    // The while loop's head, the only one: i < n, the stack at the frame's top.
    int head = -1;
    for (int i = 0; i < cx; ++i)
        if ((sh.places[static_cast<std::size_t>(i)].flags & PLACE_LOOP_HEAD) != 0) {
            EXPECT_EQ(head, -1) << i;
            head = i;
        }
    ASSERT_GE(head, 0);
    EXPECT_EQ(sh.places[static_cast<std::size_t>(head)].routine, 1);
    EXPECT_EQ(code[head].op, LOD);
    EXPECT_EQ(code[head].a, 4);
    EXPECT_EQ(sh.places[static_cast<std::size_t>(head)].depth, 5);
    EXPECT_EQ(sh.slot_count(head), 0);
    // g := g + inner(a[i + 1], i): after the call, g's value and the result.
    int call = find(CUP, 3, sh.routines[2].entry);
    int back = call + 1;
    EXPECT_NE(sh.places[static_cast<std::size_t>(back)].flags & PLACE_RETURN_SITE, 0);
    EXPECT_EQ(sh.places[static_cast<std::size_t>(call)].callee, 2);
    ASSERT_EQ(sh.slot_count(back), 2);
    EXPECT_EQ(sh.slots_at(back)[0].kind, SLOT_VALUE);
    EXPECT_EQ(sh.slots_at(back)[1].kind, SLOT_VALUE);
    // Before the CUP: g, the callee's header (4 cells from its MST), the
    // element's address and i.
    ASSERT_EQ(sh.slot_count(call), 7);
    const Slot* s = sh.slots_at(call);
    EXPECT_EQ(s[0].kind, SLOT_VALUE);
    for (int k = 1; k <= 4; ++k) {
        EXPECT_EQ(s[k].kind, SLOT_HEADER);
        EXPECT_EQ(code[s[k].from].op, MST);
    }
    EXPECT_EQ(s[5].kind, SLOT_ADDRESS);
    EXPECT_EQ(code[s[5].from].op, LDA);
    EXPECT_EQ(cells_at(s[5].from), 5);
    EXPECT_EQ(s[6].kind, SLOT_VALUE);
    // Inside inner, x's cell holds a var parameter's address.
    int through = find(LOD, 0, 4, 0);
    EXPECT_EQ(sh.places[static_cast<std::size_t>(through)].routine, 2);
    EXPECT_EQ(sh.slots_at(through + 1)[sh.slot_count(through + 1) - 1].kind, SLOT_REFERENCE);
    // The deepest point of outer: its frame, g, the header and the
    // element's address being made.
    EXPECT_EQ(sh.routines[1].deepest, 5 + 1 + 4 + 4); // LDA, LDC 1, LOD i, LDC 1
}

TEST(Shape, ReadsThatMayFindNoValue) {
    Shape sh = shape_of(R"(program p;
var r;
function f(n);
var x, y;
  procedure q;
  begin r := y end;
begin
  if n > 0 then x := 1;
  y := x;
  q;
  if n > 1 then f := y
end;
procedure s;
var z;
  procedure t;
  begin r := z end;
begin
  t;
  z := 1
end;
begin
  r := f(2);
  s
end.
)");
    ASSERT_TRUE(sh.ok) << sh.why;
    const Routine& f = sh.routines[1];
    ASSERT_TRUE(f.function);
    EXPECT_NE(f.cells[5] & CELL_UNSET, 0);        // x, read after an if that may skip it
    EXPECT_EQ(f.cells[6] & CELL_UNSET, 0);        // y, set before every read
    EXPECT_EQ(f.cells[6] & CELL_UNSET_NESTED, 0); // and before q runs
    EXPECT_NE(f.cells[3] & CELL_UNSET, 0);        // the result, set on one path only
    EXPECT_NE(sh.places[static_cast<std::size_t>(f.exit)].flags & PLACE_UNSET_READ, 0);
    // s calls t before z has a value: t's read of z may find none.
    int s_routine = -1;
    for (std::size_t r = 0; r < sh.routines.size(); ++r)
        if (!sh.routines[r].function && sh.routines[r].parent == 0 && sh.routines[r].frame == 3)
            s_routine = static_cast<int>(r);
    ASSERT_GE(s_routine, 0);
    EXPECT_EQ(sh.routines[static_cast<std::size_t>(s_routine)].cells[3] &
                  (CELL_UNSET_NESTED | CELL_UNSET | CELL_NESTED),
              CELL_UNSET_NESTED | CELL_UNSET | CELL_NESTED);
    int read_z = find(LOD, 1, 3);
    EXPECT_NE(sh.places[static_cast<std::size_t>(read_z)].flags & PLACE_UNSET_READ, 0);
}

TEST(Shape, RecursionIsFound) {
    Shape sh = shape_of(R"(program p;
function even(n);
  function odd(m);
  begin if m = 0 then odd := 0 else odd := even(m - 1) end;
begin if n = 0 then even := 1 else even := odd(n - 1) end;
function leaf(n);
begin leaf := n + 1 end;
begin write(even(4) + leaf(1)) end.
)");
    ASSERT_TRUE(sh.ok) << sh.why;
    ASSERT_EQ(sh.routines.size(), 4u);
    int recursive = 0;
    for (const Routine& r : sh.routines)
        recursive += r.recursive ? 1 : 0;
    EXPECT_EQ(recursive, 2); // even and odd, not leaf or the main program
}

TEST(Shape, EveryExampleAndBenchmarkHasTheCompilersShape) {
    for (const char* dir : {"examples", "bench/programs"}) {
        std::string folder = std::string(TSUMIKI_SOURCE_DIR) + "/" + dir;
        int found = 0; // not every folder holds every program, but each holds some
        for (const char* name :
             {"hello", "primes", "sort", "recursion", "nested", "gcd", "stats", "arithmetic",
              "loops", "fib", "tak", "sieve", "matrix", "read", "write"}) {
            std::string path = folder + "/" + name + ".tsu";
            std::optional<std::string> text = file_text(path);
            if (!text) continue;
            ++found;
            Shape sh = shape_of(*text);
            EXPECT_TRUE(sh.ok) << path << ": " << sh.why << " at " << sh.failed_at;
        }
        EXPECT_GT(found, 0) << folder;
    }
}

// Code stores that no compile makes: each is refused, with its reason.
TEST(Shape, StoresOfAnotherShapeAreRefused) {
    struct Case {
        const char* what;
        std::vector<Instruction> store;
    };
    const Case cases[] = {
        {"an empty store", {}},
        {"no ENT", {{LDC, 0, 1}, {HLT, 0, 0}}},
        {"a jump out", {{ENT, 0, 3}, {UJP, 0, 99}, {HLT, 0, 0}}},
        {"depths that differ", {{ENT, 0, 3}, {LDC, 0, 0}, {FJP, 0, 4}, {LDC, 0, 1}, {HLT, 0, 0}}},
        {"a pop of a frame cell", {{ENT, 0, 3}, {STR, 0, 3}, {HLT, 0, 0}}},
        {"a header cell", {{ENT, 0, 3}, {LOD, 0, 1}, {PUT, 0, 0}, {HLT, 0, 0}}},
        {"an LDA nobody noted", {{ENT, 0, 3}, {LDA, 0, 3}, {IND, 0, 0}, {PUT, 0, 0}, {HLT, 0, 0}}},
        {"an IND of a number", {{ENT, 0, 3}, {LDC, 0, 3}, {IND, 0, 0}, {PUT, 0, 0}, {HLT, 0, 0}}},
        {"a CUP without MST", {{ENT, 0, 3}, {CUP, 0, 3}, {HLT, 0, 0}, {ENT, 0, 2}, {RET, 0, 0}}},
        {"a call into main", {{ENT, 0, 3}, {MST, 0, 3}, {CUP, 0, 0}, {HLT, 0, 0}}},
        {"a procedure ending with FRT",
         {{ENT, 0, 3}, {MST, 0, 3}, {CUP, 0, 4}, {HLT, 0, 0}, {ENT, 0, 2}, {FRT, 0, 0}}},
        {"a routine without end", {{ENT, 0, 3}, {UJP, 0, 1}}},
        {"an op outside the set", {{ENT, 0, 3}, {static_cast<Opcode>(40), 0, 0}, {HLT, 0, 0}}},
        {"OPR 0,9", {{ENT, 0, 3}, {LDC, 0, 1}, {OPR, 0, 9}, {PUT, 0, 0}, {HLT, 0, 0}}},
        {"a second ENT", {{ENT, 0, 3}, {ENT, 0, 3}, {HLT, 0, 0}}},
        {"an end with cells pushed", {{ENT, 0, 3}, {LDC, 0, 1}, {HLT, 0, 0}}},
    };
    for (const Case& c : cases) {
        reset_all();
        for (const Instruction& in : c.store)
            generate_code(in.op, in.l, in.a);
        Shape sh = shape_of_code();
        EXPECT_FALSE(sh.ok) << c.what;
        EXPECT_STRNE(sh.why, "") << c.what;
    }
    // With the cells noted, the same LDA is fine; noted for another LDA, not.
    reset_all();
    for (const Instruction& in :
         {Instruction{ENT, 0, 3}, Instruction{LDA, 0, 3}, Instruction{IND, 0, 0},
          Instruction{PUT, 0, 0}, Instruction{HLT, 0, 0}})
        generate_code(in.op, in.l, in.a);
    note_cells(1, 1);
    EXPECT_TRUE(shape_of_code().ok) << shape_of_code().why;
    code[1].a = 2;
    EXPECT_FALSE(shape_of_code().ok);
}

// The shape the optimising tier walks agrees with the table: along every
// routine of the examples, the depth after an instruction that goes on is
// the depth before it moved as its row says, and a call leaves the depth
// before its MST (plus a function's result).  Every opcode is met.
TEST(Shape, DepthsFollowTheOpcodeTable) {
    std::vector<bool> met(OPCODE_COUNT, false);
    for (const char* name : {"hello", "primes", "sort", "recursion", "nested", "gcd", "stats",
                             "arithmetic", "loops"}) {
        std::string path = std::string(TSUMIKI_SOURCE_DIR) + "/examples/" + name + ".tsu";
        std::optional<std::string> text = file_text(path);
        if (!text) continue;
        ASSERT_EQ(compile(*text).status, -1) << path;
        Shape sh = shape_of_code();
        ASSERT_TRUE(sh.ok) << path << ": " << sh.why;
        for (const Routine& ro : sh.routines) {
            for (int i : ro.code) {
                const Instruction& in = code[i];
                met[in.op] = true;
                if (i <= ro.ent || i + 1 >= cx || !falls_through(in.op)) continue;
                if (properties_of(in.op).top == TOP_FRAME) continue;
                const InstructionShape& here = sh.places[static_cast<std::size_t>(i)];
                const InstructionShape& next = sh.places[static_cast<std::size_t>(i + 1)];
                if (next.routine != here.routine) continue;
                SCOPED_TRACE(path + ": instruction " + std::to_string(i));
                std::int64_t want = here.depth + depth_change(in);
                if (properties_of(in.op).flow == FLOW_CALL) {
                    const Routine& callee = sh.routines[static_cast<std::size_t>(here.callee)];
                    want = here.depth - in.l - FRAME_PROCEDURE_CELLS + (callee.function ? 1 : 0);
                }
                EXPECT_EQ(next.depth, want) << mnemonic(in.op);
            }
        }
    }
    for (int k = 0; k < OPCODE_COUNT; ++k)
        if (k != GET) {
            EXPECT_TRUE(met[static_cast<std::size_t>(k)]) << mnemonic(k);
        }
}
