// The message table: texts in code page 932, byte for byte.
#include <gtest/gtest.h>

#include "diag/diag.hpp"
#include "support.hpp"

TEST(Messages, ReportersInCodePage932) {
    reset_all();
    set_encoding(Encoding::cp932);
    Outcome o = capture([] { syntax_error(MSG_NO_BECOM); });
    EXPECT_EQ(o.status, 1);
    // "構文エラー: :=がありません\n" then the reporter's own line break.
    EXPECT_EQ(o.out, "\x8d\x5c\x95\xb6\x83\x47\x83\x89\x81\x5b: :=\x82\xaa\x82\xa0\x82\xe8\x82\xdc"
                     "\x82\xb9\x82\xf1\n\n");
}
