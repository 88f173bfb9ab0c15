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
    EXPECT_EQ(message, "1行目が違います: 期待「" + std::string(60, '8') + "…」、出力「" +
                           std::string(60, '8') + "…」");
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
