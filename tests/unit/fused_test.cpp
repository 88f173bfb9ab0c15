// The machine runs frequent runs of instructions as single steps and keeps
// its output and input in buffers of its own.  None of that may show: here
// random straight-line code, full of such runs, with jumps into their middle,
// stacks near both limits and addresses outside the stack, is run by the
// machine and by a plain model of the instruction set written for this
// test, and everything a program or a caller can see is compared.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support.hpp"
#include "vm/code.hpp"
#include "vm/machine.hpp"

namespace {

constexpr std::int32_t INT_MIN32 = -2147483647 - 1;

std::string runtime(const char* text) {
    return std::string("実行中にエラーがおきました: ") + text + "\n";
}

// What a run leaves behind.
struct State {
    std::string out;
    int status = -1;
    std::int32_t p = 0, b = 0, t = 0;
    Instruction ir{};
    std::vector<std::int32_t> cells;
};

// One instruction at a time, straight from the instruction table, for the
// instructions the generator below uses.
State model(const std::vector<Instruction>& prog) {
    State m;
    std::vector<std::int32_t> cell(1 + STACK_SIZE, 0);
    auto at = [&](std::int64_t i) -> std::int32_t& {
        return cell[static_cast<std::size_t>(i + 1)];
    };
    auto fail = [&](const char* text) {
        m.out += runtime(text);
        m.status = 1;
    };
    const auto end = static_cast<std::int32_t>(prog.size());
    for (;;) {
        if (m.t < 0 || m.t >= STACK_OVERFLOW) {
            fail(m.t < 0 ? "スタックアンダーフロー" : "スタックオーバフロー");
            break;
        }
        if (m.p == end) {
            fail("命令の範囲外へ飛ぼうとしました");
            break;
        }
        m.ir = prog[static_cast<std::size_t>(m.p)];
        ++m.p;
        const Instruction in = m.ir;
        auto u = [](std::int32_t v) { return static_cast<std::uint32_t>(v); };
        // base(l): l static links out, stopping at a frame that links to
        // itself; following a link from outside the stack is a bad address.
        bool bad_link = false;
        auto frame = [&]() -> std::int64_t {
            std::int64_t x = m.b;
            for (std::int32_t n = in.l; n > 0; --n) {
                if (x < 0 || x >= STACK_SIZE) {
                    bad_link = true;
                    return 0;
                }
                if (at(x) == x) break;
                x = at(x);
            }
            return x;
        };
        if (in.op == HLT) break;
        if (in.op == LDC) {
            at(++m.t) = in.a;
        } else if (in.op == LOD || in.op == STR) {
            std::int64_t base = frame();
            std::int64_t addr = base + in.a;
            if (bad_link || addr < 0 || addr >= STACK_SIZE) {
                fail("スタックの範囲外のアドレスを使いました");
                break;
            }
            if (in.op == LOD) {
                at(m.t + 1) = at(addr);
                ++m.t;
            } else {
                at(addr) = at(m.t--);
            }
        } else if (in.op == IND) {
            std::int64_t addr = std::int64_t{at(m.t)} + in.a;
            if (addr < 0 || addr >= STACK_SIZE) {
                fail("スタックの範囲外のアドレスを使いました");
                break;
            }
            at(m.t) = at(addr);
        } else if (in.op == STO) {
            std::int64_t addr = at(m.t - 1);
            if (addr < 0 || addr >= STACK_SIZE) {
                fail("スタックの範囲外のアドレスを使いました");
                break;
            }
            at(addr) = at(m.t);
            m.t -= 2;
        } else if (in.op == LDA) {
            at(++m.t) = static_cast<std::int32_t>(u(m.b) + u(in.a));
        } else if (in.op == OPR && in.a == OPR_NEG) {
            at(m.t) = static_cast<std::int32_t>(0u - u(at(m.t)));
        } else if (in.op == OPR && in.a >= OPR_ADD && in.a <= OPR_DIV) {
            std::int32_t l = at(m.t - 1), r = at(m.t);
            if (in.a == OPR_DIV && r == 0) {
                fail("0による除算がありました");
                break;
            }
            std::uint32_t v = in.a == OPR_ADD   ? u(l) + u(r)
                              : in.a == OPR_SUB ? u(l) - u(r)
                              : in.a == OPR_MUL ? u(l) * u(r)
                              : r == -1         ? 0u - u(l)
                                                : u(l / r);
            at(--m.t) = static_cast<std::int32_t>(v);
        } else if (in.op == COP && in.a >= COP_EQ && in.a <= COP_LEQ) {
            std::int32_t l = at(m.t - 1), r = at(m.t);
            bool holds[] = {l == r, l != r, l > r, l >= r, l < r, l <= r};
            at(--m.t) = holds[in.a - COP_EQ] ? 1 : 0;
        } else if (in.op == UJP) {
            m.p = in.a;
        } else if (in.op == FJP) {
            if (at(m.t--) == 0) m.p = in.a;
        } else if (in.op == PUT) {
            m.out += std::to_string(at(m.t--)) + "\n";
        } else if (in.op == ENT) {
            m.t = m.b + in.a;
        }
    }
    m.cells.assign(cell.begin() + 1, cell.end());
    return m;
}

State machine(const std::vector<Instruction>& prog) {
    reset_all();
    for (const Instruction& in : prog)
        generate_code(in.op, in.l, in.a);
    State m;
    Outcome o = capture([] { interpret(); });
    m.out = o.out;
    m.status = o.status;
    m.p = p;
    m.b = b;
    m.t = t;
    m.ir = ir;
    m.cells.assign(s, s + STACK_SIZE);
    return m;
}

// A program of `ENT 0,m`, then runs of operands and operations of the
// kinds the machine fuses, with forward jumps anywhere, then HLT.
std::vector<Instruction> random_program(std::mt19937& rng) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    std::vector<Instruction> prog;
    int m = pick(3) == 0 ? 990 + pick(8) : 3 + pick(12);
    prog.push_back({ENT, 0, m});
    auto operand = [&]() -> Instruction {
        const std::int32_t constants[] = {0, 1, -1, 2, 7, -7, 1000, INT_MIN32, 2147483647};
        switch (pick(5)) {
        case 0: return {LDC, 0, constants[pick(9)]};
        case 1: return {LDC, 0, pick(20) - 5};
        case 2: return {LOD, pick(4), pick(4) == 0 ? 995 + pick(10) : pick(m + 4)};
        default: return {LOD, 0, pick(m + 4)};
        }
    };
    auto binop = [&]() -> Instruction {
        return pick(2) == 0 ? Instruction{OPR, 0, pick(7)} : Instruction{COP, 0, pick(8)};
    };
    int runs = 3 + pick(8);
    std::vector<std::size_t> jumps;
    for (int r = 0; r < runs; ++r) {
        switch (pick(12)) {
        case 9: // an element's address, perhaps read
            prog.push_back({LDA, 0, pick(m + 2)});
            prog.push_back({LDC, 0, pick(4) - 1});
            prog.push_back(operand());
            prog.push_back({OPR, 0, OPR_SUB});
            prog.push_back({OPR, 0, OPR_SUB});
            if (pick(3) != 0) prog.push_back({IND, 0, pick(4) == 0 ? 990 : pick(3) - 1});
            if (pick(2) == 0) {
                prog.push_back(operand());
                prog.push_back({STO, 0, 0});
            }
            break;
        case 10: // through a reference
            prog.push_back({LOD, 0, pick(m + 2)});
            prog.push_back({IND, 0, pick(3) - 1});
            break;
        case 11:
            prog.push_back({OPR, 0, OPR_SUB});
            prog.push_back({OPR, 0, OPR_SUB});
            if (pick(2) == 0) prog.push_back({IND, 0, pick(3) - 1});
            break;
        case 0: prog.push_back(operand()); break;
        case 1:
            prog.push_back(operand());
            prog.push_back(binop());
            break;
        case 2:
        case 3:
            prog.push_back(operand());
            prog.push_back(operand());
            prog.push_back(binop());
            if (pick(2) == 0) break;
            if (pick(3) == 0) {
                prog.push_back({STR, 0, pick(m + 2)});
                jumps.push_back(prog.size());
                prog.push_back({UJP, 0, 0});
                break;
            }
            [[fallthrough]];
        case 4:
            if (pick(2) == 0) {
                jumps.push_back(prog.size());
                prog.push_back({FJP, 0, 0});
            } else {
                prog.push_back(
                    {STR, pick(3) == 0 ? pick(4) : 0, pick(4) == 0 ? pick(1003) : pick(m + 2)});
            }
            break;
        case 5: prog.push_back({PUT, 0, 0}); break;
        case 6:
            jumps.push_back(prog.size());
            prog.push_back({UJP, 0, 0});
            break;
        case 7: prog.push_back({LDA, 0, pick(m + 2)}); break;
        default:
            prog.push_back(operand());
            prog.push_back({STR, 0, pick(m + 2)});
            break;
        }
    }
    prog.push_back({HLT, 0, 0});
    // Forward only, so that every run ends; sometimes onto the HLT.
    for (std::size_t j : jumps) {
        int after = static_cast<int>(prog.size() - j - 1);
        prog[j].a = static_cast<std::int32_t>(j) + 1 + pick(after);
    }
    return prog;
}

