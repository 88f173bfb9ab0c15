// The shape of the compiled program: one walk per routine over its
// instructions, with the depth of the stack and what each pushed cell
// holds, the same on every path; then which routines can call themselves,
// and which cells a read may find without a value (definite assignment).
#include "vm/shape.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "vm/frame.hpp"

namespace optimising {

namespace {

bool in_code(std::int32_t x) {
    return x >= 0 && x < cx;
}

// The state before an instruction: the depth, and the slots above the
// frame once ENT has made it.
struct State {
    std::int32_t depth = 0;
    bool made = false; // after ENT
    std::vector<Slot> slots;
};

bool same_slots(const Slot* a, const std::vector<Slot>& b) {
    for (std::size_t k = 0; k < b.size(); ++k)
        if (a[k].kind != b[k].kind || a[k].from != b[k].from) return false;
    return true;
}

class Walker {
  public:
    explicit Walker(Shape& shape) : sh_(shape) {}

    // Walks every routine the main program reaches; false at the first
    // thing that does not fit.
    bool walk() {
        sh_.places.assign(static_cast<std::size_t>(cx), InstructionShape{});
        routine_at_.assign(static_cast<std::size_t>(cx), -1);
        Routine main;
        main.entry = 0;
        sh_.routines.push_back(main);
        routine_at_[0] = 0;
        for (std::size_t r = 0; r < sh_.routines.size(); ++r)
            if (!walk_routine(static_cast<int>(r))) return false;
        return true;
    }

    bool fail(int i, const char* why) {
        if (sh_.why[0] == '\0') {
            sh_.why = why;
            sh_.failed_at = i;
        }
        return false;
    }

  private:
    Shape& sh_;
    std::vector<int> routine_at_; // per instruction: the routine whose entry it is

    Routine& routine(int r) { return sh_.routines[static_cast<std::size_t>(r)]; }

    // Records the state before instruction i, or checks it against the one
    // recorded; false when it differs or i belongs to another routine.
    bool arrive(int r, int i, const State& st, std::vector<std::pair<int, State>>& work) {
        if (!in_code(i)) return fail(i, "a jump out of the store");
        InstructionShape& at = sh_.places[static_cast<std::size_t>(i)];
        if (at.routine == -1) {
            at.routine = r;
            at.depth = st.depth;
            at.slots = static_cast<int>(sh_.slots.size());
            if (st.made) at.flags |= PLACE_AFTER_ENT;
            sh_.slots.insert(sh_.slots.end(), st.slots.begin(), st.slots.end());
            work.emplace_back(i, st);
            return true;
        }
        if (at.routine != r) return fail(i, "a jump into another routine");
        bool made = (at.flags & PLACE_AFTER_ENT) != 0;
        if (at.depth != st.depth || made != st.made ||
            sh_.slot_count(i) != static_cast<int>(st.slots.size()) ||
            !same_slots(sh_.slots_at(i), st.slots))
            return fail(i, "two paths reach an instruction with different stacks");
        return true;
    }

    bool walk_routine(int r) {
        std::vector<std::pair<int, State>> work;
        State start;
        start.depth = r == 0 ? 0 : routine(r).args + FRAME_RETURN_ADDRESS; // t-b at the entry
        if (!arrive(r, routine(r).entry, start, work)) return false;
        while (!work.empty()) {
            auto [i, st] = std::move(work.back());
            work.pop_back();
            if (!step(r, i, st, work)) return false;
        }
        Routine& ro = routine(r);
        if (ro.ent < 0 || ro.exit < 0) return fail(ro.entry, "a routine without ENT or end");
        for (int i = 0; i < cx; ++i)
            if (sh_.places[static_cast<std::size_t>(i)].routine == r) ro.code.push_back(i);
        return true;
    }

    // The cell offset a of the frame of routine `target`: in its frame,
    // and not a header cell.
    bool cell_fits(int target, std::int32_t a, std::int32_t cells) {
        const Routine& t = routine(target);
        return a >= FRAME_PROCEDURE_CELLS && cells >= 1 && a <= t.frame && cells - 1 <= t.frame - a;
    }

