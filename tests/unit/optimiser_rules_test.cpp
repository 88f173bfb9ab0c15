// The optimising translator's rewrites of sums, differences and products,
// one rule at a time on terms of the test's own: what each makes of its
// input, that it leaves alone what is not its own, and that constants
// fold as the interpreter computes them, wrapping in 32 bits.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "vm/effects.hpp"
#include "vm/optimiser_rules.hpp"

using namespace optimising;

namespace {

constexpr std::int32_t MOST = INT32_MAX;
constexpr std::int32_t LEAST = INT32_MIN;

// Terms in a vector; an expression written back as text to compare.
class Table : public Terms {
  public:
    Term term(int n) const override { return all[static_cast<std::size_t>(n)]; }
    int constant(std::int32_t k) override { return add(Term{N_CONST, k, -1, -1}); }
    int operation(NodeKind kind, int left, int right) override {
        return add(Term{kind, 0, left, right});
    }
    int var() { return add(Term{N_VAR, 0, -1, -1}); }
    int op(NodeKind kind, int left, int right) { return operation(kind, left, right); }

    std::string text(int n) const {
        if (n < 0) return "none";
        const Term& x = all[static_cast<std::size_t>(n)];
        switch (x.kind) {
        case N_CONST: return std::to_string(x.k);
        case N_VAR: return "x";
        case N_ADD: return "(" + text(x.left) + " + " + text(x.right) + ")";
        case N_SUB: return "(" + text(x.left) + " - " + text(x.right) + ")";
        case N_MUL: return "(" + text(x.left) + " * " + text(x.right) + ")";
        default: return "?";
        }
    }

  private:
    int add(const Term& t) {
        all.push_back(t);
        return static_cast<int>(all.size()) - 1;
    }
    std::vector<Term> all;
};

// What `rule` makes of left kind right, as text.
template <class Make> std::string after(BinaryRule rule, NodeKind kind, Make operands) {
    Table t;
    auto [l, r] = operands(t);
    return t.text(rule(t, kind, l, r));
}

// The operands x and k, and k and x, for `after`.
auto x_and(std::int32_t k) {
    return [=](Table& t) { return std::pair{t.var(), t.constant(k)}; };
}
auto k_and_x(std::int32_t k) {
    return [=](Table& t) { return std::pair{t.constant(k), t.var()}; };
}

} // namespace

TEST(OptimiserRules, FoldConstants) {
    auto two = [](std::int32_t a, std::int32_t b) {
        return [=](Table& t) { return std::pair{t.constant(a), t.constant(b)}; };
    };
    EXPECT_EQ(after(fold_constants, N_ADD, two(2, 3)), "5");
    EXPECT_EQ(after(fold_constants, N_SUB, two(2, 3)), "-1");
    EXPECT_EQ(after(fold_constants, N_MUL, two(-4, 3)), "-12");
    // Wrapping, as the machine's arithmetic does.
    EXPECT_EQ(after(fold_constants, N_ADD, two(MOST, 1)), std::to_string(LEAST));
    EXPECT_EQ(after(fold_constants, N_SUB, two(LEAST, 1)), std::to_string(MOST));
    EXPECT_EQ(after(fold_constants, N_MUL, two(LEAST, -1)), std::to_string(LEAST));
    EXPECT_EQ(after(fold_constants, N_MUL, two(65536, 65536)), "0");
    EXPECT_EQ(after(fold_constants, N_ADD, x_and(1)), "none");
}

TEST(OptimiserRules, SubtractAsAdd) {
    EXPECT_EQ(after(subtract_as_add, N_SUB, x_and(5)), "(x + -5)");
    // The most negative value is its own negation.
    EXPECT_EQ(after(subtract_as_add, N_SUB, x_and(LEAST)), "(x + " + std::to_string(LEAST) + ")");
    EXPECT_EQ(after(subtract_as_add, N_SUB, x_and(0)), "x");
    EXPECT_EQ(after(subtract_as_add, N_ADD, x_and(5)), "none");
}

TEST(OptimiserRules, ConstantToTheRight) {
    EXPECT_EQ(after(constant_to_the_right, N_ADD, k_and_x(3)), "(x + 3)");
    EXPECT_EQ(after(constant_to_the_right, N_MUL, k_and_x(3)), "none");
}

