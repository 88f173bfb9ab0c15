// The code store: appending, patching forward jumps, the listing and the
// limit of CODE_MAX instructions.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support.hpp"
#include "vm/code.hpp"

namespace {

std::string listed() {
    return capture([] { list_code(); }).out;
}

const char* const heading = "\n- コンパイル結果 -\n";
const char* const rule = "------------------\n\n";

} // namespace

TEST(CodeStore, AppendsAtConsecutiveIndexes) {
    reset_all();
    EXPECT_EQ(generate_code(UJP, 0, 0), 0);
    EXPECT_EQ(generate_code(LDC, 0, -7), 1);
    EXPECT_EQ(generate_code(CUP, 2, 1), 2);
    EXPECT_EQ(cx, 3);
    EXPECT_EQ(code[1].op, LDC);
    EXPECT_EQ(code[1].l, 0);
    EXPECT_EQ(code[1].a, -7);
    EXPECT_EQ(code[2].op, CUP);
    EXPECT_EQ(code[2].l, 2);
    EXPECT_EQ(code[2].a, 1);
    // emit records the index it got as the last emitted instruction.
    EXPECT_EQ(emit(HLT, 0, 0), 3);
    EXPECT_EQ(last_emitted, 3);
}

TEST(CodeStore, BackpatchAimsAJumpAtTheNextInstruction) {
    reset_all();
    generate_code(LDC, 0, 1);
    int jump = generate_code(FJP, 0, 0);
    backpatch(jump); // right after emission: the jump skips nothing
    EXPECT_EQ(code[jump].a, jump + 1);
    generate_code(LDC, 0, 2);
    generate_code(PUT, 0, 0);
    backpatch(jump); // later: over the two instructions since
    EXPECT_EQ(code[jump].a, 4);
    EXPECT_EQ(code[jump].op, FJP);
    EXPECT_EQ(code[jump].l, 0);
    EXPECT_EQ(cx, 4); // patching emits nothing

    // An index outside the store changes nothing.
    backpatch(-1);
    backpatch(cx);
    EXPECT_EQ(listing(), "0: LDC(0,1)\n1: FJP(0,4)\n2: LDC(0,2)\n3: PUT(0,0)\n");
}

TEST(CodeStore, ListingOfAnEmptyStore) {
    reset_all();
    EXPECT_EQ(listed(), std::string(heading) + rule);
}

TEST(CodeStore, ListingShowsEveryMnemonicAndSignedOperands) {
    reset_all();
    for (int op = 0; op < OPCODE_COUNT; ++op)
        generate_code(static_cast<Opcode>(op), op - 9, -op * 1000);
    generate_code(LDC, -2147483647 - 1, 2147483647);
    EXPECT_EQ(listed(), std::string(heading) +
                            "0: LDC(-9,0)\n"
                            "1: OPR(-8,-1000)\n"
                            "2: COP(-7,-2000)\n"
                            "3: LOD(-6,-3000)\n"
                            "4: STR(-5,-4000)\n"
                            "5: UJP(-4,-5000)\n"
                            "6: FJP(-3,-6000)\n"
                            "7: RET(-2,-7000)\n"
                            "8: MST(-1,-8000)\n"
                            "9: ENT(0,-9000)\n"
                            "10: HLT(1,-10000)\n"
                            "11: GET(2,-11000)\n"
                            "12: PUT(3,-12000)\n"
                            "13: LDA(4,-13000)\n"
                            "14: IND(5,-14000)\n"
                            "15: STO(6,-15000)\n"
                            "16: FRT(7,-16000)\n"
                            "17: CUP(8,-17000)\n"
                            "18: LDC(-2147483648,2147483647)\n" +
                            rule);
}

TEST(CodeStore, ListingOfAnOpOutsideTheInstructionSet) {
    reset_all();
    generate_code(static_cast<Opcode>(18), 0, 0);
    generate_code(static_cast<Opcode>(255), 1, 2);
    EXPECT_EQ(listing(), "0: ?\?\?(0,0)\n1: ?\?\?(1,2)\n");
}

TEST(CodeStore, ListingOfACompiledProgram) {
    ASSERT_EQ(compile("program p;\nvar x;\nbegin\n  x := 2;\n  write(x * 3)\nend.\n").status, -1);
    EXPECT_EQ(listed(), std::string(heading) +
                            "0: UJP(0,1)\n1: ENT(0,3)\n2: LDC(0,2)\n3: STR(0,3)\n4: LOD(0,3)\n"
                            "5: LDC(0,3)\n6: OPR(0,3)\n7: PUT(0,0)\n8: HLT(0,0)\n" +
                            rule);
}

TEST(CodeStoreLimit, HoldsExactlyCodeMaxInstructions) {
    reset_all();
    Outcome o = capture([] {
        for (int i = 0; i < CODE_MAX; ++i)
            generate_code(LDC, 0, i);
    });
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(cx, CODE_MAX);
    EXPECT_EQ(code[CODE_MAX - 1].a, CODE_MAX - 1);

    o = capture([] { generate_code(HLT, 0, 0); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "構文エラー: プログラムが大きすぎます(命令は10000個まで)\n");
    EXPECT_EQ(cx, CODE_MAX);
    EXPECT_EQ(code[CODE_MAX - 1].op, LDC); // the last instruction is intact
}

// Each "write(1)" compiles to two instructions, "x := -1" to three, around
// the three of the frame (UJP, ENT, HLT).
TEST(CodeStoreLimit, ACompiledProgramAtTheLimitAndOnePast) {
    auto program = [](int writes) {
        std::string src = "program p;\nvar x;\nbegin\nx := -1";
        for (int i = 0; i < writes; ++i)
            src += ";\nwrite(1)";
        return src + "\nend.\n";
    };
    ASSERT_EQ(compile(program(1)).status, -1);
    ASSERT_EQ(cx, 8);

    Outcome o = compile(program((CODE_MAX - 6) / 2));
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(cx, CODE_MAX);
    EXPECT_EQ(code[CODE_MAX - 1].op, HLT);

    o = compile(program((CODE_MAX - 6) / 2 + 1));
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "構文エラー: プログラムが大きすぎます(命令は10000個まで)\n");
}

// The guide to the machine (docs/machine.md) states each instruction's
// effect with the words of the code's own table, which the playground
// shows too: a change to one must be made to the other.
TEST(OpcodeEffects, TheGuideSaysWhatTheCodeSays) {
    std::string guide;
    {
        std::FILE* f = std::fopen(TSUMIKI_SOURCE_DIR "/docs/machine.md", "rb");
        ASSERT_NE(f, nullptr);
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            guide.append(buffer, n);
        std::fclose(f);
    }
    for (int op = 0; op < OPCODE_COUNT; ++op) {
        const OpcodeEffect& e = opcode_effects[op];
        EXPECT_NE(*e.symbols, '\0');
        EXPECT_NE(*e.english, '\0');
        EXPECT_NE(*e.japanese, '\0');
        std::string row = std::string("| `") + mnemonics[op] + "` | `" + e.symbols + "` | " + e.english + " |";
        EXPECT_NE(guide.find(row), std::string::npos) << row;
    }
}
