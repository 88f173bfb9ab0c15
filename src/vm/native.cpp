#include "vm/native.hpp"

#include <algorithm>
#include <asmjit/x86.h>
#include <cstddef>
#include <cstdint>
#include <string>

#include "diag/diag.hpp"
#include "vm/machine.hpp"
#include "vm/runtime.hpp"

namespace {

using namespace asmjit;

// What the machine code and the C++ around it share: the registers as the
// machine code leaves them.
struct NativeState {
    std::int32_t p;
    std::int32_t b;
    std::int32_t t;
};

// Why the machine code returned.
enum NativeExit : std::int32_t {
    EXIT_HAND_OVER = 0, // the interpreter goes on at p
    EXIT_NO_NUMBER = 1, // GET at p found no number (its cell was s[t+1])
    EXIT_FATAL = 2,     // a run-time service ended the run: pending_fatal
};

using NativeEntry = std::int32_t (*)(NativeState* state, std::int32_t* stack,
                                     const void* const* table);

// The end a run-time service reported, thrown again once the machine code
// has returned: no exception ever unwinds through it.
Fatal pending_fatal{};

std::int32_t native_put(std::int32_t v) noexcept {
    try {
        write_number(v);
        return EXIT_HAND_OVER;
    } catch (const Fatal& fatal) {
        pending_fatal = fatal;
        return EXIT_FATAL;
    }
}

std::int32_t native_get(std::int32_t* cell) noexcept {
    try {
        put_prompt();
        return read_number(*cell) ? EXIT_HAND_OVER : EXIT_NO_NUMBER;
    } catch (const Fatal& fatal) {
        pending_fatal = fatal;
        return EXIT_FATAL;
    }
}

// The machine registers: s (the address of s[0]), t and b as 64-bit
// indexes, the state, and the table of entry points per instruction.
const x86::Gp S = x86::rbx;
const x86::Gp T = x86::r12;
const x86::Gp B = x86::r13;
const x86::Gp STATE = x86::r14;
const x86::Gp TABLE = x86::r15;

// s[t+k] and s[b+k].
x86::Mem top(int k) {
    return x86::dword_ptr(S, T, 2, k * 4);
}
x86::Mem frame(int k) {
    return x86::dword_ptr(S, B, 2, k * 4);
}

bool in_code(std::int32_t x) {
    return x >= 0 && x < cx;
}

bool is_binop(const Instruction& in) {
    return (in.op == OPR && in.a >= OPR_ADD && in.a <= OPR_DIV) ||
           (in.op == COP && in.a >= COP_EQ && in.a <= COP_LEQ);
}

// The instructions the machine code leaves to the interpreter whenever it
// reaches them: HLT, op bytes outside the set, the last instruction of the
// store (whatever follows it is outside), jumps and calls out of the store.
bool handed_over(int i) {
    const Instruction& in = code[i];
    if (i == cx - 1 || in.op >= OPCODE_COUNT || in.op == HLT) return true;
    return (in.op == UJP || in.op == CUP) && !in_code(in.a);
}

// The instructions that set t from b (or end the run): each tests the t it
// leaves itself, and the next instruction starts a new run.
bool sets_top(int i) {
    Opcode op = code[i].op;
    return op == RET || op == FRT || op == ENT;
}

// How instruction i changes t, for one that neither sets it from b nor is
// handed over.
std::int64_t depth_change(const Instruction& in) {
    switch (in.op) {
    case LDC:
    case LOD:
    case LDA:
    case GET: return 1;
    case OPR:
    case COP: return is_binop(in) ? -1 : 0;
    case STR:
    case FJP:
    case PUT: return -1;
    case STO: return -2;
    case MST: return in.a;
    default: return 0;
    }
}

// The translator: one pass over the store after the run starts have been
// marked.
struct Translator {
    x86::Assembler& as;
    std::vector<Label> entry; // per instruction starting a run: its test of t
    std::vector<bool> starts; // starts a run
    std::vector<Label> bail;  // per instruction: hand over before it
    Label exit;               // leave with p in esi and the reason in eax
    Label hand_over_at_ecx;   // hand over at the instruction in ecx
    bool named = false;       // labels with names, for the listing

