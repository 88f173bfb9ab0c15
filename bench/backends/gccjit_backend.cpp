// The program through libgccjit's C API: every variable a local of type
// int, arrays as locals of array type, -fwrapv so that + - * wrap, and
// each guard a branch to a block that calls the exit service; the
// resumable form as in llvm_backend.cpp.  Compiled by
// gcc_jit_context_compile at -O1 or -O2.
#include <libgccjit.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "backend.hpp"

namespace backends {

namespace {

// A local's name: the prefix and a number.
std::string numbered(const char* prefix, std::size_t k) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%zu", prefix, k);
    return name;
}

class Emitter {
public:
    Emitter(const Program& p, Form form, gcc_jit_context* c)
        : p_(p), form_(form), c_(c) {}

    void emit() {
        int_ = gcc_jit_context_get_int_type(c_, 4, 1);
        uint_ = gcc_jit_context_get_int_type(c_, 4, 0);
        bool_ = gcc_jit_context_get_type(c_, GCC_JIT_TYPE_BOOL);
        ptr_ = gcc_jit_context_get_type(c_, GCC_JIT_TYPE_VOID_PTR);
        auto* void_ = gcc_jit_context_get_type(c_, GCC_JIT_TYPE_VOID);
        gcc_jit_type* write_params[] = {ptr_, int_};
        write_ = service(void_, 2, write_params, reinterpret_cast<void*>(&service_write));
        bail_fn_ = service(void_, 2, write_params, reinterpret_cast<void*>(&service_bail));
        gcc_jit_type* read_params[] = {ptr_};
        read_ = service(int_, 1, read_params, reinterpret_cast<void*>(&service_read));
        for (std::size_t r = 0; r < p_.routines.size(); ++r) {
            const Routine& rt = p_.routines[r];
            std::vector<gcc_jit_param*> params;
            params.push_back(gcc_jit_context_new_param(c_, nullptr, ptr_, "run"));
            if (r == 0) {
                params.push_back(gcc_jit_context_new_param(c_, nullptr, gcc_jit_type_get_pointer(int_), "stack"));
                params.push_back(gcc_jit_context_new_param(c_, nullptr, int_, "entry"));
            } else {
                params.push_back(gcc_jit_context_new_param(c_, nullptr, int_, "b"));
            }
            for (int k = 0; k < rt.params; ++k)
                params.push_back(gcc_jit_context_new_param(c_, nullptr, int_, numbered("p", k).c_str()));
            fns_.push_back(gcc_jit_context_new_function(
                c_, nullptr, r == 0 ? GCC_JIT_FUNCTION_EXPORTED : GCC_JIT_FUNCTION_INTERNAL, int_,
                r == 0 ? "program_main" : rt.name.c_str(), static_cast<int>(params.size()), params.data(), 0));
        }
        for (std::size_t r = 0; r < p_.routines.size(); ++r)
            routine(static_cast<int>(r));
    }

private:
    gcc_jit_rvalue* service(gcc_jit_type* result, int n, gcc_jit_type** params, void* address) {
        auto* ty = gcc_jit_context_new_function_ptr_type(c_, nullptr, result, n, params, 0);
        return gcc_jit_context_new_rvalue_from_ptr(c_, ty, address);
    }

    gcc_jit_rvalue* constant(std::int32_t v) { return gcc_jit_context_new_rvalue_from_int(c_, int_, v); }
    gcc_jit_rvalue* rv(gcc_jit_lvalue* l) { return gcc_jit_lvalue_as_rvalue(l); }
    gcc_jit_block* new_block() { return gcc_jit_function_new_block(fn_, nullptr); }