    bool pop(int i, State& st, Slot& slot) {
        if (st.slots.empty()) return fail(i, "an instruction pops a cell of the frame");
        slot = st.slots.back();
        st.slots.pop_back();
        --st.depth;
        return true;
    }
    bool pop_value(int i, State& st) {
        Slot s;
        if (!pop(i, st, s)) return false;
        return s.kind == SLOT_VALUE || fail(i, "an address where a number belongs");
    }
    void push(State& st, SlotKind kind, std::int32_t from) {
        st.slots.push_back(Slot{kind, from});
        ++st.depth;
    }
    bool note_deepest(int r, const State& st) {
        Routine& ro = routine(r);
        ro.deepest = std::max(ro.deepest, st.depth);
        return true;
    }

    // The variable cell l,a names from routine r, checked.
    bool variable(int r, int i, std::int32_t l, std::int32_t a, std::int32_t cells, int& target) {
        if (l < 0) return fail(i, "a negative level");
        target = sh_.ancestor(r, l);
        if (!cell_fits(target, a, cells)) return fail(i, "a cell outside its frame");
        if (target != r)
            for (std::int32_t k = 0; k < cells; ++k)
                routine(target).cells[static_cast<std::size_t>(a + k)] |= CELL_NESTED;
        return true;
    }

    bool call(int r, int i, State& st, const Instruction& in) {
        std::int32_t n = in.l;
        // The static link's slot: n counts the cells above the return address.
        int first = static_cast<int>(st.slots.size()) - n - FRAME_PROCEDURE_CELLS;
        if (n < 0 || first < 0) return fail(i, "a CUP without its MST");
        const Slot& link = st.slots[static_cast<std::size_t>(first)];
        if (link.kind != SLOT_HEADER) return fail(i, "a CUP without its MST");
        const Instruction& mst = code[link.from];
        int header = mst.a; // FRAME_PROCEDURE_CELLS or FRAME_FUNCTION_CELLS
        if (n < header - FRAME_PROCEDURE_CELLS) return fail(i, "a CUP without its MST");
        for (int k = 0; k < header; ++k) {
            const Slot& h = st.slots[static_cast<std::size_t>(first + k)];
            if (h.kind != SLOT_HEADER || h.from != link.from)
                return fail(i, "a CUP without its MST");
        }
        for (std::size_t k = static_cast<std::size_t>(first + header); k < st.slots.size(); ++k)
            if (st.slots[k].kind == SLOT_HEADER) return fail(i, "a CUP without its MST");
        if (!in_code(in.a) || in.a == 0) return fail(i, "a call out of the store");
        bool function = header == FRAME_FUNCTION_CELLS;
        int parent = sh_.ancestor(r, mst.l);
        int callee = routine_at_[static_cast<std::size_t>(in.a)];
        int params = n - (function ? 1 : 0);
        if (callee < 0) {
            if (sh_.places[static_cast<std::size_t>(in.a)].routine >= 0)
                return fail(i, "a call into the middle of a routine");
            Routine ro;
            ro.entry = in.a;
            ro.function = function;
            ro.args = n;
            ro.parent = parent;
            ro.level = routine(parent).level + 1;
            callee = static_cast<int>(sh_.routines.size());
            sh_.routines.push_back(std::move(ro));
            routine_at_[static_cast<std::size_t>(in.a)] = callee;
        } else {
            const Routine& ro = routine(callee);
            if (ro.function != function || ro.args != n || ro.parent != parent)
                return fail(i, "calls of one routine that do not agree");
        }
        // The arguments' kinds make the parameters value or var ones; every
        // call must agree.  An address an argument passes escapes.
        std::vector<std::uint8_t> kinds(static_cast<std::size_t>(params));
        for (int k = 0; k < params; ++k) {
            const Slot& arg = st.slots[static_cast<std::size_t>(first + header + k)];
            kinds[static_cast<std::size_t>(k)] =
                CELL_PARAMETER | (arg.kind == SLOT_VALUE ? 0 : CELL_REFERENCE);
            if (arg.kind == SLOT_ADDRESS) escape(r, arg.from);
        }
        Routine& ro = routine(callee);
        if (ro.cells.empty()) {
            ro.cells.assign(static_cast<std::size_t>(FRAME_PROCEDURE_CELLS + n), 0);
            for (int k = 0; k < params; ++k)
                ro.cells[static_cast<std::size_t>(frame_header_cells(function) + k)] =
                    kinds[static_cast<std::size_t>(k)];
        } else {
            for (int k = 0; k < params; ++k)
                if ((ro.cells[static_cast<std::size_t>(frame_header_cells(function) + k)] &
                     (CELL_PARAMETER | CELL_REFERENCE)) != kinds[static_cast<std::size_t>(k)])
                    return fail(i, "calls of one routine that do not agree");
        }
        sh_.places[static_cast<std::size_t>(i)].callee = callee;
        sh_.places[static_cast<std::size_t>(link.from)].callee = callee;
        st.slots.resize(static_cast<std::size_t>(first));
        st.depth -= n + FRAME_PROCEDURE_CELLS;
        if (function) push(st, SLOT_VALUE, -1);
        if (i + 1 < cx) sh_.places[static_cast<std::size_t>(i + 1)].flags |= PLACE_RETURN_SITE;
        return true;
    }

