// The library interface as the front ends use it: many programs in one
// process, errors as results, nesting on small stacks, runs that are
// stopped or run out of budget.  Built against the traced core, as the
// inspector, the language server and the playground are.
#include <gtest/gtest.h>

#include <atomic>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

#include "driver/api.hpp"

namespace {

struct Ran {
    RunResult result;
    std::string out;
};

Ran run_with(std::string_view input, std::uint64_t budget = 0,
             const std::atomic<bool>* stop = nullptr) {
    Ran ran;
    RunOptions options;
    options.encoding = Encoding::utf8;
    options.input = view_reader(input);
    options.output = string_writer(ran.out);
    options.budget = budget;
    options.stop = stop;
    ran.result = run_program(options);
    return ran;
}

const char* const COUNTDOWN = "program p;\nvar n;\nbegin read(n);\n"
                              "  while n > 0 do begin write(n); n := n - 1 end\nend.\n";
const char* const FOREVER = "program p;\nbegin while 0 = 0 do end.\n";

} // namespace

TEST(Interface, Utf8CompileOptionsCompileOnTheCallingThread) {
    CompileOptions options = utf8_compile_options();
    EXPECT_EQ(options.encoding, Encoding::utf8);
    EXPECT_EQ(options.stack_bytes, 0u);
    EXPECT_FALSE(options.large_stack);
    EXPECT_EQ(options.max_depth, 0);
}

TEST(Interface, ProgramsInOneProcessAreIndependent) {
    Compiled bad = compile_text("program p;\nbegin x := 1 end.\n", utf8_compile_options());
    EXPECT_EQ(bad.error, ErrorKind::syntax);
    EXPECT_EQ(bad.message, "構文エラー: 宣言されていない識別子の使用(k)\n\n");
    EXPECT_EQ(bad.where.line, 2);
    EXPECT_EQ(bad.where.column, 7);

    Compiled good = compile_text(COUNTDOWN, utf8_compile_options());
    ASSERT_EQ(good.error, ErrorKind::none);
    EXPECT_EQ(good.message, "");
    std::string_view three = "3";
    Ran ran = run_with(three);
    EXPECT_EQ(ran.result.end, RunEnd::halted);
    EXPECT_EQ(ran.out, "数を入力して下さい>3\n2\n1\n");

    // n was declared by the program before: not by this one.
    Compiled again = compile_text("program q;\nbegin n := 1 end.\n", utf8_compile_options());
    EXPECT_EQ(again.error, ErrorKind::syntax);
    EXPECT_EQ(again.message, "構文エラー: 宣言されていない識別子の使用(k)\n\n");

    Compiled lexical = compile_text("", utf8_compile_options());
    EXPECT_EQ(lexical.error, ErrorKind::lexical);
    EXPECT_EQ(lexical.message, "字句エラー: ファイルの終り\n");

    Compiled cp932 = compile_text("program p; begin end;\n", CompileOptions{});
    EXPECT_EQ(cp932.message, "\x8d\x5c\x95\xb6\x83\x47\x83\x89\x81\x5b: "
                             "\x83\x73\x83\x8a\x83\x49\x83\x68\x82\xaa\x82\xa0\x82\xe8\x82\xdc"
                             "\x82\xb9\x82\xf1\n");
}

TEST(Interface, RunTimeErrorsComeBackWithTheFailingInstruction) {
    ASSERT_EQ(compile_text("program p;\nvar x;\nbegin write(1); x := 1 div 0 end.\n",
                           utf8_compile_options())
                  .error,
              ErrorKind::none);
    Ran ran = run_with("");
    EXPECT_EQ(ran.result.end, RunEnd::runtime_error);
    EXPECT_EQ(ran.out, "1\n");
    EXPECT_EQ(ran.result.message, "実行中にエラーがおきました: 0による除算がありました\n");
    EXPECT_EQ(ran.result.pc, 6); // UJP ENT LDC PUT LDC LDC OPR
    // Counted with a budget (the plain loop runs it): the failing OPR too.
    EXPECT_EQ(run_with("", 1000).result.steps, 7u);
}

