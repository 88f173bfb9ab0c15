// What both machine-code tiers need of the machine's numbers and
// comparisons: a sum or product wrapped to 32 bits as the interpreter
// wraps it, a compare sub-code as an x86 condition, and a comparison of
// two constants worked out at translation time.
#pragma once

#include <asmjit/x86.h>
#include <cstdint>

#include "vm/code.hpp"

namespace native_compare {

// v reduced to 32 bits, two's complement.
inline std::int32_t wrap(std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

// What compare sub-code k means as a condition on `left cmp right`.
inline asmjit::x86::CondCode condition(std::int32_t k) {
    using C = asmjit::x86::CondCode;
    static constexpr C conditions[] = {C::kE, C::kNE, C::kG, C::kGE, C::kL, C::kLE};
    return conditions[k - COP_EQ];
}

// Whether `l k r` holds.
inline bool holds(std::int32_t k, std::int32_t l, std::int32_t r) {
    switch (k) {
    case COP_EQ: return l == r;
    case COP_NEQ: return l != r;
    case COP_GT: return l > r;
    case COP_GEQ: return l >= r;
    case COP_LT: return l < r;
    default: return l <= r;
    }
}

} // namespace native_compare