    void routine(int r) {
        const Routine& rt = p_.routines[static_cast<std::size_t>(r)];
        routine_ = &rt;
        fn_ = fns_[static_cast<std::size_t>(r)];
        for (auto& g : bail_)
            g = nullptr;
        at_ = new_block();
        run_ = gcc_jit_param_as_rvalue(gcc_jit_function_get_param(fn_, 0));
        base_ = r != 0 ? gcc_jit_param_as_rvalue(gcc_jit_function_get_param(fn_, 1)) : nullptr;
        stack_ = r == 0 ? gcc_jit_param_as_rvalue(gcc_jit_function_get_param(fn_, 1)) : nullptr;
        gcc_jit_rvalue* start = r == 0 ? gcc_jit_param_as_rvalue(gcc_jit_function_get_param(fn_, 2)) : nullptr;
        bool in_stack = arrays_in_stack(form_) && r == 0;
        bool entries = entries_at_loops(form_) && r == 0;
        vars_.clear();
        for (int v = 0; v < rt.vars; ++v) {
            auto* l = gcc_jit_function_new_local(fn_, nullptr, int_, numbered("v", v).c_str());
            gcc_jit_rvalue* init =
                v < rt.params ? gcc_jit_param_as_rvalue(gcc_jit_function_get_param(fn_, 2 + v)) : constant(0);
            gcc_jit_block_add_assignment(at_, nullptr, l, init);
            vars_.push_back(l);
        }
        arrays_.clear();
        cells_.clear();
        std::int32_t cell = LINK_CELLS + rt.vars;
        for (std::size_t a = 0; a < rt.arrays.size(); ++a) {
            if (in_stack) {
                arrays_.push_back(nullptr);
            } else {
                auto* ty = gcc_jit_context_new_array_type(c_, nullptr, int_, rt.arrays[a].size);
                auto* cells = gcc_jit_function_new_local(fn_, nullptr, ty, numbered("a", a).c_str());
                arrays_.push_back(cells);
                zero(cells, rt.arrays[a].size);
            }
            cells_.push_back(cell);
            cell += rt.arrays[a].size;
        }
        if (r != 0) {
            std::int32_t room = STACK_CELLS - 1 - rt.frame_cells() - 4;
            guard(gcc_jit_context_new_comparison(c_, nullptr, GCC_JIT_COMPARISON_LE, base_, constant(room)),
                  GUARD_STACK);
        }
        gcc_jit_block* entry = at_;
        gcc_jit_block* begin = new_block();
        at_ = begin;
        heads_.clear();
        block(rt.body);
        if (entries) {
            // Entry k: the variables from the frame, then the k-th loop's head.
            std::vector<gcc_jit_case*> cases;
            for (std::size_t k = 0; k < heads_.size(); ++k) {
                gcc_jit_block* resume = new_block();
                for (int v = 0; v < rt.vars; ++v)
                    gcc_jit_block_add_assignment(
                        resume, nullptr, vars_[static_cast<std::size_t>(v)],
                        rv(gcc_jit_context_new_array_access(c_, nullptr, stack_, constant(LINK_CELLS + v))));
                gcc_jit_block_end_with_jump(resume, nullptr, heads_[k]);
                gcc_jit_rvalue* key = constant(static_cast<std::int32_t>(k + 1));
                cases.push_back(gcc_jit_context_new_case(c_, key, key, resume));
            }
            gcc_jit_block_end_with_switch(entry, nullptr, start, begin, static_cast<int>(cases.size()),
                                          cases.data());
        } else {
            gcc_jit_block_end_with_jump(entry, nullptr, begin);
        }
        gcc_jit_block_end_with_return(
            at_, nullptr, rt.result >= 0 ? rv(vars_[static_cast<std::size_t>(rt.result)]) : constant(0));
    }

    // A loop that sets every cell to 0 (gcc makes it a memset).
    void zero(gcc_jit_lvalue* cells, std::int32_t size) {
        auto* i = gcc_jit_function_new_local(fn_, nullptr, int_, "z");
        gcc_jit_block_add_assignment(at_, nullptr, i, constant(0));
        auto* head = new_block();
        auto* body = new_block();
        auto* done = new_block();
        gcc_jit_block_end_with_jump(at_, nullptr, head);
        gcc_jit_block_end_with_conditional(
            head, nullptr, gcc_jit_context_new_comparison(c_, nullptr, GCC_JIT_COMPARISON_LT, rv(i), constant(size)),
            body, done);
        gcc_jit_block_add_assignment(
            body, nullptr, gcc_jit_context_new_array_access(c_, nullptr, rv(cells), rv(i)), constant(0));
        gcc_jit_block_add_assignment_op(body, nullptr, i, GCC_JIT_BINARY_OP_PLUS, constant(1));
        gcc_jit_block_end_with_jump(body, nullptr, head);
        at_ = done;
    }