TEST(Interface, AStackOverflowComesBackWithTheCallThatMadeTheInnermostFrame) {
    ASSERT_EQ(compile_text("program p;\n"
                           "procedure r(n);\n"
                           "begin\n"
                           "  r(n + 1)\n"
                           "end;\n"
                           "begin\n"
                           "  r(1)\n"
                           "end.\n",
                           utf8_compile_options())
                  .error,
              ErrorKind::none);
    Ran ran = run_with("");
    EXPECT_EQ(ran.result.end, RunEnd::runtime_error);
    EXPECT_EQ(ran.result.message, "実行中にエラーがおきました: スタックオーバフロー\n");
    // 0 UJP, 1 UJP, 2 ENT, 3 MST, 4 LOD, 5 LDC, 6 OPR, 7 CUP, 8 RET: the
    // recursive call, not the main program's at 11.
    EXPECT_EQ(ran.result.call_pc, 7);
    // The main program's frame takes cells 0 to 2 and each frame of r four
    // more: the 249th call's MST takes t to 998, after 248 frames.
    EXPECT_EQ(ran.result.call_depth, 248);
    EXPECT_EQ(ran.result.recursion_depth, 248);

    // One call of a routine whose frame does not fit: the call, no recursion.
    ASSERT_EQ(compile_text("program p;\n"
                           "procedure big;\n"
                           "var room[1..2000];\n"
                           "begin\n"
                           "  room[1] := 1\n"
                           "end;\n"
                           "begin\n"
                           "  write(1);\n"
                           "  big\n"
                           "end.\n",
                           utf8_compile_options())
                  .error,
              ErrorKind::none);
    ran = run_with("");
    EXPECT_EQ(ran.result.end, RunEnd::runtime_error);
    EXPECT_GE(ran.result.call_pc, 0);
    EXPECT_EQ(ran.result.call_depth, 1);
    EXPECT_EQ(ran.result.recursion_depth, 1);

    // Any other error records no call.
    ASSERT_EQ(compile_text("program p;\nprocedure q;\nbegin write(1 div 0) end;\nbegin q end.\n",
                           utf8_compile_options())
                  .error,
              ErrorKind::none);
    ran = run_with("");
    EXPECT_EQ(ran.result.call_pc, -1);
    EXPECT_EQ(ran.result.call_depth, 0);
}

TEST(Interface, StepsCountEveryInstructionBegunHaltIncluded) {
    ASSERT_EQ(compile_text(COUNTDOWN, utf8_compile_options()).error, ErrorKind::none);
    // UJP ENT LDA GET STO, then per turn LOD LDC COP FJP LOD PUT LOD LDC
    // OPR STR UJP, and the last test LOD LDC COP FJP, then HLT.
    EXPECT_EQ(run_with("0", 1000).result.steps, 5u + 4u + 1u);
    EXPECT_EQ(run_with("2", 1000).result.steps, 5u + 2u * 11u + 4u + 1u);
    // A budget as large as the run changes nothing; one fewer ends it.
    Ran exact = run_with("2", 32);
    EXPECT_EQ(exact.result.end, RunEnd::halted);
    EXPECT_EQ(exact.result.steps, 32u);
    Ran short_by_one = run_with("2", 31);
    EXPECT_EQ(short_by_one.result.end, RunEnd::budget_spent);
    EXPECT_EQ(short_by_one.result.steps, 31u);
    // Not counted where the plain loop did not run it all.
    EXPECT_EQ(run_with("2").result.steps, 0u);
}