TEST(OptimiserRules, AddZero) {
    EXPECT_EQ(after(add_zero, N_ADD, x_and(0)), "x");
    EXPECT_EQ(after(add_zero, N_ADD, x_and(1)), "none");
    EXPECT_EQ(after(add_zero, N_MUL, x_and(0)), "none");
}

TEST(OptimiserRules, RegroupConstants) {
    auto sum = [](std::int32_t a, std::int32_t b) {
        return [=](Table& t) {
            int inner = t.op(N_ADD, t.var(), t.constant(a));
            return std::pair{inner, t.constant(b)};
        };
    };
    EXPECT_EQ(after(regroup_constants, N_ADD, sum(2, 3)), "(x + 5)");
    EXPECT_EQ(after(regroup_constants, N_ADD, sum(MOST, 1)), "(x + " + std::to_string(LEAST) + ")");
    EXPECT_EQ(after(regroup_constants, N_ADD, sum(5, -5)), "x");
    EXPECT_EQ(after(regroup_constants, N_ADD,
                    [](Table& t) {
                        return std::pair{t.op(N_ADD, t.var(), t.var()), t.constant(1)};
                    }),
              "none");
}

TEST(OptimiserRules, ConstantLessDifference) {
    auto less = [](std::int32_t c, std::int32_t d) {
        return [=](Table& t) {
            int inner = t.op(N_SUB, t.constant(d), t.var());
            return std::pair{t.constant(c), inner};
        };
    };
    EXPECT_EQ(after(constant_less_difference, N_SUB, less(10, 3)), "(x + 7)");
    EXPECT_EQ(after(constant_less_difference, N_SUB, less(LEAST, 1)),
              "(x + " + std::to_string(MOST) + ")");
    EXPECT_EQ(after(constant_less_difference, N_ADD, less(10, 3)), "none");
}

TEST(OptimiserRules, MultiplyByOne) {
    EXPECT_EQ(after(multiply_by_one, N_MUL, x_and(1)), "x");
    EXPECT_EQ(after(multiply_by_one, N_MUL, x_and(-1)), "none");
}

TEST(OptimiserRules, OneTimes) {
    EXPECT_EQ(after(one_times, N_MUL, k_and_x(1)), "x");
    EXPECT_EQ(after(one_times, N_ADD, k_and_x(1)), "none");
}

// The list: every rule named once, and the rewrites chained through it.
TEST(OptimiserRules, TheListInItsOrder) {
    std::set<std::string> names;
    for (int k = 0; k < binary_rule_count; ++k)
        EXPECT_TRUE(names.insert(binary_rules[k].name).second) << binary_rules[k].name;
    EXPECT_EQ(binary_rules[0].rule, fold_constants);
    Table t;
    // 7 - (3 - (x + 1)) is x + 5; 1 * (x - 0) is x; x * 2 stays.
    int x = t.var();
    int e =
        make_binary(t, N_SUB, t.constant(7),
                    make_binary(t, N_SUB, t.constant(3), make_binary(t, N_ADD, x, t.constant(1))));
    EXPECT_EQ(t.text(e), "(x + 5)");
    EXPECT_EQ(t.text(make_binary(t, N_MUL, t.constant(1), make_binary(t, N_SUB, x, t.constant(0)))),
              "x");
    EXPECT_EQ(t.text(make_binary(t, N_MUL, x, t.constant(2))), "(x * 2)");
}

// Every fold of two constants is the interpreter's value, over the edges
// of the 32-bit range.
TEST(OptimiserRules, FoldsAsTheInterpreterComputes) {
    const std::int32_t edges[] = {0,     1,      -1,   2,        -2,    3,
                                  65536, -65536, MOST, MOST - 1, LEAST, LEAST + 1};
    const NodeKind kinds[] = {N_ADD, N_SUB, N_MUL};
    const Binary ops[] = {B_ADD, B_SUB, B_MUL};
    for (int k = 0; k < 3; ++k)
        for (std::int32_t a : edges)
            for (std::int32_t b : edges) {
                Table t;
                int folded = make_binary(t, kinds[k], t.constant(a), t.constant(b));
                EXPECT_EQ(t.text(folded), std::to_string(binary(ops[k], a, b)))
                    << a << " op " << static_cast<int>(k) << " " << b;
            }
}
