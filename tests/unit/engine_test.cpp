// The engine choice: the names TSUMIKI_ENGINE takes, and that a run on
// any engine starts from a cleared machine.
#include <gtest/gtest.h>

#include <string>

#include "support.hpp"
#include "vm/code.hpp"
#include "vm/engine.hpp"
#include "vm/machine.hpp"
#include "vm/run.hpp"

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

TEST(Engine, EveryRunStartsFromAClearedMachineOnEveryEngine) {
    // ENT 0,3; LOD 0,5; PUT; HLT, after an earlier run left junk in the
    // cells and the registers.
    for (Engine engine : {Engine::standard, Engine::interpreter, Engine::native}) {
        for (bool watched : {false, true}) {
            reset_all();
            for (int i = 0; i < STACK_SIZE; ++i)
                s[i] = 1000 + i;
            p = 2;
            b = 7;
            t = 9;
            generate_code(ENT, 0, 3);
            generate_code(LOD, 0, 5);
            generate_code(PUT, 0, 0);
            generate_code(HLT, 0, 0);
            std::string out;
            RunSetup setup;
            setup.output = string_writer(out);
            setup.engine = engine;
            setup.budget = watched ? 1000 : 0; // a watched run goes to the interpreter
            RunEnding ending = run_machine(setup);
            EXPECT_TRUE(ending.halted);
            EXPECT_EQ(out, "0\n");
            EXPECT_EQ(p, 4);
            EXPECT_EQ(t, 3);
            EXPECT_EQ(ir_pc, 3);
        }
    }
}