TEST(Interface, ABudgetEndsInsideEveryShortRunOfInstructionsAsOneAtATime) {
    // Element reads and writes, reads and writes through var parameters, a
    // call and loops: the runs the fast loop makes as single steps.  A
    // budget of n ends the run after exactly n instructions, whichever
    // engine is asked for, with the output written so far.
    const char* const source =
        "program p;\nvar i, a[1..4];\nprocedure sw(var x, var y);\nvar t;\n"
        "begin t := x; x := y; y := t end;\n"
        "begin i := 1;\n"
        "  while i <= 4 do begin a[i] := 5 - i; write(a[i]); i := i + 1 end;\n"
        "  i := 1;\n"
        "  while i < 4 do begin\n"
        "    if a[i] > a[i + 1] then sw(a[i], a[i + 1]); i := i + 1 end;\n"
        "  write(a[4])\nend.\n";
    ASSERT_EQ(compile_text(source, utf8_compile_options()).error, ErrorKind::none);
    Ran whole = run_with("", 1'000'000);
    ASSERT_EQ(whole.result.end, RunEnd::halted);
    ASSERT_EQ(whole.out, "4\n3\n2\n1\n4\n");
    const std::uint64_t total = whole.result.steps;
    ASSERT_GT(total, 100u);
    std::int32_t pc_before = -1;
    for (std::uint64_t n = 1; n < total; ++n) {
        for (Engine engine : {Engine::interpreter, Engine::standard}) {
            Ran part;
            RunOptions options;
            options.encoding = Encoding::utf8;
            options.output = string_writer(part.out);
            options.budget = n;
            options.engine = engine;
            part.result = run_program(options);
            ASSERT_EQ(part.result.end, RunEnd::budget_spent) << n;
            ASSERT_EQ(part.result.steps, n);
            ASSERT_EQ(whole.out.compare(0, part.out.size(), part.out), 0) << n;
            if (engine == Engine::interpreter) {
                // Never the same instruction twice in a row: the program has
                // no loop of one instruction.
                ASSERT_NE(part.result.pc, pc_before) << n;
                pc_before = part.result.pc;
            }
        }
    }
}

TEST(Interface, OutputThatCannotBeWrittenEndsTheRun) {
    ASSERT_EQ(compile_text(COUNTDOWN, utf8_compile_options()).error, ErrorKind::none);
    RunOptions options;
    options.encoding = Encoding::utf8;
    std::string_view input = "5";
    options.input = view_reader(input);
    options.output = Writer{[](void*, const char*, std::size_t) { return false; }, nullptr};
    RunResult result = run_program(options);
    EXPECT_EQ(result.end, RunEnd::output_failed);
    EXPECT_EQ(result.message, "出力を書き込めませんでした\n");
}

TEST(Interface, BudgetAndStopEndARunAndTheNextOneWorks) {
    ASSERT_EQ(compile_text(FOREVER, utf8_compile_options()).error, ErrorKind::none);
    Ran spent = run_with("", 10'000);
    EXPECT_EQ(spent.result.end, RunEnd::budget_spent);
    EXPECT_EQ(spent.result.steps, 10'000u);

    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stop = true;
    });
    Ran stopped = run_with("", 0, &stop);
    stopper.join();
    EXPECT_EQ(stopped.result.end, RunEnd::stopped);

    ASSERT_EQ(compile_text(COUNTDOWN, utf8_compile_options()).error, ErrorKind::none);
    Ran next = run_with("2");
    EXPECT_EQ(next.result.end, RunEnd::halted);
    EXPECT_EQ(next.out, "数を入力して下さい>2\n1\n");
}

namespace {

// What a pulse saw: the bytes delivered to the output by then.
struct Pulses {
    const std::string* out;
    std::vector<std::size_t> delivered;
};

void count_pulse(void* context) {
    auto* seen = static_cast<Pulses*>(context);
    seen->delivered.push_back(seen->out->size());
}

} // namespace

