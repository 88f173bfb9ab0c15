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
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "driver/api.hpp"
#include "limited_writer.hpp"
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

Seen run_on(Engine engine, std::string_view input, std::size_t room, std::uint64_t budget) {
    Limited sink{{}, room};
    RunResult r = run_into(sink, engine, input, budget);
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
                      << " t " << i.t << " " << i.message << i.out.size()
                      << " bytes\nnative:      end " << static_cast<int>(n.end) << " pc " << n.pc
                      << " p " << n.p << " b " << n.b << " t " << n.t << " " << n.message
                      << n.out.size() << " bytes";
    return same;
}

const char* const inputs[] = {
    "",
    "7",
    " -12\n34\n",
    "+",
    "-x",
    "abc",
    "2147483648 -2147483649",
    "99999999999",
    "  \n\t 3 4 5 6 7 8 9 10",
    "1 2 x",
    "0 0 0",
    "+-1",
    "-0\n",
    "12a 13",
};

// A random code store: wild but plausible, biased towards what the
// compiler makes and towards the edges of every test the machine makes.
class Generator {
  public:
    explicit Generator(std::uint32_t seed) : rng_(seed) {}

    int pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }

    std::int32_t constant() {
        const std::int32_t edges[] = {0,   1,   -1,  2,    3,         996,
                                      997, 998, 999, 1000, INT_MIN32, INT_MAX32};
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
        if (pick(3) == 0) straight(prog, frame);
        while (static_cast<int>(prog.size()) < size)
            prog.push_back(instruction(size, frame));
        if (pick(3) != 0) prog.push_back({HLT, 0, 0});
        for (const Instruction& in : prog)
            generate_code(in.op, in.l, in.a);
    }

    // A long straight run as the translator sees one: pushes and pops of
    // constants and frame cells near the ends of the stack and of the
    // frame, arithmetic on them (division by every kind of constant),
    // stores through addresses that may hit the cells just pushed, and a
    // comparison before a conditional jump.
    void straight(std::vector<Instruction>& prog, int frame) {
        if (pick(3) == 0) prog.push_back({ENT, 0, pick(2) == 0 ? 990 + pick(8) : pick(3) - 1});
        int depth = 0;
        for (int n = 8 + pick(24); n > 0; --n) {
            int k = pick(depth >= 2 ? 12 : 5);
            if (k < 2) {
                prog.push_back({LDC, 0, pick(3) == 0 ? constant() : pick(8) - 3});
                ++depth;
            } else if (k < 4) {
                // Near both ends of a frame and beyond them.
                std::int32_t a = pick(4) == 0   ? frame + pick(4) - 2
                                 : pick(2) == 0 ? pick(6)
                                                : 995 + pick(8);
                prog.push_back({LOD, pick(6) == 0 ? 1 : 0, pick(10) == 0 ? -1 - pick(3) : a});
                ++depth;
            } else if (k == 4) {
                prog.push_back({LDA, 0, pick(frame + 2)});
                ++depth;
            } else if (k < 8) {
                prog.push_back({pick(3) == 0 ? COP : OPR, 0, 1 + pick(pick(3) == 0 ? 6 : 4)});
                --depth;
            } else if (k == 8) {
                // In the frame, beyond the stack, or (one link out from
                // the main program's frame: cell a) on the cells just pushed.
                if (pick(3) == 0)
                    prog.push_back({STR, 1, frame + depth - pick(3)});
                else
                    prog.push_back({STR, 0, pick(2) == 0 ? pick(frame + 2) : 995 + pick(6)});
                --depth;
            } else if (k == 9) {
                // A store into one of the cells on top of the stack (an
                // address t-1 to t+2 as an index from b), or anywhere.
                prog.push_back({LDA, 0, pick(frame + 4)});
                prog.push_back({IND, 0, pick(3) - 1});
                prog.push_back({STO, 0, 0});
                depth -= 1;
            } else if (k == 10) {
                prog.push_back({LDC, 0, pick(2) == 0 ? constant() : pick(7) - 3});
                prog.push_back({OPR, 0, OPR_DIV});
            } else {
                prog.push_back({OPR, 0, OPR_NEG});
            }
        }
        if (pick(2) == 0) {
            prog.push_back({COP, 0, 1 + pick(6)});
            prog.push_back({FJP, 0, static_cast<std::int32_t>(prog.size()) + 1 + pick(3)});
        }
    }

    std::string_view input() { return inputs[pick(sizeof inputs / sizeof inputs[0])]; }
    std::size_t room() { return pick(10) == 0 ? static_cast<std::size_t>(pick(40)) : 1u << 20; }

  private:
    std::mt19937 rng_;
};

