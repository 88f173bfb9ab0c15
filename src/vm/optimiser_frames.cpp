// The optimising translator's frames: the functions of a routine, the
// frames a function knows (its own and those of the calls it inlines),
// where each variable lives, the cells of the stack and their shadow,
// calls of other functions, inlined calls, the resume points at which a
// frame of the exact tiers is entered, and the end of a frame.
#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "vm/frame.hpp"
#include "vm/machine.hpp"
#include "vm/optimiser_translator.hpp"

namespace optimising {

Function::Function(x86::Compiler& cc, Plan& plan, int routine, bool resume, bool named)
    : cc_(cc), plan_(plan), sh_(plan.sh), root_(routine), resume_(resume), named_(named) {}

// --- frames ---

FrameRef Function::frame_of(int inst, std::int32_t l) const {
    FrameRef f;
    f.instance = inst;
    f.routine = instances_[static_cast<std::size_t>(inst)].routine;
    for (; l > 0 && f.routine > 0; --l) {
        if (f.instance >= 0) {
            f = instances_[static_cast<std::size_t>(f.instance)].parent;
        } else {
            ++f.outside;
            f.routine = plan_.routine(f.routine).parent;
        }
    }
    return f;
}

Base Function::base_of(const FrameRef& f) {
    Base base;
    if (f.routine == 0) return base; // the main program's frame starts at 0
    if (f.instance >= 0) {
        base.add = instances_[static_cast<std::size_t>(f.instance)].offset;
        if (root_ != 0) {
            base.reg = b_;
            base.has_reg = true;
        }
        return base;
    }
    base.reg = outer(f.outside);
    base.has_reg = true;
    return base;
}

bool Function::exact(const FrameRef& f) const {
    if (f.routine == 0) return true;
    return f.instance >= 0 && instances_[static_cast<std::size_t>(f.instance)].exact;
}

int Function::var_of(const FrameRef& f, std::int32_t a) const {
    if (f.instance < 0) return -1;
    const Instance& I = instances_[static_cast<std::size_t>(f.instance)];
    if (a < 0 || static_cast<std::size_t>(a) >= I.vars.size()) return -1;
    return I.vars[static_cast<std::size_t>(a)];
}

void Function::at_prologue(const std::function<void()>& emit) {
    BaseNode* here = cc_.setCursor(prologue_);
    emit();
    prologue_ = cc_.cursor();
    cc_.setCursor(here);
}

x86::Gp Function::outer(int links) {
    while (static_cast<int>(outer_.size()) < links) {
        x86::Gp from = outer_.empty() ? b_ : outer_.back();
        x86::Gp link = new64("link");
        at_prologue([&] { cc_.movsxd(link, x86::dword_ptr(s_, from, 2, FRAME_STATIC_LINK * 4)); });
        outer_.push_back(link);
    }
    return outer_[static_cast<std::size_t>(links - 1)];
}

// The address of s[0] again after a call: an immediate costs no more
// than a reload, and s_ then never lives across a call, where the
// allocator would keep it in a register the function must save or in
// the stack.
void Function::reload_stack_address() {
    cc_.mov(s_, reinterpret_cast<std::uintptr_t>(s));
    s_defs_.push_back(cc_.cursor());
}

// Whether an instruction of the function reads s_ (as a register, or as
// the base or index of a memory operand).
bool Function::stack_address_read() const {
    for (BaseNode* n = func_->next(); n != nullptr && n != func_->endNode(); n = n->next()) {
        if (!n->isInst()) continue;
        if (std::find(s_defs_.begin(), s_defs_.end(), n) != s_defs_.end()) continue;
        const InstNode* in = n->as<InstNode>();
        for (std::uint32_t k = 0; k < in->opCount(); ++k) {
            const Operand& o = in->op(k);
            if (o.isReg() && o.id() == s_.id()) return true;
            if (!o.isMem()) continue;
            const x86::Mem& m = o.as<x86::Mem>();
            if ((m.hasBaseReg() && m.baseId() == s_.id()) ||
                (m.hasIndexReg() && m.indexId() == s_.id()))
                return true;
        }
    }
    return false;
}

x86::Gp Function::shadow() {
    if (!shadow_.isValid()) {
        shadow_ = new64("shadow");
        at_prologue(
            [&] { cc_.mov(shadow_, reinterpret_cast<std::uintptr_t>(speculation.shadow)); });
    }
    return shadow_;
}

int Function::make_instance(int routine, std::int32_t offset, const FrameRef& parent, bool exact) {
    const Routine& ro = plan_.routine(routine);
    Instance I;
    I.routine = routine;
    I.offset = offset;
    I.parent = parent;
    I.exact = exact;
    I.stack_base = stack_.size();
    I.vars.assign(static_cast<std::size_t>(ro.frame) + 1, -1);
    I.bound.assign(static_cast<std::size_t>(ro.frame) + 1, -1);
    int index = static_cast<int>(instances_.size());
    for (std::int32_t a = FRAME_PROCEDURE_CELLS; a <= ro.frame; ++a) {
        Var v;
        v.instance = index;
        v.offset = a;
        v.memory = plan_.memory[static_cast<std::size_t>(routine)][static_cast<std::size_t>(a)];
        if (!v.memory) {
            char name[32];
            std::snprintf(name, sizeof name, "r%d_%d", routine, a);
            v.reg = new32(name);
        }
        I.vars[static_cast<std::size_t>(a)] = static_cast<int>(vars_.size());
        vars_.push_back(v);
    }
    deepest_ = std::max(deepest_, offset + ro.deepest);
    instances_.push_back(std::move(I));
    return index;
}

// --- cells ---

namespace {

// The register that indexes a cell, from a frame's base and an index.
struct Index {
    x86::Gp reg;
    bool has = false;
};

} // namespace

static Index combine(x86::Compiler& cc, const Base& base, const x86::Gp* index) {
    Index ix;
    if (base.has_reg && index != nullptr) {
        ix.reg = cc.newInt64();
        cc.lea(ix.reg, x86::ptr(base.reg, *index));
        ix.has = true;
    } else if (base.has_reg) {
        ix.reg = base.reg;
        ix.has = true;
    } else if (index != nullptr) {
        ix.reg = *index;
        ix.has = true;
    }
    return ix;
}

x86::Mem Function::cell(const Base& base, std::int32_t a, const x86::Gp* index,
                        bool byte_of_shadow) {
    Index ix = combine(cc_, base, index);
    std::int32_t disp = base.add + a;
    if (byte_of_shadow)
        return ix.has ? x86::byte_ptr(shadow(), ix.reg, 0, disp) : x86::byte_ptr(shadow(), disp);
    return ix.has ? x86::dword_ptr(s_, ix.reg, 2, disp * 4) : x86::dword_ptr(s_, disp * 4);
}

x86::Gp Function::load_cell(const Base& base, std::int32_t a, const x86::Gp* index, bool check) {
    Index ix = combine(cc_, base, index);
    std::int32_t disp = base.add + a;
    if (check) {
        x86::Gp sh = shadow();
        cc_.cmp(ix.has ? x86::byte_ptr(sh, ix.reg, 0, disp) : x86::byte_ptr(sh, disp), 0);
        fail_if(x86::CondCode::kE, GUARD_UNSET);
    }
    x86::Gp t = new32();
    cc_.mov(t, ix.has ? x86::dword_ptr(s_, ix.reg, 2, disp * 4) : x86::dword_ptr(s_, disp * 4));
    return t;
}

void Function::store_cell(const Base& base, std::int32_t a, const x86::Gp* index, int value,
                          bool mark) {
    Operand v = operand_of(value);
    Index ix = combine(cc_, base, index);
    std::int32_t disp = base.add + a;
    x86::Mem to = ix.has ? x86::dword_ptr(s_, ix.reg, 2, disp * 4) : x86::dword_ptr(s_, disp * 4);
    cc_.emit(x86::Inst::kIdMov, to, v);
    if (mark) {
        x86::Gp sh = shadow();
        cc_.mov(ix.has ? x86::byte_ptr(sh, ix.reg, 0, disp) : x86::byte_ptr(sh, disp), 1);
    }
}

// A new frame's cells that a read may reach before they are set: their
// shadow says so.
void Function::clear_shadow(int inst) {
    const Instance& I = instances_[static_cast<std::size_t>(inst)];
    const Routine& ro = plan_.routine(I.routine);
    Base base = base_of(FrameRef{inst, 0, I.routine});
    auto unset = [&](std::int32_t a) {
        std::uint8_t f = ro.cells[static_cast<std::size_t>(a)];
        return plan_.memory[static_cast<std::size_t>(I.routine)][static_cast<std::size_t>(a)] &&
               (f & CELL_PARAMETER) == 0 && (f & (CELL_ARRAY | CELL_ESCAPES | CELL_UNSET)) != 0;
    };
    for (std::int32_t a = FRAME_PROCEDURE_CELLS; a <= ro.frame;) {
        if (!unset(a)) {
            ++a;
            continue;
        }
        std::int32_t end = a;
        while (end <= ro.frame && unset(end))
            ++end;
        std::int32_t n = end - a;
        if (n <= 16) {
            for (std::int32_t k = a; k < end; ++k)
                cc_.mov(cell(base, k, nullptr, true), 0);
        } else {
            x86::Gp to = new64();
            cc_.lea(to, cell(base, a, nullptr, true));
            InvokeNode* call = nullptr;
            cc_.invoke(&call, imm(reinterpret_cast<std::uintptr_t>(&std::memset)),
                       FuncSignatureT<void*, void*, int, std::size_t>(CallConvId::kHost));
            call->setArg(0, to);
            call->setArg(1, imm(0));
            call->setArg(2, imm(n));
        }
        a = end;
    }
}

// --- the function ---

void Function::translate() {
    begin_function();
    translate_instance(0);
    if (falls_) throw Decline{"a routine that runs off its end"};
    end_function();
}

void Function::begin_function() {
    const Routine& ro = plan_.routine(root_);
    func_ = resume_ ? plan_.resume_func[static_cast<std::size_t>(root_)]
                    : plan_.normal_func[static_cast<std::size_t>(root_)];
    cc_.addFunc(func_);
    if (named_) {
        std::string heading = std::string(resume_ ? "; resume" : "; normal") +
                              " function of routine " + std::to_string(root_) + " (instruction " +
                              std::to_string(ro.entry) + ")";
        cc_.comment(heading.c_str());
    }
    s_ = new64("s");
    if (root_ != 0) {
        b_ = new64("b");
        func_->setArg(0, b_);
    }
    x86::Gp entry;
    if (resume_) {
        entry = new32("entry");
        func_->setArg(1, entry);
    }
    reload_stack_address();
    prologue_ = cc_.cursor();
    Label body = cc_.newLabel();
    if (resume_) {
        // The exits that resume go between the prologue and the body.
        cc_.jmp(body);
        cold_ = cc_.cursor();
    }
    cc_.bind(body);

    FrameRef parent;
    parent.instance = -1;
    parent.outside = 1;
    parent.routine = ro.parent < 0 ? 0 : ro.parent;
    make_instance(root_, 0, parent, resume_);
    Instance& root = instances_[0];
    root.stack_base = 0;

    if (resume_) {
        for (int at : resume_points(sh_, root_)) {
            ResumePoint p;
            p.at = at;
            p.label = cc_.newLabel();
            point_at_[at] = points_.size();
            points_.push_back(p);
        }
        for (std::size_t k = 0; k < points_.size(); ++k) {
            if (k + 1 == points_.size()) {
                cc_.jmp(points_[k].label);
            } else {
                cc_.cmp(entry, static_cast<std::int32_t>(k));
                cc_.je(points_[k].label);
            }
        }
        return;
    }
    // A call: the parameters from the registers, past the fifth from their
    // cells; those that live in their cells go there.
    int fn = ro.function ? 1 : 0;
    int params = ro.args - fn;
    Base base = base_of(FrameRef{0, 0, root_});
    for (int k = 0; k < params; ++k) {
        std::int32_t a = frame_header_cells(fn != 0) + k;
        const Var& v =
            vars_[static_cast<std::size_t>(instances_[0].vars[static_cast<std::size_t>(a)])];
        if (k < REGISTER_ARGS) {
            if (!v.memory) {
                func_->setArg(static_cast<std::size_t>(1 + k), v.reg);
            } else {
                x86::Gp t = new32();
                func_->setArg(static_cast<std::size_t>(1 + k), t);
                store_cell(base, a, nullptr, temp(t), true);
            }
        } else if (!v.memory) {
            cc_.mov(v.reg, cell(base, a, nullptr, false));
        } else {
            cc_.mov(cell(base, a, nullptr, true), 1);
        }
    }
    clear_shadow(0);
}

void Function::stack_guard() {
    std::int32_t room = (STACK_OVERFLOW - 1) - deepest_;
    at_ = plan_.routine(root_).entry;
    step_resumes_ = false;
    at_prologue([&] {
        if (root_ == 0) {
            if (room < 0) fail(GUARD_STACK);
            return;
        }
        if (room < 0) {
            fail(GUARD_STACK);
            return;
        }
        cc_.cmp(b_, room);
        fail_if(x86::CondCode::kG, GUARD_STACK);
    });
}

void Function::end_function() {
    if (resume_) resume_entries();
    stack_guard();
    exits();
    // A function that never reads s[0]'s address (fib's, once its calls
    // store no static link) does not make it either.
    if (!stack_address_read())
        for (BaseNode* d : s_defs_)
            cc_.removeNode(d);
    cc_.endFunc();
}

void Function::exits() {
    x86::Gp zero = new32();
    for (const auto& [e, label] : exits_) {
        cc_.bind(label);
        if (named_) {
            std::string text = "; guard exit: ";
            text +=
                e.kind == GUARD_NONE ? "read or write at " + std::to_string(e.at) : exit_name(e);
            cc_.comment(text.c_str());
        }
        InvokeNode* call = nullptr;
        cc_.invoke(&call, plan_.stub,
                   FuncSignatureT<void, std::int32_t, std::int32_t>(CallConvId::kHost));
        call->setArg(0, imm(e.kind));
        call->setArg(1, imm(e.at));
        cc_.xor_(zero, zero);
        cc_.ret(zero);
    }
}

// The entries of a resume function: the root frame's variables and the
// stack above it from their cells, then on at the resume point.
void Function::resume_entries() {
    const Routine& ro = plan_.routine(root_);
    Base base = base_of(FrameRef{0, 0, root_});
    for (ResumePoint& p : points_) {
        if (!p.bound) throw Decline{"a resume point never reached"};
        cc_.bind(p.label);
        if (named_) cc_.comment(("; resume at " + std::to_string(p.at)).c_str());
        for (int v : instances_[0].vars) {
            if (v < 0 || vars_[static_cast<std::size_t>(v)].memory) continue;
            const Var& var = vars_[static_cast<std::size_t>(v)];
            cc_.mov(var.reg, cell(base, var.offset, nullptr, false));
        }
        if (sh_.slot_count(p.at) != static_cast<int>(p.slots.size()))
            throw Decline{"a resume point with another stack"};
        for (std::size_t k = 0; k < p.slots.size(); ++k) {
            const Node x = at(p.slots[k]);
            std::int32_t a = ro.frame + 1 + static_cast<std::int32_t>(k);
            if (x.kind == N_HEADER) continue;
            if (x.kind == N_ADDR) {
                // The offset into its object: the address less the object's first cell.
                x86::Gp o = at(x.left).reg;
                Base object = base_of(x.frame);
                cc_.mov(o, cell(base, a, nullptr, false));
                cc_.sub(o, object.add + x.a);
                if (object.has_reg) cc_.sub(o, object.reg.r32());
                continue;
            }
            cc_.mov(x.reg, cell(base, a, nullptr, false));
        }
        cc_.jmp(label_of(0, p.at));
    }
}

// --- a frame's code ---

void Function::translate_instance(int inst) {
    const Routine& ro = plan_.routine(instances_[static_cast<std::size_t>(inst)].routine);
    std::unordered_set<int> targets = jump_targets(ro);
    turn_loops_over(ro, targets);
    // Each loop's head and its jump back.
    std::unordered_map<int, int> back;
    for (int i : ro.code)
        if (i > ro.ent && code[i].op == UJP && code[i].a > ro.ent && code[i].a < i)
            back[code[i].a] = i;
    Label done;
    falls_ = true;
    for (int i : ro.code) {
        if (i <= ro.ent || !reached(inst, i, targets)) continue;
        if (auto loop = back.find(i); loop != back.end())
            sum_counted_loop(inst, i, loop->second, targets);
        emit(inst, i, ro, done);
    }
    if (done.isValid()) cc_.bind(done);
}

std::unordered_set<int> Function::jump_targets(const Routine& ro) const {
    std::unordered_set<int> targets;
    for (int i : ro.code) {
        Opcode op = code[i].op;
        if (i > ro.ent && (op == UJP || op == FJP)) targets.insert(code[i].a);
    }
    return targets;
}

// A loop whose head computes a test and leaves it by FJP is turned over:
// its jump back tests again and goes on into the body, one jump a turn
// instead of two.  Its body's first instruction becomes a target.
void Function::turn_loops_over(const Routine& ro, std::unordered_set<int>& targets) {
    auto plain = [&](int at) { return targets.count(at) == 0 && point_at_.count(at) == 0; };
    for (int i : ro.code) {
        if (i <= ro.ent || code[i].op != UJP || code[i].a <= ro.ent || code[i].a >= i) continue;
        int test = code[i].a;
        while (test < i && properties_of(code[test].op).computes &&
               (test == code[i].a || plain(test)))
            ++test;
        if (test == code[i].a || test >= i || code[test].op != FJP || !plain(test) ||
            code[test].a <= i)
            continue;
        rotated_[i] = test;
        targets.insert(test + 1);
    }
}

bool Function::reached(int inst, int i, const std::unordered_set<int>& targets) {
    std::size_t base = instances_[static_cast<std::size_t>(inst)].stack_base;
    auto point = point_at_.end();
    if (resume_ && inst == 0) point = point_at_.find(i);
    bool is_point = point != point_at_.end();
    if (!is_point && targets.count(i) == 0) return falls_; // code after a jump always taken
    if (!falls_) stack_.resize(base);
    if (is_point)
        bind_resume_point(points_[point->second], base);
    else if (stack_.size() != base)
        throw Decline{"a jump target with cells pushed"};
    cc_.bind(label_of(inst, i));
    falls_ = true;
    return true;
}

void Function::bind_resume_point(ResumePoint& point, std::size_t base) {
    if (stack_.size() != base) {
        if (!falls_) throw Decline{"a resume point only jumped to"};
        // The entry fills the registers the stack has here, in copies of
        // its nodes: the code after the point changes the nodes themselves
        // (an address checked keeps the checked copy of its offset).
        for (int n : canonical(base)) {
            const Node copy = at(n);
            point.slots.push_back(copy.kind == N_HEADER ? n : node(copy));
        }
    }
    point.bound = true;
}

void Function::emit(int inst, int i, const Routine& ro, Label& done) {
    comment(i);
    Opcode op = code[i].op;
    at_ = i;
    begin_step(inst, i);
    step(inst, i);
    if (op == RET || op == FRT || op == HLT) {
        if (inst != 0 && i != ro.code.back()) {
            if (!done.isValid()) done = cc_.newLabel();
            cc_.jmp(done);
        }
        falls_ = false;
    }
}

void Function::end_of(int inst, int i) {
    const Instruction& in = code[i];
    Instance& I = instances_[static_cast<std::size_t>(inst)];
    int result = -1;
    if (in.op == FRT) {
        int v = I.vars[FRAME_RESULT];
        const Var& var = vars_[static_cast<std::size_t>(v)];
        if (!var.memory) {
            Node n;
            n.kind = N_VAR;
            n.var = v;
            n.reg = var.reg;
            result = node(n);
        } else {
            bool check =
                (sh_.places[static_cast<std::size_t>(i)].flags & PLACE_UNSET_READ) != 0 && !I.exact;
            result = temp(
                load_cell(base_of(FrameRef{inst, 0, I.routine}), FRAME_RESULT, nullptr, check));
        }
    }
    if (inst != 0) {
        instances_[static_cast<std::size_t>(inst)].result = result;
        return;
    }
    if (in.op == HLT) {
        // The main program's variables go back to their cells.
        for (int v : I.vars) {
            if (v < 0 || vars_[static_cast<std::size_t>(v)].memory) continue;
            const Var& var = vars_[static_cast<std::size_t>(v)];
            cc_.mov(cell(Base{}, var.offset, nullptr, false), var.reg);
        }
    }
    x86::Gp r;
    if (result >= 0) {
        r = reg_of(result);
    } else {
        r = new32();
        cc_.xor_(r, r);
    }
    cc_.ret(r);
}

// --- calls ---

Function::Callee Function::take_call(int inst, int i, int callee) {
    settle();
    Callee c;
    int n = code[i].l;
    c.fn = plan_.routine(callee).function ? 1 : 0;
    c.args.assign(static_cast<std::size_t>(n - c.fn), -1);
    for (std::size_t k = c.args.size(); k-- > 0;)
        c.args[k] = pop();
    int header = -1;
    for (int k = 0; k < frame_header_cells(c.fn != 0); ++k)
        header = pop();
    c.link = at(header).frame;
    // The callee's frame: at t-n-FRAME_RETURN_ADDRESS, as CUP makes it.
    c.offset = instances_[static_cast<std::size_t>(inst)].offset +
               sh_.places[static_cast<std::size_t>(i)].depth - n - FRAME_RETURN_ADDRESS;
    return c;
}

void Function::store_link(const FrameRef& link, const x86::Mem& to) {
    Base lb = base_of(link);
    if (!lb.has_reg) {
        cc_.mov(to, lb.add); // a frame at a known place: no register needed
        return;
    }
    x86::Gp lv = new32();
    cc_.lea(lv, x86::ptr(lb.reg, lb.add));
    cc_.mov(to, lv);
}

void Function::call(int inst, int i) {
    int callee = sh_.places[static_cast<std::size_t>(i)].callee;
    if (plan_.inlined[static_cast<std::size_t>(callee)] || unrolls(inst, callee)) {
        inline_call(inst, i, callee);
        return;
    }
    Callee c = take_call(inst, i, callee);
    const std::int32_t offset = c.offset;
    const int fn = c.fn;
    const int params = static_cast<int>(c.args.size());
    const std::vector<int>& args = c.args;
    x86::Gp b = new64("callee_b");
    if (root_ != 0)
        cc_.lea(b, x86::ptr(b_, offset));
    else
        cc_.mov(b, offset);
    // Its static link in its first cell, unless it leads to the main
    // program's frame: the tier finds that frame at 0 without a link, and
    // the exact tiers never see the frames of its calls (a failed guard in
    // one goes back to the checkpoint).
    if (plan_.routine(callee).parent > 0)
        store_link(c.link, x86::dword_ptr(s_, b, 2, FRAME_STATIC_LINK * 4));
    // The arguments: addresses as numbers, past the fifth into their cells.
    std::vector<Operand> values;
    for (int k = 0; k < params; ++k) {
        int arg = args[static_cast<std::size_t>(k)];
        // A register argument in a temporary of its own: a variable passed
        // as it is would be wanted in the argument's register for its whole
        // life (see write_number).
        Operand v;
        if (at(arg).kind == N_CONST)
            v = imm(at(arg).k);
        else if (at(arg).kind == N_TEMP && k < REGISTER_ARGS)
            v = at(arg).reg;
        else if (k < REGISTER_ARGS || at(arg).kind == N_ADDR)
            v = temp_of(arg);
        else
            v = operand_of(arg);
        if (k < REGISTER_ARGS)
            values.push_back(v);
        else
            cc_.emit(x86::Inst::kIdMov,
                     x86::dword_ptr(s_, b, 2, (frame_header_cells(fn != 0) + k) * 4), v);
    }
    FuncSignatureBuilder sig(CallConvId::kHost);
    normal_signature(plan_, callee, sig);
    InvokeNode* node = nullptr;
    cc_.invoke(&node, plan_.normal[static_cast<std::size_t>(callee)], sig);
    node->setArg(0, b);
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (values[k].isImm())
            node->setArg(1 + k, values[k].as<Imm>());
        else
            node->setArg(1 + k, values[k].as<x86::Gp>());
    }
    x86::Gp r = new32();
    node->setRet(0, r);
    reload_stack_address();
    if (fn) push(temp(r));
}

