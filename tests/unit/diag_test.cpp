// The message table and the three fatal reporters.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "diag/diag.hpp"
#include "support.hpp"

namespace {

// The name of every message, in table order, as the build generated them.
const char* const message_names[] = {
#define MESSAGE_ID(name) #name,
#include "messages.inc"
#undef MESSAGE_ID
};
static_assert(sizeof message_names / sizeof message_names[0] == MSG_COUNT);

struct Line {
    std::string name;
    std::string rest;
};

// The lines of a "NAME<separator>rest" file, skipping blank lines and "#"
// comments.
std::vector<Line> read_lines(const std::string& path, char separator) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    std::vector<Line> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        auto cut = line.find(separator);
        if (cut == std::string::npos) cut = line.size();
        lines.push_back({line.substr(0, cut), line.substr(cut == line.size() ? cut : cut + 1)});
    }
    return lines;
}

std::string hex_of(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (char b : bytes) {
        std::snprintf(buf, sizeof buf, "%s%02x", out.empty() ? "" : " ",
                      static_cast<unsigned>(static_cast<unsigned char>(b)));
        out += buf;
    }
    return out;
}

// The table's one escape, "\n"; every other byte stays as it is.
std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

// Every message of the default program, byte for byte as users see it.  The
// golden file comes from iconv, one message at a time
// (tests/unit/messages_hex.sh), not from the build's converter.
TEST(Messages, CodePage932BytesMatchTheGoldenFile) {
    auto golden = read_lines(TSUMIKI_SOURCE_DIR "/tests/unit/messages.cp932.hex", ' ');
    ASSERT_EQ(golden.size(), static_cast<std::size_t>(MSG_COUNT))
        << "the message table changed: regenerate tests/unit/messages.cp932.hex with "
           "tests/unit/messages_hex.sh and check its diff";
    for (int id = 0; id < MSG_COUNT; ++id) {
        EXPECT_EQ(golden[id].name, message_names[id]) << "message " << id;
        EXPECT_EQ(hex_of(msg_in(static_cast<Msg>(id), Encoding::cp932)), golden[id].rest)
            << message_names[id];
    }
}

// The UTF-8 table holds the texts of src/diag/messages.txt unchanged.
TEST(Messages, Utf8TextsAreTheTableTexts) {
    auto table = read_lines(TSUMIKI_SOURCE_DIR "/src/diag/messages.txt", '\t');
    ASSERT_EQ(table.size(), static_cast<std::size_t>(MSG_COUNT));
    for (int id = 0; id < MSG_COUNT; ++id) {
        EXPECT_EQ(table[id].name, message_names[id]) << "message " << id;
        EXPECT_EQ(msg_in(static_cast<Msg>(id), Encoding::utf8), unescape(table[id].rest))
            << message_names[id];
    }
}

TEST(Messages, EncodingSelectsTheTable) {
    reset_all();
    EXPECT_STREQ(msg(MSG_BAD_TOKEN), "認識できないトークン");
    set_encoding(Encoding::cp932);
    EXPECT_STREQ(
        msg(MSG_BAD_TOKEN),
        "\x94\x46\x8e\xaf\x82\xc5\x82\xab\x82\xc8\x82\xa2\x83\x67\x81\x5b\x83\x4e\x83\x93");
    reset_all();
}

// Each reporter prints its prefix, the message and a line break, then ends
// the process with status 1; a message that ends in a line break is
// followed by an empty line.
TEST(Reporters, PrefixMessageAndStatus) {
    reset_all();
    Outcome o = capture([] { lexical_error(MSG_BAD_TOKEN); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "字句エラー: 認識できないトークン\n");

    o = capture([] { syntax_error(MSG_NO_PERIOD); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "構文エラー: ピリオドがありません\n");

    o = capture([] { syntax_error(MSG_NO_BECOM); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "構文エラー: :=がありません\n\n");

    o = capture([] { runtime_error(MSG_STACK_OVERFLOW); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "実行中にエラーがおきました: スタックオーバフロー\n");
}

TEST(Reporters, CodePage932Bytes) {
    reset_all();
    set_encoding(Encoding::cp932);
    Outcome o = capture([] { syntax_error(MSG_NO_BECOM); });
    EXPECT_EQ(o.status, 1);
    // "構文エラー: :=がありません\n" then the reporter's own line break.
    EXPECT_EQ(o.out, "\x8d\x5c\x95\xb6\x83\x47\x83\x89\x81\x5b: :=\x82\xaa\x82\xa0\x82\xe8\x82\xdc"
                     "\x82\xb9\x82\xf1\n\n");
    // "字句エラー: ファイルの終り"
    o = capture([] { lexical_error(MSG_END_OF_FILE); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "\x8e\x9a\x8b\xe5\x83\x47\x83\x89\x81\x5b: "
                     "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcc\x8f\x49\x82\xe8\n");
    reset_all();
}
