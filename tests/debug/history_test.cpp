// The session's steps against the run trace, and its history: forward, a
// session stops exactly at the states `tsumiki-inspect trace` prints, in
// order; backward, at the same states in reverse, whole (every cell, the
// output, the input); and forward again, the same once more.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support.hpp"

namespace {

struct Example {
    const char* name;
    bool input;
};

// For the names of failing tests.
void PrintTo(const Example& example, std::ostream* out) {
    *out << example.name;
}

class EveryExample : public testing::TestWithParam<Example> {};

// Steps forward one instruction at a time to the end, then back to the
// start, then forward again.
void check_both_ways(DebugSession& session, const std::vector<std::uint64_t>& trace,
                     const std::string& out) {
    std::vector<std::uint64_t> whole;
    std::size_t k = 0;
    Stop stop = session.restart();
    while (stop.reason != StopReason::exited) {
        ASSERT_TRUE(stop.reason == StopReason::entry || stop.reason == StopReason::step)
            << "stop " << static_cast<int>(stop.reason) << " at state " << k;
        ASSERT_LT(k, trace.size());
        ASSERT_EQ(trace_state(session), trace[k]) << "state " << k << " differs from the trace";
        whole.push_back(whole_state(session));
        ++k;
        stop = session.run(Motion::stepi);
    }
    EXPECT_EQ(stop.exit_status, 0);
    EXPECT_EQ(k, trace.size()) << "the trace has more states";
    EXPECT_EQ(session.output(), out);
    whole.push_back(whole_state(session));

    // Back over every instruction, HLT first.
    for (std::size_t i = whole.size() - 1; i-- > 0;) {
        stop = session.run(Motion::reverse_stepi);
        ASSERT_EQ(stop.reason, StopReason::step) << "going back to state " << i;
        ASSERT_EQ(whole_state(session), whole[i]) << "state " << i << " not restored";
    }
    EXPECT_EQ(session.history().position, 0u);
    EXPECT_EQ(session.run(Motion::reverse_stepi).reason, StopReason::history_start);
    EXPECT_EQ(session.output(), "");

    // And forward again: the same run.
    for (std::size_t i = 1; i < whole.size(); ++i) {
        stop = session.run(Motion::stepi);
        ASSERT_EQ(whole_state(session), whole[i]) << "state " << i << " when run again";
    }
    EXPECT_EQ(stop.reason, StopReason::exited);
}

TEST_P(EveryExample, StopsAtTheTraceStatesForwardAndBackward) {
    const Example& example = GetParam();
    std::string base = std::string("examples/") + example.name;
    std::string input = example.input ? source_file(base + ".in") : "";
    std::string expected = source_file(base + ".out");

    DebugSession session;
    std::string shown;
    open_program(session, source_file(base + ".tsu"), input, &shown);
    std::vector<std::uint64_t> trace = traced_states(input);
    ASSERT_FALSE(trace.empty());
    check_both_ways(session, trace, expected);
    // The output went to the front end once, though it was written twice.
    EXPECT_EQ(shown, expected);
}

INSTANTIATE_TEST_SUITE_P(Session, EveryExample,
                         testing::Values(Example{"arithmetic", false}, Example{"gcd", false},
                                         Example{"hello", false}, Example{"nested", false},
                                         Example{"primes", false}, Example{"recursion", false},
                                         Example{"sort", false}, Example{"stats", true}),
                         [](const testing::TestParamInfo<Example>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