std::string listing(const std::vector<Instruction>& prog) {
    std::string text;
    for (const Instruction& in : prog)
        text += std::string(mnemonic(in.op)) + " " + std::to_string(in.l) + "," +
                std::to_string(in.a) + "\n";
    return text;
}

} // namespace

TEST(FusedSteps, RandomCodeRunsAsTheInstructionTableSays) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 4000; ++round) {
        std::vector<Instruction> prog = random_program(rng);
        State want = model(prog);
        State got = machine(prog);
        SCOPED_TRACE(listing(prog));
        ASSERT_EQ(got.out, want.out);
        ASSERT_EQ(got.status, want.status);
        ASSERT_EQ(got.p, want.p);
        ASSERT_EQ(got.t, want.t);
        ASSERT_EQ(got.b, want.b);
        ASSERT_EQ(got.ir.op, want.ir.op);
        ASSERT_EQ(got.ir.l, want.ir.l);
        ASSERT_EQ(got.ir.a, want.ir.a);
        ASSERT_EQ(got.cells, want.cells);
    }
}

TEST(FusedSteps, EachStepNearTheStackLimitFailsAfterTheSameInstruction) {
    // t starts at 993 to 997; the run pushes two cells and adds them, and
    // the check before each fetch stops it at exactly one instruction.
    for (std::int32_t top = 993; top <= 997; ++top) {
        for (Opcode second : {LDC, LOD}) {
            SCOPED_TRACE(top);
            std::vector<Instruction> prog = {{ENT, 0, top},     {LDC, 0, 5},      {second, 0, 3},
                                             {OPR, 0, OPR_ADD}, {STR, 0, 4},      {LOD, 0, 4},
                                             {LDC, 0, 9},       {COP, 0, COP_LT}, {FJP, 0, 10},
                                             {PUT, 0, 0},       {HLT, 0, 0}};
            State want = model(prog);
            State got = machine(prog);
            EXPECT_EQ(got.out, want.out);
            EXPECT_EQ(got.p, want.p);
            EXPECT_EQ(got.t, want.t);
            EXPECT_EQ(got.ir.op, want.ir.op);
            EXPECT_EQ(got.cells, want.cells);
        }
    }
}

