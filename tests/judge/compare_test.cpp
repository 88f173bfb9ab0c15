// Comparing outputs, and the WA message that says where they differ.
#include <gtest/gtest.h>

#include "judge/compare.hpp"
#include "judge/text.hpp"

TEST(Compare, ExactIsByteForByte) {
    EXPECT_TRUE(same_output("1\n2\n", "1\n2\n", false));
    EXPECT_FALSE(same_output("1\n2\n", "1\n2", false));
    EXPECT_FALSE(same_output("1\n2\n", "1 \n2\n", false));
    EXPECT_FALSE(same_output("1\n", "1\n\n", false));
    EXPECT_FALSE(same_output("1\r\n", "1\n", false));
    EXPECT_TRUE(same_output("", "", false));
}

TEST(Compare, IgnoringTrailingSpaceDropsLineEndsBlanksAndFinalEmptyLines) {
    EXPECT_TRUE(same_output("1\n2\n", "1 \t\n2", true));
    EXPECT_TRUE(same_output("1\r\n2\r\n", "1\n2\n\n\n", true));
    EXPECT_TRUE(same_output("", "\n \n", true));
    // Inner blanks and inner empty lines still count.
    EXPECT_FALSE(same_output("1 2\n", "1  2\n", true));
    EXPECT_FALSE(same_output("1\n\n2\n", "1\n2\n", true));
    EXPECT_FALSE(same_output(" 1\n", "1\n", true));
}

TEST(Compare, TheMessageNamesTheFirstLineThatDiffersAndBothTexts) {
    EXPECT_EQ(difference_message("1\n2\n3\n", "1\n5\n3\n", false, Encoding::utf8),
              "2行目が違います: 期待「2」、出力「5」");
    EXPECT_EQ(difference_message("1\n2\n", "1\n", false, Encoding::utf8),
              "2行目がありません: 期待「2」、出力はその前で終わりました");
    EXPECT_EQ(difference_message("1\n", "1\n9\n", false, Encoding::utf8),
              "2行目が余分です: 出力「9」、期待はその前で終わりました");
    EXPECT_EQ(difference_message("1\n2\n", "1\n2", false, Encoding::utf8),
              "2行目の行末(改行)が違います");
    EXPECT_EQ(difference_message("7\n", "7 \n", false, Encoding::utf8),
              "1行目が違います: 期待「7」、出力「7 」");
    // Control characters are shown, not sent to the terminal.
    EXPECT_EQ(difference_message("a\r\n", "a\x1b[31m\n", false, Encoding::utf8),
              "1行目が違います: 期待「a\\r」、出力「a\\x1b[31m」");
    // Ignoring trailing space, the line is the trimmed one.
    EXPECT_EQ(difference_message("1\n2\n", "1  \n3\n\n", true, Encoding::utf8),
              "2行目が違います: 期待「2」、出力「3」");
}

TEST(Compare, ShiftJisOutputIsQuotedInUtf8AndLongLinesAreCut) {
    // "数を入力して下さい>" in code page 932, then 5.
    std::string prompt =
        "\x90\x94\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2>";
    EXPECT_EQ(difference_message(prompt + "4\n", prompt + "5\n", false, Encoding::cp932),
              "1行目が違います: 期待「数を入力して下さい>4」、出力「数を入力して下さい>5」");
    std::string long_line(100, '8');
    std::string message =
        difference_message(long_line + "\n", long_line + "9\n", false, Encoding::utf8);
    // The quote begins before the difference, so that it shows.
    EXPECT_EQ(message, "1行目が違います: 期待「…" + std::string(59, '8') + "」、出力「…" +
                           std::string(59, '8') + "9」");
}

