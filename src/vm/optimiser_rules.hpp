// The rewrites the optimising translator makes of a sum, a difference or
// a product as it pushes one (make_binary): a named list of rules, each a
// small function, tried in order.  A rule sees the operands as terms (a
// kind, a constant, operands) and makes new ones through the table it is
// given; it answers with the node that stands for the whole, or -1 when
// it does not apply.  Every rule keeps the value exact: constants fold as
// the interpreter computes them (vm/effects.hpp), wrapping in 32 bits.
//
// A new rewrite is one function here and one line in binary_rules, in
// the place of the order where it should be tried, and a test.
//
// Built only with TSUMIKI_OPTIMISING, but without the assembler: the tests
// run the rules on terms of their own.
#pragma once

#include <cstdint>

namespace optimising {

// The value of a cell the translator pushed, as far as it knows it.
enum NodeKind : std::uint8_t {
    N_CONST, // k
    N_TEMP,  // in reg, which nothing else changes
    N_VAR,   // the variable var, read when the value is used
    N_ADD,   // left + right, and so on: not computed yet
    N_SUB,
    N_MUL,
    N_NEG,    // -left
    N_COND,   // left k right, a comparison (COP sub-code k)
    N_ADDR,   // the address of cell `offset` (a node) of an object: frame, a, cells
    N_REF,    // an address in reg (from a var parameter): of a cell below the frame
    N_HEADER, // a header cell of a frame being made; frame: its static link's frame
};

// What a rule sees of a node.
struct Term {
    NodeKind kind = N_CONST;
    std::int32_t k = 0; // N_CONST: its value
    int left = -1, right = -1;
};

// The nodes the rules read and make: the translator's, or a test's.
class Terms {
  public:
    virtual ~Terms() = default;
    virtual Term term(int n) const = 0;
    virtual int constant(std::int32_t k) = 0;
    // A node for `left kind right` as it stands, rewritten no further.
    virtual int operation(NodeKind kind, int left, int right) = 0;
};

// A rewrite of `left kind right` (kind N_ADD, N_SUB or N_MUL): the node
// that stands for it, or -1.
using BinaryRule = int (*)(Terms& terms, NodeKind kind, int left, int right);

struct NamedRule {
    const char* name;
    BinaryRule rule;
};

// c1 op c2 is a constant, as the interpreter computes it.
int fold_constants(Terms& terms, NodeKind kind, int left, int right);
// x - c is x + (-c), which the rules of sums then see (-c wraps: x - the
// most negative value is x + the most negative value).
int subtract_as_add(Terms& terms, NodeKind kind, int left, int right);
// c + x is x + c: the constant of a sum on its right.
int constant_to_the_right(Terms& terms, NodeKind kind, int left, int right);
// x + 0 is x.
int add_zero(Terms& terms, NodeKind kind, int left, int right);
// (x + c1) + c2 is x + (c1 + c2): an offset kept as x + k.
int regroup_constants(Terms& terms, NodeKind kind, int left, int right);
// c - (d - x) is x + (c - d): how an element's offset is computed.
int constant_less_difference(Terms& terms, NodeKind kind, int left, int right);
// x * 1 is x.
int multiply_by_one(Terms& terms, NodeKind kind, int left, int right);
// 1 * x is x.
int one_times(Terms& terms, NodeKind kind, int left, int right);

// The rules in the order they are tried.
extern const NamedRule binary_rules[];
extern const int binary_rule_count;

// `left kind right` after the first rule that applies, or as it stands.
int make_binary(Terms& terms, NodeKind kind, int left, int right);

} // namespace optimising
