// The table, the JSON report read back, and the JUnit report.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "judge/pool.hpp"
#include "judge/report_files.hpp"
#include "judge/reports.hpp"
#include "judge/text.hpp"

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
    j.set(0, 0, outcome(Verdict::AC));
    j.set(0, 1, outcome(Verdict::RE, "実行中にエラーがおきました: 0による除算がありました", 5, 15));
    j.set(1, 0, outcome(Verdict::CE, "構文エラー: \"x\" & <y>", 3, 1));
    j.set(1, 1, outcome(Verdict::CE, "構文エラー: \"x\" & <y>", 3, 1));
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
    j.erase(0, 1); // not judged: interrupted
    EXPECT_EQ(
        table_report(j, false),
        "提出         01   02   得点\n"
        "class/a.tsu  AC   -    1/2\n"
        "class/b.tsu  CE   CE   0/2\n"
        "\n"
        "class/b.tsu: CE 3行1列: 構文エラー: \"x\" & <y>\n"
        "\n"
        "提出2件、テストケース2件、実行4回: AC 1  WA 0  RE 0  CE 1  TLE 0  OLE 0 (未判定 1回)\n");
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

// Names are bytes: two that differ only where they are not UTF-8 stay two,
// in the JSON report and back, and look different in the table.
TEST(Names, KeptExactlyThroughJson) {
    const std::string names[] = {"m\xE9.tsu",
                                 "m\xE8.tsu",
                                 "m\\xe9.tsu",
                                 "a\\",
                                 "\\\\x",
                                 "\\\xFF",
                                 "ok.tsu",
                                 std::string("nul\0.tsu", 8),
                                 "\xE2\x80\xAEusт.tsu"};
    for (const std::string& name : names) {
        std::string json = name_for_json(name);
        EXPECT_TRUE(is_utf8(json)) << json;
        EXPECT_EQ(name_from_json(json), name) << json;
    }
    EXPECT_EQ(name_for_json("class/ok.tsu"), "class/ok.tsu");
    EXPECT_EQ(name_for_json("m\xE9.tsu"), "m\\xe9.tsu");
    EXPECT_EQ(name_for_json("m\\xe9.tsu"), "m\\\\xe9.tsu");
    EXPECT_NE(shown_name("m\xE9.tsu"), shown_name("m\\xe9.tsu"));
}

TEST(Names, ShownWithoutBidiOrInvisibleCharacters) {
    EXPECT_EQ(shown_name("a\xE2\x80\xAE"
                         "b.tsu"),
              "a\\u{202E}b.tsu");
    EXPECT_EQ(shown_name("zero\xE2\x80\x8Bwidth"), "zero\\u{200B}width");
    EXPECT_EQ(shown_name("tab\there"), "tab\\x09here");
    EXPECT_EQ(shown_name("m\xE9"), "m\\xe9");
    EXPECT_EQ(shown_name("a\\b"), "a\\\\b");
    EXPECT_EQ(shown_name("提出.tsu"), "提出.tsu");
    EXPECT_EQ(visible("x\xE2\x81\xA7y", 10), "x\\u{2067}y");
}

TEST(Json, TwoNamesThatAreNotUtf8StayTwo) {
    Judgement j;
    j.submissions = {"m\xE8.tsu", "m\xE9.tsu"};
    j.cases = {"1"};
    j.resize();
    j.set(0, 0, outcome(Verdict::AC));
    j.set(1, 0, outcome(Verdict::WA));
    std::vector<JsonRecord> records;
    std::string error;
    ASSERT_TRUE(parse_json_report(json_report(j), "r.jsonl", records, error)) << error;
    Judgement back;
    ASSERT_TRUE(judgement_of(records, back, error)) << error;
    EXPECT_EQ(back.submissions, j.submissions);
}

// Only the cells judged are held; a table past MAX_CELLS is refused.
TEST(Json, ManyDistinctPairsAreSparseOrRefused) {
    std::vector<JsonRecord> records;
    for (int i = 0; i < 1000; ++i) {
        JsonRecord r;
        r.submission = "s" + std::to_string(i);
        r.case_name = "c" + std::to_string(i);
        records.push_back(r);
    }
    Judgement j;
    std::string error;
    ASSERT_TRUE(judgement_of(records, j, error)) << error;
    EXPECT_EQ(j.judged(), 1000u);
    EXPECT_EQ(j.find(3, 4), nullptr);
    ASSERT_NE(j.find(3, 3), nullptr);
    EXPECT_TRUE(cells_fit(2048, 2048));
    EXPECT_FALSE(cells_fit(2048, 2049));
    for (int i = 1000; i < 6000; ++i) {
        JsonRecord r;
        r.submission = "s" + std::to_string(i);
        r.case_name = "c" + std::to_string(i);
        records.push_back(r);
    }
    EXPECT_FALSE(judgement_of(records, j, error));
    EXPECT_NE(error.find("6000"), std::string::npos) << error;
}