// A small routine that calls itself has its own calls inlined once in its
// normal function, their calls in turn made as calls: half the calls and
// returns of a recursion.  (The stack guard at its start then makes room
// for both frames: a run nearer the stack's end than that goes back to the
// exact tiers, which go on as ever.)  Its copies together stay within
// twice INLINE_LIMIT instructions, and the program's values within half
// of MOST_VALUES, so that no program the tier took before is declined.
bool Function::unrolls(int inst, int callee) const {
    if (resume_ || inst != 0 || callee != root_) return false;
    const Routine& ro = plan_.routine(callee);
    std::size_t calls = 0;
    for (int i : ro.code)
        if (code[i].op == CUP && sh_.places[static_cast<std::size_t>(i)].callee == callee) ++calls;
    return ro.code.size() * calls <= 2 * static_cast<std::size_t>(INLINE_LIMIT) &&
           cc_.virtRegs().size() < MOST_VALUES / 2;
}

void Function::inline_call(int inst, int i, int callee) {
    Callee c = take_call(inst, i, callee);
    int J = make_instance(callee, c.offset, c.link, false);
    if (named_) cc_.comment(("; inlined routine " + std::to_string(callee)).c_str());
    bind_parameters(J, c.args);
    if (plan_.needs_link[static_cast<std::size_t>(callee)])
        store_link(c.link,
                   cell(base_of(FrameRef{J, 0, callee}), FRAME_STATIC_LINK, nullptr, false));
    clear_shadow(J);
    translate_instance(J);
    at_ = i;
    step_resumes_ = false; // the stack before the CUP is gone
    falls_ = true;
    if (c.fn) push(instances_[static_cast<std::size_t>(J)].result);
}

