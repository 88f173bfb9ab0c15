// The optimising translator's parts, shared by the files that make it up:
//   optimiser_plan.cpp    which routines are inlined and which cells live
//                         in the stack rather than in registers;
//   optimiser_values.cpp  the stack as the translator knows it: values not
//                         computed yet, and how they get into registers;
//   optimiser_rules.cpp   the rewrites of sums, differences and products;
//   optimiser_code.cpp    loads, stores, arithmetic, jumps, read and write,
//                         and the guards they need;
//   optimiser_frames.cpp  functions, frames, calls, inlining, the resume
//                         points and the entry into a frame;
//   optimiser_loops.cpp   counted loops that only add up, in closed form;
//   optimiser_exits.cpp   the exits that write the registers back and let
//                         the exact tiers go on from the guard;
//   optimiser.cpp         the whole program, its executable memory, the
//                         entry sequence and the listing.
//
// Built only with TSUMIKI_OPTIMISING.
#pragma once

#include <asmjit/x86.h>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "vm/code.hpp"
#include "vm/optimiser.hpp"
#include "vm/optimiser_rules.hpp"
#include "vm/shape.hpp"

namespace optimising {

using namespace asmjit;

// Parameters a normal function takes in registers (after b); the rest
// the caller stores into their cells.
inline constexpr int REGISTER_ARGS = 5;

// A routine is inlined at its calls when it cannot call itself and has at
// most this many instructions, those it inlines included.
inline constexpr int INLINE_LIMIT = 80;

// The most virtual registers the translation of a program may make.  The
// register allocator's work grows faster than their number where many are
// live at once (a deep expression around many calls: each call a resume
// point with every pending value in a register of its own); past this a
// program of a few kilobytes took a minute and 400 MB to compile.  The
// largest programs the compiler takes, written as people write them, make
// a few thousand.
inline constexpr std::size_t MOST_VALUES = 8192;

// Thrown when the translator meets what it leaves to the exact tiers.
struct Decline {
    const char* why;
};

// --- the plan (optimiser_plan.cpp) ---

struct Plan {
    explicit Plan(const Shape& shape);

    const Shape& sh;
    std::vector<bool> inlined;             // per routine: inlined at every call
    std::vector<bool> called;              // per routine: some code calls it
    std::vector<bool> needs_link;          // per routine: something walks its static link
    std::vector<std::vector<bool>> memory; // per routine and frame offset: lives in its cell
    bool unset_reads = false;  // a routine's code may read a cell of its own frame unset
    std::vector<Label> normal; // per routine: its normal function, if any
    std::vector<FuncNode*> normal_func;
    std::vector<FuncNode*> resume_func; // per routine: its resume function
    Label stub;                         // where a failed guard goes: leaves the tier

    const Routine& routine(int r) const { return sh.routines[static_cast<std::size_t>(r)]; }
    bool has_normal(int r) const {
        return r > 0 && called[static_cast<std::size_t>(r)] &&
               !inlined[static_cast<std::size_t>(r)];
    }
};

// The signature of routine r's normal function: b and up to five parameters.
void normal_signature(const Plan& plan, int r, FuncSignatureBuilder& sig);

// --- one function ---

// The kinds of the values pushed (NodeKind) are in vm/optimiser_rules.hpp.

// Which frame a cell belongs to, seen from the function: one of its
// instances, or a frame its static chain reaches, `outside` links out from
// the root frame's.
struct FrameRef {
    int instance = -1; // >= 0: an instance of this function
    int outside = 0;   // instance < 0: links out from the root (1: its static link)
    int routine = 0;   // the routine whose frame it is
};

struct Node {
    NodeKind kind = N_CONST;
    std::int32_t k = 0;
    x86::Gp reg;
    int var = -1;
    int left = -1, right = -1;
    FrameRef frame;         // ADDR, HEADER
    std::int32_t a = 0;     // ADDR: the object's first cell
    std::int32_t cells = 0; // ADDR
    bool checked = false;   // ADDR: its offset is known to lie in the object
};

// A frame of the function: the root (the routine the function is for) or
// that of an inlined call.
struct Instance {
    int routine = 0;
    std::int32_t offset = 0; // its base is b + offset
    FrameRef parent;         // the frame of its static link
    bool exact = false;      // its cells hold what the exact tiers left there
    std::vector<int> vars;   // per frame offset: its variable, or -1
    std::vector<int> bound;  // per frame offset: the node a var parameter is bound to, or -1
    std::unordered_map<int, Label> labels; // per instruction jumped to
    std::size_t stack_base = 0;            // the translator's stack size where its slots begin
    int result = -1;                       // after its end: the node of a function's value
};

// A variable of an instance: in a register, or in its cell.
struct Var {
    int instance = 0;
    std::int32_t offset = 0;
    bool memory = false;
    x86::Gp reg; // a 32-bit register when not in memory
};

// Where a frame starts: b plus add, a register plus add, or add alone.
struct Base {
    x86::Gp reg;
    bool has_reg = false;
    std::int32_t add = 0;
};

// A resume point of the root frame: its label, the entry number, and the
// stack there, each cell in its own register.
struct ResumePoint {
    int at = 0;
    Label label;
    std::vector<int> slots;
    bool bound = false;
};

class Function : private Terms {
  public:
    Function(x86::Compiler& cc, Plan& plan, int routine, bool resume, bool named);
    void translate();