    void guard(gcc_jit_rvalue* ok, Guard g) {
        if (!bail_[g]) {
            bail_[g] = new_block();
            gcc_jit_rvalue* args[] = {run_, constant(g)};
            gcc_jit_block_add_eval(bail_[g], nullptr, gcc_jit_context_new_call_through_ptr(c_, nullptr, bail_fn_, 2, args));
            gcc_jit_block_end_with_return(bail_[g], nullptr, constant(0));
        }
        auto* go = new_block();
        gcc_jit_block_end_with_conditional(at_, nullptr, ok, go, bail_[g]);
        at_ = go;
    }

    void block(const std::vector<int>& stmts) {
        for (int s : stmts)
            statement(p_.stmts[static_cast<std::size_t>(s)]);
    }

    void statement(const Stmt& s) {
        switch (s.kind) {
        case Stmt::Assign: {
            gcc_jit_rvalue* v = expr(s.value);
            gcc_jit_block_add_assignment(at_, nullptr, vars_[static_cast<std::size_t>(s.var)], v);
            break;
        }
        case Stmt::Store: {
            gcc_jit_lvalue* cell = element(s.array, s.index);
            gcc_jit_rvalue* v = expr(s.value);
            gcc_jit_block_add_assignment(at_, nullptr, cell, v);
            break;
        }
        case Stmt::While: {
            auto* head = new_block();
            auto* body = new_block();
            auto* done = new_block();
            gcc_jit_block_end_with_jump(at_, nullptr, head);
            heads_.push_back(head);
            at_ = head;
            gcc_jit_rvalue* cond = condition(s.value);
            gcc_jit_block_end_with_conditional(at_, nullptr, cond, body, done);
            at_ = body;
            block(s.body);
            gcc_jit_block_end_with_jump(at_, nullptr, head);
            at_ = done;
            break;
        }
        case Stmt::If: {
            auto* then = new_block();
            auto* other = new_block();
            auto* done = new_block();
            gcc_jit_block_end_with_conditional(at_, nullptr, condition(s.value), then, other);
            at_ = then;
            block(s.body);
            gcc_jit_block_end_with_jump(at_, nullptr, done);
            at_ = other;
            block(s.other);
            gcc_jit_block_end_with_jump(at_, nullptr, done);
            at_ = done;
            break;
        }
        case Stmt::Write: {
            gcc_jit_rvalue* args[] = {run_, expr(s.value)};
            gcc_jit_block_add_eval(at_, nullptr, gcc_jit_context_new_call_through_ptr(c_, nullptr, write_, 2, args));
            break;
        }
        }
    }

    gcc_jit_lvalue* element(int array, int index) {
        const Array& a = routine_->arrays[static_cast<std::size_t>(array)];
        gcc_jit_rvalue* off = gcc_jit_context_new_binary_op(c_, nullptr, GCC_JIT_BINARY_OP_MINUS, int_,
                                                            expr(index), constant(a.lo));
        // Evaluated once: the check and the access use the same value.
        auto* o = gcc_jit_function_new_local(fn_, nullptr, int_, "i");
        gcc_jit_block_add_assignment(at_, nullptr, o, off);
        gcc_jit_rvalue* u = gcc_jit_context_new_cast(c_, nullptr, rv(o), uint_);
        guard(gcc_jit_context_new_comparison(c_, nullptr, GCC_JIT_COMPARISON_LT, u,
                                             gcc_jit_context_new_rvalue_from_int(c_, uint_, a.size)),
              GUARD_INDEX);
        if (!arrays_[static_cast<std::size_t>(array)]) // in the stack
            return gcc_jit_context_new_array_access(
                c_, nullptr, stack_,
                arith(GCC_JIT_BINARY_OP_PLUS, rv(o), constant(cells_[static_cast<std::size_t>(array)])));
        return gcc_jit_context_new_array_access(c_, nullptr, rv(arrays_[static_cast<std::size_t>(array)]), rv(o));
    }

    gcc_jit_rvalue* condition(int e) {
        const Expr& x = p_.exprs[static_cast<std::size_t>(e)];
        if (x.kind == Expr::Bin && is_comparison(x.op)) return compare(x);
        return gcc_jit_context_new_comparison(c_, nullptr, GCC_JIT_COMPARISON_NE, expr(e), constant(0));
    }

