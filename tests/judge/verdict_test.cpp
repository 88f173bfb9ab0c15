// From how a run ended to its verdict, and the records workers send.
#include <gtest/gtest.h>

#include <csignal>

#include "judge/verdict.hpp"
#include "judge/worker.hpp"

namespace {

Settings utf8_settings() {
    Settings settings;
    settings.encoding = Encoding::utf8;
    settings.steps = 1000;
    settings.output_limit = 64;
    return settings;
}

RunReport ended(RunEnd end, std::string_view output, std::string message = "",
                std::int32_t pc = -1) {
    RunReport ending;
    ending.finished = true;
    ending.run.end = end;
    ending.run.message = std::move(message);
    ending.run.pc = pc;
    ending.run.steps = 42;
    ending.output = output;
    return ending;
}

const std::vector<SourcePos> places = {{1, 1}, {2, 3}, {4, 9}};
const char* const DIVISION = "実行中にエラーがおきました: 0による除算がありました\n";

} // namespace

TEST(Verdicts, OutputDecidesACOrWA) {
    TestCase test{"1", "", "3\n"};
    Settings settings = utf8_settings();
    Outcome ac = judge_run(ended(RunEnd::halted, "3\n"), test, settings, places);
    EXPECT_EQ(ac.verdict, Verdict::AC);
    EXPECT_EQ(ac.steps, 42u);
    EXPECT_EQ(ac.output_bytes, 2u);
    EXPECT_EQ(ac.message, "");
    Outcome wa = judge_run(ended(RunEnd::halted, "4\n"), test, settings, places);
    EXPECT_EQ(wa.verdict, Verdict::WA);
    EXPECT_EQ(wa.message, "1行目が違います: 期待「3」、出力「4」");
    EXPECT_EQ(wa.line, 0);
    settings.ignore_trailing_space = true;
    EXPECT_EQ(judge_run(ended(RunEnd::halted, "3  \n\n"), test, settings, places).verdict,
              Verdict::AC);
}

TEST(Verdicts, ARunTimeErrorIsREWithItsPlaceUnlessTheCaseExpectsIt) {
    Settings settings = utf8_settings();
    TestCase plain{"1", "", "1\n"};
    Outcome re =
        judge_run(ended(RunEnd::runtime_error, "1\n", DIVISION, 2), plain, settings, places);
    EXPECT_EQ(re.verdict, Verdict::RE);
    EXPECT_EQ(re.message, "実行中にエラーがおきました: 0による除算がありました");
    EXPECT_EQ(re.line, 4);
    EXPECT_EQ(re.column, 9);
    EXPECT_EQ(re.output_bytes, 2u + std::string(DIVISION).size()); // as tsumiki prints it
    // A model solution that stops with the error made this case.
    TestCase expects_error{"2", "", std::string("1\n") + DIVISION};
    Outcome ac = judge_run(ended(RunEnd::runtime_error, "1\n", DIVISION, 2), expects_error,
                           settings, places);
    EXPECT_EQ(ac.verdict, Verdict::AC);
    EXPECT_EQ(ac.line, 0);
}

TEST(Verdicts, AStackOverflowInARecursionIsPlacedAtTheCallWithAHint) {
    Settings settings = utf8_settings();
    TestCase test{"1", "", "1\n"};
    RunReport overflow = ended(RunEnd::runtime_error, "",
                               "実行中にエラーがおきました: "
                               "スタックオーバフロー\n",
                               2);
    overflow.run.call_pc = 1;
    overflow.run.call_depth = 248;
    overflow.run.recursion_depth = 247;
    Outcome re = judge_run(overflow, test, settings, places);
    EXPECT_EQ(re.message, "実行中にエラーがおきました: スタックオーバフロー\n"
                          "ヒント: 再帰呼び出しが終わらないのかもしれません。"
                          "スタックがあふれたとき、呼び出しの深さは 248 でした");
    EXPECT_EQ(re.line, 2); // the call's place, not the instruction's
    EXPECT_EQ(re.column, 3);
    // Not a recursion: the place of the call, no hint.
    overflow.run.recursion_depth = 0;
    re = judge_run(overflow, test, settings, places);
    EXPECT_EQ(re.message, "実行中にエラーがおきました: スタックオーバフロー");
    EXPECT_EQ(re.line, 2);
}

TEST(Verdicts, BudgetOutputLimitAndSignals) {
    Settings settings = utf8_settings();
    TestCase test{"1", "", "1\n"};
    Outcome tle = judge_run(ended(RunEnd::budget_spent, "", "", 1), test, settings, places);
    EXPECT_EQ(tle.verdict, Verdict::TLE);
    EXPECT_EQ(tle.message, "命令の実行回数が上限(1000回)に達しました");
    EXPECT_EQ(tle.line, 2);
    RunReport flood = ended(RunEnd::output_failed, std::string(64, '1'));
    flood.over_limit = true;
    Outcome ole = judge_run(flood, test, settings, places);
    EXPECT_EQ(ole.verdict, Verdict::OLE);
    EXPECT_EQ(ole.message, "出力が上限(64バイト)を超えました");
    EXPECT_EQ(ole.output_bytes, 64u);

    RunReport cpu;
    cpu.signal = SIGXCPU;
    cpu.cpu_limit = true;
    cpu.cpu_seconds = 11;
    Outcome slow = judge_run(cpu, test, settings, places);
    EXPECT_EQ(slow.verdict, Verdict::TLE);
    EXPECT_EQ(slow.message, "実行がCPU時間の上限(11秒)に達しました");
    EXPECT_EQ(slow.steps, 0u);
    RunReport crash;
    crash.signal = SIGSEGV;
    Outcome crashed = judge_run(crash, test, settings, places);
    EXPECT_EQ(crashed.verdict, Verdict::RE);
    EXPECT_EQ(crashed.message, "実行が異常終了しました(シグナル11)");
}