void Function::bind_parameters(int callee_inst, std::vector<int>& args) {
    Instance& J = instances_[static_cast<std::size_t>(callee_inst)];
    const Routine& ce = plan_.routine(J.routine);
    int fn = ce.function ? 1 : 0;
    Base base = base_of(FrameRef{callee_inst, 0, J.routine});
    for (std::size_t k = 0; k < args.size(); ++k) {
        std::int32_t a = frame_header_cells(fn != 0) + static_cast<std::int32_t>(k);
        int arg = args[k];
        int v = instances_[static_cast<std::size_t>(callee_inst)].vars[static_cast<std::size_t>(a)];
        const Var var = vars_[static_cast<std::size_t>(v)];
        bool reference = (ce.cells[static_cast<std::size_t>(a)] & CELL_REFERENCE) != 0;
        if (reference && !var.memory) {
            // The parameter stands for the address itself.
            if (at(arg).kind == N_ADDR && at(at(arg).left).kind != N_CONST) checked_offset(arg);
            instances_[static_cast<std::size_t>(callee_inst)].bound[static_cast<std::size_t>(a)] =
                arg;
            continue;
        }
        if (!var.memory) {
            compute_into(var.reg, arg, v);
            continue;
        }
        if (at(arg).kind == N_ADDR) {
            x86::Gp t = new32();
            compute_into(t, arg);
            arg = temp(t);
        }
        store_cell(base, a, nullptr, arg, true);
    }
}

// --- resume points ---

} // namespace optimising

std::vector<int> resume_points(const optimising::Shape& shape, int r) {
    using namespace optimising;
    const Routine& ro = shape.routines[static_cast<std::size_t>(r)];
    std::vector<int> points{ro.ent + 1};
    for (int i : ro.code) {
        if (i <= ro.ent + 1) continue;
        if ((shape.places[static_cast<std::size_t>(i)].flags &
             (PLACE_LOOP_HEAD | PLACE_RETURN_SITE)) != 0)
            points.push_back(i);
    }
    return points;
}
