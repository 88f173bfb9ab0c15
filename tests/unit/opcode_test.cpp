// The table of opcode properties (vm/code.hpp) against what each opcode
// really does: every opcode, with a spread of operands, runs alone on a
// small machine state in both loops of the interpreter, and what it did to
// t, p and the cells must be what its row says.  A new opcode without a
// row fails to compile; one whose row is wrong fails here.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support.hpp"
#include "vm/code.hpp"
#include "vm/frame.hpp"
#include "vm/machine.hpp"

namespace {

// The instruction under test stands at PC in a store of HLTs, so wherever
// it sends control, the next fetch halts there and ir_pc says where.
constexpr std::int32_t PC = 15;
constexpr std::int32_t STORE = 20;
constexpr std::int32_t BASE = 10;    // b: a frame of a routine ...
constexpr std::int32_t OUTER = 4;    // ... nested in the one at 4
constexpr std::int32_t BACK = 7;     // its return address
constexpr std::int32_t TOP = 20;     // t before the instruction
constexpr std::int32_t ADDRESS = 16; // s[t-1]: an address for STO

struct After {
    std::string out;
    int status;
    std::int32_t went; // the instruction that ran after it (-1: none)
    std::int32_t t, b;
    std::vector<std::int32_t> cells;
};

enum class Loop { fast, plain };

// Runs `in` at PC from t = top, with s[t] = value and the frame's static
// link `link` (a frame base holding other cells than OUTER's).
After run_alone(Instruction in, Loop loop, std::int32_t top, std::int32_t value,
                std::int32_t link = OUTER) {
    reset_all();
    for (int i = 0; i < STORE; ++i)
        code[i] = Instruction{HLT, 0, 0};
    code[PC] = in;
    cx = STORE;
    for (int k = 0; k < STACK_SIZE; ++k)
        s[k] = 0;
    for (int k = OUTER; k < BASE; ++k)
        s[k] = 60 + k;
    s[OUTER + FRAME_STATIC_LINK] = 0;
    s[OUTER + FRAME_DYNAMIC_LINK] = 0;
    s[BASE + FRAME_STATIC_LINK] = link;
    s[BASE + FRAME_DYNAMIC_LINK] = OUTER;
    s[BASE + FRAME_RETURN_ADDRESS] = BACK;
    s[BASE + FRAME_RESULT] = 55;
    for (int k = BASE + FRAME_FUNCTION_CELLS; k <= top; ++k)
        s[k] = 80 + k;
    s[top - 1] = ADDRESS;
    s[top] = value;
    p = PC;
    b = BASE;
    t = top;
    set_machine_input("7\n");
    After after;
    Outcome o =
        capture([&] { loop == Loop::fast ? interpret_fast_from_here() : interpret_traced(); });
    after.out = o.out;
    after.status = o.status;
    after.went = ir_pc == PC || code[ir_pc].op != HLT ? -1 : ir_pc;
    after.t = t;
    after.b = b;
    after.cells.assign(s, s + STACK_SIZE);
    return after;
}

// The operands each opcode is tried with: every l up to 2 (CUP's n too),
// and a spread of a: sub-codes in and outside the tables, offsets, sizes,
// targets in the store.
std::vector<Instruction> variants(Opcode op) {
    std::vector<Instruction> all;
    for (std::int32_t l = 0; l <= 2; ++l)
        for (std::int32_t a : {1, 2, 3, 4, 5, 6, 9, 12})
            all.push_back(Instruction{op, l, a});
    return all;
}

// Whether `in` fails on s[t] = value: a division by zero, the one fault
// these states can meet.
bool faults(const Instruction& in, std::int32_t value) {
    return in.op == OPR && in.a == OPR_DIV && value == 0;
}

std::string shown(const Instruction& in, std::int32_t value) {
    return std::string(mnemonic(in.op)) + " " + std::to_string(in.l) + "," + std::to_string(in.a) +
           " with s[t] = " + std::to_string(value);
}

} // namespace

TEST(OpcodeProperties, EveryOpcodeMovesTAsItsRowSays) {
    for (int k = 0; k < OPCODE_COUNT; ++k) {
        const OpcodeProperties& row = opcode_properties[k];
        for (Instruction in : variants(static_cast<Opcode>(k))) {
            for (std::int32_t value : {5, 0}) {
                if (faults(in, value)) continue;
                for (Loop loop : {Loop::fast, Loop::plain}) {
                    SCOPED_TRACE(shown(in, value));
                    After one = run_alone(in, loop, TOP, value);
                    After two = run_alone(in, loop, TOP + 1, value);
                    ASSERT_EQ(one.status, -1) << one.out; // HLT too: no fault
                    ASSERT_EQ(two.status, one.status);
                    switch (row.top) {
                    case TOP_CELLS:
                        EXPECT_EQ(one.t - TOP, pushes_of(in) - pops_of(in));
                        EXPECT_EQ(two.t - (TOP + 1), pushes_of(in) - pops_of(in));
                        EXPECT_EQ(depth_change(in), pushes_of(in) - pops_of(in));
                        break;
                    case TOP_OPERAND:
                        EXPECT_EQ(one.t - TOP, in.a);
                        EXPECT_EQ(depth_change(in), in.a);
                        break;
                    case TOP_FRAME: // from b, whatever t was
                        EXPECT_EQ(one.t, two.t);
                        EXPECT_NE(one.t, TOP);
                        break;
                    }
                }
            }
        }
    }
}

