// The plain loop's watches fall on the same fetches however it is cut into
// slices (vm/traced.cpp): the pulse after every `every` instructions begun,
// the budget at exactly its count, and the stop flag at the fetch after the
// one where it was set, in runs far longer than a slice.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/api.hpp"
#include "vm/machine.hpp"

namespace {

// About 270,000 instructions: several slices.
const char* const LOOP = "program p;\nvar i;\nbegin\n  i := 0;\n  while i < 30000 do i := i + 1;\n"
                         "  write(i)\nend.\n";

struct Pulses {
    std::vector<std::int32_t> at; // p at each pulse: the instruction fetched next
    std::atomic<bool> stop{false};
    std::size_t stop_after = 0; // set the stop flag at this pulse (0: never)
};

void record(void* context) {
    auto* pulses = static_cast<Pulses*>(context);
    pulses->at.push_back(p);
    if (pulses->at.size() == pulses->stop_after) pulses->stop.store(true);
}

bool discard(void*, const char*, std::size_t) {
    return true;
}

RunResult run_watched(Pulses& pulses, std::uint64_t every, std::uint64_t budget) {
    RunOptions options;
    options.encoding = Encoding::utf8;
    options.output = Writer{discard, nullptr};
    options.pulse = Pulse{record, &pulses, every};
    options.budget = budget;
    options.stop = &pulses.stop;
    return run_program(options);
}

class Watches : public ::testing::Test {
  protected:
    void SetUp() override {
        CompileOptions options;
        options.encoding = Encoding::utf8;
        ASSERT_EQ(compile_text(LOOP, options).error, ErrorKind::none);
        // A pulse before every fetch: the instruction of each.
        RunResult r = run_watched(every_fetch, 1, 0);
        ASSERT_EQ(r.end, RunEnd::halted);
        steps = r.steps;
        ASSERT_EQ(every_fetch.at.size(), steps);
        ASSERT_GT(steps, 4u * 65536u);
    }
    Pulses every_fetch;
    std::uint64_t steps = 0;
};

TEST_F(Watches, ThePulseComesAfterEveryEveryInstructions) {
    for (std::uint64_t every : {0u, 2u, 7u, 10000u, 65535u, 65536u, 65537u, 70000u}) {
        SCOPED_TRACE(every);
        Pulses pulses;
        RunResult r = run_watched(pulses, every, 0);
        EXPECT_EQ(r.end, RunEnd::halted);
        EXPECT_EQ(r.steps, steps);
        std::vector<std::int32_t> expected;
        const std::uint64_t k = every == 0 ? 1 : every;
        for (std::uint64_t j = k - 1; j < steps; j += k)
            expected.push_back(every_fetch.at[j]);
        EXPECT_EQ(pulses.at, expected);
    }
}

TEST_F(Watches, TheBudgetEndsTheRunAtExactlyItsCount) {
    for (std::uint64_t budget : {1u, 2u, 65535u, 65536u, 65537u, 131073u, 200001u}) {
        SCOPED_TRACE(budget);
        for (std::uint64_t every : {0u, 3u, 70000u}) {
            Pulses pulses;
            RunResult r = run_watched(pulses, every, budget);
            EXPECT_EQ(r.end, RunEnd::budget_spent);
            EXPECT_EQ(r.steps, budget);
            // Stopped before the fetch of instruction number budget + 1.
            EXPECT_EQ(p, every_fetch.at[budget]);
            const std::uint64_t k = every == 0 ? 1 : every;
            EXPECT_EQ(pulses.at.size(), budget / k);
        }
    }
    // A budget as long as the run or longer leaves it alone.
    Pulses pulses;
    EXPECT_EQ(run_watched(pulses, 70000, steps).end, RunEnd::halted);
}

TEST_F(Watches, AStopFlagSetByAPulseEndsTheRunAtTheNextFetch) {
    for (std::uint64_t every : {1u, 70000u}) {
        SCOPED_TRACE(every);
        Pulses pulses;
        pulses.stop_after = 3;
        RunResult r = run_watched(pulses, every, 0);
        EXPECT_EQ(r.end, RunEnd::stopped);
        // The instruction fetched at the third pulse ran; the next did not.
        EXPECT_EQ(r.steps, 3 * every);
        EXPECT_EQ(p, every_fetch.at[3 * every]);
    }
}

} // namespace
