// A watched run whose only watches are the budget, the pulse and the stop
// flag goes on the counted fast loop between the fetches where they are due
// (vm/traced.cpp).  None of that may show: here the same runs are made on
// it and on the plain loop alone, with pulses of short and long periods,
// budgets at, just below and just above a run's count and everywhere in
// between (inside the fast loop's fused steps), and a stop flag the
// writer sets, and everything a caller can see is compared: the output,
// how and where the run ended, its count, what each pulse saw, the
// registers and the stack.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "driver/api.hpp"
#include "random_code.hpp"
#include "vm/code.hpp"
#include "vm/machine.hpp"
#include "wild_references.hpp"

namespace {

// What a pulse saw: the registers, and how much output had come by then.
struct Seen {
    std::int32_t p = 0, t = 0, b = 0;
    std::size_t out = 0;
    bool operator==(const Seen& o) const {
        return p == o.p && t == o.t && b == o.b && out == o.out;
    }
};

// The watches of one run.
struct Watches {
    std::uint64_t every = 0;  // the pulse's period (0: no pulse)
    std::uint64_t budget = 0; // 0: none
    std::size_t stop_at = 0;  // the writer sets the stop flag at this many bytes (0: no flag)
};

// What a run showed.
struct Shown {
    std::string out;
    std::size_t stop_at = 0;
    std::atomic<bool> stop{false};
    std::vector<Seen> pulses; // the k-th made before instruction k * every began
    RunResult result;
    std::int32_t p = 0, t = 0, b = 0;
    std::vector<std::int32_t> cells; // the spare cell below s[0], then the stack
};

bool write_out(void* context, const char* bytes, std::size_t n) {
    auto* shown = static_cast<Shown*>(context);
    shown->out.append(bytes, n);
    if (shown->stop_at != 0 && shown->out.size() >= shown->stop_at)
        shown->stop.store(true, std::memory_order_relaxed);
    return true;
}

void on_pulse(void* context) {
    auto* shown = static_cast<Shown*>(context);
    shown->pulses.push_back(Seen{p, t, b, shown->out.size()});
}

// Runs the code store with `w`, on the counted loop where it can or on the
// plain loop alone.
void run(const std::string& input, const Watches& w, bool counted, Shown& shown,
         std::uint64_t least = LONGEST_STEP) {
    counted_runs = counted;
    counted_least = least;
    std::string_view rest = input;
    shown.stop_at = w.stop_at;
    RunOptions options;
    options.encoding = Encoding::utf8;
    options.input = view_reader(rest);
    options.output = Writer{write_out, &shown};
    // Each line goes to the writer as it is written, so that the flag it
    // sets stops the run before the next instruction.
    options.output_by_line = w.stop_at != 0;
    options.budget = w.budget;
    options.stop = w.stop_at != 0 ? &shown.stop : nullptr;
    if (w.every != 0) options.pulse = Pulse{on_pulse, &shown, w.every};
    options.engine = Engine::interpreter;
    shown.result = run_program(options);
    counted_runs = true;
    counted_least = 64;
    shown.p = p;
    shown.t = t;
    shown.b = b;
    shown.cells.assign(s - 1, s + STACK_SIZE);
}

std::string watches_text(const Watches& w) {
    return "pulse every " + std::to_string(w.every) + ", budget " + std::to_string(w.budget) +
           ", stop at byte " + std::to_string(w.stop_at);
}

// The same run on both loops; false (with a failure) when they differ.
bool same_on_both(const std::string& input, const Watches& w, const std::string& what,
                  std::uint64_t least = LONGEST_STEP) {
    Shown counted, plain;
    run(input, w, true, counted, least);
    run(input, w, false, plain);
    const std::string where = what + ", " + watches_text(w);
    EXPECT_EQ(counted.out, plain.out) << where;
    EXPECT_EQ(counted.result.end, plain.result.end) << where;
    EXPECT_EQ(counted.result.message, plain.result.message) << where;
    EXPECT_EQ(counted.result.pc, plain.result.pc) << where;
    EXPECT_EQ(counted.result.steps, plain.result.steps) << where;
    EXPECT_EQ(counted.result.call_pc, plain.result.call_pc) << where;
    EXPECT_TRUE(counted.pulses == plain.pulses)
        << where << ": " << counted.pulses.size() << " pulses counted, " << plain.pulses.size()
        << " plain";
    EXPECT_EQ(counted.p, plain.p) << where;
    EXPECT_EQ(counted.t, plain.t) << where;
    EXPECT_EQ(counted.b, plain.b) << where;
    EXPECT_TRUE(counted.cells == plain.cells) << where << ": the stacks differ";
    return !::testing::Test::HasFailure();
}

// Every comparison of the program in the code store, with the counted loop
// taking every stretch of LONGEST_STEP instructions or more: its count n (under
// `cap`, on the plain loop; those that reach it are given it as their
// budget where they have none of their own), then pulses of many periods, budgets at n - 1,
// n and n + 1, every budget in the last stretch before n and a few
// anywhere, and a stop flag set at a few points of its output.  The number
// of programs long enough for a stretch goes to `engaged`.
void compare_everywhere(const std::string& input, std::uint64_t cap, std::mt19937& rng,
                        const std::string& what, int& engaged) {
    Shown first;
    run(input, Watches{0, cap, 0}, false, first);
    const std::uint64_t n = first.result.steps;
    const bool ends = first.result.end != RunEnd::budget_spent;
    const std::uint64_t limit = ends ? 0 : cap; // a budget for runs that may not end
    if (n >= 2 * LONGEST_STEP) ++engaged;
    std::vector<Watches> all;
    for (std::uint64_t every : {1, 2, 3, 7, 64, 65, 100, 1000})
        all.push_back(Watches{every, limit, 0});
    std::vector<std::uint64_t> budgets = {n - 1, n, n + 1, n + 2};
    for (std::uint64_t k = n > 90 ? n - 90 : 1; k + 1 < n; ++k)
        budgets.push_back(k);
    for (int k = 0; k < 6 && n > 1; ++k)
        budgets.push_back(1 + rng() % n);
    for (std::uint64_t budget : budgets) {
        if (budget == 0) continue;
        all.push_back(Watches{0, budget, 0});
        if (budget % 3 == 0) all.push_back(Watches{70, budget, 0});
    }
    const std::size_t bytes = first.out.size();
    if (bytes > 0) {
        for (std::size_t at : {std::size_t{1}, bytes / 2 + 1, bytes})
            all.push_back(Watches{ends ? 0u : 1000u, limit, at});
    }
    for (const Watches& w : all)
        if (!same_on_both(input, w, what)) return;
}

void load(const std::vector<Instruction>& prog) {
    reset_code();
    for (const Instruction& in : prog)
        code[cx++] = in;
}

std::string listing(const std::vector<Instruction>& prog) {
    std::string text;
    for (const Instruction& in : prog)
        text += std::to_string(static_cast<int>(in.op)) + " " + std::to_string(in.l) + "," +
                std::to_string(in.a) + "; ";
    return text;
}

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const char* const NUMBERS = "3 5 8 13 2 1 0 -4 7 9 11 6 4 2 10 12 1 1 1 1\n";

} // namespace