    // The cells of the object LDA `lda` names, seen from routine r, escape.
    void escape(int r, int lda) {
        const Instruction& in = code[lda];
        int target = sh_.ancestor(r, in.l);
        std::int32_t cells = cells_at(lda);
        for (std::int32_t k = 0; k < cells; ++k)
            routine(target).cells[static_cast<std::size_t>(in.a + k)] |= CELL_ESCAPES;
    }

    bool jump(int r, int i, std::int32_t to, const State& st,
              std::vector<std::pair<int, State>>& work) {
        if (!in_code(to)) return fail(i, "a jump out of the store");
        if (to <= i) sh_.places[static_cast<std::size_t>(to)].flags |= PLACE_LOOP_HEAD;
        return arrive(r, to, st, work);
    }

    bool step(int r, int i, State st, std::vector<std::pair<int, State>>& work) {
        const Instruction in = code[i];
        if (!st.made) {
            Routine& ro = routine(r);
            // Before ENT: a chain of UJPs, then ENT.
            if (in.op == UJP) return jump(r, i, in.a, st, work);
            if (in.op != ENT) return fail(i, "a routine that does not begin with ENT");
            if (in.a < st.depth || in.a < 2 || in.a >= STACK_LIMIT_CELLS)
                return fail(i, "an ENT that does not make the frame");
            ro.ent = i;
            ro.frame = in.a;
            ro.cells.resize(static_cast<std::size_t>(in.a) + 1, 0);
            st.made = true;
            st.depth = in.a;
            note_deepest(r, st);
            return i + 1 >= cx ? fail(i, "a routine that runs off the store")
                               : arrive(r, i + 1, st, work);
        }
        Slot a{}, b{};
        int target = 0;
        switch (in.op) {
        case LDC: push(st, SLOT_VALUE, -1); break;
        case LOD:
            if (!variable(r, i, in.l, in.a, 1, target)) return false;
            push(st,
                 (routine(target).cells[static_cast<std::size_t>(in.a)] & CELL_REFERENCE) != 0
                     ? SLOT_REFERENCE
                     : SLOT_VALUE,
                 -1);
            break;
        case STR:
            if (!pop_value(i, st) || !variable(r, i, in.l, in.a, 1, target)) return false;
            if ((routine(target).cells[static_cast<std::size_t>(in.a)] & CELL_REFERENCE) != 0)
                return fail(i, "a store into a var parameter's own cell");
            break;
        case LDA: {
            std::int32_t cells = cells_at(i);
            if (cells <= 0) return fail(i, "an LDA the compiler did not note");
            if (!variable(r, i, in.l, in.a, cells, target)) return false;
            Routine& t = routine(target);
            for (std::int32_t k = 0; k < cells; ++k) {
                std::uint8_t& f = t.cells[static_cast<std::size_t>(in.a + k)];
                if ((f & CELL_REFERENCE) != 0) return fail(i, "an LDA of a var parameter");
                if (cells > 1) f |= CELL_ARRAY;
            }
            push(st, SLOT_ADDRESS, i);
            break;
        }
        case OPR:
        case COP: {
            bool binary = in.op == COP ? in.a >= COP_EQ && in.a <= COP_LEQ
                                       : in.a >= OPR_ADD && in.a <= OPR_DIV;
            if (in.op == OPR && in.a == OPR_NEG) {
                if (!pop_value(i, st)) return false;
                push(st, SLOT_VALUE, -1);
                break;
            }
            if (!binary) return fail(i, "an operation outside the tables");
            if (!pop(i, st, b) || !pop(i, st, a)) return false;
            bool addr_a = a.kind == SLOT_ADDRESS, addr_b = b.kind == SLOT_ADDRESS;
            bool value_a = a.kind == SLOT_VALUE, value_b = b.kind == SLOT_VALUE;
            if (in.op == OPR && in.a == OPR_ADD && addr_a && value_b)
                push(st, SLOT_ADDRESS, a.from);
            else if (in.op == OPR && in.a == OPR_ADD && value_a && addr_b)
                push(st, SLOT_ADDRESS, b.from);
            else if (in.op == OPR && in.a == OPR_SUB && addr_a && value_b)
                push(st, SLOT_ADDRESS, a.from);
            else if (value_a && value_b)
                push(st, SLOT_VALUE, -1);
            else
                return fail(i, "arithmetic on an address");
            break;
        }
        case IND:
            if (!pop(i, st, a)) return false;
            if (a.kind != SLOT_ADDRESS && a.kind != SLOT_REFERENCE)
                return fail(i, "an IND of a number");
            push(st, SLOT_VALUE, -1);
            break;
        case STO:
            if (!pop_value(i, st) || !pop(i, st, a)) return false;
            if (a.kind != SLOT_ADDRESS && a.kind != SLOT_REFERENCE)
                return fail(i, "an STO to a number");
            break;
        case GET: push(st, SLOT_VALUE, -1); break;
        case PUT:
            if (!pop_value(i, st)) return false;
            break;
        case MST:
            if (in.l < 0 || (in.a != FRAME_PROCEDURE_CELLS && in.a != FRAME_FUNCTION_CELLS))
                return fail(i, "an MST of another size");
            for (int k = 0; k < in.a; ++k)
                push(st, SLOT_HEADER, i);
            break;
        case CUP:
            if (!call(r, i, st, in)) return false;
            break;
        case UJP: return jump(r, i, in.a, st, work);
        case FJP:
            if (!pop_value(i, st)) return false;
            if (!jump(r, i, in.a, st, work)) return false;
            break;
        case RET:
        case FRT:
        case HLT: {
            Routine& ro = routine(r);
            bool fits = in.op == HLT ? r == 0 : r != 0 && ro.function == (in.op == FRT);
            if (!fits) return fail(i, "a routine that ends in the wrong way");
            if (!st.slots.empty()) return fail(i, "a routine that ends with cells pushed");
            if (ro.exit >= 0 && ro.exit != i) return fail(i, "a routine with two ends");
            ro.exit = i;
            return true;
        }
        case ENT: return fail(i, "a second ENT");
        default: return fail(i, "an op outside the instruction set");
        }
        note_deepest(r, st);
        if (i + 1 >= cx) return fail(i, "a routine that runs off the store");
        return arrive(r, i + 1, st, work);
    }

