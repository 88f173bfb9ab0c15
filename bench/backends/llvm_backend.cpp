// The program as LLVM IR, built with IRBuilder: every variable an alloca
// that the pass pipeline promotes to an SSA value, arrays as allocas of
// their cells, + - * without nsw (they wrap), and each guard a branch to a
// block that calls the exit service.  In the resumable form the main
// routine's arrays are in the machine's stack and a switch on its entry
// argument starts it at any loop head, its variables loaded from the
// stack.  Optimised with the new pass manager's default pipeline,
// compiled by ORC's LLJIT.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include <llvm/ExecutionEngine/Orc/ExecutionUtils.h>
#include <llvm/ExecutionEngine/Orc/JITTargetMachineBuilder.h>
#include <llvm/ExecutionEngine/Orc/LLJIT.h>
#include <llvm/ExecutionEngine/Orc/ThreadSafeModule.h>
#include <llvm/IR/IRBuilder.h>
#include <llvm/IR/LLVMContext.h>
#include <llvm/IR/Module.h>
#include <llvm/IR/Verifier.h>
#include <llvm/Passes/PassBuilder.h>
#include <llvm/Support/Error.h>
#include <llvm/Support/TargetSelect.h>
#include <llvm/Support/raw_ostream.h>
#include <llvm/Target/TargetMachine.h>

#include "backend.hpp"

namespace backends {

namespace {

using namespace llvm;

[[noreturn]] void fail(const std::string& what, Error e) {
    throw std::runtime_error(what + ": " + toString(std::move(e)));
}

template <class T> T take(Expected<T> v, const std::string& what) {
    if (!v) fail(what, v.takeError());
    return std::move(*v);
}

// Builds one module.
class Emitter {
public:
    Emitter(const Program& p, Form form, LLVMContext& c, Module& m)
        : p_(p), form_(form), c_(c), m_(m), b_(c) {}

    void emit() {
        i32_ = Type::getInt32Ty(c_);
        ptr_ = Type::getInt8PtrTy(c_);
        write_ty_ = FunctionType::get(Type::getVoidTy(c_), {ptr_, i32_}, false);
        read_ty_ = FunctionType::get(i32_, {ptr_}, false);
        bail_ty_ = FunctionType::get(Type::getVoidTy(c_), {ptr_, i32_}, false);
        for (std::size_t r = 0; r < p_.routines.size(); ++r) {
            const Routine& rt = p_.routines[r];
            std::vector<Type*> params;
            params.push_back(ptr_);
            if (r == 0) {
                params.push_back(PointerType::getUnqual(i32_)); // the machine's stack
                params.push_back(i32_);                         // where to start
            } else {
                params.push_back(i32_); // b: the frame's base in the stack
            }
            for (int k = 0; k < rt.params; ++k)
                params.push_back(i32_);
            auto* f = Function::Create(FunctionType::get(i32_, params, false),
                                       r == 0 ? Function::ExternalLinkage : Function::InternalLinkage,
                                       r == 0 ? "program_main" : rt.name, m_);
            f->setDoesNotThrow();
            fns_.push_back(f);
        }
        for (std::size_t r = 0; r < p_.routines.size(); ++r)
            routine(static_cast<int>(r));
    }

private:
    Value* service(FunctionType* ty, void* address) {
        return ConstantExpr::getIntToPtr(
            ConstantInt::get(Type::getInt64Ty(c_), reinterpret_cast<std::uintptr_t>(address)),
            PointerType::getUnqual(ty));
    }