    gcc_jit_rvalue* compare(const Expr& x) {
        static const gcc_jit_comparison ops[] = {GCC_JIT_COMPARISON_EQ, GCC_JIT_COMPARISON_NE,
                                                 GCC_JIT_COMPARISON_LT, GCC_JIT_COMPARISON_LE,
                                                 GCC_JIT_COMPARISON_GT, GCC_JIT_COMPARISON_GE};
        gcc_jit_rvalue* l = expr(x.l);
        gcc_jit_rvalue* r = expr(x.r);
        return gcc_jit_context_new_comparison(c_, nullptr,
                                              ops[static_cast<int>(x.op) - static_cast<int>(Op::Eq)], l, r);
    }

    gcc_jit_rvalue* arith(gcc_jit_binary_op op, gcc_jit_rvalue* l, gcc_jit_rvalue* r) {
        return gcc_jit_context_new_binary_op(c_, nullptr, op, int_, l, r);
    }

    // Operands are kept in locals where a guard stands between their
    // computation and their use, since a block's statements are the only
    // place where the order of evaluation is fixed.
    gcc_jit_rvalue* temp(gcc_jit_rvalue* v) {
        auto* t = gcc_jit_function_new_local(fn_, nullptr, int_, "t");
        gcc_jit_block_add_assignment(at_, nullptr, t, v);
        return rv(t);
    }

    gcc_jit_rvalue* divide(const Expr& x) {
        gcc_jit_rvalue* l = expr(x.l);
        const Expr& rx = p_.exprs[static_cast<std::size_t>(x.r)];
        if (rx.kind == Expr::Const && rx.value != 0 && rx.value != -1)
            return arith(GCC_JIT_BINARY_OP_DIVIDE, l, constant(rx.value));
        l = temp(l);
        gcc_jit_rvalue* r = temp(expr(x.r));
        guard(gcc_jit_context_new_comparison(c_, nullptr, GCC_JIT_COMPARISON_NE, r, constant(0)), GUARD_DIVISION);
        auto* result = gcc_jit_function_new_local(fn_, nullptr, int_, "q");
        auto* minus = new_block();
        auto* plain = new_block();
        auto* done = new_block();
        gcc_jit_block_end_with_conditional(
            at_, nullptr, gcc_jit_context_new_comparison(c_, nullptr, GCC_JIT_COMPARISON_EQ, r, constant(-1)), minus,
            plain);
        gcc_jit_block_add_assignment(minus, nullptr, result, arith(GCC_JIT_BINARY_OP_MINUS, constant(0), l));
        gcc_jit_block_end_with_jump(minus, nullptr, done);
        gcc_jit_block_add_assignment(plain, nullptr, result, arith(GCC_JIT_BINARY_OP_DIVIDE, l, r));
        gcc_jit_block_end_with_jump(plain, nullptr, done);
        at_ = done;
        return rv(result);
    }

    gcc_jit_rvalue* expr(int e) {
        const Expr& x = p_.exprs[static_cast<std::size_t>(e)];
        switch (x.kind) {
        case Expr::Const: return constant(x.value);
        case Expr::Var: return rv(vars_[static_cast<std::size_t>(x.var)]);
        case Expr::Bin:
            switch (x.op) {
            case Op::Add: return binary(GCC_JIT_BINARY_OP_PLUS, x);
            case Op::Sub: return binary(GCC_JIT_BINARY_OP_MINUS, x);
            case Op::Mul: return binary(GCC_JIT_BINARY_OP_MULT, x);
            case Op::Div: return divide(x);
            default: return gcc_jit_context_new_cast(c_, nullptr, compare(x), int_);
            }
        case Expr::Index: return temp(rv(element(x.array, x.l)));
        case Expr::Call: {
            std::vector<gcc_jit_rvalue*> args{run_};
            gcc_jit_rvalue* b = base_ ? base_ : constant(0);
            args.push_back(arith(GCC_JIT_BINARY_OP_PLUS, b, constant(routine_->frame_cells())));
            for (int a : x.args)
                args.push_back(expr(a));
            // A call is a statement of its own: the order of the calls and
            // of their output is the program's.
            return temp(gcc_jit_context_new_call(c_, nullptr, fns_[static_cast<std::size_t>(x.fn)],
                                                 static_cast<int>(args.size()), args.data()));
        }
        case Expr::Read: {
            gcc_jit_rvalue* args[] = {run_};
            return temp(gcc_jit_context_new_call_through_ptr(c_, nullptr, read_, 1, args));
        }
        }
        return nullptr;
    }