    // The frame cell limit an ENT may set.
    static constexpr std::int32_t STACK_LIMIT_CELLS = 1 << 20;
};

// --- which routines can call themselves ---

void mark_recursion(Shape& sh) {
    std::size_t n = sh.routines.size();
    std::vector<std::vector<int>> calls(n);
    for (int i = 0; i < cx; ++i) {
        const InstructionShape& at = sh.places[static_cast<std::size_t>(i)];
        if (at.routine >= 0 && code[i].op == CUP && at.callee >= 0)
            calls[static_cast<std::size_t>(at.routine)].push_back(at.callee);
    }
    // A routine is recursive when it reaches itself.
    for (std::size_t r = 0; r < n; ++r) {
        std::vector<bool> seen(n, false);
        std::vector<int> todo(calls[r].begin(), calls[r].end());
        while (!todo.empty()) {
            int c = todo.back();
            todo.pop_back();
            if (seen[static_cast<std::size_t>(c)]) continue;
            seen[static_cast<std::size_t>(c)] = true;
            for (int d : calls[static_cast<std::size_t>(c)])
                todo.push_back(d);
        }
        sh.routines[r].recursive = seen[r];
    }
}

// --- definite assignment ---

// The cells of a routine's frame that a read could find without a value:
// its own scalar variables and a function's result.  Parameters have the
// caller's values; the main program's cells start at 0, as does the stack.
class Assigned {
  public:
    explicit Assigned(std::size_t cells) : words_((cells + 63) / 64, 0) {}
    bool has(std::int32_t a) const {
        return (words_[static_cast<std::size_t>(a) / 64] >> (a % 64) & 1u) != 0;
    }
    void set(std::int32_t a) {
        words_[static_cast<std::size_t>(a) / 64] |= std::uint64_t{1} << (a % 64);
    }
    // This and `other`; whether anything changed.
    bool meet(const Assigned& other) {
        bool changed = false;
        for (std::size_t k = 0; k < words_.size(); ++k) {
            std::uint64_t w = words_[k] & other.words_[k];
            changed |= w != words_[k];
            words_[k] = w;
        }
        return changed;
    }

