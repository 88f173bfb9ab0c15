// A frame's layout and the walks along its links, over plain arrays of
// cells and over frames the compiler and the machine really make.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support.hpp"
#include "vm/code.hpp"
#include "vm/frame.hpp"
#include "vm/machine.hpp"

namespace {

std::vector<std::int64_t> frames_from(const std::int32_t* cells, std::int64_t base) {
    std::vector<std::int64_t> seen;
    for_each_frame(cells, base, [&](std::int64_t frame) {
        seen.push_back(frame);
        return true;
    });
    return seen;
}

// A stack of three frames: main at 0 (7 cells), a procedure at 7 whose
// static link is main, a function at 12 nested in it, called from it.
struct ThreeFrames {
    std::int32_t cells[STACK_SIZE] = {};
    ThreeFrames() {
        cells[7 + FRAME_STATIC_LINK] = 0;
        cells[7 + FRAME_DYNAMIC_LINK] = 0;
        cells[7 + FRAME_RETURN_ADDRESS] = 40;
        cells[12 + FRAME_STATIC_LINK] = 7;
        cells[12 + FRAME_DYNAMIC_LINK] = 7;
        cells[12 + FRAME_RETURN_ADDRESS] = 41;
        cells[12 + FRAME_RESULT] = 99;
    }
};

} // namespace

TEST(Frame, TheHeaderIsTheLinksTheReturnAddressAndAFunctionsResult) {
    EXPECT_EQ(FRAME_STATIC_LINK, 0);
    EXPECT_EQ(FRAME_DYNAMIC_LINK, 1);
    EXPECT_EQ(FRAME_RETURN_ADDRESS, 2);
    EXPECT_EQ(FRAME_RESULT, 3);
    EXPECT_EQ(frame_header_cells(false), 3);
    EXPECT_EQ(frame_header_cells(true), 4);
    EXPECT_TRUE(frame_fits(0));
    EXPECT_TRUE(frame_fits(STACK_SIZE - FRAME_FUNCTION_CELLS));
    EXPECT_FALSE(frame_fits(STACK_SIZE - FRAME_FUNCTION_CELLS + 1));
    EXPECT_FALSE(frame_fits(-1));
}

TEST(Frame, TheAccessorsReadTheHeader) {
    ThreeFrames st;
    EXPECT_EQ(static_link_of(st.cells, 12), 7);
    EXPECT_EQ(dynamic_link_of(st.cells, 12), 7);
    EXPECT_EQ(return_address_of(st.cells, 12), 41);
    EXPECT_EQ(return_address_of(st.cells, 7), 40);
}

TEST(Frame, StaticLinksOutToAnyLevel) {
    ThreeFrames st;
    std::int64_t frame = -1;
    ASSERT_TRUE(frame_base_at_level(st.cells, 12, 0, frame));
    EXPECT_EQ(frame, 12);
    ASSERT_TRUE(frame_base_at_level(st.cells, 12, -5, frame));
    EXPECT_EQ(frame, 12);
    ASSERT_TRUE(frame_base_at_level(st.cells, 12, 1, frame));
    EXPECT_EQ(frame, 7);
    ASSERT_TRUE(frame_base_at_level(st.cells, 12, 2, frame));
    EXPECT_EQ(frame, 0);
    // Main links to itself: further out is main again.
    ASSERT_TRUE(frame_base_at_level(st.cells, 12, 9, frame));
    EXPECT_EQ(frame, 0);
    // A link outside the stack fails only when it is followed.
    st.cells[7 + FRAME_STATIC_LINK] = STACK_SIZE;
    ASSERT_TRUE(frame_base_at_level(st.cells, 12, 2, frame));
    EXPECT_EQ(frame, STACK_SIZE);
    EXPECT_FALSE(frame_base_at_level(st.cells, 12, 3, frame));
    st.cells[7 + FRAME_STATIC_LINK] = -1;
    EXPECT_FALSE(frame_base_at_level(st.cells, 12, 3, frame));
}

TEST(Frame, TheCallsRunningDownTheDynamicLinks) {
    ThreeFrames st;
    EXPECT_EQ(frames_from(st.cells, 12), (std::vector<std::int64_t>{12, 7, 0}));
    EXPECT_EQ(frames_from(st.cells, 0), (std::vector<std::int64_t>{0}));
    // A visitor that stops.
    int visits = 0;
    for_each_frame(st.cells, 12, [&](std::int64_t) { return ++visits < 2; });
    EXPECT_EQ(visits, 2);
}

TEST(Frame, TheWalkDownTrustsNoCell) {
    ThreeFrames st;
    // A link that does not go down: the walk ends after that frame.
    st.cells[12 + FRAME_DYNAMIC_LINK] = 12;
    EXPECT_EQ(frames_from(st.cells, 12), (std::vector<std::int64_t>{12}));
    st.cells[12 + FRAME_DYNAMIC_LINK] = 500;
    EXPECT_EQ(frames_from(st.cells, 12), (std::vector<std::int64_t>{12}));
    // One below the stack, or a frame with no room for its header.
    st.cells[12 + FRAME_DYNAMIC_LINK] = -3;
    EXPECT_EQ(frames_from(st.cells, 12), (std::vector<std::int64_t>{12}));
    EXPECT_TRUE(frames_from(st.cells, STACK_SIZE - 3).empty());
    EXPECT_TRUE(frames_from(st.cells, -1).empty());
    // A chain through every cell ends: each step goes down.
    std::int32_t chain[STACK_SIZE] = {};
    for (int k = 1; k + FRAME_DYNAMIC_LINK < STACK_SIZE; ++k)
        chain[k + FRAME_DYNAMIC_LINK] = k - 1;
    EXPECT_EQ(frames_from(chain, STACK_SIZE - FRAME_FUNCTION_CELLS).size(),
              static_cast<std::size_t>(STACK_SIZE - FRAME_FUNCTION_CELLS + 1));
}

// The compiler lays frames out so: a function's result past the links and
// the return address, its parameter past the result, and the call reserves
// the longer header.
TEST(Frame, TheCompilerLaysFramesOutSo) {
    Outcome o = compile_and_run(R"(program p;
var g;
  function f(x);
  begin
    f := x + 1
  end;
  procedure q(y);
  begin
    g := y
  end;
begin
  q(f(41));
  write(g)
end.
)");
    EXPECT_EQ(o.out, "42\n");
    auto has = [](Opcode op, std::int32_t l, std::int32_t a) {
        for (int i = 0; i < cx; ++i)
            if (code[i].op == op && code[i].l == l && code[i].a == a) return true;
        return false;
    };
    EXPECT_TRUE(has(LOD, 0, FRAME_FUNCTION_CELLS));  // x
    EXPECT_TRUE(has(STR, 0, FRAME_RESULT));          // f :=
    EXPECT_TRUE(has(LOD, 0, FRAME_PROCEDURE_CELLS)); // y
    EXPECT_TRUE(has(MST, 0, FRAME_FUNCTION_CELLS));
    EXPECT_TRUE(has(MST, 0, FRAME_PROCEDURE_CELLS));
}