TEST(FusedSteps, AFaultInsideARunStopsAtTheInstructionThatFails) {
    // LDC 7; LDC 0; OPR div: the division fails, with p past it.
    std::vector<Instruction> prog = {{ENT, 0, 3},       {LDC, 0, 7}, {LDC, 0, 0},
                                     {OPR, 0, OPR_DIV}, {PUT, 0, 0}, {HLT, 0, 0}};
    State got = machine(prog);
    EXPECT_EQ(got.out, runtime("0による除算がありました"));
    EXPECT_EQ(got.p, 4);
    EXPECT_EQ(got.t, 5);
    EXPECT_EQ(got.ir.op, OPR);
    EXPECT_EQ(got.cells[4], 7);

    // LDC 1; LOD 0,2000; OPR add; STR 0,3: the LOD fails after the LDC ran.
    prog = {{ENT, 0, 3}, {LDC, 0, 1}, {LOD, 0, 2000}, {OPR, 0, OPR_ADD}, {STR, 0, 3}, {HLT, 0, 0}};
    got = machine(prog);
    EXPECT_EQ(got.out, runtime("スタックの範囲外のアドレスを使いました"));
    EXPECT_EQ(got.p, 3);
    EXPECT_EQ(got.t, 4);
    EXPECT_EQ(got.ir.op, LOD);
    EXPECT_EQ(got.cells[4], 1);
}

