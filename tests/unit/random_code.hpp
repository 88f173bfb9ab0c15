// Random code for the tests that compare the machine's loops: runs of the
// instructions the fast loop fuses, with jumps into their middle, calls and
// returns, stacks near both limits and addresses outside the stack
// (random_program, whose runs all end), and any code at all
// (arbitrary_store, whose runs may not), with input for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "vm/code.hpp"

inline constexpr std::int32_t INT_MIN32 = -2147483647 - 1;

// Runs of operands and operations of the kinds the machine fuses, with
// forward jumps anywhere in the block (collected in `jumps`) but into a
// call's arguments, into `prog`.  A routine's body stores only into its own
// variables, and its frame (size m) is larger than all its runs can pop, so
// that its links and return address stay as the call left them; it may call
// the routines in `callees` (entry index, and whether it is a function).
struct Block {
    std::vector<Instruction>& prog;
    std::vector<std::size_t> jumps;
    int m;
    bool routine;
    std::vector<std::pair<int, bool>> callees;
    std::vector<std::pair<std::size_t, std::size_t>> calls; // MST and CUP of each call
};

inline void random_runs(std::mt19937& rng, Block& blk) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    std::vector<Instruction>& prog = blk.prog;
    const int m = blk.m;
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
    // A store the block may make: anywhere in the main block, into its
    // own variables in a routine.
    auto store = [&]() -> Instruction {
        if (blk.routine) return {STR, 0, 3 + pick(m - 2)};
        return {STR, pick(3) == 0 ? pick(4) : 0, pick(4) == 0 ? pick(1003) : pick(m + 2)};
    };
    auto jump = [&](Opcode op) {
        blk.jumps.push_back(prog.size());
        prog.push_back({op, 0, 0});
    };
    int runs = 3 + pick(8);
    for (int r = 0; r < runs; ++r) {
        int kind = pick(17);
        if (blk.routine && (kind == 9 || kind == 10 || kind == 15))
            kind = 0; // they may store anywhere
        if (kind >= 12 && blk.callees.empty()) kind = 0;
        switch (kind) {
        case 12:
        case 13: { // a call, its result (of a function) stored or written
            auto [entry, function] =
                blk.callees[static_cast<std::size_t>(pick(static_cast<int>(blk.callees.size())))];
            std::size_t first = prog.size();
            prog.push_back({MST, pick(4) == 0 ? 2 : pick(2), function ? 4 : 3});
            int args = pick(4);
            for (int k = 0; k < args; ++k) {
                prog.push_back(operand());
                if (pick(3) == 0) {
                    prog.push_back(operand());
                    prog.push_back({OPR, 0, OPR_ADD + pick(4)});
                }
            }
            blk.calls.emplace_back(first, prog.size());
            prog.push_back({CUP, args + (function ? 1 : 0), entry});
            if (function) prog.push_back(pick(2) == 0 ? store() : Instruction{PUT, 0, 0});
            break;
        }
        case 16: // x + y * z or x * y + z
            prog.push_back(operand());
            prog.push_back(operand());
            if (pick(2) == 0) {
                prog.push_back(operand());
                prog.push_back({OPR, 0, OPR_MUL});
            } else {
                prog.push_back({OPR, 0, OPR_MUL});
                prog.push_back(operand());
            }
            prog.push_back({OPR, 0, OPR_ADD});
            break;
        case 15: { // a variable of an enclosing block updated
            auto offset = [&] { return pick(4) == 0 ? 995 + pick(10) : pick(m + 4); };
            prog.push_back(pick(3) == 0 ? operand() : Instruction{LOD, 1 + pick(3), offset()});
            if (pick(3) != 0) prog.push_back(operand());
            prog.push_back({OPR, 0, OPR_ADD + pick(4)});
            prog.push_back({STR, pick(4) == 0 ? 0 : 1 + pick(3), offset()});
            break;
        }
        case 14: { // a remainder, x - x div y * y, perhaps stored
            Instruction x{LOD, 0, pick(6) == 0 ? 995 + pick(10) : pick(m + 4)};
            Instruction y =
                pick(2) == 0 ? Instruction{LDC, 0, pick(5) - 2} : Instruction{LOD, 0, pick(m + 4)};
            for (const Instruction& in :
                 {x, x, y, Instruction{OPR, 0, OPR_DIV}, y, Instruction{OPR, 0, OPR_MUL},
                  Instruction{OPR, 0, OPR_SUB}})
                prog.push_back(in);
            if (pick(2) == 0) prog.push_back(store());
            break;
        }
        case 9: // an element's address, perhaps read or written
            prog.push_back({LDA, 0, pick(m + 2)});
            prog.push_back({LDC, 0, pick(4) - 1});
            prog.push_back(operand());
            if (pick(2) == 0) { // an index worked out from two operands
                prog.push_back(operand());
                prog.push_back({OPR, 0, OPR_ADD + pick(4)});
                if (pick(2) == 0) { // or three, row * width + column
                    prog.push_back(operand());
                    prog.push_back({OPR, 0, OPR_ADD + pick(2)});
                }
            }
            prog.push_back({OPR, 0, OPR_SUB});
            prog.push_back({OPR, 0, OPR_SUB});
            if (pick(3) != 0) prog.push_back({IND, 0, pick(4) == 0 ? 990 : pick(3) - 1});
            if (pick(2) == 0) {
                prog.push_back(operand());
                prog.push_back({STO, 0, 0});
            }
            break;
        case 10: // through a reference: read, perhaps stored; or assigned
            switch (pick(3)) {
            case 0:
                prog.push_back({LOD, 0, pick(m + 2)});
                prog.push_back({IND, 0, pick(3) - 1});
                if (pick(2) == 0) prog.push_back(store());
                break;
            default:
                prog.push_back({LOD, 0, pick(m + 2)});
                prog.push_back({LOD, 0, pick(m + 2)});
                if (pick(2) == 0) prog.push_back({IND, 0, pick(3) - 1});
                prog.push_back({STO, 0, 0});
                break;
            }
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
                prog.push_back({STR, 0, blk.routine ? 3 + pick(m - 2) : pick(m + 2)});
                jump(UJP);
                break;
            }
            [[fallthrough]];
        case 4:
            if (pick(2) == 0) {
                jump(FJP);
            } else {
                prog.push_back(store());
            }
            break;
        case 5: prog.push_back({PUT, 0, 0}); break;
        case 6: jump(UJP); break;
        case 7: prog.push_back({LDA, 0, pick(m + 2)}); break;
        default:
            prog.push_back(operand());
            prog.push_back(store());
            if (pick(3) == 0) jump(UJP);
            break;
        }
    }
}