// A record that nests is refused before it is parsed.
TEST(Json, NestingIsNotARecord) {
    std::vector<JsonRecord> records;
    std::string error;
    std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_FALSE(parse_json_report(deep, "r.jsonl", records, error));
    std::string quoted = R"({"submission":"a{[","case":"1","verdict":"AC","steps":0,)"
                         R"("output_bytes":0,"message":"\"[{","line":0,"column":0})";
    EXPECT_TRUE(parse_json_report(quoted, "r.jsonl", records, error)) << error;
}

// A report is written beside itself and renamed: until then the old one
// stands, and a report that is a submission is caught before any work.
TEST(ReportFiles, RenamedOnlyWhenWhole) {
    std::string path = written("kept.jsonl", "old\n");
    ReportFile file;
    file.path = path;
    ASSERT_TRUE(open_report(file));
    EXPECT_EQ(file.temporary.rfind(path + ".", 0), 0u);
    std::ifstream before(path);
    std::string line;
    std::getline(before, line);
    EXPECT_EQ(line, "old");
    ASSERT_TRUE(finish_report(file, "new\n"));
    std::ifstream after(path);
    std::getline(after, line);
    EXPECT_EQ(line, "new");
    EXPECT_TRUE(file.temporary.empty());
    ReportFile discarded;
    discarded.path = path;
    ASSERT_TRUE(open_report(discarded));
    std::string temporary = discarded.temporary;
    discard_report(discarded);
    EXPECT_NE(access(temporary.c_str(), F_OK), 0);
}

TEST(ReportFiles, SameFileThroughALinkOrAPath) {
    std::string a = written("same-a.tsu", "x");
    std::string link = testing::TempDir() + "/judge-same-link.tsu";
    unlink(link.c_str());
    ASSERT_EQ(symlink(a.c_str(), link.c_str()), 0);
    EXPECT_TRUE(same_file_as_any(link, {a}));
    EXPECT_TRUE(same_file_as_any(a, {"/nonexistent", a}));
    EXPECT_FALSE(same_file_as_any(written("same-b.tsu", "x"), {a}));
    EXPECT_TRUE(same_file_as_any("new/./r.jsonl", {"new/r.jsonl"}));
    EXPECT_FALSE(same_file_as_any("new/r.jsonl", {"new/r.xml"}));
}

namespace {

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The files beside `path` whose names start with its own and a ".".
int temporaries_of(const std::string& path) {
    int count = 0;
    std::filesystem::path p(path);
    for (const auto& entry : std::filesystem::directory_iterator(p.parent_path()))
        if (entry.path().filename().string().rfind(p.filename().string() + ".", 0) == 0) ++count;
    return count;
}

} // namespace

// Ctrl-C, twice, while the reports are written: they are written whole and
// renamed, and only then does the signal end the judge.
TEST(Stops, ASignalDuringTheWritesWaitsForThem) {
    std::string path = written("held.jsonl", "old\n");
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        catch_stops();
        ReportFile file;
        file.path = path;
        if (!open_report(file)) _exit(3);
        remove_on_stop(file.temporary.c_str());
        hold_stops();
        kill(getpid(), SIGINT);
        kill(getpid(), SIGINT);
        if (!finish_report(file, "whole\n")) _exit(4);
        release_stops();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_EQ(contents(path), "whole\n");
    EXPECT_EQ(temporaries_of(path), 0);
}

// A second Ctrl-C during the work ends the judge at once: the report stands
// as it was and its temporary is gone.
TEST(Stops, ASecondSignalDuringTheWorkLeavesTheOldReport) {
    std::string path = written("second.jsonl", "old\n");
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        catch_stops();
        ReportFile file;
        file.path = path;
        if (!open_report(file)) _exit(3);
        remove_on_stop(file.temporary.c_str());
        kill(getpid(), SIGINT);
        if (interrupting_signal() != SIGINT) _exit(5);
        kill(getpid(), SIGINT);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_EQ(contents(path), "old\n");
    EXPECT_EQ(temporaries_of(path), 0);
}

// A report to a device is written directly: there is nothing to rename.
TEST(ReportFiles, ADeviceIsWrittenDirectly) {
    ReportFile file;
    file.path = "/dev/null";
    ASSERT_TRUE(open_report(file));
    EXPECT_TRUE(file.temporary.empty());
    EXPECT_TRUE(finish_report(file, "anything\n"));
}