  private:
    x86::Compiler& cc_;
    Plan& plan_;
    const Shape& sh_;
    int root_;
    bool resume_;
    bool named_;

    FuncNode* func_ = nullptr;
    x86::Gp b_;                     // the root frame's base (64 bits); none for the main program
    x86::Gp s_;                     // the address of s[0]
    std::vector<BaseNode*> s_defs_; // the instructions that set s_
    x86::Gp shadow_;                // the address of speculation.shadow, once needed
    std::vector<x86::Gp> outer_;    // the frames 1, 2, ... links out from the root's, once needed
    BaseNode* prologue_ = nullptr;  // where code for the whole function goes, as it is needed
    std::int32_t deepest_ = 0;      // the highest t - b in the function, inlined calls included
    int at_ = -1;                   // the instruction being translated: the exit of its guards
    // The guards' exits made so far, each with the label its guards jump
    // to; an exit of kind GUARD_NONE follows a run-time service, which says
    // which guard failed.
    std::vector<std::pair<GuardExit, Label>> exits_;
    // Where the code of the exits that resume goes (after the prologue's
    // jump into the body), and what they need of the instruction being
    // translated: its index (in the test of a loop turned over, not at_),
    // and the stack before it, while it is one they can write back (the
    // root frame's code in a resume function, no frame header pushed).
    BaseNode* cold_ = nullptr;
    int step_at_ = -1;
    bool step_resumes_ = false;
    std::vector<int> before_;

    std::vector<Node> nodes_;
    std::vector<int> stack_;
    std::vector<Instance> instances_;
    std::vector<Var> vars_;
    std::vector<ResumePoint> points_;
    std::unordered_map<int, std::size_t> point_at_; // instruction -> index in points_
    bool falls_ = true; // the instruction being translated can be reached from the one before
    std::unordered_map<int, int> rotated_; // a loop's UJP -> the FJP of its head's test

    // --- values (optimiser_values.cpp) ---
    int node(const Node& n);
    int constant(std::int32_t k) override;
    // The rules' view of the nodes (vm/optimiser_rules.hpp).
    Term term(int n) const override;
    int operation(NodeKind kind, int left, int right) override;
    int temp(const x86::Gp& reg);
    int push(int n) {
        stack_.push_back(n);
        return n;
    }
    int pop();
    const Node& at(int n) const { return nodes_[static_cast<std::size_t>(n)]; }
    // A new virtual register; throws Decline past MOST_VALUES of them.
    x86::Gp new32(const char* name = nullptr);
    x86::Gp new64(const char* name = nullptr);
    void too_many_values() const;
    // A binary operation's node, rewritten by the first of binary_rules
    // that applies.
    int make_binary(NodeKind kind, int left, int right);
    bool refers(int n, int var) const;
    bool lazy(int n) const;
    // Puts value n into dest (a variable's register when var >= 0).  dest
    // is a copy: it may be a node's register, and nodes move as others
    // are made.
    void compute_into(x86::Gp dest, int n, int var = -1);
    // The value n in a register that may be read, or an operand.
    x86::Gp reg_of(int n);
    Operand operand_of(int n);
    // The value as a temporary the caller owns.
    x86::Gp temp_of(int n);
    // Computes what pushed values wait on into temporaries: before a store
    // to `var` (those that read it), or all of them (var -1).
    void settle(int var = -1);
    // The nodes of the stack from `from` on, each in a register of its own.
    std::vector<int> canonical(std::size_t from);
    void move_into(const std::vector<int>& to, std::size_t from);