TEST(Compare, ALongLineIsQuotedWhereItDiffers) {
    // Prompts first, as a program that reads many numbers prints them.
    std::string prompts;
    for (int i = 0; i < 8; ++i)
        prompts += "数を入力して下さい>";
    EXPECT_EQ(difference_message(prompts + "41\n", prompts + "42\n", false, Encoding::utf8),
              "1行目が違います: 期待「…" + prompts.substr(2 * 28 + 2 * 3) + "41」、出力「…" +
                  prompts.substr(2 * 28 + 2 * 3) + "42」");
    // A line that fits is quoted whole, wherever it differs.
    EXPECT_EQ(difference_message(prompts.substr(0, 4 * 28) + "-1\n",
                                 prompts.substr(0, 4 * 28) + "-2\n", false, Encoding::utf8),
              "1行目が違います: 期待「" + prompts.substr(0, 4 * 28) + "-1」、出力「" +
                  prompts.substr(0, 4 * 28) + "-2」");
    // Within 40 characters of its start, a line is quoted from it.
    std::string short_start = std::string(39, 'a') + "b" + std::string(50, 'c');
    std::string other = std::string(39, 'a') + "x" + std::string(50, 'c');
    EXPECT_EQ(difference_message(short_start, other, false, Encoding::utf8),
              "1行目が違います: 期待「" + short_start.substr(0, 60) + "…」、出力「" +
                  other.substr(0, 60) + "…」");
    std::string later = std::string(41, 'a') + "b" + std::string(50, 'c');
    std::string later_other = std::string(41, 'a') + "x" + std::string(50, 'c');
    EXPECT_EQ(difference_message(later, later_other, false, Encoding::utf8),
              "1行目が違います: 期待「…" + later.substr(1, 60) + "…」、出力「…" +
                  later_other.substr(1, 60) + "…」");
}

TEST(Compare, OutputsCompareAsTextWhateverTheEncoding) {
    // "数を入力して下さい>" in code page 932.
    std::string sjis = "\x90\x94\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2>";
    std::string utf8 = "数を入力して下さい>";
    // Expected in either encoding, a run in either.
    EXPECT_TRUE(same_text(utf8 + "5\n", sjis + "5\n", Encoding::cp932, false));
    EXPECT_TRUE(same_text(sjis + "5\n", utf8 + "5\n", Encoding::utf8, false));
    EXPECT_TRUE(same_text(sjis + "5\n", sjis + "5\n", Encoding::cp932, false));
    EXPECT_TRUE(same_text(utf8 + "5 \n", sjis + "5", Encoding::cp932, true));
    EXPECT_FALSE(same_text(utf8 + "5\n", sjis + "6\n", Encoding::cp932, false));
    EXPECT_FALSE(same_text(utf8 + "5\n", sjis + "5", Encoding::cp932, false));
    // A run's bytes are read in its own encoding only.
    EXPECT_FALSE(same_text(utf8 + "5\n", sjis + "5\n", Encoding::utf8, false));
    EXPECT_EQ(encoding_of_expected(utf8), Encoding::utf8);
    EXPECT_EQ(encoding_of_expected(sjis), Encoding::cp932);
    EXPECT_EQ(expected_text(sjis), utf8);
    // An editor's byte order mark is not part of the expected text.
    EXPECT_TRUE(same_text("\xEF\xBB\xBF" + utf8 + "5\n", sjis + "5\n", Encoding::cp932, false));
    EXPECT_TRUE(same_text("\xEF\xBB\xBF" + utf8 + "5\n", utf8 + "5\n", Encoding::utf8, false));
    EXPECT_FALSE(same_text("\xEF\xBB\xBF" + utf8 + "5\n", "\xEF\xBB\xBF" + utf8 + "6\n",
                           Encoding::utf8, false));
    // The message quotes both as text.
    EXPECT_EQ(difference_message(utf8 + "4\n", sjis + "5\n", false, Encoding::cp932),
              "1行目が違います: 期待「数を入力して下さい>4」、出力「数を入力して下さい>5」");
    EXPECT_EQ(difference_message(sjis + "4\n", utf8 + "5\n", false, Encoding::utf8),
              "1行目が違います: 期待「数を入力して下さい>4」、出力「数を入力して下さい>5」");
}

TEST(Text, DecodesCodePage932AndReplacesWhatIsNotText) {
    EXPECT_EQ(to_utf8("\x8d\x5c\x95\xb6", Encoding::cp932), "構文");
    EXPECT_EQ(to_utf8("a\xff"
                      "b",
                      Encoding::cp932),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(to_utf8("a\x82", Encoding::cp932), "a\xEF\xBF\xBD"); // cut off
    EXPECT_EQ(to_utf8("\xe6\x95\xb0\xc0", Encoding::utf8), "数\xEF\xBF\xBD");
    EXPECT_EQ(source_to_utf8("\x8d\x5c"), "構");
    EXPECT_EQ(source_to_utf8("構"), "構");
    EXPECT_EQ(display_width("提出 ab"), 7u);
    EXPECT_EQ(say(MSG_J_PLACE, {"3", "14"}), "3行14列");
    EXPECT_EQ(say(MSG_J_TLE, {"100%s"}), "命令の実行回数が上限(100%s回)に達しました");
}
