// Counted loops the optimising tier sums in closed form, against the plain
// loop: random programs with such a loop (counters and bounds near both
// ends of the 32-bit range, steps up to 2^31 - 1 either way, loops that
// never turn, that wrap around and go on, several sums), and loops just
// outside the class, which the tier must leave as loops.  Each is compared
// byte for byte (the output, and the cells up to the top of the stack at
// the end) and its listing says whether the loop was summed.
//
// Linked with the traced build: its plain loop, with an instruction
// budget, is the reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "driver/api.hpp"
#include "vm/engine.hpp"
#include "vm/machine.hpp"

namespace {

constexpr std::uint64_t SUM_BUDGET = 40'000'000;

struct Ran {
    std::string out;
    RunEnd end = RunEnd::halted;
    std::vector<std::int32_t> cells; // up to t
};

bool append(void* context, const char* bytes, std::size_t n) {
    static_cast<std::string*>(context)->append(bytes, n);
    return true;
}

Ran run_with(Engine engine, const std::string& input, std::uint64_t budget) {
    Ran ran;
    std::string_view rest = input;
    RunOptions options;
    options.encoding = Encoding::utf8;
    options.input = view_reader(rest);
    options.output = Writer{append, &ran.out};
    options.engine = engine;
    options.budget = budget;
    RunResult r = run_program(options);
    ran.end = r.end;
    if (t >= 0 && t < STACK_SIZE) ran.cells.assign(s, s + t + 1);
    return ran;
}

// Compiles `source`, checks that the tier sums a loop of it exactly when
// `summed`, and that every engine does what the plain loop does.  False
// when the plain loop did not end within the budget.
bool sums_agree(const std::string& source, const std::string& input, bool summed) {
    CompileOptions options;
    options.encoding = Encoding::utf8;
    if (compile_text(source, options).error != ErrorKind::none) {
        ADD_FAILURE() << "does not compile:\n" << source;
        return false;
    }
    std::string why;
    std::string listing = list_optimised(why);
    EXPECT_EQ(listing.find("summed") != std::string::npos, summed)
        << (summed ? "not summed:\n" : "summed:\n") << source << why;
    Ran exact = run_with(Engine::interpreter, input, SUM_BUDGET);
    if (exact.end == RunEnd::budget_spent) return false;
    auto compare = [&](Engine e, const std::string& how) {
        Ran other = run_with(e, input, 0);
        EXPECT_EQ(exact.out, other.out) << how << "\n" << source << "input:\n" << input;
        EXPECT_TRUE(exact.end == other.end && exact.cells == other.cells) << how << "\n"
                                                                          << source << "input:\n"
                                                                          << input;
    };
    compare(Engine::optimising, "optimising");
    // The tiered engine moving up at the program's start, or at the loop's
    // head after a few turns on the native tier.
    const TierSettings settings = tier_settings;
    tier_settings = TierSettings{0, 0, 0, 200, true};
    tier_settings.compile_here_up_to = 1 << 30;
    for (int first : {0, 2, 7}) {
        tier_settings.first_loops = first;
        compare(Engine::tiered, "tiered from " + std::to_string(first));
    }
    tier_settings = settings;
    return true;
}

// A loop of the class and the values it starts from.
struct Counted {
    std::int32_t k0 = 0, n = 0, a = 0, b = 0, s0 = 0, u0 = 0;
    std::int32_t step = 1;      // c
    int comparison = 0;         // 0 <, 1 <=, 2 > (n > k, mirrored when down), 3 >=
    bool down = false;          // k := k - c, tested with > or >=
    bool bound_shifted = false; // compared with n + 3 rather than n
};

std::int32_t wrap(std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

// The loop's turns, run on its counter alone; -1 past `most`.  `wrapped`
// says whether the counter went past an end of the range on the way.
std::int64_t turns(const Counted& c, std::int64_t most, bool* wrapped = nullptr) {
    std::int32_t bound = c.bound_shifted ? wrap(std::int64_t{c.n} + 3) : c.n;
    std::uint32_t k = static_cast<std::uint32_t>(c.k0);
    for (std::int64_t t = 0;; ++t) {
        std::int32_t x = static_cast<std::int32_t>(k);
        bool holds = c.down ? (c.comparison % 2 == 0 ? x > bound : x >= bound)
                            : (c.comparison % 2 == 0 ? x < bound : x <= bound);
        if (!holds) return t;
        if (t >= most) return -1;
        std::int64_t next = std::int64_t{x} + (c.down ? -std::int64_t{c.step} : c.step);
        if (wrapped != nullptr && next != wrap(next)) *wrapped = true;
        k += c.down ? 0u - static_cast<std::uint32_t>(c.step) : static_cast<std::uint32_t>(c.step);
    }
}

class Generator {
  public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    // A value near 0, near either end of the range, or anywhere.
    std::int32_t edge() {
        const std::int32_t most = std::numeric_limits<std::int32_t>::max();
        const std::int32_t least = std::numeric_limits<std::int32_t>::min();
        switch (below(4)) {
        case 0: return below(41) - 20;
        case 1: return most - below(20);
        case 2: return least + below(20);
        default: return static_cast<std::int32_t>(rng_());
        }
    }

    std::int32_t step() {
        switch (below(6)) {
        case 0:
        case 1: return 1;
        case 2: return 2 + below(6);
        case 3: return 1 + below(1000);
        default: return (1 << 28) + static_cast<std::int32_t>(rng_() % (1u << 30)) + below(2);
        }
    }

    // A loop whose plain run ends within `most` turns.
    Counted loop(std::int64_t most) {
        for (;;) {
            Counted c;
            c.step = step();
            c.down = below(2) == 0;
            c.comparison = below(4);
            c.bound_shifted = below(5) == 0;
            c.k0 = edge();
            if (below(2) == 0) {
                // A bound some turns away (or behind: no turn).
                std::int64_t d = std::int64_t{c.step} * (below(8) == 0 ? below(90000) : below(60));
                d -= below(3) * std::int64_t{c.step};
                c.n = wrap(std::int64_t{c.k0} + (c.down ? -d : d));
            } else {
                c.n = edge();
            }
            c.a = edge();
            c.b = edge();
            c.s0 = edge();
            c.u0 = edge();
            if (most > 100000) {
                // Over 92682 turns: cnt*(cnt-1)/2 passes 2^32.
                c.step = 1 + below(3);
                std::int64_t d = std::int64_t{c.step} * (92683 + below(100000));
                c.n = wrap(std::int64_t{c.k0} + (c.down ? -d : d));
            }
            if (turns(c, most) >= 0) return c;
        }
    }

    // An expression at most linear in k (when `linear`), of a, b, n and
    // small constants.
    std::string affine(bool linear, int depth = 0) {
        int pick = below(depth > 2 ? 3 : 7);
        switch (pick) {
        case 0: return linear ? "k" : "a";
        case 1: return below(2) ? "b" : "n";
        case 2: return std::to_string(below(50));
        case 3: return "(" + affine(linear, depth + 1) + " + " + affine(linear, depth + 1) + ")";
        case 4: return "(" + affine(linear, depth + 1) + " - " + affine(linear, depth + 1) + ")";
        case 5:
            return below(2) ? affine(linear, depth + 1) + " * " + affine(false, depth + 1)
                            : affine(false, depth + 1) + " * " + affine(linear, depth + 1);
        default: return "(0 - " + affine(linear, depth + 1) + ")";
        }
    }

    // A sum's assignment: the sum added once to the expression.
    std::string sum(const std::string& v) {
        std::string e = affine(true);
        switch (below(3)) {
        case 0: return v + " := " + v + " + " + e;
        case 1: return v + " := " + e + " + " + v;
        default: return v + " := " + v + " - (" + e + ")";
        }
    }

    std::mt19937& rng() { return rng_; }

  private:
    std::mt19937 rng_;
};

// The program: its values read, the loop, the values it leaves written.
// `extra` replaces one statement of the body, or adds one.
std::string program(Generator& g, const Counted& c, int sums, const std::string& extra = "") {
    static const char* const up_tests[] = {"k < ", "k <= ", " > k", " >= k"};
    static const char* const down_tests[] = {"k > ", "k >= ", " < k", " <= k"};
    std::string bound = c.bound_shifted ? "(n + 3)" : "n";
    const char* t = (c.down ? down_tests : up_tests)[c.comparison];
    std::string test = c.comparison < 2 ? t + bound : bound + t;
    std::string step = std::to_string(c.step);
    std::vector<std::string> body;
    body.push_back(c.down ? "k := k - " + step
                          : (g.below(2) ? "k := k + " + step : "k := " + step + " + k"));
    const char* names[] = {"s", "u", "w"};
    for (int j = 0; j < sums; ++j)
        body.push_back(g.sum(names[j]));
    std::shuffle(body.begin(), body.end(), g.rng());
    if (!extra.empty())
        body.insert(body.begin() + g.below(static_cast<int>(body.size()) + 1), extra);
    std::string text = "program p;\nvar k, n, a, b, s, u, w, x, v[0..3];\nbegin\n"
                       "  read(k); read(n); read(a); read(b); read(s); read(u); w := 7; x := 0;\n"
                       "  v[1] := 0;\n"
                       "  while " +
                       test + " do\n  begin\n";
    for (std::size_t j = 0; j < body.size(); ++j)
        text += "    " + body[j] + (j + 1 < body.size() ? ";\n" : "\n");
    text += "  end;\n  write(k); write(s); write(u); write(w); write(x); write(v[1])\nend.\n";
    return text;
}

std::string input_of(const Counted& c) {
    std::string in;
    for (std::int32_t v : {c.k0, c.n, c.a, c.b, c.s0, c.u0})
        in += std::to_string(v) + "\n";
    return in;
}

TEST(ClosedForm, RandomCountedLoopsSumAsTheyTurn) {
    Generator g(20261211);
    int compared = 0, none = 0, many = 0, wrapped = 0;
    for (int round = 0; round < 2000; ++round) {
        Counted c = g.loop(round % 20 == 0 ? 300000 : 2000);
        bool wraps = false;
        std::int64_t n = turns(c, 300000, &wraps);
        none += n == 0 ? 1 : 0;
        wrapped += wraps ? 1 : 0;
        many += n > 92682 ? 1 : 0; // past that, cnt*(cnt-1)/2 passes 2^32
        if (sums_agree(program(g, c, 1 + g.below(3)), input_of(c), true)) ++compared;
    }
    EXPECT_EQ(compared, 2000);
    EXPECT_GT(none, 100);
    EXPECT_GT(many, 0);
    EXPECT_GT(wrapped, 5);
}

// Loops near the class that stay loops: what they do is not a sum of an
// affine expression of the counter, or not only that.
TEST(ClosedForm, LoopsJustOutsideTheClassStayLoops) {
    const char* const misses[] = {
        "x := k * 2",       // a variable stored that is not a sum
        "x := x + k * k",   // a sum of a square
        "s := s * 3 + k",   // a sum multiplied
        "u := k - u",       // a sum subtracted
        "v[1] := v[1] + k", // a store through an address
        "x := x + s",       // a sum that reads another sum
        "x := x + k div 3", // a division
        "k := k + 0",       // the counter stored twice a turn
    };
    Generator g(7);
    int compared = 0;
    for (const char* miss : misses) {
        for (int round = 0; round < 12; ++round) {
            Counted c = g.loop(2000);
            while (turns(c, 2000) == 0)
                c = g.loop(2000);
            compared += sums_agree(program(g, c, 1, miss), input_of(c), false);
        }
    }
    // A test of <>: not one the tier counts.
    for (int round = 0; round < 12; ++round) {
        Counted c = g.loop(2000);
        c.k0 = g.below(100) - 50;
        c.n = c.k0 + 7 * g.below(20);
        c.step = 7;
        c.down = false;
        std::string text = program(g, c, 2);
        std::size_t at = text.find("while ") + 6;
        text.replace(at, text.find(" do", at) - at, "k <> n");
        compared += sums_agree(text, input_of(c), false);
    }
    EXPECT_EQ(compared, 108);
}

// The bench's loops, and the tier's own corners: a sum in a procedure the
// tier inlines, a counter that wraps around past the 32-bit range and goes
// on, a loop that never turns.
TEST(ClosedForm, SumsInProceduresAndNestedLoops) {
    const char* nested = "program p;\nvar n, i, j, k, s;\nbegin\n  read(n); s := 0; i := 0;\n"
                         "  while i < n do begin j := 0;\n"
                         "    while j < n do begin k := 0;\n"
                         "      while k < n do begin s := s + i * k + j; k := k + 1 end;\n"
                         "      s := s - s div 1000003 * 1000003; j := j + 1 end;\n"
                         "    i := i + 1 end;\n  write(s)\nend.\n";
    EXPECT_TRUE(sums_agree(nested, "40\n", true));
    const char* inlined =
        "program p;\nvar t, r;\n"
        "procedure add(m);\nvar k;\n"
        "begin k := 0; while k <= m do begin t := t + 3 * k - 1; k := k + 2 end end;\n"
        "begin\n  t := 5; r := 0;\n  while r < 50 do begin add(r * 1000); r := r + 1 end;\n"
        "  write(t)\nend.\n";
    EXPECT_TRUE(sums_agree(inlined, "", true));
    // The longest step down, -2^31: a turn or none (from elsewhere it
    // goes back and forth for ever).
    const char* longest = "program p;\nvar k, s;\nbegin\n  read(k); s := 1;\n"
                          "  while k >= 0 - 2147483643 do\n"
                          "    begin s := s + 5 * k + 3; k := k - 2147483647 - 1 end;\n"
                          "  write(k); write(s)\nend.\n";
    for (const char* k0 : {"0\n", "4\n", "-2147483647\n", "-2147483644\n"})
        EXPECT_TRUE(sums_agree(longest, k0, true));
}

} // namespace