TEST(OpcodeProperties, EveryOpcodeGoesOnWhereItsRowSays) {
    for (int k = 0; k < OPCODE_COUNT; ++k) {
        const OpcodeProperties& row = opcode_properties[k];
        for (Instruction in : variants(static_cast<Opcode>(k))) {
            bool next = false, to_a = false;
            for (std::int32_t value : {5, 0}) {
                if (faults(in, value)) continue;
                SCOPED_TRACE(shown(in, value));
                After after = run_alone(in, Loop::fast, TOP, value);
                next = next || after.went == PC + 1;
                to_a = to_a || (after.went == in.a && in.a != PC + 1);
                switch (row.flow) {
                case FLOW_NEXT: EXPECT_EQ(after.went, PC + 1); break;
                case FLOW_BRANCH:
                    EXPECT_TRUE(after.went == PC + 1 || after.went == in.a) << after.went;
                    break;
                case FLOW_CALL:
                    EXPECT_EQ(after.went, in.a);
                    EXPECT_EQ(after.cells[static_cast<std::size_t>(TOP - in.l)], PC + 1);
                    EXPECT_EQ(after.b, TOP - in.l - FRAME_RETURN_ADDRESS);
                    break;
                case FLOW_JUMP: EXPECT_EQ(after.went, in.a); break;
                case FLOW_RETURN:
                    EXPECT_EQ(after.went, BACK);
                    EXPECT_EQ(after.b, OUTER);
                    break;
                case FLOW_HALT: EXPECT_EQ(after.went, -1); break;
                }
            }
            SCOPED_TRACE(shown(in, 0));
            EXPECT_EQ(has_code_address(in.op), to_a);
            EXPECT_EQ(falls_through(in.op), next || row.flow == FLOW_CALL);
            EXPECT_EQ(ends_routine(in.op), !next && !to_a);
        }
    }
}

TEST(OpcodeProperties, OnlyTheLevelOpcodesFollowTheStaticLink) {
    // The same state but for the frame's static link: the opcodes with a
    // level reach other cells through it; no other opcode looks at it.
    for (int k = 0; k < OPCODE_COUNT; ++k) {
        const OpcodeProperties& row = opcode_properties[k];
        Instruction in{static_cast<Opcode>(k), 1, 2};
        SCOPED_TRACE(shown(in, 5));
        After near = run_alone(in, Loop::fast, TOP, 5, OUTER);
        After far = run_alone(in, Loop::fast, TOP, 5, 0);
        // The link's own cell aside (FRT moves the result there).
        near.cells[BASE + FRAME_STATIC_LINK] = far.cells[BASE + FRAME_STATIC_LINK] = 0;
        bool same = near.cells == far.cells && near.t == far.t && near.went == far.went;
        EXPECT_EQ(row.level, !same);
    }
}

TEST(OpcodeProperties, TheComputingOpcodesTouchOnlyTheTop) {
    // An opcode that computes goes on to the next instruction, reads no
    // input, writes no output, and changes no cell below what it pushes;
    // every other one does one of these, or sets t from b, with some
    // operand.
    for (int k = 0; k < OPCODE_COUNT; ++k) {
        const OpcodeProperties& row = opcode_properties[k];
        bool always = true;
        for (Instruction in : variants(static_cast<Opcode>(k))) {
            for (std::int32_t value : {5, 0}) {
                if (faults(in, value)) continue;
                After before = run_alone(Instruction{HLT, 0, 0}, Loop::fast, TOP, value);
                After after = run_alone(in, Loop::fast, TOP, value);
                std::int64_t kept = after.t - pushes_of(in);
                bool untouched = row.top == TOP_CELLS;
                for (std::int64_t c = 0; c <= kept && untouched; ++c)
                    untouched = after.cells[static_cast<std::size_t>(c)] ==
                                before.cells[static_cast<std::size_t>(c)];
                bool computes =
                    untouched && after.went == PC + 1 && after.out.empty() && pushes_of(in) <= 1;
                always = always && computes;
            }
        }
        EXPECT_EQ(row.computes, always) << mnemonic(static_cast<unsigned>(k));
    }
}

TEST(OpcodeProperties, AnOpByteOutsideTheSetStopsTheRun) {
    const OpcodeProperties& row = properties_of(OPCODE_COUNT);
    EXPECT_EQ(row.flow, FLOW_HALT);
    EXPECT_FALSE(row.level);
    EXPECT_FALSE(row.computes);
    After after =
        run_alone(Instruction{static_cast<Opcode>(OPCODE_COUNT), 0, 0}, Loop::fast, TOP, 5);
    EXPECT_EQ(after.status, 1);
    EXPECT_EQ(after.went, -1);
}