// A random source program: globals and an array, routines (some nested in
// others, reading the variables of enclosing blocks through static links),
// value and var parameters, recursion that may run to the stack limit,
// loops that may not end (left out by the budget), wild array indexes,
// division by zero and reads of every kind of input.
class SourceGenerator {
  public:
    explicit SourceGenerator(std::uint32_t seed) : rng_(seed) {}

    std::string program() {
        text_.clear();
        scopes_.clear();
        routines_.clear();
        scopes_.push_back({});
        low_ = pick(5);
        high_ = low_ + pick(6);
        text_ += "program p;\nvar g0, g1, g2, a[" + std::to_string(low_) + ".." +
                 std::to_string(high_) + "];\n";
        scopes_.back() = {"g0", "g1", "g2"};
        for (int r = pick(4); r > 0; --r)
            routine(1);
        text_ += "begin\n";
        statements(4 + pick(5), 0);
        text_ += "end.\n";
        return text_;
    }

  private:
    struct Routine {
        std::string name;
        bool function;
        std::vector<bool> by_reference;
        std::size_t depth; // the scopes it sees
    };

    int pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }

    std::string variable() {
        std::size_t depth = scopes_.size();
        for (;;) {
            const auto& scope = scopes_[static_cast<std::size_t>(pick(static_cast<int>(depth)))];
            if (!scope.empty())
                return scope[static_cast<std::size_t>(pick(static_cast<int>(scope.size())))];
        }
    }
    std::string place() {
        if (pick(4) == 0) return "a[" + index() + "]";
        return variable();
    }
    std::string index() {
        if (pick(8) == 0) return std::to_string(pick(2000) - 1000);
        if (pick(2) == 0) return std::to_string(low_ + pick(high_ - low_ + 1));
        return expression(1);
    }
    std::string number() {
        const char* edges[] = {"0", "1", "2", "7", "1000", "2147483647", "2147483648", "65536"};
        return pick(3) == 0 ? edges[pick(8)] : std::to_string(pick(20));
    }
    std::string call(bool function) {
        std::vector<const Routine*> fit;
        for (const Routine& r : routines_)
            if (r.function == function && r.depth <= scopes_.size()) fit.push_back(&r);
        if (fit.empty()) return function ? number() : "";
        const Routine& r = *fit[static_cast<std::size_t>(pick(static_cast<int>(fit.size())))];
        std::string text = r.name;
        if (!r.by_reference.empty()) {
            text += "(";
            for (std::size_t k = 0; k < r.by_reference.size(); ++k) {
                if (k > 0) text += ", ";
                text += r.by_reference[k] ? place() : expression(2);
            }
            text += ")";
        }
        return text;
    }
    std::string expression(int depth) {
        int kind = depth > 2 ? pick(3) : pick(9);
        switch (kind) {
        case 0: return number();
        case 1:
        case 2: return place();
        case 3: return "(-" + expression(depth + 1) + ")";
        case 4: return call(true);
        default: {
            const char* ops[] = {" + ", " - ", " * ", " div "};
            // One after the other: the order of a + b's operands is unspecified.
            std::string left = expression(depth + 1);
            std::string op = ops[pick(4)];
            return "(" + left + op + expression(depth + 1) + ")";
        }
        }
    }
    std::string condition() {
        const char* ops[] = {" = ", " <> ", " < ", " <= ", " > ", " >= "};
        std::string left = expression(1);
        std::string op = ops[pick(6)];
        return left + op + expression(1);
    }
    void statements(int n, int depth) {
        for (int k = 0; k < n; ++k) {
            if (k > 0) text_ += ";\n";
            statement(depth);
        }
        text_ += "\n";
    }
    void statement(int depth) {
        switch (depth > 2 ? pick(4) : pick(9)) {
        case 0: {
            std::string target = place();
            text_ += target + " := " + expression(0);
            break;
        }
        case 1: text_ += "write(" + expression(0) + ")"; break;
        case 2: text_ += "read(" + place() + ")"; break;
        case 3: {
            std::string c = call(false);
            text_ += c.empty() ? "write(" + expression(0) + ")" : c;
            break;
        }
        case 4:
        case 5:
            text_ += "if " + condition() + " then\nbegin\n";
            statements(1 + pick(3), depth + 1);
            text_ += "end";
            if (pick(2) == 0) {
                text_ += " else\nbegin\n";
                statements(1 + pick(2), depth + 1);
                text_ += "end";
            }
            break;
        default: {
            // A counted loop, now and then with a bound it may never reach.
            std::string v = variable();
            std::string test = pick(6) == 0 ? " <> " : " < ";
            text_ += v + " := 0;\nwhile " + v + test + std::to_string(pick(6)) + " do\nbegin\n";
            statements(1 + pick(3), depth + 1);
            text_ += ";\n" + v + " := " + v + " + 1\nend";
        }
        }
    }
    void routine(int level) {
        Routine r;
        r.function = pick(2) == 0;
        r.name = "r" + std::to_string(routines_.size());
        int params = pick(3);
        std::vector<std::string> names;
        std::string head = (r.function ? "function " : "procedure ") + r.name;
        if (params > 0) {
            head += "(";
            for (int k = 0; k < params; ++k) {
                bool ref = pick(3) == 0;
                r.by_reference.push_back(ref);
                std::string name = r.name + "p" + std::to_string(k);
                names.push_back(name);
                head += (k > 0 ? ", " : "") + std::string(ref ? "var " : "") + name;
            }
            head += ")";
        }
        text_ += head + ";\nvar " + r.name + "v;\n";
        names.push_back(r.name + "v");
        scopes_.push_back(names);
        r.depth = scopes_.size();
        std::size_t self = routines_.size();
        routines_.push_back(r); // callable from its own body: recursion
        if (level < 3 && pick(3) == 0) routine(level + 1);
        text_ += "begin\n";
        if (r.function) text_ += r.name + " := " + expression(1) + ";\n";
        statements(1 + pick(3), 1);
        text_ += "end;\n";
        scopes_.pop_back();
        // Seen from outside: callable where its declaring scope is; the
        // routines declared inside it are gone.
        routines_.resize(self + 1);
        routines_[self].depth = scopes_.size();
    }

    std::mt19937 rng_;
    std::string text_;
    std::vector<std::vector<std::string>> scopes_;
    std::vector<Routine> routines_;
    int low_ = 0, high_ = 0;
};

