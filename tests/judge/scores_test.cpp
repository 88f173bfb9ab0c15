// Scores: the manifest's groups, weights and hidden cases, the scores they
// give, and the CSV report a gradebook imports.
#include <gtest/gtest.h>

#include "judge/manifest.hpp"
#include "judge/reports.hpp"

namespace {

Outcome of(Verdict v) {
    Outcome o;
    o.verdict = v;
    return o;
}

// Four cases; a passes all, b all but "c", c none.
Judgement sample() {
    Judgement j;
    j.submissions = {"a.tsu", "b.tsu", "c.tsu"};
    j.cases = {"a", "b", "c", "d"};
    j.resize();
    for (std::size_t c = 0; c < 4; ++c) {
        j.set(0, c, of(Verdict::AC));
        j.set(1, c, of(c == 2 ? Verdict::WA : Verdict::AC));
        j.set(2, c, of(Verdict::CE));
    }
    return j;
}

std::string parse_error(std::string_view manifest) {
    Judgement j = sample();
    std::string error;
    EXPECT_FALSE(parse_manifest(manifest, "cases/manifest.txt", j, error));
    return error;
}

} // namespace

TEST(Manifest, WithoutOneEveryCaseIsOnePoint) {
    Judgement j = sample();
    Score b = score_of(j, 1);
    EXPECT_EQ(b.points, 3u);
    EXPECT_EQ(b.max_points, 4u);
    EXPECT_FALSE(j.is_hidden(0));
}

TEST(Manifest, AGroupScoresOnlyWhenEveryCasePasses) {
    Judgement j = sample();
    std::string error;
    ASSERT_TRUE(parse_manifest("# points, then cases\n10 a\n  30\tb c # the hard ones\n\n"
                               "hidden c\nhidden d\n",
                               "m", j, error))
        << error;
    // d, named by no group, is one point.
    ASSERT_EQ(j.groups.size(), 3u);
    EXPECT_EQ(j.groups[2].points, 1u);
    EXPECT_EQ(score_of(j, 0).points, 41u);
    EXPECT_EQ(score_of(j, 0).max_points, 41u);
    EXPECT_EQ(score_of(j, 1).points, 11u); // b and c together: c failed
    EXPECT_EQ(score_of(j, 2).points, 0u);
    EXPECT_FALSE(j.is_hidden(0));
    EXPECT_FALSE(j.is_hidden(1));
    EXPECT_TRUE(j.is_hidden(2));
    EXPECT_TRUE(j.is_hidden(3));
    // A group fails on any of its cases, not only its last.
    ASSERT_TRUE(parse_manifest("5 c d\n", "m", j, error));
    EXPECT_EQ(score_of(j, 1).points, 2u);
    EXPECT_EQ(score_of(j, 1).max_points, 7u);
    // A byte order mark, as an editor on Windows writes one, is no word.
    ASSERT_TRUE(parse_manifest("\xEF\xBB\xBF"
                               "4 a\r\n",
                               "m", j, error))
        << error;
    EXPECT_EQ(score_of(j, 1).max_points, 7u);
    // A group worth nothing, and the most a group may be worth.
    ASSERT_TRUE(parse_manifest("0 a b c d\n", "m", j, error));
    EXPECT_EQ(score_of(j, 0).max_points, 0u);
    ASSERT_TRUE(parse_manifest("1000000 a\r\n", "m", j, error));
    EXPECT_EQ(score_of(j, 0).points, 1'000'003u);
}

TEST(Manifest, MistakesAreNamedWithTheirLine) {
    EXPECT_EQ(parse_error("1 a\n1 e\n"),
              "tsumiki-judge: cases/manifest.txt の2行目: そのようなケースはありません: e\n");
    EXPECT_EQ(
        parse_error("1 a b\n2 b\n"),
        "tsumiki-judge: cases/manifest.txt の2行目: ケース b はすでに別のグループにあります\n");
    EXPECT_EQ(
        parse_error("1000001 a\n"),
        "tsumiki-judge: cases/manifest.txt の1行目: 点数は0から1000000までの整数で書いて下さい: "
        "1000001\n");
    EXPECT_EQ(parse_error("-1 a\n"), "tsumiki-judge: cases/manifest.txt の1行目: "
                                     "点数は0から1000000までの整数で書いて下さい: -1\n");
    EXPECT_EQ(
        parse_error("99999999999999999999999 a\n"),
        "tsumiki-judge: cases/manifest.txt の1行目: 点数は0から1000000までの整数で書いて下さい: "
        "99999999999999999999999\n");
    EXPECT_EQ(parse_error("hidden\n"),
              "tsumiki-judge: cases/manifest.txt の1行目: ケースの名前がありません: hidden\n");
    EXPECT_EQ(parse_error("hidden x\n"),
              "tsumiki-judge: cases/manifest.txt の1行目: そのようなケースはありません: x\n");
    // What the line quotes is shown, not sent to the terminal.
    EXPECT_EQ(
        parse_error("1 \x1b[2J\n"),
        "tsumiki-judge: cases/manifest.txt の1行目: そのようなケースはありません: \\x1b[2J\n");
}

