// Positions between the compiler's bytes and the protocol's UTF-16 units.
#include <gtest/gtest.h>

#include <string>

#include "lsp/positions.hpp"

namespace {

std::pair<int, int> lsp(std::string_view text, int line, int column) {
    LineIndex index = index_lines(text);
    LspPosition p = to_lsp(index, SourcePos{line, column});
    return {p.line, p.character};
}

std::pair<int, int> back(std::string_view text, int line, int character) {
    LineIndex index = index_lines(text);
    SourcePos p = from_lsp(index, LspPosition{line, character});
    return {p.line, p.column};
}

TEST(Positions, UnitsPerCharacter) {
    // "é" 2 bytes, "あ" 3 bytes, "😀" 4 bytes and 2 units.
    std::string text = "ab\né\xe3\x81\x82\xf0\x9f\x98\x80z\n";
    EXPECT_EQ(lsp(text, 1, 1), std::make_pair(0, 0));
    EXPECT_EQ(lsp(text, 1, 3), std::make_pair(0, 2));
    EXPECT_EQ(lsp(text, 2, 3), std::make_pair(1, 1));  // after é
    EXPECT_EQ(lsp(text, 2, 6), std::make_pair(1, 2));  // after あ
    EXPECT_EQ(lsp(text, 2, 10), std::make_pair(1, 4)); // after 😀
    EXPECT_EQ(lsp(text, 2, 11), std::make_pair(1, 5));
    for (int column : {1, 3, 6, 10, 11}) {
        LspPosition p = to_lsp(index_lines(text), SourcePos{2, column});
        EXPECT_EQ(back(text, p.line, p.character), std::make_pair(2, column));
    }
    // Inside the surrogate pair: the character it belongs to.
    EXPECT_EQ(back(text, 1, 3), std::make_pair(2, 6));
}

TEST(Positions, InvalidBytesAreOneUnitEach) {
    // Shift_JIS "あ", a lone continuation byte, a truncated sequence, an
    // overlong "/" and an encoded surrogate.
    std::string text = "\x82\xa0\x80\xe3\x81z\xc0\xaf\xed\xa0\x80!";
    EXPECT_EQ(lsp(text, 1, 4), std::make_pair(0, 3));
    EXPECT_EQ(lsp(text, 1, 6), std::make_pair(0, 5));
    EXPECT_EQ(lsp(text, 1, 13), std::make_pair(0, 12));
    EXPECT_EQ(back(text, 0, 12), std::make_pair(1, 13));
    for (int c = 0; c < 256; ++c) {
        std::string one(1, static_cast<char>(c));
        if (c == '\n' || c == '\r') continue;
        EXPECT_EQ(lsp(one, 1, 2), std::make_pair(0, 1)) << c;
    }
}

TEST(Positions, CarriageReturns) {
    // To the compiler a CR is nothing; to the protocol CR LF and a lone CR
    // end a line.  The compiler's line 2 is the protocol's lines 1 to 3.
    std::string text = "a\r\n\rx\ry := z\r\n";
    EXPECT_EQ(lsp(text, 2, 2), std::make_pair(3, 0)); // "y"
    EXPECT_EQ(lsp(text, 2, 7), std::make_pair(3, 5)); // "z"
    EXPECT_EQ(lsp(text, 2, 1), std::make_pair(2, 0)); // "x"
    EXPECT_EQ(lsp(text, 1, 2), std::make_pair(0, 1)); // past "a"
    EXPECT_EQ(back(text, 3, 0), std::make_pair(2, 2));
    EXPECT_EQ(back(text, 3, 9), std::make_pair(2, 8));
    EXPECT_EQ(back(text, 1, 0), std::make_pair(2, 1));
    EXPECT_EQ(byte_offset(index_lines(text), SourcePos{2, 2}), 6u);
}

TEST(Positions, PastTheEndIsClamped) {
    std::string text = "ab\ncd";
    EXPECT_EQ(lsp(text, 1, 99), std::make_pair(0, 2));
    EXPECT_EQ(lsp(text, 9, 1), std::make_pair(1, 2));
    EXPECT_EQ(lsp("", 1, 1), std::make_pair(0, 0));
    EXPECT_EQ(back(text, 0, 99), std::make_pair(1, 3));
    EXPECT_EQ(back(text, 7, 0), std::make_pair(8, 1));
    EXPECT_EQ(back(text, -1, -1), std::make_pair(1, 1));
    EXPECT_EQ(byte_offset(index_lines(text), SourcePos{9, 1}), 5u);
}

TEST(Positions, TokenLengths) {
    std::string text = "abc1 := 42<>x..\xe3\x81\x82\xff\n";
    EXPECT_EQ(token_length(text, 0), 4u);
    EXPECT_EQ(token_length(text, 4), 0u + 1); // a blank is one character
    EXPECT_EQ(token_length(text, 5), 2u);
    EXPECT_EQ(token_length(text, 8), 2u);
    EXPECT_EQ(token_length(text, 10), 2u);
    EXPECT_EQ(token_length(text, 13), 2u);
    EXPECT_EQ(token_length(text, 15), 3u);
    EXPECT_EQ(token_length(text, 18), 1u);
    EXPECT_EQ(token_length(text, 19), 0u);
    EXPECT_EQ(token_length(text, 20), 0u);
}

} // namespace
