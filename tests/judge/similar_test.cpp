// The similarity check: which copies it sees through, which programs it
// keeps apart, and the regions and page it reports.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "judge/similar.hpp"
#include "judge/similar_report.hpp"
#include "vm/code.hpp"

namespace {

// The pieces of the program the others are changed from: a heading, two
// functions and a main program that calls both.
const std::string HEADING = "program pair;\n"
                            "var a, b;\n";
const std::string GCD = "function gcd(x, y);\n"
                        "var r;\n"
                        "begin\n"
                        "  while y <> 0 do\n"
                        "  begin\n"
                        "    r := x - x div y * y;\n"
                        "    x := y;\n"
                        "    y := r\n"
                        "  end;\n"
                        "  gcd := x\n"
                        "end;\n";
const std::string LARGER = "function larger(x, y);\n"
                           "begin\n"
                           "  larger := x;\n"
                           "  if y > x then larger := y\n"
                           "end;\n";
const std::string GCD_FIRST = "  write(gcd(a, b));\n"
                              "  write(larger(a, b) * 2 + 1)\n";
const std::string LARGER_FIRST = "  write(larger(a, b) * 2 + 1);\n"
                                 "  write(gcd(a, b))\n";

std::string main_program(const std::string& writes) {
    return "begin\n"
           "  read(a);\n"
           "  read(b);\n" +
           writes + "end.\n";
}

const std::string ORIGINAL_TEXT = HEADING + GCD + LARGER + main_program(GCD_FIRST);
const char* const ORIGINAL = ORIGINAL_TEXT.c_str();

// Every name and every constant changed, the layout too.
const char* const RENAMED = R"(program twin; var first, second;
function common(p, q); var rest;
begin while q <> 1 do begin rest := p - p div q * q; p := q; q := rest end;
  common := p end;
function big(p, q); begin big := p; if q > p then big := q end;
begin read(first); read(second); write(common(first, second));
  write(big(first, second) * 3 + 7) end.
)";

// The functions declared the other way round.
const std::string REORDERED_TEXT = HEADING + LARGER + GCD + main_program(GCD_FIRST);
const char* const REORDERED = REORDERED_TEXT.c_str();

// Two statements that do not depend on each other swapped in the main
// program.
const std::string SWAPPED_TEXT = HEADING + GCD + LARGER + main_program(LARGER_FIRST);
const char* const SWAPPED = SWAPPED_TEXT.c_str();

// The same task solved another way: by subtraction, in the main program.
const char* const INDEPENDENT = R"(program euclid;
var m, n, big;
begin
  read(m);
  read(n);
  big := n;
  if m > n then big := m;
  while m <> n do
  begin
    if m > n then m := m - n;
    if n > m then n := n - m
  end;
  write(m);
  write(big * 2 + 1)
end.
)";

SimilarCode code_of(const char* source) {
    SimilarCode code;
    std::string error;
    EXPECT_TRUE(similar_code_of(source, code, error)) << error;
    return code;
}

unsigned score(const char* a, const char* b) {
    return compare_codes(code_of(a), code_of(b)).score;
}

} // namespace

TEST(Similar, ARenamedCopyWithOtherConstantsIsTheSameCode) {
    EXPECT_EQ(score(ORIGINAL, RENAMED), 100u);
    EXPECT_EQ(score(RENAMED, ORIGINAL), 100u);
}

TEST(Similar, RoutinesDeclaredInAnotherOrderAreTheSameCode) {
    EXPECT_EQ(score(ORIGINAL, REORDERED), 100u);
}

TEST(Similar, SwappedStatementsStillScoreHigh) {
    unsigned s = score(ORIGINAL, SWAPPED);
    EXPECT_GE(s, SIMILAR_DEFAULT_THRESHOLD);
    EXPECT_LT(s, 100u);
}

TEST(Similar, AnIndependentSolutionStaysBelowTheThreshold) {
    unsigned s = score(ORIGINAL, INDEPENDENT);
    EXPECT_LT(s, SIMILAR_DEFAULT_THRESHOLD);
    EXPECT_GT(s, 0u); // they share reading and writing
}

TEST(Similar, AProgramIsItselfAndTheBoundIsNeverBelowTheScore) {
    const char* programs[] = {ORIGINAL, RENAMED, REORDERED, SWAPPED, INDEPENDENT};
    for (const char* a : programs)
        for (const char* b : programs) {
            SimilarCode x = code_of(a), y = code_of(b);
            EXPECT_GE(similar_bound(x, y), compare_codes(x, y).score);
            if (a == b) {
                EXPECT_EQ(compare_codes(x, y).score, 100u);
            }
        }
}