  private:
    std::vector<std::uint64_t> words_;
};

// The own scalar cell that the address in `slot` names, or -1.
std::int32_t own_scalar(const Slot& slot) {
    if (slot.kind != SLOT_ADDRESS) return -1;
    const Instruction& lda = code[slot.from];
    return lda.l == 0 && cells_at(slot.from) == 1 ? lda.a : -1;
}

void mark_unset_reads(Shape& sh, int r) {
    Routine& ro = sh.routines[static_cast<std::size_t>(r)];
    std::size_t size = static_cast<std::size_t>(ro.frame) + 1;
    auto tracked = [&](std::int32_t a) {
        return a >= FRAME_PROCEDURE_CELLS && a <= ro.frame &&
               (ro.cells[static_cast<std::size_t>(a)] & (CELL_PARAMETER | CELL_ARRAY)) == 0;
    };
    // Before each instruction of the body (by its place in ro.code): the
    // cells surely set.
    auto index = [&](int i) {
        return static_cast<std::size_t>(std::lower_bound(ro.code.begin(), ro.code.end(), i) -
                                        ro.code.begin());
    };
    std::vector<Assigned> before(ro.code.size(), Assigned(size));
    std::vector<bool> reached(ro.code.size(), false);
    Assigned start(size);
    for (std::int32_t a = 0; a <= ro.frame; ++a)
        if (!tracked(a)) start.set(a);
    std::vector<int> todo{ro.ent + 1};
    before[index(ro.ent + 1)] = start;
    reached[index(ro.ent + 1)] = true;
    auto flow = [&](int to, const Assigned& out) {
        std::size_t k = index(to);
        if (!reached[k]) {
            reached[k] = true;
            before[k] = out;
            todo.push_back(to);
        } else if (before[k].meet(out)) {
            todo.push_back(to);
        }
    };
    while (!todo.empty()) {
        int i = todo.back();
        todo.pop_back();
        Assigned out = before[index(i)];
        const Instruction& in = code[i];
        int n = sh.slot_count(i);
        const Slot* slots = sh.slots_at(i);
        if (in.op == STR && in.l == 0 && tracked(in.a)) out.set(in.a);
        if (in.op == STO && n >= 2 && own_scalar(slots[n - 2]) >= 0)
            out.set(own_scalar(slots[n - 2]));
        switch (properties_of(in.op).flow) {
        case FLOW_JUMP: flow(in.a, out); break;
        case FLOW_BRANCH:
            flow(in.a, out);
            flow(i + 1, out);
            break;
        case FLOW_RETURN:
        case FLOW_HALT: break;
        case FLOW_NEXT:
        case FLOW_CALL: flow(i + 1, out); break;
        }
    }
    for (int i : ro.code) {
        if (i <= ro.ent || !reached[index(i)]) continue;
        const Assigned& set = before[index(i)];
        const Instruction& in = code[i];
        int n = sh.slot_count(i);
        const Slot* slots = sh.slots_at(i);
        std::int32_t read = -1;
        if (in.op == LOD && in.l == 0 && tracked(in.a)) read = in.a;
        if (in.op == IND && n >= 1 && own_scalar(slots[n - 1]) >= 0)
            read = own_scalar(slots[n - 1]);
        if (in.op == FRT) read = FRAME_RESULT;
        if (read >= 0 && !set.has(read)) {
            sh.places[static_cast<std::size_t>(i)].flags |= PLACE_UNSET_READ;
            ro.cells[static_cast<std::size_t>(read)] |= CELL_UNSET;
        }
        // A call of a routine nested in this one: what is not set yet may
        // be read there.
        if (in.op == CUP) {
            int callee = sh.places[static_cast<std::size_t>(i)].callee;
            if (sh.routines[static_cast<std::size_t>(callee)].parent == r)
                for (std::int32_t a = FRAME_PROCEDURE_CELLS; a <= ro.frame; ++a)
                    if (tracked(a) && !set.has(a))
                        ro.cells[static_cast<std::size_t>(a)] |= CELL_UNSET_NESTED;
        }
    }
}

// Reads from nested routines of cells their owner may not have set yet.
void mark_nested_unset_reads(Shape& sh) {
    for (std::size_t r = 0; r < sh.routines.size(); ++r) {
        for (int i : sh.routines[r].code) {
            const Instruction& in = code[i];
            int n = sh.slot_count(i);
            int target = -1;
            std::int32_t a = 0;
            if (in.op == LOD && in.l > 0) {
                target = sh.ancestor(static_cast<int>(r), in.l);
                a = in.a;
            } else if (in.op == IND && n >= 1 && sh.slots_at(i)[n - 1].kind == SLOT_ADDRESS) {
                const Instruction& lda = code[sh.slots_at(i)[n - 1].from];
                if (lda.l > 0 && cells_at(sh.slots_at(i)[n - 1].from) == 1) {
                    target = sh.ancestor(static_cast<int>(r), lda.l);
                    a = lda.a;
                }
            }
            if (target <= 0 || target == static_cast<int>(r)) continue;
            std::uint8_t& f =
                sh.routines[static_cast<std::size_t>(target)].cells[static_cast<std::size_t>(a)];
            if ((f & CELL_UNSET_NESTED) != 0) {
                sh.places[static_cast<std::size_t>(i)].flags |= PLACE_UNSET_READ;
                f |= CELL_UNSET;
            }
        }
    }
}

} // namespace

int Shape::slot_count(int i) const {
    const InstructionShape& at = places[static_cast<std::size_t>(i)];
    if ((at.flags & PLACE_AFTER_ENT) == 0) return 0;
    return at.depth - routines[static_cast<std::size_t>(at.routine)].frame;
}

int Shape::ancestor(int r, std::int32_t l) const {
    for (; l > 0 && r > 0; --l)
        r = routines[static_cast<std::size_t>(r)].parent;
    return r;
}

bool Shape::is_return_site(int i) const {
    return i >= 0 && i < static_cast<int>(places.size()) &&
           (places[static_cast<std::size_t>(i)].flags & PLACE_RETURN_SITE) != 0 &&
           places[static_cast<std::size_t>(i)].routine >= 0;
}

Shape shape_of_code() {
    Shape sh;
    if (cx == 0) {
        sh.why = "an empty store";
        return sh;
    }
    Walker walker(sh);
    if (!walker.walk()) return sh;
    mark_recursion(sh);
    for (std::size_t r = 1; r < sh.routines.size(); ++r)
        mark_unset_reads(sh, static_cast<int>(r));
    mark_nested_unset_reads(sh);
    sh.ok = true;
    return sh;
}

} // namespace optimising
