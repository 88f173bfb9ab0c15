// The optimising translator's exits that resume: a failed guard of a kind
// that resumes (guard_resumes; after a write, its service says which), in
// the root frame's code of a resume function, jumps to code made for that
// guard alone, which puts the
// machine as the exact tiers would have it just before the guard's
// instruction (the root frame's variables held in registers and every
// value pushed above the frame into their cells), notes that instruction
// and leaves the tier.  The exact tiers go on from there, without going
// back to the checkpoint: whatever the tier wrote stays written, once.
//
// A guard in the code of a call (another function) or of an inlined call
// leaves through the shared exits, back to the checkpoint: the frames of
// those calls are not on the stack as the exact tiers make them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "vm/machine.hpp"
#include "vm/optimiser_translator.hpp"

namespace optimising {

void Function::begin_step(int inst, int i) {
    step_at_ = i;
    step_resumes_ = false;
    if (!resume_ || inst != 0) return;
    if (sh_.slot_count(i) != static_cast<int>(stack_.size())) return;
    for (int n : stack_)
        if (at(n).kind == N_HEADER) return; // a call half made: its header is in no node
    before_ = stack_;
    step_resumes_ = true;
}

void Function::exit_value(x86::Gp dest, int n) {
    const Node x = at(n);
    if (x.kind != N_ADDR) {
        compute_into(dest, n);
        return;
    }
    // The object's first cell plus the offset, whatever the offset is.
    compute_into(dest, x.left);
    Base base = base_of(x.frame);
    if (base.has_reg)
        cc_.lea(dest, x86::ptr(base.reg, dest.r64(), 0, base.add + x.a));
    else
        cc_.add(dest, base.add + x.a);
}

Label Function::resuming_exit(Guard g) {
    Label exit = cc_.newLabel();
    BaseNode* here = cc_.setCursor(cold_);
    cc_.bind(exit);
    if (named_)
        cc_.comment(("; guard exit: " + exit_name(GuardExit{at_, g}) + ", on at " +
                     std::to_string(step_at_))
                        .c_str());
    const Routine& ro = plan_.routine(root_);
    Base base = base_of(FrameRef{0, 0, root_});
    for (int v : instances_[0].vars) {
        if (v < 0 || vars_[static_cast<std::size_t>(v)].memory) continue;
        const Var& var = vars_[static_cast<std::size_t>(v)];
        cc_.mov(cell(base, var.offset, nullptr, false), var.reg);
    }
    for (std::size_t k = 0; k < before_.size(); ++k) {
        const std::int32_t a = ro.frame + 1 + static_cast<std::int32_t>(k);
        const Node& x = at(before_[k]);
        if (x.kind == N_CONST) {
            cc_.mov(cell(base, a, nullptr, false), x.k);
            continue;
        }
        if (x.kind == N_TEMP || x.kind == N_REF || x.kind == N_VAR) {
            cc_.mov(cell(base, a, nullptr, false), reg_of(before_[k]));
            continue;
        }
        x86::Gp value = new32("written_back");
        exit_value(value, before_[k]);
        cc_.mov(cell(base, a, nullptr, false), value);
    }
    x86::Gp state = new64();
    cc_.mov(state, reinterpret_cast<std::uintptr_t>(&speculation));
    cc_.mov(x86::dword_ptr(state, offsetof(SpeculationState, resume_at)), step_at_);
    InvokeNode* call = nullptr;
    cc_.invoke(&call, plan_.stub,
               FuncSignatureT<void, std::int32_t, std::int32_t>(CallConvId::kHost));
    call->setArg(0, imm(g));
    call->setArg(1, imm(at_));
    x86::Gp zero = new32();
    cc_.xor_(zero, zero);
    cc_.ret(zero);
    cold_ = cc_.cursor();
    cc_.setCursor(here);
    return exit;
}

} // namespace optimising