    explicit Translator(x86::Assembler& a) : as(a) {}

    Label new_label(const char* kind, int i) {
        if (!named) return as.newLabel();
        std::string name = kind + std::to_string(i);
        return as.newNamedLabel(name.c_str());
    }

    Label bail_at(int i) {
        if (!bail[i].isValid()) bail[i] = new_label("hand_over_", i);
        return bail[i];
    }

    void mark_runs() {
        starts.assign(static_cast<std::size_t>(cx) + 1, false);
        starts[0] = true;
        for (int i = 0; i < cx; ++i) {
            const Instruction& in = code[i];
            bool jumps = in.op == UJP || in.op == FJP || in.op == CUP;
            if (jumps && in_code(in.a)) starts[in.a] = true;
            if (jumps || sets_top(i) || handed_over(i)) starts[i + 1] = true;
        }
        entry.assign(static_cast<std::size_t>(cx), Label{});
        bail.assign(static_cast<std::size_t>(cx), Label{});
        for (int i = 0; i < cx; ++i)
            if (starts[i]) entry[i] = new_label("run_", i);
    }

    // The test of t at the start of the run from instruction i: every t
    // that one of its instructions leaves must lie within 0 to
    // STACK_OVERFLOW-1.  The t it starts with was tested already.
    void test_run(int i) {
        std::int64_t depth = 0, lowest = 0, highest = 0;
        for (int k = i; k < cx && (k == i || !starts[k]); ++k) {
            if (handed_over(k) || sets_top(k)) break;
            depth += depth_change(code[k]);
            lowest = std::min(lowest, depth);
            highest = std::max(highest, depth);
        }
        std::int64_t low = -lowest, high = STACK_OVERFLOW - 1 - highest;
        if (low > high) {
            as.jmp(bail_at(i));
            return;
        }
        if (low > 0) {
            as.cmp(T, static_cast<std::int32_t>(low));
            as.jl(bail_at(i));
        }
        if (high < STACK_OVERFLOW - 1) {
            as.cmp(T, static_cast<std::int32_t>(high));
            as.jg(bail_at(i));
        }
    }

    // rax := base(l), the frame l static links out from b.  A link outside
    // the stack hands over (the interpreter then fails on it).
    void frame_base(int i, std::int32_t l) {
        if (l <= 0) {
            as.mov(x86::rax, B);
            return;
        }
        as.movsxd(x86::rax, frame(0));
        std::int32_t rest = l - 1;
        if (rest <= 3) {
            for (; rest > 0; --rest) {
                as.cmp(x86::rax, STACK_SIZE);
                as.jae(bail_at(i));
                as.movsxd(x86::rax, x86::dword_ptr(S, x86::rax, 2));
            }
            return;
        }
        Label walk = as.newLabel();
        as.mov(x86::ecx, rest);
        as.bind(walk);
        as.cmp(x86::rax, STACK_SIZE);
        as.jae(bail_at(i));
        as.movsxd(x86::rax, x86::dword_ptr(S, x86::rax, 2));
        as.dec(x86::ecx);
        as.jnz(walk);
    }

    // rax := base(l) + a, handing over when that is outside the stack.
    void cell_address(int i, const Instruction& in) {
        if (in.l <= 0)
            as.lea(x86::rax, x86::ptr(B, in.a));
        else {
            frame_base(i, in.l);
            as.add(x86::rax, in.a);
        }
        as.cmp(x86::rax, STACK_SIZE);
        as.jae(bail_at(i));
    }

    // A call of a run-time service; a result other than 0 leaves with it.
    void call_service(int i, std::uint64_t service, const char* name) {
        Label ok = as.newLabel();
        as.setInlineComment(name);
        as.mov(x86::rax, service);
        as.call(x86::rax);
        as.test(x86::eax, x86::eax);
        as.jz(ok);
        as.mov(x86::esi, i);
        as.jmp(exit);
        as.bind(ok);
    }

