// The judge's links into the playground: base64url as the page decodes it,
// folders as URLs, and the count of instructions before the first wrong
// line's write, for each way an output can go wrong.
#include <gtest/gtest.h>

#include <string>

#include "judge/html.hpp"
#include "judge/playground.hpp"
#include "programs.hpp"

namespace {

// Each case: the bytes, and what they become.
struct Encoded {
    const char* plain;
    const char* encoded;
};

TEST(Base64url, EncodesEveryLengthWithoutPadding) {
    const Encoded cases[] = {{"", ""},
                             {"f", "Zg"},
                             {"fo", "Zm8"},
                             {"foo", "Zm9v"},
                             {"foob", "Zm9vYg"},
                             // The two digits that differ from base64's, and bytes past 0x7F.
                             {"\xFB\xFF\xBF", "-_-_"},
                             {"数", "5pWw"}};
    for (const Encoded& c : cases)
        EXPECT_EQ(base64url(c.plain), c.encoded) << c.plain;
}

TEST(FolderUrl, PercentEncodesAllButThePlainBytes) {
    const Encoded cases[] = {{"fb", "fb/"},
                             {"../out/fb/", "../out/fb/"},
                             {"a b\"<&>#?%", "a%20b%22%3C%26%3E%23%3F%25/"},
                             {"組", "%E7%B5%84/"}};
    for (const Encoded& c : cases)
        EXPECT_EQ(folder_url(c.plain), c.encoded) << c.plain;
}

const std::string PROMPT = "数を入力して下さい>";

// The count before each write of THREE_WRITES given 4: the read's prompt, then
// the three writes.
std::vector<std::uint64_t> counts_of_writes() {
    std::vector<std::uint64_t> counts;
    std::string right = PROMPT + "4\n8\n12\n";
    // A wrong expected line makes its write the one found.
    for (const std::string& wrong :
         {std::string("x") + PROMPT + "4\n8\n12\n", PROMPT + "5\n8\n12\n", PROMPT + "4\n9\n12\n",
          PROMPT + "4\n8\n13\n"}) {
        auto count = steps_before_difference(THREE_WRITES, "4\n", wrong, right, Settings{});
        EXPECT_TRUE(count.has_value()) << wrong;
        counts.push_back(count.value_or(0));
    }
    return counts;
}

TEST(StepsBeforeDifference, FindsTheWriteOfTheFirstWrongLine) {
    std::vector<std::uint64_t> counts = counts_of_writes();
    ASSERT_EQ(counts.size(), 4u);
    // Each later write is further on.
    EXPECT_LT(counts[0], counts[1]);
    EXPECT_LT(counts[1], counts[2]);
    EXPECT_LT(counts[2], counts[3]);
    // A difference within a line is the same write as one at its start.
    auto late = steps_before_difference(THREE_WRITES, "4\n", PROMPT + "4\n8\n1\n",
                                        PROMPT + "4\n8\n12\n", Settings{});
    EXPECT_EQ(late, counts[3]);
    // The expected line is longer: the wrong write is the one that ended it.
    auto short_line = steps_before_difference(THREE_WRITES, "4\n", PROMPT + "4\n88\n12\n",
                                              PROMPT + "4\n8\n12\n", Settings{});
    EXPECT_EQ(short_line, counts[2]);
}

TEST(StepsBeforeDifference, NoneWhenTheOutputStopsShort) {
    // The run wrote every line it wrote right and then no more.
    EXPECT_FALSE(steps_before_difference(THREE_WRITES, "4\n", PROMPT + "4\n8\n12\n16\n",
                                         PROMPT + "4\n8\n12\n", Settings{})
                     .has_value());
    // The same output: nothing differs.
    EXPECT_FALSE(steps_before_difference(THREE_WRITES, "4\n", PROMPT + "4\n8\n12\n",
                                         PROMPT + "4\n8\n12\n", Settings{})
                     .has_value());
}

TEST(StepsBeforeDifference, IgnoringTrailingSpaceComparesAsTheJudgeDoes) {
    Settings settings;
    settings.ignore_trailing_space = true;
    std::vector<std::uint64_t> counts = counts_of_writes();
    auto count = steps_before_difference(THREE_WRITES, "4\n", PROMPT + "4  \n8\n13\n",
                                         PROMPT + "4\n8\n12\n", settings);
    EXPECT_EQ(count, counts[3]);
}

} // namespace
