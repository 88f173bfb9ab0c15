// The rewrites of sums, differences and products the optimising
// translator makes as it pushes them, one function per rule.
#include "vm/optimiser_rules.hpp"

#include "vm/effects.hpp"

namespace optimising {

namespace {

Binary binary_of(NodeKind kind) {
    return kind == N_ADD ? B_ADD : kind == N_SUB ? B_SUB : B_MUL;
}

bool is_constant(const Term& x, std::int32_t k) {
    return x.kind == N_CONST && x.k == k;
}

// A term `kind` with a constant as one operand: the constant, and the
// index of the other operand.
struct WithConstant {
    bool found;
    std::int32_t k;
    int other;
};

// Term `n` read as `kind` with the constant on the left (`constant_left`)
// or on the right; not found when it is not such a term.
WithConstant with_constant(Terms& terms, int n, NodeKind kind, bool constant_left) {
    const Term x = terms.term(n);
    if (x.kind != kind) return {false, 0, -1};
    const Term c = terms.term(constant_left ? x.left : x.right);
    if (c.kind != N_CONST) return {false, 0, -1};
    return {true, c.k, constant_left ? x.right : x.left};
}

} // namespace

int fold_constants(Terms& terms, NodeKind kind, int left, int right) {
    const Term l = terms.term(left), r = terms.term(right);
    if (l.kind != N_CONST || r.kind != N_CONST) return -1;
    return terms.constant(binary(binary_of(kind), l.k, r.k));
}

int subtract_as_add(Terms& terms, NodeKind kind, int left, int right) {
    const Term r = terms.term(right);
    if (kind != N_SUB || r.kind != N_CONST) return -1;
    return make_binary(terms, N_ADD, left, terms.constant(binary(B_SUB, 0, r.k)));
}

int constant_to_the_right(Terms& terms, NodeKind kind, int left, int right) {
    if (kind != N_ADD || terms.term(left).kind != N_CONST) return -1;
    return make_binary(terms, N_ADD, right, left);
}

int add_zero(Terms& terms, NodeKind kind, int left, int right) {
    return kind == N_ADD && is_constant(terms.term(right), 0) ? left : -1;
}

int regroup_constants(Terms& terms, NodeKind kind, int left, int right) {
    const Term c2 = terms.term(right);
    const WithConstant x_c1 = with_constant(terms, left, N_ADD, /*constant_left=*/false);
    if (kind != N_ADD || c2.kind != N_CONST || !x_c1.found) return -1;
    return make_binary(terms, N_ADD, x_c1.other, terms.constant(binary(B_ADD, x_c1.k, c2.k)));
}

int constant_less_difference(Terms& terms, NodeKind kind, int left, int right) {
    const Term c = terms.term(left);
    const WithConstant d_x = with_constant(terms, right, N_SUB, /*constant_left=*/true);
    if (kind != N_SUB || c.kind != N_CONST || !d_x.found) return -1;
    return make_binary(terms, N_ADD, d_x.other, terms.constant(binary(B_SUB, c.k, d_x.k)));
}

int multiply_by_one(Terms& terms, NodeKind kind, int left, int right) {
    return kind == N_MUL && is_constant(terms.term(right), 1) ? left : -1;
}

int one_times(Terms& terms, NodeKind kind, int left, int right) {
    return kind == N_MUL && is_constant(terms.term(left), 1) ? right : -1;
}

const NamedRule binary_rules[] = {
    {"fold constants", fold_constants},
    {"subtract as add", subtract_as_add},
    {"constant to the right", constant_to_the_right},
    {"add zero", add_zero},
    {"regroup constants", regroup_constants},
    {"constant less difference", constant_less_difference},
    {"multiply by one", multiply_by_one},
    {"one times", one_times},
};
const int binary_rule_count = sizeof binary_rules / sizeof binary_rules[0];

int make_binary(Terms& terms, NodeKind kind, int left, int right) {
    for (const NamedRule& r : binary_rules) {
        int made = r.rule(terms, kind, left, right);
        if (made >= 0) return made;
    }
    return terms.operation(kind, left, right);
}

} // namespace optimising
