// The native tier against the interpreter: thousands of generated code
// stores (wild levels and offsets, stores through any address, jumps
// anywhere, calls and returns through corrupted cells, recursion to the
// stack limit, division by zero, every kind of input) and source programs,
// run by both engines; everything a caller can see must be the same: the
// output bytes, how the run ended, the message, the instruction, the
// registers and all 1000 cells.
//
// Linked with the traced build, whose interpreter honours an instruction
// budget: the interpreter runs first with one, and a program that does not
// end within it (an endless loop) is left out, since the native tier has no
// budget.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "driver/api.hpp"
#include "vm/code.hpp"
#include "vm/machine.hpp"

namespace {

constexpr std::int32_t INT_MIN32 = -2147483647 - 1;
constexpr std::int32_t INT_MAX32 = 2147483647;
constexpr std::uint64_t BUDGET = 20'000;

// Everything a run leaves behind.
struct Seen {
    std::string out;
    RunEnd end = RunEnd::halted;
    std::string message;
    std::int32_t pc = 0, p = 0, b = 0, t = 0;
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

Seen run_on(Engine engine, std::string_view input, std::size_t room, std::uint64_t budget) {
    Limited sink{{}, room};
    RunOptions options;
    options.encoding = Encoding::utf8;
    options.input = view_reader(input);
    options.output = Writer{write_limited, &sink};
    options.engine = engine;
    options.budget = budget;
    RunResult r = run_program(options);
    Seen seen;
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

std::string listing() {
    std::string text;
    for (int i = 0; i < cx; ++i)
        text += std::to_string(i) + ": " + mnemonic(code[i].op) + "(" + std::to_string(code[i].l) +
                "," + std::to_string(code[i].a) + ")\n";
    return text;
}

// Runs the code store on both engines; false (and a failure) when they
// differ.  A run the interpreter does not end within the budget counts as
// skipped.  `room`: the bytes of output the writer takes.
struct Tally {
    int compared = 0;
    int skipped = 0;
};
bool same_on_both(std::string_view input, std::size_t room, Tally& tally) {
    // Whether the run ends, with room for all its output: the end of a
    // budget shows only while output can still be written.
    if (run_on(Engine::interpreter, input, 1u << 20, BUDGET).end == RunEnd::budget_spent) {
        ++tally.skipped;
        return true;
    }
    Seen by_interpreter = run_on(Engine::interpreter, input, room, BUDGET);
    ++tally.compared;
    Seen native = run_on(Engine::native, input, room, 0);
    const Seen& i = by_interpreter;
    const Seen& n = native;
    // Registers mean something only where the run ended by itself.
    bool registers = i.end == RunEnd::halted || i.end == RunEnd::runtime_error;
    bool same = i.out == n.out && i.end == n.end && i.message == n.message && i.pc == n.pc &&
                (!registers || (i.p == n.p && i.b == n.b && i.t == n.t && i.ir.op == n.ir.op &&
                                i.ir.l == n.ir.l && i.ir.a == n.ir.a)) &&
                i.cells == n.cells;
    EXPECT_TRUE(same) << listing() << "input: " << std::string(input) << "\ninterpreter: end "
                      << static_cast<int>(i.end) << " pc " << i.pc << " p " << i.p << " b " << i.b
                      << " t " << i.t << " " << i.message << i.out.size() << " bytes\nnative:      end "
                      << static_cast<int>(n.end) << " pc " << n.pc << " p " << n.p << " b " << n.b
                      << " t " << n.t << " " << n.message << n.out.size() << " bytes";
    return same;
}

const char* const inputs[] = {
    "",        "7",         " -12\n34\n",  "+",      "-x",    "abc",        "2147483648 -2147483649",
    "99999999999", "  \n\t 3 4 5 6 7 8 9 10", "1 2 x", "0 0 0", "+-1", "-0\n", "12a 13",
};

// A random code store: wild but plausible, biased towards what the
// compiler makes and towards the edges of every test the machine makes.
class Generator {
public:
    explicit Generator(std::uint32_t seed) : rng_(seed) {}

    int pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }

    std::int32_t constant() {
        const std::int32_t edges[] = {0, 1, -1, 2, 3, 996, 997, 998, 999, 1000, INT_MIN32, INT_MAX32};
        switch (pick(4)) {
        case 0: return edges[pick(12)];
        case 1: return static_cast<std::int32_t>(rng_());
        default: return pick(20) - 5;
        }
    }
    std::int32_t level() {
        switch (pick(8)) {
        case 0: return pick(40);
        case 1: return -pick(3);
        default: return pick(4);
        }
    }
    std::int32_t offset(int frame) {
        switch (pick(8)) {
        case 0: return constant();
        case 1: return 990 + pick(12);
        default: return pick(frame + 4);
        }
    }
    std::int32_t target(int size) {
        switch (pick(12)) {
        case 0: return size + pick(3);
        case 1: return -1 - pick(2);
        default: return pick(size);
        }
    }

    Instruction instruction(int size, int frame) {
        switch (pick(24)) {
        case 0:
        case 1:
        case 2: return {LDC, 0, constant()};
        case 3:
        case 4: return {OPR, 0, pick(10) == 0 ? pick(9) - 1 : 1 + pick(5)};
        case 5: return {COP, 0, pick(10) == 0 ? pick(9) - 1 : 1 + pick(6)};
        case 6:
        case 7:
        case 8: return {LOD, level(), offset(frame)};
        case 9:
        case 10: return {STR, level(), offset(frame)};
        case 11: return {UJP, 0, target(size)};
        case 12:
        case 13: return {FJP, 0, target(size)};
        case 14: return {RET, 0, 0};
        case 15: return {MST, level(), pick(6) == 0 ? offset(frame) : 3 + pick(2)};
        case 16: return {ENT, 0, pick(6) == 0 ? offset(frame) : frame};
        case 17: return {pick(8) == 0 ? HLT : GET, 0, 0};
        case 18: return {PUT, 0, 0};
        case 19: return {LDA, level(), offset(frame)};
        case 20: return {IND, 0, pick(3) == 0 ? offset(frame) : 0};
        case 21: return {STO, 0, 0};
        case 22: return {FRT, 0, 0};
        default:
            if (pick(20) == 0) return {static_cast<Opcode>(OPCODE_COUNT + pick(200)), 0, 0};
            return {CUP, pick(8) == 0 ? constant() : pick(4), target(size)};
        }
    }

    // A store of random instructions behind ENT, now and then with a
    // recursive routine that fills the stack to the limit.
    void store() {
        reset_code();
        int size = 4 + pick(40);
        int frame = pick(6) == 0 ? 990 + pick(10) : 3 + pick(20);
        std::vector<Instruction> prog;
        prog.push_back({ENT, 0, frame});
        if (pick(4) == 0) {
            // main: MST; args; CUP r; PUT; HLT.  r: ENT; body; MST; CUP r; FRT
            int args = pick(3);
            int r = 4 + args;
            prog.push_back({MST, 0, 3 + pick(2)});
            for (int k = 0; k < args; ++k)
                prog.push_back({LDC, 0, constant()});
            prog.push_back({CUP, args, r});
            prog.push_back({PUT, 0, 0});
            prog.push_back({ENT, 0, 3 + args + pick(4)});
            int body = pick(6);
            for (int k = 0; k < body; ++k)
                prog.push_back(instruction(size, 4));
            prog.push_back({MST, pick(3), 3 + pick(2)});
            for (int k = 0; k < args; ++k)
                prog.push_back({LOD, 0, 3 + k});
            prog.push_back({CUP, args, r});
            prog.push_back({pick(2) == 0 ? FRT : RET, 0, 0});
        }
        while (static_cast<int>(prog.size()) < size)
            prog.push_back(instruction(size, frame));
        if (pick(3) != 0) prog.push_back({HLT, 0, 0});
        for (const Instruction& in : prog)
            generate_code(in.op, in.l, in.a);
    }

    std::string_view input() { return inputs[pick(sizeof inputs / sizeof inputs[0])]; }
    std::size_t room() { return pick(10) == 0 ? static_cast<std::size_t>(pick(40)) : 1u << 20; }

private:
    std::mt19937 rng_;
};

TEST(Native, RandomCodeStoresRunAsOnTheInterpreter) {
    Tally tally;
    Generator gen(20261209);
    for (int k = 0; k < 6000; ++k) {
        gen.store();
        if (!same_on_both(gen.input(), gen.room(), tally)) break;
    }
    // Most stores end by themselves.
    EXPECT_GT(tally.compared, 4500);
}

} // namespace