TEST(Similar, AStatementRepeatedMatchesOneCopyOnce) {
    // Ten writes of one expression against one: the one is matched once.
    const char* once = "program p; var x; begin read(x); write(x * x + 1) end.\n";
    std::string ten = "program p; var x; begin read(x)";
    for (int i = 0; i < 10; ++i)
        ten += "; write(x * x + 1)";
    ten += " end.\n";
    SimilarPair pair = compare_codes(code_of(once), code_of(ten.c_str()));
    ASSERT_EQ(pair.tiles.size(), 1u);
    EXPECT_LT(pair.score, 40u);
}

TEST(Similar, AShortRoutineMatchesOnlyAWholeRoutine) {
    // A procedure of three instructions, alone and inside a longer one.
    SimilarInstruction short_routine[] = {
        {ENT, 0, 3, 1, 1, 1}, {GET, 0, 0, 1, 2, 2}, {RET, 0, 0, 1, 3, 3}};
    SimilarInstruction longer[] = {{ENT, 0, 3, 1, 1, 1}, {GET, 0, 0, 1, 2, 2},
                                   {RET, 0, 0, 1, 3, 3}, {LDC, 0, 5, 2, 4, 4},
                                   {PUT, 0, 0, 2, 4, 4}, {HLT, 0, 0, 2, 5, 5}};
    SimilarCode a = similar_code({std::begin(short_routine), std::end(short_routine)});
    SimilarCode b = similar_code({std::begin(longer), std::end(longer)});
    ASSERT_EQ(b.routine_start.size(), 2u);
    SimilarPair pair = compare_codes(a, b);
    ASSERT_EQ(pair.tiles.size(), 1u);
    EXPECT_EQ(pair.tiles[0].length, 3u);
    EXPECT_EQ(pair.score, 66u); // 6 of 9 tokens
    // The same three instructions at the start of a longer routine: no match.
    for (SimilarInstruction& in : longer)
        in.routine = 1;
    EXPECT_EQ(compare_codes(a, similar_code({std::begin(longer), std::end(longer)})).score, 0u);
}

TEST(Similar, PairsComeHighestFirstAndLeaveOutWhatDidNotCompile) {
    SimilarCode original = code_of(ORIGINAL), renamed = code_of(RENAMED),
                swapped = code_of(SWAPPED), independent = code_of(INDEPENDENT);
    std::vector<SimilarPair> pairs = similar_pairs(
        {&swapped, &independent, nullptr, &original, &renamed}, SIMILAR_DEFAULT_THRESHOLD);
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[0].a, 3u); // original and renamed: 100
    EXPECT_EQ(pairs[0].b, 4u);
    EXPECT_EQ(pairs[1].a, 0u); // swapped and original, then swapped and renamed
    EXPECT_EQ(pairs[1].b, 3u);
    EXPECT_EQ(pairs[2].a, 0u);
    EXPECT_EQ(pairs[2].b, 4u);
    EXPECT_EQ(pairs[1].score, pairs[2].score);
}

TEST(Similar, RegionsPairTheLinesOfEachRoutine) {
    SimilarCode a = code_of(ORIGINAL), b = code_of(REORDERED);
    std::vector<SimilarRegion> regions = similar_regions(compare_codes(a, b), a, b);
    ASSERT_EQ(regions.size(), 4u);
    // The program's heading, gcd, larger, then the main program: the first
    // and last line of each in a, then in b.
    const int lines[4][4] = {{1, 1, 1, 1}, {3, 13, 8, 18}, {14, 18, 3, 7}, {19, 24, 19, 24}};
    for (std::size_t i = 0; i < regions.size(); ++i) {
        const SimilarRegion& r = regions[i];
        EXPECT_EQ((std::vector<int>{r.a_first, r.a_last, r.b_first, r.b_last}),
                  (std::vector<int>(std::begin(lines[i]), std::end(lines[i]))))
            << "region " << i;
    }
}

TEST(Similar, ThePageEscapesNamesAndLines) {
    std::vector<SimilarEntry> entries(3);
    const char* hostile = "</pre><script>alert(1)</script>&\"'";
    for (std::size_t i = 0; i < 2; ++i) {
        entries[i].name = i == 0 ? std::string(hostile) + ".tsu" : "b.tsu";
        entries[i].compiled = true;
        entries[i].code = code_of(ORIGINAL);
        for (int n = 0; n < 24; ++n)
            entries[i].lines.push_back(hostile);
    }
    entries[2].name = std::string(hostile) + "2.tsu";
    entries[2].why = hostile;
    SimilarPair pair = compare_codes(entries[0].code, entries[1].code);
    pair.b = 1;
    std::string page = similar_html(entries, {pair}, 70);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_EQ(page.find("&\""), std::string::npos);
    EXPECT_EQ(page.find("</pre><script"), std::string::npos);
    EXPECT_NE(page.find("&lt;/pre&gt;&lt;script&gt;alert(1)&lt;/script&gt;&amp;&quot;&#39;"),
              std::string::npos);
    std::string text = similar_text(entries, {pair}, 70);
    EXPECT_NE(text.find("類似度 100%"), std::string::npos);
}