    // The left operand first, as the machine computes it; if the right
    // one emits statements (a guard, a call), the left is kept in a local
    // before them.
    gcc_jit_rvalue* binary(gcc_jit_binary_op op, const Expr& x) {
        gcc_jit_rvalue* l = expr(x.l);
        if (emits(x.r)) l = temp(l);
        return arith(op, l, expr(x.r));
    }

    bool emits(int e) const {
        const Expr& x = p_.exprs[static_cast<std::size_t>(e)];
        switch (x.kind) {
        case Expr::Const:
        case Expr::Var: return false;
        case Expr::Bin:
            if (x.op == Op::Div) {
                const Expr& rx = p_.exprs[static_cast<std::size_t>(x.r)];
                if (!(rx.kind == Expr::Const && rx.value != 0 && rx.value != -1)) return true;
            }
            return emits(x.l) || emits(x.r);
        default: return true;
        }
    }

    const Program& p_;
    Form form_;
    gcc_jit_context* c_;
    gcc_jit_type* int_ = nullptr;
    gcc_jit_type* uint_ = nullptr;
    gcc_jit_type* bool_ = nullptr;
    gcc_jit_type* ptr_ = nullptr;
    gcc_jit_rvalue* write_ = nullptr;
    gcc_jit_rvalue* read_ = nullptr;
    gcc_jit_rvalue* bail_fn_ = nullptr;
    std::vector<gcc_jit_function*> fns_;
    const Routine* routine_ = nullptr;
    gcc_jit_function* fn_ = nullptr;
    gcc_jit_block* at_ = nullptr;
    gcc_jit_rvalue* run_ = nullptr;
    gcc_jit_rvalue* base_ = nullptr;
    std::vector<gcc_jit_lvalue*> vars_;
    std::vector<gcc_jit_lvalue*> arrays_;  // null: the array is in the stack
    std::vector<std::int32_t> cells_;      // each array's first cell in the frame
    std::vector<gcc_jit_block*> heads_;    // the loops' heads, in the source's order
    gcc_jit_rvalue* stack_ = nullptr;
    gcc_jit_block* bail_[GUARD_SERVICE + 1] = {};
};

class GccjitBackend : public Backend {
public:
    GccjitBackend(int level, Form form) : level_(level), form_(form) {}

    std::string name() const override {
        return "libgccjit -O" + std::to_string(level_) + form_suffix(form_);
    }

    Compiled compile(const Program& p) override {
        using Clock = std::chrono::steady_clock;
        auto t0 = Clock::now();
        gcc_jit_context* c = gcc_jit_context_acquire();
        gcc_jit_context_set_int_option(c, GCC_JIT_INT_OPTION_OPTIMIZATION_LEVEL, level_);
        gcc_jit_context_add_command_line_option(c, "-fwrapv");
        Emitter(p, form_, c).emit();
        auto t1 = Clock::now();
        gcc_jit_result* result = gcc_jit_context_compile(c);
        auto t2 = Clock::now();
        if (!result) {
            const char* why = gcc_jit_context_get_first_error(c);
            std::string message = why ? why : "unknown error";
            gcc_jit_context_release(c);
            throw std::runtime_error("libgccjit: " + message);
        }
        gcc_jit_context_release(c);
        Compiled out;
        out.build_ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
        out.codegen_ms = std::chrono::duration<double, std::milli>(t2 - t1).count();
        out.main = reinterpret_cast<MainFn>(gcc_jit_result_get_code(result, "program_main"));
        out.owner = std::shared_ptr<void>(result, [](void* r) {
            gcc_jit_result_release(static_cast<gcc_jit_result*>(r));
        });
        if (!out.main) throw std::runtime_error("libgccjit: no program_main");
        return out;
    }

private:
    int level_;
    Form form_;
};

} // namespace

std::unique_ptr<Backend> make_gccjit(int level, Form form) {
    return std::make_unique<GccjitBackend>(level, form);
}

} // namespace backends