    // RET and FRT: the return address in ecx and the link in eax, both
    // tested before anything changes.
    void return_checks(int i) {
        as.mov(x86::ecx, frame(2));
        as.cmp(x86::ecx, cx);
        as.jae(bail_at(i));
        as.mov(x86::eax, frame(1));
        as.cmp(x86::eax, STACK_SIZE - 4);
        as.ja(bail_at(i));
    }

    void binop(int i, std::int32_t k, Opcode op) {
        if (op == OPR && k == OPR_DIV) {
            Label divide = as.newLabel(), done = as.newLabel();
            as.mov(x86::ecx, top(0));
            as.test(x86::ecx, x86::ecx);
            as.jz(bail_at(i));
            as.mov(x86::eax, top(-1));
            as.cmp(x86::ecx, -1);
            as.jne(divide);
            as.neg(x86::eax); // the most negative value div -1 wraps to itself
            as.jmp(done);
            as.bind(divide);
            as.cdq(x86::edx, x86::eax);
            as.idiv(x86::edx, x86::eax, x86::ecx);
            as.bind(done);
            as.mov(top(-1), x86::eax);
        } else if (op == OPR) {
            as.mov(x86::eax, top(0));
            if (k == OPR_ADD) as.add(top(-1), x86::eax);
            if (k == OPR_SUB) as.sub(top(-1), x86::eax);
            if (k == OPR_MUL) {
                as.imul(x86::eax, top(-1));
                as.mov(top(-1), x86::eax);
            }
        } else {
            using C = x86::CondCode;
            static const C conditions[] = {C::kE, C::kNE, C::kG, C::kGE, C::kL, C::kLE};
            as.mov(x86::eax, top(-1));
            as.xor_(x86::edx, x86::edx);
            as.cmp(x86::eax, top(0));
            as.set(conditions[k - COP_EQ], x86::dl);
            as.mov(top(-1), x86::edx);
        }
        as.dec(T);
    }