// Forward only, so that every run ends; sometimes onto the block's last
// instruction (its HLT or its return).
inline void resolve_jumps(std::mt19937& rng, Block& blk) {
    std::size_t last = blk.prog.size() - 1;
    for (std::size_t j : blk.jumps) {
        auto after = static_cast<unsigned>(last - j);
        std::size_t target = j + 1 + rng() % after;
        for (auto [mst, cup] : blk.calls)
            if (target > mst && target <= cup) target = mst;
        blk.prog[j].a = static_cast<std::int32_t>(target);
    }
}

// A program: a jump to the main block, up to three routines (each may call
// those before it, so that every run ends), then the main block: `ENT 0,m`,
// runs, HLT.  Routines are entered through a UJP to their ENT, as the
// compiler makes them, or now and then at the ENT itself.
inline std::vector<Instruction> random_program(std::mt19937& rng) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    std::vector<Instruction> prog;
    prog.push_back({UJP, 0, 0});
    std::vector<std::pair<int, bool>> routines;
    for (int r = pick(4); r > 0; --r) {
        bool function = pick(2) == 0;
        int entry = static_cast<int>(prog.size());
        bool direct = pick(5) == 0;
        if (!direct) prog.push_back({UJP, 0, entry + 1});
        Block body{prog, {}, 36 + pick(5), true, routines, {}};
        prog.push_back({ENT, 0, body.m});
        random_runs(rng, body);
        prog.push_back({function ? FRT : RET, 0, 0});
        resolve_jumps(rng, body);
        routines.emplace_back(entry, function);
    }
    prog[0].a = static_cast<std::int32_t>(prog.size());
    Block main{prog, {}, pick(3) == 0 ? 990 + pick(8) : 3 + pick(12), false, routines, {}};
    prog.push_back({ENT, 0, main.m});
    random_runs(rng, main);
    prog.push_back({HLT, 0, 0});
    resolve_jumps(rng, main);
    return prog;
}

// Any code at all: every instruction, op bytes outside the instruction set,
// sub-codes outside the tables, levels and addresses that reach outside the
// stack, jumps (mostly forward) into the store and out of it, returns
// through whatever the stack holds, frames near the stack limit.
inline std::vector<Instruction> arbitrary_store(std::mt19937& rng) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    int n = 4 + pick(40);
    std::vector<Instruction> prog;
    prog.push_back({ENT, 0, pick(3) == 0 ? 990 + pick(8) : pick(30)});
    for (int i = 1; i < n; ++i) {
        int kind = pick(26);
        auto op = static_cast<Opcode>(kind < 18   ? kind
                                      : kind < 20 ? 18 + pick(200)
                                      : kind < 23 ? LDC
                                                  : LOD);
        std::int32_t l = pick(4) == 0 ? pick(5) - 1 : 0;
        std::int32_t a = pick(4) == 0 ? 990 + pick(15) : pick(14) - 2;
        switch (op) {
        case OPR:
        case COP: a = pick(9) - 1; break;
        case UJP:
        case FJP:
        case CUP:
            a = pick(12) == 0 ? pick(3) * 20000 - 1 : i + 1 + pick(n - i);
            if (op == CUP) l = pick(6);
            break;
        case MST: a = pick(6); break;
        case LDC: a = pick(5) == 0 ? INT_MIN32 + pick(3) : pick(9) - 3; break;
        case RET:
        case FRT: // rarer: a return through stale cells may jump back for ever
            if (pick(3) != 0) op = PUT;
            break;
        default: break;
        }
        prog.push_back({op, l, a});
    }
    if (pick(6) != 0) prog.push_back({HLT, 0, 0});
    return prog;
}

// Standard input of such code: numbers, blanks, signs and other bytes.
inline std::string arbitrary_input(std::mt19937& rng) {
    const char* pieces[] = {"12 ", "-5\n", "+7", " x", "2147483648 ", "-", "\t3", "99999999999 "};
    std::string text;
    for (int k = static_cast<int>(rng() % 6); k > 0; --k)
        text += pieces[rng() % 8];
    return text;
}