TEST(CountedLoop, RandomCodeOfFusedRunsShowsWhatThePlainLoopShows) {
    std::mt19937 rng(20261211);
    int engaged = 0;
    for (int k = 0; k < 400; ++k) {
        std::vector<Instruction> prog = random_program(rng);
        load(prog);
        compare_everywhere("", 1000000, rng, "random program " + listing(prog), engaged);
        if (HasFailure()) return;
    }
    EXPECT_GT(engaged, 60); // enough runs long enough for the counted loop
}

TEST(CountedLoop, AnyCodeShowsWhatThePlainLoopShows) {
    std::mt19937 rng(1211);
    int engaged = 0;
    for (int k = 0; k < 2000; ++k) {
        std::vector<Instruction> prog = arbitrary_store(rng);
        std::string input = arbitrary_input(rng);
        load(prog);
        compare_everywhere(input, 5000, rng, "code " + listing(prog) + " input " + input, engaged);
        if (HasFailure()) return;
    }
    EXPECT_GT(engaged, 60);
}

TEST(CountedLoop, CompiledProgramsShowWhatThePlainLoopShows) {
    std::vector<std::string> paths;
    for (const char* dir : {"/examples", "/fuzz/seeds"})
        for (const auto& entry :
             std::filesystem::directory_iterator(std::string(TSUMIKI_SOURCE_DIR) + dir))
            if (entry.path().extension() == ".tsu") paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
    std::mt19937 rng(7);
    int engaged = 0;
    int compiled = 0;
    for (const std::string& path : paths) {
        if (compile_text(file_text(path), utf8_compile_options()).error != ErrorKind::none)
            continue;
        ++compiled;
        compare_everywhere(NUMBERS, 200000, rng, path, engaged);
        if (HasFailure()) return;
    }
    EXPECT_GT(compiled, 12);
    EXPECT_GT(engaged, 12);
}

TEST(CountedLoop, WildReferencesShowWhatThePlainLoopShows) {
    std::mt19937 rng(36);
    int engaged = 0;
    for (int index = -3; index <= 36; index += 3) {
        for (std::int32_t value : {0, 17, 2000000000}) {
            WildReference w;
            w.index = index;
            w.value = value;
            w.before = value != 17;
            w.after = value != 0;
            const std::string source = wild_reference_program(w);
            ASSERT_EQ(compile_text(source, utf8_compile_options()).error, ErrorKind::none);
            compare_everywhere("", 200000, rng,
                               "a[" + std::to_string(index) + "] := " + std::to_string(value),
                               engaged);
            if (HasFailure()) return;
        }
    }
    EXPECT_GT(engaged, 20);
}

// The playground's runs: a pulse every 10,000 instructions on a long run.
TEST(CountedLoop, ALongRunWithThePlaygroundsPulse) {
    const char* source = "program p;\nvar i, s;\nbegin\n  i := 0; s := 0;\n"
                         "  while i < 30000 do begin s := s + i * 3; i := i + 1 end;\n"
                         "  write(s)\nend.\n";
    ASSERT_EQ(compile_text(source, utf8_compile_options()).error, ErrorKind::none);
    for (std::uint64_t every : {10000, 9999, 4097})
        ASSERT_TRUE(same_on_both("", Watches{every, 0, 0}, "a long loop", 64));
    Shown shown;
    run("", Watches{10000, 0, 0}, true, shown, 64);
    EXPECT_EQ(shown.out, "1349955000\n");
    EXPECT_EQ(shown.pulses.size(), shown.result.steps / 10000);
}