    void routine(int r) {
        const Routine& rt = p_.routines[static_cast<std::size_t>(r)];
        routine_ = &rt;
        fn_ = fns_[static_cast<std::size_t>(r)];
        for (auto& g : bail_)
            g = nullptr;
        auto* entry = BasicBlock::Create(c_, "entry", fn_);
        b_.SetInsertPoint(entry);
        auto arg = fn_->arg_begin();
        run_ = &*arg++;
        base_ = nullptr;
        Value* stack = nullptr;
        Value* start = nullptr;
        if (r != 0) {
            base_ = &*arg++;
        } else {
            stack = &*arg++;
            start = &*arg++;
        }
        bool in_stack = arrays_in_stack(form_) && r == 0;
        bool entries = entries_at_loops(form_) && r == 0;
        vars_.clear();
        for (int v = 0; v < rt.vars; ++v)
            vars_.push_back(b_.CreateAlloca(i32_));
        arrays_.clear();
        std::int32_t cell = LINK_CELLS + rt.vars;
        for (const Array& a : rt.arrays) {
            if (in_stack) {
                arrays_.push_back(b_.CreateInBoundsGEP(i32_, stack, b_.getInt64(cell)));
            } else {
                auto* ty = ArrayType::get(i32_, static_cast<std::uint64_t>(a.size));
                auto* cells = b_.CreateAlloca(ty);
                b_.CreateMemSet(cells, b_.getInt8(0), static_cast<std::uint64_t>(a.size) * 4, MaybeAlign(4));
                arrays_.push_back(b_.CreateInBoundsGEP(ty, cells, {b_.getInt64(0), b_.getInt64(0)}));
            }
            cell += a.size;
        }
        for (int v = 0; v < rt.vars; ++v)
            b_.CreateStore(v < rt.params ? static_cast<Value*>(&*arg++) : b_.getInt32(0),
                           vars_[static_cast<std::size_t>(v)]);
        if (r != 0) {
            // The frame and the temporaries above it must stay below the
            // stack's end.
            std::int32_t room = STACK_CELLS - 1 - rt.frame_cells() - 4;
            guard(b_.CreateICmpSLE(base_, b_.getInt32(room)), GUARD_STACK);
        }
        auto* first = b_.GetInsertBlock();
        auto* begin = BasicBlock::Create(c_, "begin", fn_);
        b_.SetInsertPoint(begin);
        heads_.clear();
        block(rt.body);
        auto* end = b_.GetInsertBlock();
        b_.SetInsertPoint(first);
        if (entries) {
            // Entry k: the variables from the frame, then the k-th loop's head.
            auto* sw = b_.CreateSwitch(start, begin, static_cast<unsigned>(heads_.size()));
            for (std::size_t k = 0; k < heads_.size(); ++k) {
                auto* resume = BasicBlock::Create(c_, "resume", fn_);
                b_.SetInsertPoint(resume);
                for (int v = 0; v < rt.vars; ++v)
                    b_.CreateStore(b_.CreateLoad(i32_, b_.CreateInBoundsGEP(i32_, stack, b_.getInt64(LINK_CELLS + v))),
                                   vars_[static_cast<std::size_t>(v)]);
                b_.CreateBr(heads_[k]);
                sw->addCase(b_.getInt32(static_cast<std::uint32_t>(k + 1)), resume);
            }
        } else {
            b_.CreateBr(begin);
        }
        b_.SetInsertPoint(end);
        if (rt.result >= 0)
            b_.CreateRet(b_.CreateLoad(i32_, vars_[static_cast<std::size_t>(rt.result)]));
        else
            b_.CreateRet(b_.getInt32(0));
    }

    // Goes on where `ok` holds; elsewhere the run is abandoned with g.
    void guard(Value* ok, Guard g) {
        if (!bail_[g]) {
            auto here = b_.saveIP();
            bail_[g] = BasicBlock::Create(c_, "bail", fn_);
            b_.SetInsertPoint(bail_[g]);
            auto* call = b_.CreateCall(bail_ty_, service(bail_ty_, reinterpret_cast<void*>(&service_bail)),
                                       {run_, b_.getInt32(g)});
            call->setDoesNotReturn();
            call->setDoesNotThrow();
            b_.CreateUnreachable();
            b_.restoreIP(here);
        }
        auto* go = BasicBlock::Create(c_, "ok", fn_);
        b_.CreateCondBr(ok, go, bail_[g]);
        b_.SetInsertPoint(go);
    }

    void block(const std::vector<int>& stmts) {
        for (int s : stmts)
            statement(p_.stmts[static_cast<std::size_t>(s)]);
    }

    void statement(const Stmt& s) {
        switch (s.kind) {
        case Stmt::Assign: b_.CreateStore(expr(s.value), vars_[static_cast<std::size_t>(s.var)]); break;
        case Stmt::Store: {
            Value* cell = element(s.array, s.index);
            b_.CreateStore(expr(s.value), cell);
            break;
        }
        case Stmt::While: {
            auto* head = BasicBlock::Create(c_, "while", fn_);
            auto* body = BasicBlock::Create(c_, "do", fn_);
            auto* done = BasicBlock::Create(c_, "done", fn_);
            heads_.push_back(head);
            b_.CreateBr(head);
            b_.SetInsertPoint(head);
            b_.CreateCondBr(condition(s.value), body, done);
            b_.SetInsertPoint(body);
            block(s.body);
            b_.CreateBr(head);
            b_.SetInsertPoint(done);
            break;
        }
        case Stmt::If: {
            auto* then = BasicBlock::Create(c_, "then", fn_);
            auto* other = BasicBlock::Create(c_, "else", fn_);
            auto* done = BasicBlock::Create(c_, "fi", fn_);
            b_.CreateCondBr(condition(s.value), then, other);
            b_.SetInsertPoint(then);
            block(s.body);
            b_.CreateBr(done);
            b_.SetInsertPoint(other);
            block(s.other);
            b_.CreateBr(done);
            b_.SetInsertPoint(done);
            break;
        }
        case Stmt::Write: {
            Value* v = expr(s.value);
            auto* call = b_.CreateCall(write_ty_, service(write_ty_, reinterpret_cast<void*>(&service_write)),
                                       {run_, v});
            call->setDoesNotThrow();
            break;
        }
        }
    }

