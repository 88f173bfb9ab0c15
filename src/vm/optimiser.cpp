// The optimising tier for the whole program: the plan, a normal and a
// resume function for every routine that needs one, the entry sequence
// through which the C++ around the tier runs a resume function and the
// exit to which a failed guard jumps from any depth of calls, all in one
// piece of executable memory; and the listing of what it made.
#include <asmjit/x86.h>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vm/machine.hpp"
#include "vm/optimiser.hpp"
#include "vm/optimiser_translator.hpp"

SpeculationState speculation{};

const char* guard_name(Guard g) {
    switch (g) {
    case GUARD_NONE: return "none";
    case GUARD_BOUNDS: return "bounds";
    case GUARD_DIVISION: return "division";
    case GUARD_STACK: return "stack";
    case GUARD_UNSET: return "unset";
    case GUARD_READ: return "read";
    case GUARD_ENDED: return "ended";
    case GUARD_FRAME: return "frame";
    case GUARD_ADDRESS: return "address";
    case GUARD_COUNT: break;
    }
    return "?";
}

bool guard_resumes(Guard g, bool unset_reads) {
    return g == GUARD_DIVISION || g == GUARD_ADDRESS || g == GUARD_ENDED ||
           (g == GUARD_BOUNDS && !unset_reads);
}

std::string exit_name(const GuardExit& e) {
    return std::string(guard_name(e.kind)) + " at " + std::to_string(e.at);
}

namespace optimising {

namespace {

// The first error asmjit reports, kept.
class FirstError : public ErrorHandler {
  public:
    Error error = kErrorOk;
    std::string message;
    void handleError(Error err, const char* text, BaseEmitter*) override {
        if (error == kErrorOk) {
            error = err;
            message = text;
        }
    }
};

using Enter = std::int32_t (*)(const void* function, std::int64_t b, std::int32_t entry);

// The entry sequence, enter(function, b, entry): saves what the C++ caller
// keeps in registers and the stack pointer, then calls the function.  The
// exit, leave(guard, site): notes the guard's exit, puts that stack
// pointer back, from however deep the machine code had called, and
// returns from enter.  (Raw code, outside the
// functions whose registers the compiler allocates.)
void entry_and_exit(x86::Compiler& cc, Label enter, Label stub) {
    using namespace x86;
    Label back = cc.newLabel();
    const auto state = reinterpret_cast<std::uintptr_t>(&speculation);
    cc.bind(enter);
    cc.push(rbx);
    cc.push(rbp);
    cc.push(r12);
    cc.push(r13);
    cc.push(r14);
    cc.push(r15);
    cc.sub(rsp, 8); // six pushes and this: the stack 16-byte aligned at the call
    cc.mov(rax, state);
    cc.mov(qword_ptr(rax, offsetof(SpeculationState, native_stack)), rsp);
    cc.mov(rax, rdi);
    cc.mov(rdi, rsi);
    cc.mov(esi, edx);
    cc.call(rax);
    cc.bind(back);
    cc.add(rsp, 8);
    cc.pop(r15);
    cc.pop(r14);
    cc.pop(r13);
    cc.pop(r12);
    cc.pop(rbp);
    cc.pop(rbx);
    cc.emit(Inst::kIdRet); // raw: the compiler's ret belongs to its functions
    // leave(guard, site): a guard of GUARD_NONE was set by the service
    // that failed.
    Label set = cc.newLabel();
    cc.bind(stub);
    cc.mov(rax, state);
    cc.mov(dword_ptr(rax, offsetof(SpeculationState, site)), esi);
    cc.test(edi, edi);
    cc.jz(set);
    cc.mov(dword_ptr(rax, offsetof(SpeculationState, guard)), edi);
    cc.bind(set);
    cc.mov(rsp, qword_ptr(rax, offsetof(SpeculationState, native_stack)));
    cc.xor_(eax, eax);
    cc.jmp(back);
}

class Program : public OptimisedProgram {
  public:
    Program() = default;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program() override {
        if (memory_ != nullptr) VirtMem::release(memory_, size_);
    }

    std::int32_t resume(int r, std::int64_t b, std::int32_t entry) const override {
        return enter_(resume_[static_cast<std::size_t>(r)], b, entry);
    }

    // Copies the finished code into memory that is first writable, then
    // executable and read-only.
    bool place(CodeHolder& holder, Label enter, const std::vector<FuncNode*>& resume) {
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
        enter_ = reinterpret_cast<Enter>(address + holder.labelOffsetFromBase(enter));
        for (FuncNode* f : resume)
            resume_.push_back(
                reinterpret_cast<const void*>(address + holder.labelOffsetFromBase(f->label())));
        return true;
    }

  private:
    void* memory_ = nullptr;
    std::size_t size_ = 0;
    Enter enter_ = nullptr;
    std::vector<const void*> resume_;
};

} // namespace

} // namespace optimising

using namespace optimising;

std::unique_ptr<OptimisedProgram> optimise_program(const Shape& shape, std::string* why,
                                                   OptimisedListing* listing) {
    auto refuse = [&](const char* reason) -> std::unique_ptr<OptimisedProgram> {
        if (why != nullptr) *why = reason;
        return nullptr;
    };
    if (!shape.ok) return refuse(shape.why);
    CodeHolder holder;
    if (holder.init(Environment::host()) != kErrorOk) return refuse("no code holder");
    FirstError errors;
    holder.setErrorHandler(&errors);
    StringLogger logger;
    if (listing != nullptr || std::getenv("TSUMIKI_DEBUG_TIER")) holder.setLogger(&logger);
    x86::Compiler cc(&holder);
    cc.addDiagnosticOptions(DiagnosticOptions::kValidateIntermediate);
    Plan plan(shape);
    Label enter = cc.newLabel();
    plan.stub = cc.newLabel();
    entry_and_exit(cc, enter, plan.stub);

    std::size_t n = shape.routines.size();
    for (std::size_t r = 0; r < n; ++r) {
        if (plan.has_normal(static_cast<int>(r))) {
            FuncSignatureBuilder sig(CallConvId::kHost);
            normal_signature(plan, static_cast<int>(r), sig);
            cc.newFuncNode(&plan.normal_func[r], sig);
            plan.normal[r] = plan.normal_func[r]->label();
        }
        cc.newFuncNode(&plan.resume_func[r],
                       FuncSignatureT<std::int32_t, std::int64_t, std::int32_t>(CallConvId::kHost));
    }
    try {
        for (std::size_t r = 0; r < n; ++r) {
            if (plan.has_normal(static_cast<int>(r)))
                Function(cc, plan, static_cast<int>(r), false, listing != nullptr).translate();
            Function(cc, plan, static_cast<int>(r), true, listing != nullptr).translate();
        }
    } catch (const Decline& d) {
        return refuse(d.why);
    }
    if (errors.error == kErrorOk) cc.finalize();
    if (errors.error != kErrorOk) {
        if (std::getenv("TSUMIKI_DEBUG_TIER")) std::fprintf(stderr, "%s\n", logger.data());
        if (why != nullptr) *why = "the assembler failed: " + errors.message;
        return nullptr;
    }
    auto program = std::make_unique<Program>();
    if (!program->place(holder, enter, plan.resume_func)) return refuse("no executable memory");
    if (listing != nullptr) listing->text.assign(logger.data(), logger.dataSize());
    return program;
}