TEST(Interface, APulseComesEveryFewInstructionsWithTheOutputDeliveredFirst) {
    // 4 instructions, 1000 rounds of 11 (the test, a write, the increment),
    // the last test and HLT: 11009 instructions.
    ASSERT_EQ(compile_text("program p;\nvar i;\nbegin\n  i := 0;\n"
                           "  while i < 1000 do begin write(i); i := i + 1 end\nend.\n",
                           utf8_compile_options())
                  .error,
              ErrorKind::none);
    std::string all;
    for (int i = 0; i < 1000; ++i)
        all += std::to_string(i) + "\n";
    // On every engine: a run with a pulse is a watched run.
    for (Engine engine : {Engine::native, Engine::interpreter}) {
        std::string out;
        Pulses seen{&out, {}};
        RunOptions options;
        options.encoding = Encoding::utf8;
        options.output = string_writer(out); // held back in large pieces
        options.pulse = Pulse{count_pulse, &seen, 500};
        options.engine = engine;
        EXPECT_EQ(run_program(options).end, RunEnd::halted);
        EXPECT_EQ(out, all);
        // Before the 500th instruction run, the 1000th, ..., the 11000th.
        ASSERT_EQ(seen.delivered.size(), 22u);
        // By each pulse, every line written so far has gone out: the 499
        // instructions before the first wrote 45 lines (0 to 9 of 2 bytes,
        // 10 to 44 of 3), each pulse more than the one before.
        EXPECT_EQ(seen.delivered[0], 2u * 10 + 3u * 35);
        for (std::size_t k = 1; k < seen.delivered.size(); ++k)
            EXPECT_GT(seen.delivered[k], seen.delivered[k - 1]);
        for (std::size_t n : seen.delivered)
            EXPECT_EQ(all.substr(0, n).back(), '\n');
    }
    // Every instruction, with `every` 0.
    std::string out;
    Pulses seen{&out, {}};
    RunOptions options;
    options.encoding = Encoding::utf8;
    options.output = string_writer(out);
    options.pulse = Pulse{count_pulse, &seen, 0};
    EXPECT_EQ(run_program(options).end, RunEnd::halted);
    EXPECT_EQ(seen.delivered.size(), 11009u);
}