TEST(Verdicts, ThePrintedOutputIsKeptForThePageOnlyWhenNotAC) {
    Settings settings = utf8_settings();
    settings.keep_output = true;
    TestCase test{"1", "", "1\n"};
    EXPECT_EQ(judge_run(ended(RunEnd::halted, "1\n"), test, settings, places).output, "");
    EXPECT_EQ(
        judge_run(ended(RunEnd::runtime_error, "2\n", DIVISION), test, settings, places).output,
        std::string("2\n") + DIVISION);
    settings.keep_output = false;
    EXPECT_EQ(judge_run(ended(RunEnd::halted, "2\n"), test, settings, places).output, "");
}

TEST(Verdicts, CompileErrorsTakeTheCompilersMessageAndPlace) {
    CompileOptions options;
    options.encoding = Encoding::utf8;
    Compiled compiled = compile_text("program p;\nbegin x := 1 end.\n", options);
    Outcome ce = compile_error_outcome(compiled, "program p;\nbegin x := 1 end.\n", Encoding::utf8);
    EXPECT_EQ(ce.verdict, Verdict::CE);
    // The message as tsumiki prints it, and under it the hint that names x.
    EXPECT_EQ(ce.message, "構文エラー: 宣言されていない識別子の使用(k)\n"
                          "ヒント: 宣言されていない名前: x");
    EXPECT_EQ(ce.line, 2);
    EXPECT_EQ(ce.column, 7);
    options.encoding = Encoding::cp932;
    Compiled missing = compile_file("/nonexistent/a.tsu", options);
    Outcome open = compile_error_outcome(missing, "", Encoding::cp932);
    EXPECT_EQ(open.message, "ファイル/nonexistent/a.tsuがオープンできません\n"
                            "ファイル /nonexistent/a.tsu がオープンできません");
    EXPECT_EQ(open.line, 0);
}

TEST(Records, TravelWholeAndOnlyWhole) {
    Outcome sent;
    sent.verdict = Verdict::OLE;
    sent.steps = 1ull << 40;
    sent.output_bytes = 7;
    sent.message = "出力";
    sent.line = 3;
    sent.column = 4;
    sent.output = std::string("a\0b", 3);
    std::string pipe;
    append_record(pipe, 9, sent);
    append_record(pipe, 10, Outcome{});
    std::string part = pipe.substr(0, 10);
    Record got;
    bool broken = true;
    EXPECT_FALSE(take_record(part, got, broken));
    EXPECT_FALSE(broken);
    ASSERT_TRUE(take_record(pipe, got, broken));
    EXPECT_FALSE(got.is_source);
    EXPECT_EQ(got.case_index, 9u);
    EXPECT_EQ(got.outcome.verdict, Verdict::OLE);
    EXPECT_EQ(got.outcome.steps, sent.steps);
    EXPECT_EQ(got.outcome.output_bytes, 7u);
    EXPECT_EQ(got.outcome.message, sent.message);
    EXPECT_EQ(got.outcome.line, 3);
    EXPECT_EQ(got.outcome.column, 4);
    EXPECT_EQ(got.outcome.output, sent.output);
    ASSERT_TRUE(take_record(pipe, got, broken));
    EXPECT_EQ(got.case_index, 10u);
    EXPECT_EQ(got.outcome.verdict, Verdict::AC);
    EXPECT_TRUE(pipe.empty());
    // A record whose verdict is none.
    std::string bad;
    append_record(bad, 1, sent);
    bad[8] = 9;
    EXPECT_FALSE(take_record(bad, got, broken));
    EXPECT_TRUE(broken);
}

TEST(Records, TheSourceAsTheWorkerReadIt) {
    SourceShown sent;
    sent.read = true;
    sent.size = 1u << 20;
    sent.utf8 = false;
    sent.head = std::string("program\0p;", 10);
    std::string pipe;
    append_source_record(pipe, sent);
    Record got;
    bool broken = true;
    ASSERT_TRUE(take_record(pipe, got, broken));
    EXPECT_TRUE(got.is_source);
    EXPECT_TRUE(got.source.read);
    EXPECT_FALSE(got.source.utf8);
    EXPECT_EQ(got.source.size, sent.size);
    EXPECT_EQ(got.source.head, sent.head);
}

// A size no worker sends is broken at once, not waited for: what the
// judge holds of a worker's bytes is bounded.
TEST(Records, AHugeSizeIsBrokenNotAwaited) {
    std::string pipe("\xff\xff\xff\x7f", 4);
    Record got;
    bool broken = false;
    EXPECT_FALSE(take_record(pipe, got, broken));
    EXPECT_TRUE(broken);
}