// Division by constants (the native code multiplies instead) of dividends
// known while translating, in a register and in memory, at the edges of
// 32 bits and of every power of two.
TEST(Native, DivisionsByConstantsAsOnTheInterpreter) {
    std::vector<std::int32_t> numbers = {INT_MIN32, INT_MIN32 + 1, INT_MAX32, INT_MAX32 - 1, 0, 1,
                                         -1};
    for (int k = 1; k < 31; ++k)
        for (std::int32_t d : {-1, 0, 1}) {
            std::int32_t power = static_cast<std::int32_t>(1u << k);
            numbers.push_back(power + d);
            numbers.push_back(-power + d);
        }
    for (std::int32_t n : {3, 7, 10, 641, 1000003, 65537, 1009, 2147483, 46341, 99999})
        numbers.push_back(n), numbers.push_back(-n), numbers.push_back(n * 7 + 1);
    Tally tally;
    for (std::int32_t divisor : numbers) {
        reset_code();
        generate_code(ENT, 0, 4);
        for (std::int32_t n : numbers) {
            generate_code(LDC, 0, n); // both constant
            generate_code(LDC, 0, divisor);
            generate_code(OPR, 0, OPR_DIV);
            generate_code(LDC, 0, n); // the dividend in memory: a run starts after FJP
            generate_code(LDC, 0, 1);
            generate_code(FJP, 0, cx + 1);
            generate_code(LDC, 0, divisor);
            generate_code(OPR, 0, OPR_DIV);
            generate_code(OPR, 0, OPR_SUB);
            generate_code(PUT, 0, 0);
            generate_code(LDC, 0, n);
            generate_code(STR, 0, 3);
            generate_code(LOD, 0, 3); // in a register
            generate_code(LDC, 0, 0);
            generate_code(OPR, 0, OPR_ADD);
            generate_code(LDC, 0, divisor);
            generate_code(OPR, 0, OPR_DIV);
            generate_code(PUT, 0, 0);
        }
        generate_code(HLT, 0, 0);
        if (!same_on_both("", 1u << 20, tally)) break;
    }
    EXPECT_EQ(tally.compared, static_cast<int>(numbers.size()));
}

TEST(Native, RandomCodeStoresRunAsOnTheInterpreter) {
    Tally tally;
    Generator gen(20261209);
    for (int k = 0; k < 6000; ++k) {
        gen.store();
        std::string_view input = gen.input();
        if (!same_on_both(input, gen.room(), tally)) break;
    }
    // Most stores end by themselves.
    EXPECT_GT(tally.compared, 4500);
    std::printf("%d stores run on both engines\n", tally.compared);
}

} // namespace

namespace {

TEST(Native, RandomProgramsRunAsOnTheInterpreter) {
    Tally tally;
    SourceGenerator gen(7);
    Generator inputs(8);
    int compiled = 0;
    for (int k = 0; k < 2000; ++k) {
        std::string source = gen.program();
        CompileOptions options;
        options.encoding = Encoding::utf8;
        if (compile_text(source, options).error != ErrorKind::none) continue;
        ++compiled;
        std::string_view input = inputs.input();
        if (!same_on_both(input, inputs.room(), tally)) {
            ADD_FAILURE() << source;
            break;
        }
    }
    EXPECT_GT(compiled, 1900);
    EXPECT_GT(tally.compared, 1000);
    std::printf("%d programs compiled, %d run on both engines\n", compiled, tally.compared);
}

} // namespace
