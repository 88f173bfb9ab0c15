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

TEST(Hints, EqualsWhereAnAssignmentIsMeant) {
    const std::string assign = "ヒント: 代入は := です。= は値を比べるときに使います\n";
    EXPECT_EQ(hint("program p;\nvar s;\nbegin\n  s = 0\nend.\n"), assign);
    EXPECT_EQ(hint("program p;\nvar a[1..2];\nbegin\n  a[1] = 0\nend.\n"), assign);
    // A ":" apart from its "=" is a lexical error of its own; ":=" missing
    // before something else gets nothing.
    EXPECT_EQ(hint("program p;\nvar s;\nbegin\n  s 0\nend.\n"), "");
}

TEST(Hints, SemicolonBeforeElse) {
    const std::string before_else =
        "ヒント: else の前の ; で if 文が終わっています。then の文のあとの ; を消して下さい\n";
    EXPECT_EQ(hint("program p;\nvar s;\nbegin\n  if s = 0 then s := 1;\n  else s := 2\nend.\n"),
              before_else);
    // Inside a compound statement, and with the ";" on a line of its own.
    EXPECT_EQ(hint("program p;\nvar s;\nbegin\n  while s < 3 do begin\n    if s = 0 then s := 1\n"
                   "    ;\n    else s := 2\n  end\nend.\n"),
              before_else);
    // An "else" with no ";" before it, where no "if" is open.
    EXPECT_EQ(hint("program p;\nvar s;\nbegin\n  s := 1 else\nend.\n"), "");
}

TEST(Hints, MissingSemicolonAfterADeclarationPointsAtTheLineBefore) {
    const std::string missing =
        "ヒント: 宣言の終りのセミコロン(;)が、前の行の終り(%s)に抜けていませんか\n";
    auto at = [&](const char* place) { return format_message(missing.c_str(), place); };
    // After the variables, before "begin" or a routine.
    EXPECT_EQ(hint("program p;\nvar s\nbegin\n  s := 0\nend.\n"), at("2:6"));
    EXPECT_EQ(hint("program p;\nvar s, t  \r\nprocedure q;\nbegin\nend;\nbegin\nend.\n"),
              at("2:9"));
    // After a routine's heading, and the program's.
    EXPECT_EQ(hint("program p;\nprocedure q(var k)\nbegin\nend;\nbegin\nend.\n"), at("2:19"));
    EXPECT_EQ(hint("program p\nvar s;\nbegin\nend.\n"), at("1:10"));
    // On the same line the place says enough.
    EXPECT_EQ(hint("program p;\nvar s begin\nend.\n"), "");
}

TEST(Hints, FullWidthOperators) {
    const std::string full = "ヒント: 全角の文字です。半角の %s に直して下さい\n";
    auto meant = [&](const char* c) { return format_message(full.c_str(), c); };
    EXPECT_EQ(hint("program p;\nvar s;\nbegin\n  s := 1 \xEF\xBC\x8B 2\nend.\n"), meant("+"));
    EXPECT_EQ(hint("program p;\nvar s;\nbegin\n  s := 1 \x81\x7C 2\nend.\n"), meant("-"));
    EXPECT_EQ(hint("program p;\nvar s;\nbegin\n  s := 1 \xEF\xBC\x8A 2\nend.\n"), meant("*"));
    EXPECT_EQ(hint("program p;\nvar s;\nbegin\n  if s \x81\x83 2 then s := 1\nend.\n"), meant("<"));
    EXPECT_EQ(hint("program p;\nvar s;\nbegin\n  if s \xEF\xBC\x9E 2 then s := 1\nend.\n"),
              meant(">"));
    EXPECT_EQ(hint("program p;\nvar s\xEF\xBC\x8C t;\nbegin\nend.\n"), meant(","));
    EXPECT_EQ(hint("program p;\nbegin\nend\x81\x44\n"), meant("."));
    EXPECT_EQ(hint("program p;\nvar a\xEF\xBC\xBB"
                   "1..2];\nbegin\nend.\n"),
              meant("["));
    EXPECT_EQ(hint("program p;\nvar a[1..2\x81\x6E;\nbegin\nend.\n"), meant("]"));
    // A full-width "＝" after ":" (the ":" is rejected first).
    EXPECT_EQ(hint("program p;\nvar s;\nbegin\n  s :\xEF\xBC\x9D 1\nend.\n"), meant("="));
}

TEST(Hints, AnExpressionForAVarParameter) {
    const std::string var_argument = "ヒント: %s のこの引数は var 引数なので、変数しか渡せません。"
                                     "式の値を渡すなら、変数に代入してから渡して下さい\n";
    const std::string inc = "program p;\nvar n, a[1..2];\nprocedure inc(var k);\nbegin\n"
                            "  k := k + 1\nend;\n";
    EXPECT_EQ(hint(inc + "begin\n  inc(n + 1)\nend.\n"),
              format_message(var_argument.c_str(), "inc"));
    EXPECT_EQ(hint(inc + "begin\n  inc(a[n] * 2)\nend.\n"),
              format_message(var_argument.c_str(), "inc"));
    const std::string two = "program p;\nvar n;\nprocedure two(x, var k);\nbegin\n"
                            "  k := x\nend;\n";
    EXPECT_EQ(hint(two + "begin\n  two((n + 1) * 2, n - 1)\nend.\n"),
              format_message(var_argument.c_str(), "two"));
    // read's own slip, a constant (which has its own message) and an
    // argument that is no single variable get none.
    EXPECT_EQ(hint("program p;\nvar n;\nbegin\n  read(n + 1)\nend.\n"), "");
    EXPECT_EQ(hint(inc + "begin\n  inc(3)\nend.\n"), "");
    EXPECT_EQ(hint(inc + "begin\n  inc(n n)\nend.\n"), "");
}

TEST(Hints, NoneForOtherErrors) {
    EXPECT_EQ(hint("program p;\nbegin\n  write(1) @\nend.\n"), "");
    // A place past the text (a stale Compiled) gives no hint either.
    EXPECT_EQ(hint_for("x", ErrorKind::syntax, MSG_UNDECLARED_K, SourcePos{9, 9}, Encoding::utf8),
              "");
}

} // namespace
