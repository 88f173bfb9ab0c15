// The fast loop runs short runs of instructions as single steps and the
// machine keeps its output and input in buffers of its own.  None of that
// may show: here random code, full of such runs, with jumps into their
// middle, calls and returns, stacks near both limits and addresses outside
// the stack, is run by the fast loop, by the plain loop of the traced build
// and by a model of the instruction set written for this test, and
// everything a program or a caller can see is compared.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "random_code.hpp"
#include "support.hpp"
#include "vm/code.hpp"
#include "vm/machine.hpp"

namespace {

std::string runtime(const char* text) {
    return std::string("実行中にエラーがおきました: ") + text + "\n";
}

// What a run leaves behind.
struct State {
    std::string out;
    int status = -1;
    std::int32_t p = 0, b = 0, t = 0;
    Instruction ir{};
    std::int32_t ir_pc = -1;
    std::vector<std::int32_t> cells;
    std::int32_t spare = 0; // the cell below s[0]
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
    auto clamp_top = [](std::int64_t v) {
        return static_cast<std::int32_t>(v > STACK_SIZE ? STACK_SIZE : v < -2 ? -2 : v);
    };
    for (;;) {
        if (m.t < 0 || m.t >= STACK_OVERFLOW) {
            fail(m.t < 0 ? "スタックアンダーフロー" : "スタックオーバフロー");
            break;
        }
        if (m.p < 0 || m.p >= end) {
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
            m.t = clamp_top(std::int64_t{m.b} + in.a);
        } else if (in.op == MST) {
            std::int64_t link = frame();
            if (bad_link) {
                fail("スタックの範囲外のアドレスを使いました");
                break;
            }
            at(m.t + 1) = static_cast<std::int32_t>(link);
            at(m.t + 2) = m.b;
            m.t = clamp_top(std::int64_t{m.t} + in.a);
        } else if (in.op == CUP) {
            std::int64_t cell = std::int64_t{m.t} - in.l;
            if (cell < 2 || cell > STACK_SIZE - 2) {
                fail("スタックの範囲外のアドレスを使いました");
                break;
            }
            at(cell) = m.p;
            m.b = static_cast<std::int32_t>(cell - 2);
            m.p = in.a;
        } else if (in.op == RET || in.op == FRT) {
            if (in.op == FRT) at(m.b) = at(m.b + 3);
            std::int32_t ret = at(m.b + 2), link = at(m.b + 1);
            m.t = in.op == FRT ? m.b : m.b - 1;
            if (ret < 0 || ret >= end) {
                fail("命令の範囲外へ飛ぼうとしました");
                break;
            }
            if (link < 0 || link > STACK_SIZE - 4) {
                fail("スタックの範囲外のアドレスを使いました");
                break;
            }
            m.b = link;
            m.p = ret;
        }
    }
    m.cells.assign(cell.begin() + 1, cell.end());
    return m;
}

// The fast loop (interpret), or the plain loop the traced build runs.
enum class Loop { fast, plain };

State machine(const std::vector<Instruction>& prog, Loop loop = Loop::fast,
              const std::string& input = "") {
    reset_all();
    for (const Instruction& in : prog)
        generate_code(in.op, in.l, in.a);
    set_machine_input(input);
    State m;
    Outcome o = capture([loop] {
        if (loop == Loop::fast) {
            interpret();
        } else {
            clear_stack();
            interpret_traced();
        }
    });
    m.out = o.out;
    m.status = o.status;
    m.p = p;
    m.b = b;
    m.t = t;
    m.ir = ir;
    m.ir_pc = ir_pc;
    m.cells.assign(s, s + STACK_SIZE);
    m.spare = s[-1];
    return m;
}

// Everything the two loops leave must agree.
void expect_same(const State& got, const State& want) {
    ASSERT_EQ(got.out, want.out);
    ASSERT_EQ(got.status, want.status);
    ASSERT_EQ(got.p, want.p);
    ASSERT_EQ(got.t, want.t);
    ASSERT_EQ(got.b, want.b);
    ASSERT_EQ(got.ir.op, want.ir.op);
    ASSERT_EQ(got.ir.l, want.ir.l);
    ASSERT_EQ(got.ir.a, want.ir.a);
    ASSERT_EQ(got.ir_pc, want.ir_pc);
    ASSERT_EQ(got.cells, want.cells);
    ASSERT_EQ(got.spare, want.spare);
}

// Runs `prog` in both loops, which must agree, and against the model of the
// instruction table: the output, the status, the registers and every cell.
void expect_as_modelled(const std::vector<Instruction>& prog) {
    State got = machine(prog);
    expect_same(got, machine(prog, Loop::plain));
    // The model keeps no ir_pc and no cell below the stack.
    State want = model(prog);
    want.ir_pc = got.ir_pc;
    want.spare = got.spare;
    expect_same(got, want);
}

std::string listing(const std::vector<Instruction>& prog) {
    std::string text;
    for (const Instruction& in : prog)
        text += std::string(mnemonic(in.op)) + " " + std::to_string(in.l) + "," +
                std::to_string(in.a) + "\n";
    return text;
}

// Whether the plain loop ends on prog within 50 ms of its own processor
// time (not of the clock, which a loaded machine stretches), in a child
// process: code that jumps back through a return may run for ever, in both
// loops alike, and is then left out.
bool plain_loop_ends(const std::vector<Instruction>& prog, const std::string& input) {
    pid_t child = fork();
    if (child == 0) {
        itimerval limit{};
        limit.it_value.tv_usec = 50000;
        setitimer(ITIMER_VIRTUAL, &limit, nullptr);
        machine(prog, Loop::plain, input);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

TEST(Interpreter, RandomCodeRunsAsTheInstructionTableSays) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 4000; ++round) {
        std::vector<Instruction> prog = random_program(rng);
        SCOPED_TRACE(listing(prog));
        ASSERT_NO_FATAL_FAILURE(expect_as_modelled(prog));
    }
}

TEST(Interpreter, AnyCodeRunsAlikeInTheFastAndThePlainLoop) {
    std::mt19937 rng(20261209);
    int compared = 0;
    for (int round = 0; round < 1000; ++round) {
        std::vector<Instruction> prog = arbitrary_store(rng);
        std::string input = arbitrary_input(rng);
        if (!plain_loop_ends(prog, input)) continue;
        SCOPED_TRACE(listing(prog));
        expect_same(machine(prog, Loop::fast, input), machine(prog, Loop::plain, input));
        ++compared;
    }
    EXPECT_GT(compared, 900);
}

TEST(Interpreter, AnOperationThatEmptiesTheStackStopsBeforeWhatTakesItsResult) {
    // With t at 0 to 2, an operation on the stack and then a store, a jump
    // or another operation: at 0 the operation pops below s[0] and the test
    // before the next fetch fails; above, everything runs.
    for (std::int32_t top = 0; top <= 2; ++top) {
        for (Instruction op : {Instruction{OPR, 0, OPR_SUB}, Instruction{COP, 0, COP_LT}}) {
            for (Instruction then :
                 {Instruction{STR, 0, 3}, Instruction{FJP, 0, 4}, Instruction{OPR, 0, OPR_ADD}}) {
                std::vector<Instruction> prog = {{ENT, 0, top}, op, then, {PUT, 0, 0}, {HLT, 0, 0}};
                SCOPED_TRACE(listing(prog));
                expect_as_modelled(prog);
            }
        }
    }
}

TEST(Interpreter, JumpsThroughChainsOfUjpsStopWhereTheInstructionsWould) {
    // A call through two UJPs into a frame that does not fit, and one that
    // does; an FJP onto a UJP (not followed: it pops); a UJP onto a UJP
    // out of the store, which fails at the second one.
    for (std::int32_t frame : {2, 995}) {
        std::vector<Instruction> prog = {{UJP, 0, 7}, {UJP, 0, 2},  {UJP, 0, 3}, {ENT, 0, frame},
                                         {LDC, 0, 1}, {FJP, 0, 1},  {RET, 0, 0}, {ENT, 0, 3},
                                         {MST, 0, 3}, {CUP, 0, 1},  {LDC, 0, 0}, {FJP, 0, 13},
                                         {HLT, 0, 0}, {UJP, 0, 14}, {UJP, 0, 99}};
        SCOPED_TRACE(frame);
        State got = machine(prog);
        expect_same(got, machine(prog, Loop::plain));
        EXPECT_EQ(got.out, model(prog).out);
        EXPECT_EQ(got.ir.a, frame == 2 ? 99 : frame); // the UJP out, or the ENT
    }
}

TEST(Interpreter, ReturnsThroughCorruptedFramesFailAtTheReturn) {
    // The frame's return address or dynamic link overwritten before RET
    // and FRT: outside the store, outside the stack, the frame itself.
    for (Opcode ret : {RET, FRT}) {
        for (std::int32_t cell : {5, 6}) {
            for (std::int32_t value : {-1, 12, 997, 5}) {
                std::vector<Instruction> prog = {{UJP, 0, 6},        {ENT, 0, 4}, {LDC, 0, value},
                                                 {STR, 0, cell - 3}, {ret, 0, 0}, {HLT, 0, 0},
                                                 {ENT, 0, 3},        {MST, 0, 4}, {CUP, 0, 1},
                                                 {PUT, 0, 0},        {HLT, 0, 0}, {HLT, 0, 0}};
                SCOPED_TRACE(listing(prog));
                expect_same(machine(prog), machine(prog, Loop::plain));
            }
        }
    }
}

TEST(Interpreter, EveryFormOfTheRuleAtEveryHeightNearTheLimits) {
    // Each pair of sources (the stack, LDC, LOD 0,a, in- and outside the
    // stack) before each operation, and each destination after it (none,
    // STR 0,c in- and outside the stack, FJP), with t from 0 to 2 and from
    // 993 to 997: the plain loop and the fast one stop alike.
    const std::vector<Instruction> sources = {
        {LDC, 0, 0}, {LDC, 0, 3}, {LOD, 0, 1}, {LOD, 0, 1200}, {PUT, 0, 0}};
    const std::vector<Instruction> dests = {{PUT, 0, 0}, {STR, 0, 2}, {STR, 0, -7}, {FJP, 0, 6}};
    for (std::int32_t top : {0, 1, 2, 993, 994, 995, 996, 997}) {
        for (const Instruction& x : sources) {
            for (const Instruction& y : sources) {
                for (std::int32_t k : {int{OPR_SUB}, int{OPR_DIV}, -int{COP_LEQ}}) {
                    for (const Instruction& d : dests) {
                        Instruction op = k > 0 ? Instruction{OPR, 0, k} : Instruction{COP, 0, -k};
                        std::vector<Instruction> prog = {{ENT, 0, top}, x,          y, op, d,
                                                         {PUT, 0, 0},   {HLT, 0, 0}};
                        SCOPED_TRACE(listing(prog));
                        expect_same(machine(prog), machine(prog, Loop::plain));
                    }
                }
            }
        }
    }
}

TEST(Interpreter, LoadsAndStoresThroughAResultAtTheEdges) {
    // An address below, then each pair of sources (none: the stack; LDC of
    // the extremes, -1, 0 and the stack's last cells; LOD 0,a in- and
    // outside the stack), an operation or none, and an IND or an STO after
    // it (IND with offsets that reach past both ends, STO through an
    // address in, below and past the stack), with t at both limits: the
    // fast loop and the plain one agree on everything.
    const Instruction none{HLT, 0, 0};
    const std::vector<Instruction> sources = {
        none,        {LDC, 0, INT_MIN32}, {LDC, 0, 2147483647}, {LDC, 0, -1},
        {LDC, 0, 0}, {LDC, 0, 999},       {LOD, 0, 1},          {LOD, 0, 1200}};
    const std::vector<Instruction> ops = {
        none, {OPR, 0, OPR_ADD}, {OPR, 0, OPR_SUB}, {OPR, 0, OPR_DIV}, {COP, 0, COP_GT}};
    const std::vector<std::pair<std::int32_t, Instruction>> dests = {
        {3, {IND, 0, 0}}, {3, {IND, 0, -1}}, {3, {IND, 0, 990}},
        {3, {STO, 0, 0}}, {-1, {STO, 0, 0}}, {1000, {STO, 0, 0}}};
    int runs = 0;
    for (std::int32_t top : {0, 1, 2, 994, 995, 996, 997}) {
        for (const Instruction& x : sources) {
            for (const Instruction& y : sources) {
                for (const Instruction& op : ops) {
                    for (const auto& [address, d] : dests) {
                        std::vector<Instruction> prog = {
                            {ENT, 0, top}, {LDC, 0, -5}, {STR, 0, 1}, {LDC, 0, address}};
                        for (const Instruction& in : {x, y, op})
                            if (in.op != HLT) prog.push_back(in);
                        for (const Instruction& in : {d, Instruction{PUT, 0, 0}, none})
                            prog.push_back(in);
                        SCOPED_TRACE(listing(prog));
                        expect_same(machine(prog), machine(prog, Loop::plain));
                        ++runs;
                    }
                }
            }
        }
    }
    EXPECT_EQ(runs, 7 * 8 * 8 * 5 * 6);
}

TEST(Interpreter, ElementsOfAnArrayAtTheEdges) {
    // LDA 0,2 and a lower bound, an index (a constant, LOD 0,a in- and
    // outside the stack, or two of them added, subtracted or multiplied),
    // two OPR SUBs and an IND (with offsets that reach past both ends) or a
    // store through the address, with t at both limits: addresses below,
    // inside and past the stack, and a fault at each instruction of the
    // run.  Cell 1 holds -5.  The last tail is no element (ADD for the
    // second SUB).
    const Instruction none{HLT, 0, 0};
    const std::vector<Instruction> xs = {
        {LDC, 0, 1}, {LDC, 0, 997}, {LDC, 0, 2147483647}, {LOD, 0, 1}, {LOD, 0, 1200}};
    const std::vector<Instruction> ys = {
        none, {LDC, 0, 1}, {LDC, 0, -3}, {LOD, 0, 1}, {LOD, 0, -1}};
    const std::vector<std::vector<Instruction>> tails = {
        {{OPR, 0, OPR_SUB}, {OPR, 0, OPR_SUB}, {IND, 0, 0}},
        {{OPR, 0, OPR_SUB}, {OPR, 0, OPR_SUB}, {IND, 0, -1}},
        {{OPR, 0, OPR_SUB}, {OPR, 0, OPR_SUB}, {IND, 0, 990}},
        {{OPR, 0, OPR_SUB}, {OPR, 0, OPR_SUB}, {LDC, 0, 7}, {STO, 0, 0}},
        {{OPR, 0, OPR_SUB}, {OPR, 0, OPR_ADD}, {IND, 0, 0}}};
    int runs = 0;
    for (std::int32_t top : {0, 1, 2, 992, 993, 994, 995, 996, 997}) {
        for (std::int32_t bound : {0, 3, INT_MIN32}) {
            for (const Instruction& x : xs) {
                for (const Instruction& y : ys) {
                    for (std::int32_t k : {int{OPR_ADD}, int{OPR_SUB}, int{OPR_MUL}}) {
                        if (y.op == HLT && k != OPR_ADD) continue;
                        for (const std::vector<Instruction>& tail : tails) {
                            std::vector<Instruction> prog = {{LDC, 0, -5},    {STR, 0, 1},
                                                             {ENT, 0, top},   {LDA, 0, 2},
                                                             {LDC, 0, bound}, x};
                            if (y.op != HLT) {
                                prog.push_back(y);
                                prog.push_back({OPR, 0, k});
                            }
                            prog.insert(prog.end(), tail.begin(), tail.end());
                            prog.push_back({PUT, 0, 0});
                            prog.push_back(none);
                            SCOPED_TRACE(listing(prog));
                            expect_same(machine(prog), machine(prog, Loop::plain));
                            ++runs;
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(runs, 9 * 3 * 5 * 13 * 5);
}

TEST(Interpreter, AFaultInsideAnElementStopsAtTheInstructionThatFails) {
    // LDA 0,2; LDC 0; LOD 0,1; LOD 0,2000; OPR sub: the second LOD fails
    // with the three cells before it pushed.
    std::vector<Instruction> prog = {
        {LDC, 0, 4}, {STR, 0, 1},    {ENT, 0, 3},       {LDA, 0, 2},       {LDC, 0, 0},
        {LOD, 0, 1}, {LOD, 0, 2000}, {OPR, 0, OPR_SUB}, {OPR, 0, OPR_SUB}, {OPR, 0, OPR_SUB},
        {IND, 0, 0}, {PUT, 0, 0},    {HLT, 0, 0}};
    State got = machine(prog);
    EXPECT_EQ(got.out, runtime("スタックの範囲外のアドレスを使いました"));
    EXPECT_EQ(got.p, 7);
    EXPECT_EQ(got.t, 6);
    EXPECT_EQ(got.ir.op, LOD);
    EXPECT_EQ(got.cells[4], 2);
    EXPECT_EQ(got.cells[5], 0);
    EXPECT_EQ(got.cells[6], 4);

    // With LOD 0,5 the address is 2 - (0 - (4 - 0)) = 6, and IND 0,995
    // reaches past the stack: the IND fails, its address on top.
    prog[6] = {LOD, 0, 5};
    prog[10] = {IND, 0, 995};
    got = machine(prog);
    EXPECT_EQ(got.out, runtime("スタックの範囲外のアドレスを使いました"));
    EXPECT_EQ(got.p, 11);
    EXPECT_EQ(got.t, 4);
    EXPECT_EQ(got.ir.op, IND);
    EXPECT_EQ(got.cells[4], 6);
    EXPECT_EQ(got.cells[5], -4);
    EXPECT_EQ(got.cells[6], 4);
    EXPECT_EQ(got.cells[7], 0);
}

TEST(Interpreter, ACallRunsTheEntOfItsRoutineAndStopsAfterItNearTheLimit) {
    // A call, straight or through a UJP, into an ENT whose frame ends
    // below, at and past the stack limit, from calls whose frame does or
    // does not fit: the run stops after the ENT (or at the CUP) exactly as
    // the plain loop does.
    for (bool through : {false, true}) {
        for (std::int32_t m : {3, 990, 993, 994, 995, 996, 1200, -4}) {
            for (std::int32_t top : {3, 993, 996}) {
                const std::int32_t entry = through ? 2 : 3;
                std::vector<Instruction> prog = {{UJP, 0, 6},   {UJP, 0, 3}, {UJP, 0, 3},
                                                 {ENT, 0, m},   {RET, 0, 0}, {HLT, 0, 0},
                                                 {ENT, 0, top}, {MST, 0, 3}, {CUP, 0, entry},
                                                 {LDC, 0, 4},   {PUT, 0, 0}, {HLT, 0, 0}};
                SCOPED_TRACE(listing(prog));
                expect_as_modelled(prog);
            }
        }
    }
}

TEST(Interpreter, EachStepNearTheStackLimitFailsAfterTheSameInstruction) {
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
            expect_same(got, machine(prog, Loop::plain));
        }
    }
}

TEST(Interpreter, AFaultInsideARunStopsAtTheInstructionThatFails) {
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

TEST(Interpreter, AStoreBeforeAReturnFailsWhenItEmptiesTheStack) {
    // The store leaves t at -1: the test before the return's fetch fails,
    // and the return never runs.
    for (const std::vector<Instruction>& prog : std::vector<std::vector<Instruction>>{
             {{STR, 0, 5}, {FRT, 0, 0}},
             {{LDC, 0, 4}, {OPR, 0, OPR_ADD}, {STR, 0, 5}, {UJP, 0, 4}, {RET, 0, 0}}}) {
        State want = model(prog);
        State got = machine(prog);
        EXPECT_EQ(want.out, runtime("スタックアンダーフロー"));
        EXPECT_EQ(got.out, want.out);
        EXPECT_EQ(got.p, want.p);
        EXPECT_EQ(got.t, -1);
        EXPECT_EQ(got.ir.op, STR);
        EXPECT_EQ(got.cells, want.cells);
    }
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
    // The last read finds the end of input and stops the run.
    std::string total = std::to_string(static_cast<std::int32_t>(sum)) + "\n";
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, prompts + total + "数を入力して下さい>" +
                         "実行中にエラーがおきました: 数が読み込めませんでした\n");
}

TEST(Interpreter, ACallThatEntersItsFrameFailsAfterTheEnt) {
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