    // --- frames, variables and cells (optimiser_frames.cpp) ---
    FrameRef frame_of(int instance, std::int32_t l) const;
    Base base_of(const FrameRef& f);
    x86::Gp outer(int links);
    x86::Gp shadow();
    void reload_stack_address();
    bool stack_address_read() const;
    bool exact(const FrameRef& f) const;
    int var_of(const FrameRef& f, std::int32_t a) const;
    int make_instance(int routine, std::int32_t offset, const FrameRef& parent, bool exact);
    // The memory operand of cell base+a+index (index a 64-bit register or none).
    x86::Mem cell(const Base& base, std::int32_t a, const x86::Gp* index, bool byte_of_shadow);
    x86::Gp load_cell(const Base& base, std::int32_t a, const x86::Gp* index, bool check);
    void store_cell(const Base& base, std::int32_t a, const x86::Gp* index, int value, bool mark);
    void clear_shadow(int instance);
    void at_prologue(const std::function<void()>& emit);
    void stack_guard();
    void begin_function();
    void end_function();
    void resume_entries();
    // A call's operands, popped: the arguments, then the header, whose
    // static link names the frame `link`; the callee's frame at `offset`.
    struct Callee {
        std::vector<int> args;
        FrameRef link;
        std::int32_t offset = 0;
        int fn = 0; // 1 for a function: its value's cell comes first
    };
    Callee take_call(int inst, int i, int callee);
    // Stores the address of frame `link` (a static link) into `to`.
    void store_link(const FrameRef& link, const x86::Mem& to);
    void call(int inst, int i);
    void inline_call(int inst, int i, int callee);
    bool unrolls(int inst, int callee) const;
    void bind_parameters(int callee_inst, std::vector<int>& args);
    // A frame's code: the jump targets, the loops turned over (into
    // rotated_), then each instruction reached, its label or resume point
    // bound first.
    void translate_instance(int inst);
    std::unordered_set<int> jump_targets(const Routine& ro) const;
    void turn_loops_over(const Routine& ro, std::unordered_set<int>& targets);
    // Whether instruction i is reached (by a jump, a resume or the one
    // before), its label and resume point bound when it is a target.
    bool reached(int inst, int i, const std::unordered_set<int>& targets);
    void bind_resume_point(ResumePoint& point, std::size_t base);
    // Instruction i's code; `done` is the end of an inlined routine.
    void emit(int inst, int i, const Routine& ro, Label& done);

    // --- loops summed in closed form (optimiser_loops.cpp) ---
  public:
    struct CountedLoop;

  private:
    // At the head of the loop whose jump back is `back`: when it is a
    // counted loop that only adds to sums, the code that leaves its state
    // after its last turn, before its test.
    void sum_counted_loop(int inst, int head, int back, const std::unordered_set<int>& targets);
    bool counted_loop(int inst, int head, int back, const std::unordered_set<int>& targets,
                      CountedLoop& loop) const;
    void sum_loop(const CountedLoop& loop);
    x86::Gp loop_value(const CountedLoop& loop, int n, const x86::Gp& counter, int sum);

    // --- instructions (optimiser_code.cpp) ---
    void step(int inst, int i);
    void load_variable(int inst, int i);
    void store_variable(int inst, int i);
    void load_address(int inst, int i);
    void load_through(int inst, int i);
    void store_through(int inst, int i);
    void arithmetic(int inst, int i);
    void divide(int left, int right);
    void jump(int inst, int to);
    // Whether instruction i of instance inst ends the function with no
    // guard of its own (RET, or FRT with the result in a register).
    bool returns_at_once(int inst, int i) const;
    void branch(int inst, int i);
    // The jump back of a loop whose head only tests (instructions head to
    // the FJP `test`): the test again, into the body while it holds.
    void test_again(int inst, int head, int test);
    // A jump to `to` when value c (a comparison, or a number other than 0)
    // holds, if `when`; when it does not, if not.
    void jump_when(int c, bool when, Label to);
    void read_number(int inst, int i);
    void write_number(int inst, int i);
    void end_of(int inst, int i);
    Label label_of(int inst, int i);
    // The guards: a jump to the exit of guard g at the instruction being
    // translated (exit_of), always or on condition cc.
    void fail(Guard g);
    void fail_if(x86::CondCode cc, Guard g);
    Label exit_of(Guard g);
    // Where the write's service jumps when it fails: an exit that resumes
    // where the stack before the instruction is known, else the shared
    // exit of kind GUARD_NONE (the service notes the guard).
    Label service_exit();
    // The exits' code, at the function's end: each notes its exit and
    // leaves the tier.
    void exits();
    // Notes that instruction i of instance inst is translated next, and
    // the stack before it.
    void begin_step(int inst, int i);
    // An exit of guard g that writes the root frame's variables and the
    // stack before the instruction into their cells and notes where to go
    // on (SpeculationState::resume_at), made on the spot for this guard.
    Label resuming_exit(Guard g);
    // The value of node n into dest, for an exit: as compute_into, but an
    // address as it is, unchecked.
    void exit_value(x86::Gp dest, int n);
    // The offset of an address node, checked against its object.
    x86::Gp checked_offset(int n);
    // The cell an address node names: base, a and index.
    void address_cell(int n, Base& base, std::int32_t& a, x86::Gp& index, bool& has_index,
                      bool& known_frame);
    void comment(int i);
};

} // namespace optimising
