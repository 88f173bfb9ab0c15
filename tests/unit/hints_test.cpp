// The inspector's hints, from real compile errors: the compiler's own
// message and place for a source, then the hint worked out for them.
#include <gtest/gtest.h>

#include <string>

#include "driver/api.hpp"
#include "driver/hints.hpp"

namespace {

// The hint for the first error in `source`, in UTF-8; "(compiles)" when
// there is no error.
std::string hint(const std::string& source) {
    CompileOptions options;
    options.encoding = Encoding::utf8;
    Compiled c = compile_text(source, options);
    if (c.error == ErrorKind::none) return "(compiles)";
    return hint_for(source, c.error, c.error_text, c.where, Encoding::utf8);
}

const std::string SEMI = "ヒント: 全角の文字です。半角の ; に直して下さい\n";
const std::string FINAL_BREAK =
    "ヒント: 最後のピリオドのあとに改行がありません。ピリオドのあとで改行して下さい\n";
const std::string MISSING_SEMI = "ヒント: 前の行の終りにセミコロン(;)が抜けていませんか\n";

TEST(Hints, PlacesCountAsTheReaderCounts) {
    // Carriage returns take no column, and the look-alike is found after them.
    EXPECT_EQ(hint("program p;\r\nvar x;\r\nbegin\r\n  x := 1\xEF\xBC\x9B\r\nend.\r\n"), SEMI);
    EXPECT_EQ(hint("program p;\r\nvar x;\r\nbegin\r\n  x := zz9\r\nend.\r\n"),
              "ヒント: 宣言されていない名前: zz9\n");
    // A tab is one column.
    EXPECT_EQ(hint("program p;\n\tvar x;\nbegin\n\tx := 1\t\x81\x47\nend.\n"), SEMI);
}

TEST(Hints, LookAlikesInBothEncodings) {
    EXPECT_EQ(hint("program p;\nbegin\n  write(\xEF\xBC\x99)\nend.\n"),
              "ヒント: 全角の文字です。半角の 9 に直して下さい\n");
    EXPECT_EQ(hint("program p;\nbegin\n  write(\x82\x4F)\nend.\n"),
              "ヒント: 全角の文字です。半角の 0 に直して下さい\n");
    EXPECT_EQ(hint("program p;\nbegin\n  write(1)\x81\x6A\nend.\n"),
              "ヒント: 全角の文字です。半角の ) に直して下さい\n");
    EXPECT_EQ(hint("program p;\x81\x40\nbegin\nend.\n"),
              "ヒント: 全角の空白です。半角の空白に直して下さい\n");
    // Other characters above 127 get no hint: "あ" in either encoding, the
    // full-width "Ａ", and a byte-order mark that is not at the start.
    EXPECT_EQ(hint("program p;\nbegin\n  write(\xE3\x81\x82)\nend.\n"), "");
    EXPECT_EQ(hint("program p;\nbegin\n  write(\x82\xA0)\nend.\n"), "");
    EXPECT_EQ(hint("program p;\nbegin\n  write(\xEF\xBC\xA1)\nend.\n"), "");
    EXPECT_EQ(hint("program p;\n\xEF\xBB\xBF"), "");
}

TEST(Hints, FinalBreakOnlyAfterTheProgramsEnd) {
    EXPECT_EQ(hint("program p;\nbegin\nend."), FINAL_BREAK);
    EXPECT_EQ(hint("program p;\nbegin\nend  .\r"), FINAL_BREAK);
    EXPECT_EQ(hint("program p;\nbegin\nend.\x1A"), FINAL_BREAK);
    EXPECT_EQ(hint("program p;\nbegin\nend.\n"), "(compiles)");
    // A "." after a name that merely ends in "end", or the end of the file
    // elsewhere.
    EXPECT_EQ(hint("program p;\nvar legend;\nbegin\n  write(legend."), "");
    EXPECT_EQ(hint("program p;\nbegin\nend"), "");
    EXPECT_EQ(hint(""), "");
}

TEST(Hints, MissingSemicolonBeforeAStatementOnTheNextLine) {
    for (const char* statement : {"x := 2", "begin end", "if x = 1 then x := 2",
                                  "while x < 1 do x := 2", "read(x)", "write(x)"}) {
        EXPECT_EQ(
            hint(std::string("program p;\nvar x;\nbegin\n  x := 1\n  ") + statement + "\nend.\n"),
            MISSING_SEMI)
            << statement;
    }
    // Not on the same line, and not before what starts no statement.
    EXPECT_EQ(hint("program p;\nvar x;\nbegin\n  x := 1 write(x)\nend.\n"), "");
    EXPECT_EQ(hint("program p;\nvar x;\nbegin\n  x := 1\n  else\nend.\n"), "");
    EXPECT_EQ(hint("program p;\nvar x;\nbegin\n  x := 1\n  12\nend.\n"), "");
}

TEST(Hints, NoneForOtherErrors) {
    EXPECT_EQ(hint("program p;\nvar x;\nbegin\n  x = 1\nend.\n"), "");
    EXPECT_EQ(hint("program p;\nbegin\n  write(1) @\nend.\n"), "");
    // A place past the text (a stale Compiled) gives no hint either.
    EXPECT_EQ(hint_for("x", ErrorKind::syntax, MSG_UNDECLARED_K, SourcePos{9, 9}, Encoding::utf8),
              "");
}

} // namespace