    // The address of array[index], the index checked against its bounds.
    Value* element(int array, int index) {
        const Array& a = routine_->arrays[static_cast<std::size_t>(array)];
        Value* off = b_.CreateSub(expr(index), b_.getInt32(a.lo));
        guard(b_.CreateICmpULT(off, b_.getInt32(a.size)), GUARD_INDEX);
        return b_.CreateInBoundsGEP(i32_, arrays_[static_cast<std::size_t>(array)],
                                    b_.CreateZExt(off, b_.getInt64Ty()));
    }

    Value* condition(int e) {
        const Expr& x = p_.exprs[static_cast<std::size_t>(e)];
        if (x.kind == Expr::Bin && is_comparison(x.op)) return compare(x);
        return b_.CreateICmpNE(expr(e), b_.getInt32(0));
    }

    Value* compare(const Expr& x) {
        Value* l = expr(x.l);
        Value* r = expr(x.r);
        switch (x.op) {
        case Op::Eq: return b_.CreateICmpEQ(l, r);
        case Op::Ne: return b_.CreateICmpNE(l, r);
        case Op::Lt: return b_.CreateICmpSLT(l, r);
        case Op::Le: return b_.CreateICmpSLE(l, r);
        case Op::Gt: return b_.CreateICmpSGT(l, r);
        default: return b_.CreateICmpSGE(l, r);
        }
    }

    Value* divide(const Expr& x) {
        Value* l = expr(x.l);
        const Expr& rx = p_.exprs[static_cast<std::size_t>(x.r)];
        if (rx.kind == Expr::Const && rx.value != 0 && rx.value != -1)
            return b_.CreateSDiv(l, b_.getInt32(rx.value));
        Value* r = expr(x.r);
        guard(b_.CreateICmpNE(r, b_.getInt32(0)), GUARD_DIVISION);
        // l div -1 wraps around as a negation; sdiv would not.
        Value* minus = b_.CreateICmpEQ(r, b_.getInt32(-1));
        Value* safe = b_.CreateSelect(minus, b_.getInt32(1), r);
        return b_.CreateSelect(minus, b_.CreateNeg(l), b_.CreateSDiv(l, safe));
    }

    Value* expr(int e) {
        const Expr& x = p_.exprs[static_cast<std::size_t>(e)];
        switch (x.kind) {
        case Expr::Const: return b_.getInt32(static_cast<std::uint32_t>(x.value));
        case Expr::Var: return b_.CreateLoad(i32_, vars_[static_cast<std::size_t>(x.var)]);
        case Expr::Bin:
            switch (x.op) {
            case Op::Div: return divide(x);
            case Op::Add:
            case Op::Sub:
            case Op::Mul: {
                // The left operand first, as the machine computes it.
                Value* l = expr(x.l);
                Value* r = expr(x.r);
                return x.op == Op::Add ? b_.CreateAdd(l, r)
                       : x.op == Op::Sub ? b_.CreateSub(l, r)
                                         : b_.CreateMul(l, r);
            }
            default: return b_.CreateZExt(compare(x), i32_);
            }
        case Expr::Index: return b_.CreateLoad(i32_, element(x.array, x.l));
        case Expr::Call: {
            std::vector<Value*> args{run_};
            // The callee's frame starts where this one's ends.
            Value* b = base_ ? base_ : b_.getInt32(0);
            args.push_back(b_.CreateAdd(b, b_.getInt32(routine_->frame_cells())));
            for (int a : x.args)
                args.push_back(expr(a));
            return b_.CreateCall(fns_[static_cast<std::size_t>(x.fn)], args);
        }
        case Expr::Read: {
            auto* call = b_.CreateCall(read_ty_, service(read_ty_, reinterpret_cast<void*>(&service_read)),
                                       {run_});
            call->setDoesNotThrow();
            return call;
        }
        }
        return nullptr;
    }