    void instruction(int i) {
        const Instruction& in = code[i];
        if (starts[i]) {
            as.bind(entry[i]);
            test_run(i);
        }
        if (handed_over(i)) {
            as.jmp(bail_at(i));
            return;
        }
        switch (in.op) {
        case LDC:
            as.mov(top(1), in.a);
            as.inc(T);
            break;
        case OPR:
            if (in.a == OPR_NEG) as.neg(top(0));
            if (is_binop(in)) binop(i, in.a, OPR);
            break;
        case COP:
            if (is_binop(in)) binop(i, in.a, COP);
            break;
        case LOD:
            cell_address(i, in);
            as.mov(x86::eax, x86::dword_ptr(S, x86::rax, 2));
            as.mov(top(1), x86::eax);
            as.inc(T);
            break;
        case STR:
            cell_address(i, in);
            as.mov(x86::edx, top(0));
            as.mov(x86::dword_ptr(S, x86::rax, 2), x86::edx);
            as.dec(T);
            break;
        case UJP: as.jmp(entry[in.a]); break;
        case FJP:
            if (in_code(in.a)) {
                as.mov(x86::eax, top(0));
                as.dec(T);
                as.test(x86::eax, x86::eax);
                as.jz(entry[in.a]);
            } else {
                as.cmp(top(0), 0);
                as.je(bail_at(i));
                as.dec(T);
            }
            break;
        case RET:
            as.cmp(B, 1); // t becomes b-1
            as.jl(bail_at(i));
            return_checks(i);
            as.lea(T, x86::ptr(B, -1));
            as.mov(B.r32(), x86::eax);
            as.setInlineComment("to the return address");
            as.jmp(x86::ptr(TABLE, x86::rcx, 3));
            break;
        case MST:
            frame_base(i, in.l);
            as.mov(top(1), x86::eax);
            as.mov(top(2), B.r32());
            as.add(T, in.a);
            break;
        case ENT:
            as.lea(x86::rax, x86::ptr(B, in.a));
            as.cmp(x86::rax, STACK_OVERFLOW - 1);
            as.ja(bail_at(i));
            as.mov(T, x86::rax);
            break;
        case GET:
            as.lea(x86::rdi, top(1));
            call_service(i, reinterpret_cast<std::uintptr_t>(&native_get),
                         "put_prompt, read_number");
            as.inc(T);
            break;
        case PUT:
            as.mov(x86::edi, top(0));
            call_service(i, reinterpret_cast<std::uintptr_t>(&native_put), "write_number");
            as.dec(T);
            break;
        case LDA:
            frame_base(i, in.l);
            as.add(x86::eax, in.a);
            as.mov(top(1), x86::eax);
            as.inc(T);
            break;
        case IND:
            as.movsxd(x86::rax, top(0));
            as.add(x86::rax, in.a);
            as.cmp(x86::rax, STACK_SIZE);
            as.jae(bail_at(i));
            as.mov(x86::eax, x86::dword_ptr(S, x86::rax, 2));
            as.mov(top(0), x86::eax);
            break;
        case STO:
            as.mov(x86::eax, top(-1));
            as.cmp(x86::eax, STACK_SIZE);
            as.jae(bail_at(i));
            as.mov(x86::edx, top(0));
            as.mov(x86::dword_ptr(S, x86::rax, 2), x86::edx);
            as.sub(T, 2);
            break;
        case FRT:
            return_checks(i);
            as.mov(x86::edx, frame(3));
            as.mov(frame(0), x86::edx);
            as.mov(T, B);
            as.mov(B.r32(), x86::eax);
            as.setInlineComment("to the return address");
            as.jmp(x86::ptr(TABLE, x86::rcx, 3));
            break;
        case CUP:
            // The return-address cell t-n; the new frame starts two below.
            as.mov(x86::rax, T);
            if (in.l != 0) as.sub(x86::rax, in.l);
            as.lea(x86::rdx, x86::ptr(x86::rax, -2));
            as.cmp(x86::rdx, STACK_SIZE - 4);
            as.ja(bail_at(i));
            as.mov(x86::dword_ptr(S, x86::rax, 2), i + 1);
            as.mov(B, x86::rdx);
            as.jmp(entry[in.a]);
            break;
        case HLT: break; // handed over above
        }
    }

    void prologue() {
        as.push(x86::rbx);
        as.push(x86::r12);
        as.push(x86::r13);
        as.push(x86::r14);
        as.push(x86::r15); // five pushes: the stack is 16-byte aligned for calls
        as.mov(STATE, x86::rdi);
        as.mov(S, x86::rsi);
        as.mov(TABLE, x86::rdx);
        as.movsxd(T, x86::dword_ptr(STATE, offsetof(NativeState, t)));
        as.movsxd(B, x86::dword_ptr(STATE, offsetof(NativeState, b)));
        as.jmp(entry[0]);
    }

    void exits() {
        for (int i = 0; i < cx; ++i) {
            if (!bail[i].isValid()) continue;
            as.bind(bail[i]);
            as.mov(x86::esi, i);
            as.xor_(x86::eax, x86::eax);
            as.jmp(exit);
        }
        as.bind(hand_over_at_ecx); // a return to an instruction inside a run
        as.mov(x86::esi, x86::ecx);
        as.xor_(x86::eax, x86::eax);
        as.bind(exit);
        as.mov(x86::dword_ptr(STATE, offsetof(NativeState, p)), x86::esi);
        as.mov(x86::dword_ptr(STATE, offsetof(NativeState, b)), B.r32());
        as.mov(x86::dword_ptr(STATE, offsetof(NativeState, t)), T.r32());
        as.pop(x86::r15);
        as.pop(x86::r14);
        as.pop(x86::r13);
        as.pop(x86::r12);
        as.pop(x86::rbx);
        as.ret();
    }
};

// Machine code in memory that was written while writable and then made
// executable and read-only, never both at once; released with the object.
class NativeCode {
  public:
    NativeCode() = default;
    NativeCode(const NativeCode&) = delete;
    NativeCode& operator=(const NativeCode&) = delete;
    ~NativeCode() {
        if (memory_ != nullptr) VirtMem::release(memory_, size_);
    }