TEST(MachineOutput, LongOutputKeepsItsOrderBeforeAnError) {
    // 30000 lines, more than any buffer holds at once, then a fault.
    std::vector<Instruction> prog = {
        {ENT, 0, 3},      {LDC, 0, 30000},   {STR, 0, 3}, {LOD, 0, 3}, {LDC, 0, 0},
        {COP, 0, COP_GT}, {FJP, 0, 14},      {LOD, 0, 3}, {PUT, 0, 0}, {LOD, 0, 3},
        {LDC, 0, 1},      {OPR, 0, OPR_SUB}, {STR, 0, 3}, {UJP, 0, 3}, {LDC, 0, 0},
        {LDC, 0, 0},      {OPR, 0, OPR_DIV}, {HLT, 0, 0}};
    std::string want;
    for (int i = 30000; i > 0; --i)
        want += std::to_string(i) + "\n";
    want += runtime("0による除算がありました");
    EXPECT_EQ(machine(prog).out, want);
}

TEST(Read, NumbersAcrossTheEdgesOfTheInputBuffer) {
    // 40000 numbers of varied length: the buffer refills in the middle of
    // numbers and of the blanks between them.
    std::string input, want;
    std::int64_t sum = 0;
    for (int i = 0; i < 40000; ++i) {
        int v = (i * 7919) % 200001 - 100000;
        input += std::to_string(v) + (i % 9 == 0 ? "\n" : "  \t");
        sum += v;
    }
    reset_all();
    // n := 0; repeat 40000 times: read into the top, add to cell 3.
    for (const Instruction& in : std::vector<Instruction>{{ENT, 0, 4},
                                                          {LDC, 0, 40000},
                                                          {STR, 0, 4},
                                                          {LOD, 0, 4},
                                                          {FJP, 0, 14},
                                                          {LOD, 0, 3},
                                                          {GET, 0, 0},
                                                          {OPR, 0, OPR_ADD},
                                                          {STR, 0, 3},
                                                          {LOD, 0, 4},
                                                          {LDC, 0, 1},
                                                          {OPR, 0, OPR_SUB},
                                                          {STR, 0, 4},
                                                          {UJP, 0, 3},
                                                          {LOD, 0, 3},
                                                          {PUT, 0, 0},
                                                          {GET, 0, 0},
                                                          {PUT, 0, 0},
                                                          {HLT, 0, 0}})
        generate_code(in.op, in.l, in.a);
    set_machine_input(input);
    Outcome o = capture([] { interpret(); });
    std::string prompts;
    for (int i = 0; i < 40000; ++i)
        prompts += "数を入力して下さい>";
    // The last read finds the end of input: its cell keeps the sum, which
    // the PUT before it left there.
    std::string total = std::to_string(static_cast<std::int32_t>(sum)) + "\n";
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.out, prompts + total + "数を入力して下さい>" + total);
}

TEST(FusedSteps, ACallThatEntersItsFrameFailsAfterTheEnt) {
    // A procedure calling itself forever: each level's ENT raises t by four,
    // and the ENT that reaches 998 is the last instruction that runs.
    std::vector<Instruction> prog = {{UJP, 0, 6}, {UJP, 0, 2}, {ENT, 0, 3}, {MST, 1, 3},
                                     {CUP, 0, 1}, {RET, 0, 0}, {ENT, 0, 2}, {MST, 0, 3},
                                     {CUP, 0, 1}, {HLT, 0, 0}};
    State got = machine(prog);
    EXPECT_EQ(got.out, runtime("スタックオーバフロー"));
    EXPECT_EQ(got.p, 3);
    EXPECT_EQ(got.t, 998);
    EXPECT_EQ(got.b, 995);
    EXPECT_EQ(got.ir.op, ENT);
    EXPECT_EQ(got.cells[997], 5);   // the return address CUP wrote
    EXPECT_EQ(got.cells[996], 991); // the dynamic link MST wrote
}