    const Program& p_;
    Form form_;
    LLVMContext& c_;
    Module& m_;
    IRBuilder<> b_;
    Type* i32_ = nullptr;
    Type* ptr_ = nullptr;
    FunctionType* write_ty_ = nullptr;
    FunctionType* read_ty_ = nullptr;
    FunctionType* bail_ty_ = nullptr;
    std::vector<Function*> fns_;
    const Routine* routine_ = nullptr;
    Function* fn_ = nullptr;
    Value* run_ = nullptr;
    Value* base_ = nullptr;
    std::vector<AllocaInst*> vars_;
    std::vector<Value*> arrays_;      // the address of each array's first cell
    std::vector<BasicBlock*> heads_;  // the loops' heads, in the source's order
    BasicBlock* bail_[GUARD_SERVICE + 1] = {};
};

class LlvmBackend : public Backend {
public:
    LlvmBackend(int level, Form form) : level_(level), form_(form) {
        static bool ready = [] {
            InitializeNativeTarget();
            InitializeNativeTargetAsmPrinter();
            return true;
        }();
        (void)ready;
        auto jtmb = take(orc::JITTargetMachineBuilder::detectHost(), "host");
        jtmb.setCodeGenOptLevel(level == 1 ? CodeGenOpt::Less : CodeGenOpt::Default);
        tm_ = take(jtmb.createTargetMachine(), "target machine");
        jit_ = take(orc::LLJITBuilder().setJITTargetMachineBuilder(std::move(jtmb)).create(), "LLJIT");
    }

    std::string name() const override {
        return "LLVM ORC -O" + std::to_string(level_) + form_suffix(form_);
    }

    Compiled compile(const Program& p) override {
        using Clock = std::chrono::steady_clock;
        auto ms = [](Clock::time_point a, Clock::time_point b) {
            return std::chrono::duration<double, std::milli>(b - a).count();
        };
        auto t0 = Clock::now();
        auto context = std::make_unique<LLVMContext>();
        auto module = std::make_unique<Module>(p.name, *context);
        module->setDataLayout(jit_->getDataLayout());
        module->setTargetTriple(tm_->getTargetTriple().str());
        Emitter(p, form_, *context, *module).emit();
        std::string problems;
        raw_string_ostream os(problems);
        if (verifyModule(*module, &os)) throw std::runtime_error("bad IR: " + os.str());
        auto t1 = Clock::now();
        optimise(*module);
        auto t2 = Clock::now();
        // BACKENDS_DUMP_IR=1 shows the optimised IR on stderr.
        if (const char* dump = std::getenv("BACKENDS_DUMP_IR"); dump && *dump == '1') module->print(errs(), nullptr);

        // A library of its own for each compilation, so that the names of
        // one program never meet another's.
        static std::atomic<int> count{0};
        auto made = jit_->createJITDylib(p.name + std::to_string(count++));
        if (!made) fail("JITDylib", made.takeError());
        orc::JITDylib& lib = *made;
        lib.addGenerator(take(orc::DynamicLibrarySearchGenerator::GetForCurrentProcess(
                                  jit_->getDataLayout().getGlobalPrefix()),
                              "process symbols"));
        if (auto e = jit_->addIRModule(lib, orc::ThreadSafeModule(std::move(module), std::move(context))))
            fail("add module", std::move(e));
        auto symbol = take(jit_->lookup(lib, "program_main"), "lookup");
        Compiled c;
        c.main = reinterpret_cast<MainFn>(symbol.getAddress());
        c.build_ms = ms(t0, t1);
        c.optimise_ms = ms(t1, t2);
        c.codegen_ms = ms(t2, Clock::now());
        return c; // the code lives as long as the LLJIT
    }

private:
    void optimise(Module& m) {
        LoopAnalysisManager lam;
        FunctionAnalysisManager fam;
        CGSCCAnalysisManager cgam;
        ModuleAnalysisManager mam;
        // As a C compiler sets them: unrolling and the vectorisers at -O2,
        // none of them at -O1.
        PipelineTuningOptions tuning;
        tuning.LoopUnrolling = level_ >= 2;
        tuning.LoopVectorization = level_ >= 2;
        tuning.SLPVectorization = level_ >= 2;
        PassBuilder pb(tm_.get(), tuning);
        pb.registerModuleAnalyses(mam);
        pb.registerCGSCCAnalyses(cgam);
        pb.registerFunctionAnalyses(fam);
        pb.registerLoopAnalyses(lam);
        pb.crossRegisterProxies(lam, fam, cgam, mam);
        ModulePassManager mpm =
            pb.buildPerModuleDefaultPipeline(level_ == 1 ? OptimizationLevel::O1 : OptimizationLevel::O2);
        mpm.run(m, mam);
    }

    int level_;
    Form form_;
    std::unique_ptr<TargetMachine> tm_;
    std::unique_ptr<orc::LLJIT> jit_;
};

} // namespace

std::unique_ptr<Backend> make_llvm(int level, Form form) { return std::make_unique<LlvmBackend>(level, form); }

} // namespace backends