TEST(Csv, ARowPerSubmissionWithVerdictsScoreAndMaximum) {
    Judgement j = sample();
    j.erase(0, 3);
    EXPECT_EQ(csv_report(j), "submission,a,b,c,d,score,max_score\r\n"
                             "a.tsu,AC,AC,AC,-,3,4\r\n"
                             "b.tsu,AC,AC,WA,AC,3,4\r\n"
                             "c.tsu,CE,CE,CE,CE,0,4\r\n");
}

TEST(Csv, StudentsNamesCannotBreakARowOrBecomeAFormula) {
    EXPECT_EQ(csv_field("plain.tsu"), "plain.tsu");
    EXPECT_EQ(csv_field("a,b.tsu"), "\"a,b.tsu\"");
    EXPECT_EQ(csv_field("say \"hi\".tsu"), "\"say \"\"hi\"\".tsu\"");
    EXPECT_EQ(csv_field("=HYPERLINK(1)"), "'=HYPERLINK(1)");
    EXPECT_EQ(csv_field("+1"), "'+1");
    EXPECT_EQ(csv_field("-1"), "'-1");
    EXPECT_EQ(csv_field("@SUM(A1)"), "'@SUM(A1)");
    EXPECT_EQ(csv_field("=a,b"), "\"'=a,b\"");
    EXPECT_EQ(csv_field(""), "");
    // A line break in a name is written \x0a by the table's naming first.
    Judgement j;
    j.submissions = {"class/a\nb,=c.tsu"};
    j.cases = {"1"};
    j.resize();
    EXPECT_EQ(csv_report(j), "submission,1,score,max_score\r\n\"class/a\\x0ab,=c.tsu\",-,0,1\r\n");
}

TEST(Diff, ListsTheRunsWhoseVerdictChangedInNameOrder) {
    auto record = [](std::string s, std::string c, Verdict v) {
        JsonRecord r{std::move(s), std::move(c), of(v), 1};
        r.outcome.steps = 5; // steps and messages do not count, verdicts do
        return r;
    };
    std::vector<JsonRecord> old_report = {
        record("b.tsu", "1", Verdict::WA), record("a.tsu", "2", Verdict::AC),
        record("a.tsu", "1", Verdict::AC), record("gone.tsu", "1", Verdict::RE),
        record("a\x1b.tsu", "1", Verdict::TLE)};
    std::vector<JsonRecord> new_report = {
        record("a.tsu", "1", Verdict::AC), record("a.tsu", "2", Verdict::WA),
        record("b.tsu", "1", Verdict::AC), record("new.tsu", "1", Verdict::CE),
        record("a\x1b.tsu", "1", Verdict::TLE)};
    new_report[0].outcome.steps = 6;
    std::size_t changed = 0;
    EXPECT_EQ(diff_report(old_report, new_report, changed), "a.tsu 2: AC -> WA\n"
                                                            "b.tsu 1: WA -> AC\n"
                                                            "gone.tsu 1: RE -> -\n"
                                                            "new.tsu 1: - -> CE\n"
                                                            "判定が変わった実行: 4回\n");
    EXPECT_EQ(changed, 4u);
    EXPECT_EQ(diff_report(old_report, old_report, changed), "判定が変わった実行: 0回\n");
    EXPECT_EQ(changed, 0u);
    // A name is shown as the table shows it.
    new_report[4].outcome.verdict = Verdict::AC;
    EXPECT_EQ(diff_report(old_report, new_report, changed).substr(0, 23),
              "a\\x1b.tsu 1: TLE -> AC\n");
}
