// The engine choice: the names TSUMIKI_ENGINE takes, and that a run on
// the interpreter is a run of the fast loop from a cleared stack.
#include <gtest/gtest.h>

#include "support.hpp"
#include "vm/code.hpp"
#include "vm/engine.hpp"
#include "vm/machine.hpp"

TEST(Engine, NamesAreExactAndNoNameIsTheStandardEngine) {
    Engine engine = Engine::interpreter;
    ASSERT_TRUE(engine_named(nullptr, engine));
    EXPECT_EQ(engine, Engine::standard);
    ASSERT_TRUE(engine_named("native", engine));
    EXPECT_EQ(engine, Engine::native);
    ASSERT_TRUE(engine_named("interpreter", engine));
    EXPECT_EQ(engine, Engine::interpreter);
    for (const char* wrong : {"", "Native", "interp", "native ", "jit"}) {
        engine = Engine::native;
        EXPECT_FALSE(engine_named(wrong, engine)) << wrong;
        EXPECT_EQ(engine, Engine::native) << wrong; // left as it was
    }
}

TEST(Engine, EveryEngineRunsTheStoreFromAClearedStack) {
    // LDC 7; STR 0,3 (the frame is the main block's); LOD 0,3; PUT; HLT,
    // after an earlier run left junk in the cells.
    for (Engine engine : {Engine::standard, Engine::interpreter, Engine::native}) {
        for (bool watched : {false, true}) {
            reset_all();
            for (int i = 0; i < STACK_SIZE; ++i)
                s[i] = 1000 + i;
            generate_code(ENT, 0, 3);
            generate_code(LOD, 0, 5);
            generate_code(PUT, 0, 0);
            generate_code(HLT, 0, 0);
            Outcome o = capture([&] { run_on_engine(engine, watched); });
            EXPECT_EQ(o.out, "0\n");
            EXPECT_EQ(o.status, -1);
            EXPECT_EQ(p, 4);
            EXPECT_EQ(t, 3);
        }
    }
}