    // Translates the code store; false when anything failed.
    bool make(Logger* logger, NativeListing* listing) {
        CodeHolder holder;
        if (holder.init(Environment::host()) != kErrorOk) return false;
        if (logger != nullptr) holder.setLogger(logger);
        x86::Assembler as(&holder);
        Translator tr(as);
        tr.named = listing != nullptr;
        tr.exit = tr.named ? as.newNamedLabel("leave") : as.newLabel();
        tr.hand_over_at_ecx = tr.named ? as.newNamedLabel("hand_over_at_ecx") : as.newLabel();
        tr.mark_runs();
        auto text_so_far = [&]() -> std::string {
            auto* s = static_cast<StringLogger*>(logger);
            std::string text(s->data(), s->dataSize());
            s->clear();
            return text;
        };
        tr.prologue();
        if (listing != nullptr) listing->entry = text_so_far();
        for (int i = 0; i < cx; ++i) {
            tr.instruction(i);
            if (listing != nullptr) listing->instructions.push_back(text_so_far());
        }
        tr.exits();
        if (listing != nullptr) listing->exits = text_so_far();
        if (holder.flatten() != kErrorOk || holder.resolveUnresolvedLinks() != kErrorOk)
            return false;
        std::size_t size = holder.codeSize();
        void* memory = nullptr;
        if (VirtMem::alloc(&memory, size, VirtMem::MemoryFlags::kAccessRW) != kErrorOk)
            return false;
        memory_ = memory;
        size_ = size;
        auto address = reinterpret_cast<std::uint64_t>(memory);
        if (holder.relocateToBase(address) != kErrorOk ||
            holder.copyFlattenedData(memory, size) != kErrorOk ||
            VirtMem::protect(memory, size, VirtMem::MemoryFlags::kAccessRX) != kErrorOk)
            return false;
        // Where a return to each instruction goes: the start of its run, or
        // the hand-over for one inside a run.
        table_.assign(static_cast<std::size_t>(cx), nullptr);
        for (int i = 0; i < cx; ++i) {
            Label to = tr.starts[i] ? tr.entry[i] : tr.hand_over_at_ecx;
            table_[i] = reinterpret_cast<const void*>(address + holder.labelOffsetFromBase(to));
        }
        run_ = reinterpret_cast<NativeEntry>(memory);
        return true;
    }

    std::int32_t run(NativeState& state) const { return run_(&state, s, table_.data()); }

  private:
    void* memory_ = nullptr;
    std::size_t size_ = 0;
    std::vector<const void*> table_;
    NativeEntry run_ = nullptr;
};

} // namespace

bool run_native() {
    if (cx == 0) return false;
    NativeState state{};
    std::int32_t reason;
    {
        NativeCode native;
        if (!native.make(nullptr, nullptr)) return false;
        clear_stack();
        state = NativeState{p, b, t};
        reason = native.run(state);
    }
    // A run-time service that ended the run leaves the registers as the
    // interpreter does: as they were before the run.
    if (reason == EXIT_FATAL) throw pending_fatal;
    p = state.p;
    b = state.b;
    t = state.t;
    if (reason == EXIT_HAND_OVER) {
        interpret_from_here();
        return true;
    }
    // As the interpreter leaves it: GET pushed the cell it could not fill.
    // The output goes out first; if it can't, ir stays as it was.
    ++p;
    ++t;
    flush_output();
    ir = code[state.p];
    ir_pc = state.p;
    runtime_error(MSG_NO_NUMBER);
}

NativeListing list_native() {
    NativeListing listing;
    if (cx == 0) return listing;
    StringLogger logger;
    NativeCode native;
    if (!native.make(&logger, &listing)) return NativeListing{};
    return listing;
}
