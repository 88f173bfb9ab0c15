// The optimising translator's plan for the whole program: which routines
// are inlined wherever they are called, and which cells must live in the
// stack because something other than their own frame's code reaches them.
#include <cstddef>
#include <functional>

#include "vm/optimiser_translator.hpp"

namespace optimising {

namespace {

// The instructions routine r brings into a function that inlines it: its
// own after ENT and those of what it inlines in turn.
int weigh(const Plan& plan, std::vector<int>& weight, std::vector<bool>& inlined, int r) {
    std::size_t k = static_cast<std::size_t>(r);
    if (weight[k] >= 0) return weight[k];
    const Routine& ro = plan.routine(r);
    int w = 0;
    weight[k] = 1 << 20; // while it is weighed: too heavy for a call of itself
    for (int i : ro.code) {
        if (i <= ro.ent) continue;
        ++w;
        int callee = plan.sh.places[static_cast<std::size_t>(i)].callee;
        if (code[i].op != CUP || callee < 0) continue;
        if (!plan.routine(callee).recursive) {
            int cw = weigh(plan, weight, inlined, callee);
            if (cw <= INLINE_LIMIT) {
                inlined[static_cast<std::size_t>(callee)] = true;
                w += cw;
            }
        }
    }
    weight[k] = w;
    return w;
}

} // namespace

Plan::Plan(const Shape& shape) : sh(shape) {
    std::size_t n = sh.routines.size();
    inlined.assign(n, false);
    called.assign(n, false);
    needs_link.assign(n, false);
    normal.assign(n, Label{});
    normal_func.assign(n, nullptr);
    resume_func.assign(n, nullptr);
    std::vector<int> weight(n, -1);
    for (std::size_t r = 0; r < n; ++r)
        weigh(*this, weight, inlined, static_cast<int>(r));
    inlined[0] = false;

    // Who calls whom.
    std::vector<std::vector<int>> callers(n);
    for (int i = 0; i < cx; ++i) {
        const InstructionShape& at = sh.places[static_cast<std::size_t>(i)];
        if (at.routine >= 0 && code[i].op == CUP && at.callee >= 0) {
            called[static_cast<std::size_t>(at.callee)] = true;
            callers[static_cast<std::size_t>(at.callee)].push_back(at.routine);
        }
    }
    // Whether the code of routine q always runs inside a function for
    // routine r: q is r, or q is inlined and every caller of q is.
    std::vector<std::vector<signed char>> absorbed(n, std::vector<signed char>(n, -1));
    std::function<bool(int, int)> inside = [&](int q, int r) -> bool {
        signed char& known = absorbed[static_cast<std::size_t>(q)][static_cast<std::size_t>(r)];
        if (known >= 0) return known != 0;
        if (q == r) return (known = 1) != 0;
        known = 0; // a cycle of calls is no way in
        bool all =
            inlined[static_cast<std::size_t>(q)] && !callers[static_cast<std::size_t>(q)].empty();
        for (int c : callers[static_cast<std::size_t>(q)])
            all = all && inside(c, r);
        known = all ? 1 : 0;
        return all;
    };

    // A cell lives in the stack when an address reaches it, when it may be
    // read before it has a value (its shadow tells), or when a routine
    // nested in its own reaches it from a function of its own.
    memory.resize(n);
    for (std::size_t r = 0; r < n; ++r) {
        const Routine& ro = sh.routines[r];
        memory[r].assign(ro.cells.size(), false);
        for (std::size_t a = 0; a < ro.cells.size(); ++a) {
            memory[r][a] = reference_may_reach(ro.cells[a]) || (ro.cells[a] & CELL_UNSET) != 0;
            if (r > 0 && (ro.cells[a] & CELL_UNSET) != 0) unset_reads = true;
        }
    }
    for (std::size_t q = 0; q < n; ++q) {
        for (int i : sh.routines[q].code) {
            const Instruction& in = code[i];
            bool reaches = (in.op == LOD || in.op == STR || in.op == LDA) && in.l > 0;
            if (!reaches) continue;
            int target = sh.ancestor(static_cast<int>(q), in.l);
            if (target == static_cast<int>(q)) continue;
            if (!inside(static_cast<int>(q), target)) {
                std::int32_t cells = in.op == LDA ? cells_at(i) : 1;
                for (std::int32_t k = 0; k < cells; ++k)
                    memory[static_cast<std::size_t>(target)][static_cast<std::size_t>(in.a + k)] =
                        true;
            }
        }
    }
    // A frame's static link is read when a routine nested in it is called
    // as a function of its own (its own link leads there, and on).
    for (std::size_t r = 1; r < n; ++r) {
        if (!has_normal(static_cast<int>(r))) continue;
        for (int p = sh.routines[r].parent; p > 0;
             p = sh.routines[static_cast<std::size_t>(p)].parent)
            needs_link[static_cast<std::size_t>(p)] = true;
    }
}

void normal_signature(const Plan& plan, int r, FuncSignatureBuilder& sig) {
    const Routine& ro = plan.routine(r);
    int params = ro.args - (ro.function ? 1 : 0);
    sig.setRetT<std::int32_t>();
    sig.addArgT<std::int64_t>();
    for (int k = 0; k < params && k < REGISTER_ARGS; ++k)
        sig.addArgT<std::int32_t>();
}

} // namespace optimising