namespace {

Compiled deep_result;

void* compile_deep(void*) {
    std::string source = "program p;\nvar x;\nbegin x := ";
    source.append(300'000, '(');
    source += "1";
    source.append(300'000, ')');
    source += " end.\n";
    deep_result = compile_text(source, utf8_compile_options());
    return nullptr;
}

} // namespace

TEST(Interface, DeepNestingOnASmallThreadIsACleanError) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, std::size_t{1} << 20);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, compile_deep, nullptr), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(deep_result.error, ErrorKind::syntax);
    EXPECT_EQ(deep_result.message, "構文エラー: 入れ子が深すぎます\n");

    // The same nesting on tsumiki's large stack compiles.
    CompileOptions large = utf8_compile_options();
    large.large_stack = true;
    std::string source = "program p;\nvar x;\nbegin x := ";
    source.append(300'000, '(');
    source += "1";
    source.append(300'000, ')');
    source += " end.\n";
    EXPECT_EQ(compile_text(source, large).error, ErrorKind::none);
}

TEST(Interface, ACallerSetDepthLimitEndsAtTheConstructThatGoesTooDeep) {
    auto nested = [](int pairs) {
        std::string source = "program p;\nvar x;\nbegin\n  x := ";
        source.append(static_cast<std::size_t>(pairs), '(');
        source += "1";
        source.append(static_cast<std::size_t>(pairs), ')');
        return source + "\nend.\n";
    };
    CompileOptions limited = utf8_compile_options();
    // The statement is one level deep, its expression two, and each pair of
    // parentheses adds three: 99 pairs reach 299, 100 go past 300 at the 1.
    limited.max_depth = 300;
    EXPECT_EQ(compile_text(nested(99), limited).error, ErrorKind::none);
    Compiled deep = compile_text(nested(100), limited);
    EXPECT_EQ(deep.error, ErrorKind::syntax);
    EXPECT_EQ(deep.message, "構文エラー: 入れ子が深すぎます\n");
    EXPECT_EQ(deep.where.line, 4);
    EXPECT_EQ(deep.where.column, 8 + 100);
    // The limit belongs to that compilation only.
    EXPECT_EQ(compile_text(nested(100), utf8_compile_options()).error, ErrorKind::none);
}

TEST(Interface, NamesAndPositionsAreRecordedOnRequest) {
    CompileOptions options = utf8_compile_options();
    options.names = true;
    Compiled c = compile_text("program p;\nvar a[1..3];\nprocedure q(var r);\n"
                              "begin r := 1 end;\nbegin q(a[2]) end.\n",
                              options);
    ASSERT_EQ(c.error, ErrorKind::none);
    ASSERT_EQ(c.declarations.size(), 4u);
    EXPECT_EQ(c.declarations[0].name, "p");
    EXPECT_EQ(c.declarations[1].name, "a");
    EXPECT_EQ(c.declarations[1].high, 3);
    EXPECT_EQ(c.declarations[1].parent, 0);
    EXPECT_EQ(c.declarations[2].name, "q");
    EXPECT_EQ(c.declarations[2].params, std::vector<SymbolKind>{SYM_REF});
    EXPECT_EQ(c.declarations[3].name, "r");
    EXPECT_TRUE(c.declarations[3].parameter);
    EXPECT_EQ(c.declarations[3].parent, 2);
    EXPECT_EQ(c.declarations[3].pos.line, 3);
    EXPECT_EQ(c.declarations[3].pos.column, 17);
    // Uses: r in q's body, q and a in the main body.
    ASSERT_EQ(c.uses.size(), 3u);
    EXPECT_EQ(c.uses[0].declaration, 3);
    EXPECT_EQ(c.uses[1].declaration, 2);
    EXPECT_EQ(c.uses[2].declaration, 1);
    EXPECT_EQ(c.uses[2].pos.line, 5);
    EXPECT_EQ(c.uses[2].pos.column, 9);
    EXPECT_EQ(static_cast<int>(c.code_pos.size()), c.code_size);
}

// A checked run stops where the compile's notes say, and only a run that
// asks for it; a compile that noted nothing leaves nothing to check; and a
// stopped run leaves the next one unchecked and whole.
TEST(Interface, CheckedRunStopsOnlyWhenAskedAndNoted) {
    const char* const OUTSIDE = "program p;\nvar a[1..3], i;\nbegin\n  i := 0;\n"
                                "  while i < 4 do begin i := i + 1; a[i] := i * 10 end;\n"
                                "  write(i)\nend.\n";
    auto run_checked = [](bool check) {
        Ran ran;
        RunOptions options;
        options.encoding = Encoding::utf8;
        options.output = string_writer(ran.out);
        options.check = check;
        options.engine = Engine::native; // a checked run takes the interpreter all the same
        ran.result = run_program(options);
        return ran;
    };
    CompileOptions noted = utf8_compile_options();
    noted.checks = true;
    ASSERT_EQ(compile_text(OUTSIDE, noted).error, ErrorKind::none);
    Ran stopped = run_checked(true);
    EXPECT_EQ(stopped.result.end, RunEnd::check_failed);
    EXPECT_EQ(stopped.result.message,
              "検査で実行を止めました: 添字 4 は配列 a[1..3] の範囲の外です\n");
    EXPECT_EQ(stopped.result.where.line, 5);
    EXPECT_EQ(stopped.result.where.column, 38);
    EXPECT_EQ(stopped.out, "");
    // The same code, unchecked: a[4] is i's cell, and the loop ends.
    Ran plain = run_checked(false);
    EXPECT_EQ(plain.result.end, RunEnd::halted);
    EXPECT_EQ(plain.out, "40\n");
    EXPECT_EQ(plain.result.where.line, 0);

    ASSERT_EQ(compile_text(OUTSIDE, utf8_compile_options()).error, ErrorKind::none);
    Ran unnoted = run_checked(true);
    EXPECT_EQ(unnoted.result.end, RunEnd::halted);
    EXPECT_EQ(unnoted.out, "40\n");
}

namespace {

// The output with each number echoed, as "[N]", where the echo came.
void echo_into(void* context, std::int32_t number) {
    *static_cast<std::string*>(context) += "[" + std::to_string(number) + "]";
}

const char* const READ_THREE = "program p;\nvar x, y, z;\nbegin\n  read(x); read(y);\n"
                               "  write(x + y); read(z); write(z)\nend.\n";

} // namespace

TEST(Interface, TheEchoGetsEachNumberReadRightAfterItsPrompt) {
    ASSERT_EQ(compile_text(READ_THREE, utf8_compile_options()).error, ErrorKind::none);
    const std::string prompt = "数を入力して下さい>";
    for (Engine engine : {Engine::standard, Engine::interpreter, Engine::native, Engine::optimising,
                          Engine::tiered}) {
        SCOPED_TRACE(static_cast<int>(engine));
        for (bool by_line : {false, true}) {
            std::string out, plain;
            std::string_view input = " 5\n-3 +7 x";
            RunOptions options;
            options.encoding = Encoding::utf8;
            options.input = view_reader(input);
            options.output = string_writer(out);
            options.output_by_line = by_line;
            options.echo = ReadEcho{echo_into, &out};
            options.engine = engine;
            EXPECT_EQ(run_program(options).end, RunEnd::halted);
            EXPECT_EQ(out, prompt + "[5]" + prompt + "[-3]2\n" + prompt + "[7]7\n");
            // The output itself is the same without the echo.
            input = " 5\n-3 +7 x";
            options.output = string_writer(plain);
            options.echo = ReadEcho{};
            EXPECT_EQ(run_program(options).end, RunEnd::halted);
            EXPECT_EQ(plain, prompt + prompt + "2\n" + prompt + "7\n");
        }
    }
    // A read that finds no number is not echoed: the run ends there.
    std::string out;
    std::string_view input = "1 2";
    RunOptions options;
    options.encoding = Encoding::utf8;
    options.input = view_reader(input);
    options.output = string_writer(out);
    options.echo = ReadEcho{echo_into, &out};
    EXPECT_EQ(run_program(options).end, RunEnd::runtime_error);
    EXPECT_EQ(out, prompt + "[1]" + prompt + "[2]3\n" + prompt);
}

TEST(Interface, NumbersReadAreTheNumbersTheMachinesReadsTake) {
    EXPECT_EQ(numbers_read("  5\n-3\t+7\r\n x 9", 100), (std::vector<std::int32_t>{5, -3, 7}));
    EXPECT_EQ(numbers_read("12-3+4", 100), (std::vector<std::int32_t>{12, -3, 4}));
    EXPECT_EQ(numbers_read("1 2 3 4", 2), (std::vector<std::int32_t>{1, 2}));
    EXPECT_EQ(numbers_read("4294967301 -2147483649", 100),
              (std::vector<std::int32_t>{5, 2147483647}));
    for (std::string_view none : {"", "   \n", "-", "+ 1", "x1", "--1"})
        EXPECT_EQ(numbers_read(none, 100), std::vector<std::int32_t>{}) << none;
    EXPECT_EQ(numbers_read(std::string_view("7\0 8", 4), 100), std::vector<std::int32_t>{7});

    // The machine's reads take the same numbers, whatever the input.
    ASSERT_EQ(compile_text("program p;\nvar x;\nbegin\n  while 0 = 0 do begin read(x); "
                           "write(x) end\nend.\n",
                           utf8_compile_options())
                  .error,
              ErrorKind::none);
    for (std::string_view text :
         {"1 2 3", " -0 +00012\n\n99x", "3 - 4", "\v\f5\t6", "99999999999999999999 1", ""}) {
        std::string out, expected;
        std::string_view input = text;
        RunOptions options;
        options.encoding = Encoding::utf8;
        options.input = view_reader(input);
        options.output = string_writer(out);
        EXPECT_EQ(run_program(options).end, RunEnd::runtime_error);
        for (std::int32_t n : numbers_read(text, 100))
            expected += "数を入力して下さい>" + std::to_string(n) + "\n";
        EXPECT_EQ(out, expected + "数を入力して下さい>") << text;
    }
}
