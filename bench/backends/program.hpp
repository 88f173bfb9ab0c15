// The programs the backend experiment compiles, as the optimising tier sees
// them once its plan is made: routines whose variables are plain values
// (registers, not cells), 32-bit arithmetic that wraps around, and the
// guards that abandon the run where the exact machine could do what the
// fast code does not model (an index outside its array's bounds, the stack
// past its end, a division by zero, a failed read or write).
//
// Each backend (llvm_backend.cpp, gccjit_backend.cpp) translates the same
// description, so that both compile the same function.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace backends {

enum class Op { Add, Sub, Mul, Div, Eq, Ne, Lt, Le, Gt, Ge };

inline bool is_comparison(Op op) { return op >= Op::Eq; }

// Why the compiled code gave up: what the bail service is told.
enum Guard : std::int32_t { GUARD_NONE, GUARD_INDEX, GUARD_STACK, GUARD_DIVISION, GUARD_SERVICE };

// The stack's cells, as in the machine: t may never reach this.
inline constexpr std::int32_t STACK_CELLS = 998;
// The cells of a frame before its variables: the static and dynamic links
// and the return address.
inline constexpr std::int32_t LINK_CELLS = 3;

struct Expr {
    enum Kind { Const, Var, Bin, Index, Call, Read } kind = Const;
    std::int32_t value = 0; // Const
    int var = -1;           // Var
    Op op = Op::Add;        // Bin
    int l = -1, r = -1;     // Bin operands; Index: l is the index
    int array = -1;         // Index
    int fn = -1;            // Call
    std::vector<int> args;  // Call
};

struct Stmt {
    enum Kind { Assign, Store, While, If, Write } kind = Assign;
    int var = -1;          // Assign
    int array = -1;        // Store
    int index = -1;        // Store
    int value = -1;        // Assign, Store, Write; While and If: the condition
    std::vector<int> body; // While, If (then)
    std::vector<int> other; // If (else)
};

struct Array {
    std::int32_t lo = 0;
    std::int32_t size = 0;
};

// A routine. Variables 0 .. params-1 are its parameters; `result`, if not
// -1, is the variable whose value a function returns.  Routine 0 is the
// main program, which has no parameters and returns nothing.
struct Routine {
    std::string name;
    int params = 0;
    int vars = 0;
    int result = -1;
    std::vector<Array> arrays;
    std::vector<int> body;
    // Cells of its frame: links, result, variables, arrays.
    std::int32_t frame_cells() const;
};

struct Program {
    std::string name;
    std::vector<Expr> exprs;
    std::vector<Stmt> stmts;
    std::vector<Routine> routines;
    std::string input;    // the numbers `read` takes, one per line
    std::string expected; // the output bytes a correct run writes
};

// The programs of the experiment: bench/programs' loops, matrix and fib,
// and `straight`, a main program of `statements` statements
// `d := d + a * K - b + c` (ten stack instructions each) after reading a,
// b and c, or with `chain`, statements `d := d * a + K - b * c`, which no
// reassociation can fold into a few.  `bench_dir` is bench/programs,
// where the expected outputs are.
Program loops_program(const std::string& bench_dir);
Program matrix_program(const std::string& bench_dir);
Program fib_program(const std::string& bench_dir);
Program straight_program(int statements, bool chain = false);

// Programs that must fail a guard: an index past its array on the last
// round of a long loop, and a recursion too deep for the stack.  Their
// expected output is what is written before the guard fails.
Program index_fault_program();
Program stack_fault_program();

// The straight-line program as source text of the language.
std::string straight_source(int statements, bool chain = false);

} // namespace backends
