// An option argument split at its '=', and its value taken from the next
// argument when it has none: what the judge and its similarity check read
// their options with.
#include <gtest/gtest.h>

#include "judge/options.hpp"

namespace {

TEST(SplitOption, SplitsAtTheFirstEqualsSign) {
    OptionWord word = split_option("--html=a=b.html");
    EXPECT_EQ(word.name, "--html");
    EXPECT_EQ(word.value, "a=b.html");
    EXPECT_TRUE(word.has_value);
    // An empty value is a value: it is for the option to refuse.
    word = split_option("--cases=");
    EXPECT_EQ(word.name, "--cases");
    EXPECT_EQ(word.value, "");
    EXPECT_TRUE(word.has_value);
    word = split_option("--html");
    EXPECT_EQ(word.name, "--html");
    EXPECT_FALSE(word.has_value);
}

TEST(TakeValue, TheNextArgumentOnlyWhenThereWasNoEqualsSign) {
    char program[] = "tsumiki-judge", html[] = "--html", page[] = "page.html";
    char* argv[] = {program, html, page};
    int i = 1;
    OptionWord word = split_option(argv[i]);
    ASSERT_TRUE(take_value(word, 3, argv, i));
    EXPECT_EQ(word.value, "page.html");
    EXPECT_EQ(i, 2);
    // At the end of the arguments there is none to take.
    word = split_option(argv[1]);
    EXPECT_FALSE(take_value(word, 2, argv, i = 1));
    EXPECT_EQ(i, 1);
    // With an '=' the next argument stays an argument.
    char given[] = "--html=given.html";
    argv[1] = given;
    word = split_option(argv[1]);
    ASSERT_TRUE(take_value(word, 3, argv, i = 1));
    EXPECT_EQ(word.value, "given.html");
    EXPECT_EQ(i, 1);
}

} // namespace
