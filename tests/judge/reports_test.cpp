// The table, the JSON report read back, and the JUnit report.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "judge/reports.hpp"

namespace {

Outcome outcome(Verdict v, std::string message = "", int line = 0, int column = 0) {
    Outcome o;
    o.verdict = v;
    o.message = std::move(message);
    o.line = line;
    o.column = column;
    o.steps = 10;
    o.output_bytes = 2;
    return o;
}

Judgement sample() {
    Judgement j;
    j.submissions = {"class/a.tsu", "class/b.tsu"};
    j.cases = {"01", "02"};
    j.resize();
    j.at(0, 0) = outcome(Verdict::AC);
    j.at(0, 1) = outcome(Verdict::RE, "実行中にエラーがおきました: 0による除算がありました", 5, 15);
    j.at(1, 0) = outcome(Verdict::CE, "構文エラー: \"x\" & <y>", 3, 1);
    j.at(1, 1) = outcome(Verdict::CE, "構文エラー: \"x\" & <y>", 3, 1);
    return j;
}

std::string written(const std::string& name, const std::string& text) {
    std::string path = testing::TempDir() + "/judge-" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

} // namespace

TEST(Table, SubmissionsByCasesScoresDetailsAndSummary) {
    Judgement j = sample();
    j.at(0, 1).reset(); // not judged: interrupted
    EXPECT_EQ(
        table_report(j, false),
        "提出         01   02   得点\n"
        "class/a.tsu  AC   -    1/2\n"
        "class/b.tsu  CE   CE   0/2\n"
        "\n"
        "class/b.tsu: CE 3行1列: 構文エラー: \"x\" & <y>\n"
        "\n"
        "提出2件、テストケース2件、実行4回: AC 1  WA 0  RE 0  CE 2  TLE 0  OLE 0 (未判定 1回)\n");
    std::string coloured = table_report(j, true);
    EXPECT_NE(coloured.find("\x1b[32mAC\x1b[0m"), std::string::npos);
    EXPECT_NE(coloured.find("\x1b[33mCE\x1b[0m"), std::string::npos);
}

TEST(Json, OneRecordALineWithExactlyTheFieldsAndReadsBackTheSame) {
    Judgement j = sample();
    std::string json = json_report(j);
    EXPECT_EQ(
        json.substr(0, json.find('\n')),
        R"({"submission":"class/a.tsu","case":"01","verdict":"AC","steps":10,"output_bytes":2,"message":"","line":0,"column":0})");
    std::vector<JsonRecord> records;
    std::string error;
    ASSERT_TRUE(read_json_report(written("round.jsonl", json), records, error)) << error;
    ASSERT_EQ(records.size(), 4u);
    Judgement back;
    ASSERT_TRUE(judgement_of(records, back, error)) << error;
    EXPECT_EQ(json_report(back), json);
    EXPECT_EQ(junit_report(back), junit_report(j));
}

TEST(Json, AnythingButRecordsIsRefusedWithItsLine) {
    const char* const bad[] = {
        R"({"submission":"a","case":"1","verdict":"AC","steps":1,"output_bytes":2,"message":"","line":0})",
        R"({"submission":"a","case":"1","verdict":"AC","steps":1,"output_bytes":2,"message":"","line":0,"column":0,"extra":1})",
        R"({"submission":"a","case":"1","verdict":"OK","steps":1,"output_bytes":2,"message":"","line":0,"column":0})",
        R"({"submission":"a","case":"1","verdict":"AC","steps":-1,"output_bytes":2,"message":"","line":0,"column":0})",
        R"({"submission":"a","case":1,"verdict":"AC","steps":1,"output_bytes":2,"message":"","line":0,"column":0})",
        R"(["a"])",
        R"({"submission":)",
    };
    for (const char* line : bad) {
        std::vector<JsonRecord> records;
        std::string error;
        EXPECT_FALSE(
            read_json_report(written("bad.jsonl", std::string("\n") + line + "\n"), records, error))
            << line;
        EXPECT_EQ(error, "tsumiki-judge: " + testing::TempDir() +
                             "/judge-bad.jsonl の2行目は判定の記録ではありません\n");
    }
    std::vector<JsonRecord> records;
    std::string error;
    EXPECT_FALSE(read_json_report("/nonexistent.jsonl", records, error));
    std::string twice = json_report(sample());
    ASSERT_TRUE(read_json_report(written("twice.jsonl", twice + twice), records, error));
    Judgement j;
    EXPECT_FALSE(judgement_of(records, j, error));
    EXPECT_EQ(error, "tsumiki-judge: 提出 class/a.tsu のケース 01 の記録が二つあります\n");
}

TEST(JUnit, SuitesPerSubmissionFailuresAndErrorsEscaped) {
    std::string xml = junit_report(sample());
    EXPECT_NE(xml.find(R"(<testsuites name="tsumiki-judge" tests="4" failures="0" errors="3">)"),
              std::string::npos);
    EXPECT_NE(
        xml.find(R"(<testsuite name="class/b.tsu" tests="2" failures="0" errors="2" skipped="0">)"),
        std::string::npos);
    EXPECT_NE(xml.find(R"(<testcase name="01" classname="class/a.tsu"/>)"), std::string::npos);
    EXPECT_NE(
        xml.find(
            R"(<error type="CE" message="3行1列: 構文エラー: &quot;x&quot; &amp; &lt;y&gt;">)"),
        std::string::npos);
}
