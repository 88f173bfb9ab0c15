// The compiler's warnings, through the library interface: each at its place
// and with its words, and none on the programs that only look like the
// slips.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/api.hpp"

namespace {

// "LINE:COLUMN TEXT" per warning of `source`, in UTF-8; "(error)" when it
// does not compile.
std::vector<std::string> warnings(const std::string& source) {
    CompileOptions options;
    options.encoding = Encoding::utf8;
    options.warnings = true;
    Compiled c = compile_text(source, options);
    if (c.error != ErrorKind::none) return {"(error)"};
    std::vector<std::string> found;
    for (const Warning& w : c.warnings)
        found.push_back(std::to_string(w.where.line) + ":" + std::to_string(w.where.column) + " " +
                        w.message);
    return found;
}

// Only the places of the warnings.
std::vector<std::string> places(const std::string& source) {
    std::vector<std::string> found;
    for (const std::string& w : warnings(source))
        found.push_back(w.substr(0, w.find(' ')));
    return found;
}

using Places = std::vector<std::string>;

// A program around `body`, with an array a[1..5] and variables i, x, y.
std::string with(const std::string& declarations, const std::string& body) {
    return "program p;\nvar a[1..5], i, x, y;\n" + declarations + "begin\n" + body + "\nend.\n";
}

} // namespace

TEST(Warnings, SurplusArgumentsSayWhereTheyLand) {
    EXPECT_EQ(warnings(with("procedure q(n);\nvar l, m;\nbegin write(n); l := 0; m := 0 end;\n",
                            "q(1, 99, 98)")),
              std::vector<std::string>{"7:6 手続き q の引数は1個なのに、3個渡しています。"
                                       "余分な引数は捨てられずに、q の変数 l から順にその初め"
                                       "の値になります"});
    // Into an array's first element; a function's result cell comes first.
    EXPECT_EQ(warnings(with("function f(n);\nvar v[0..2];\nbegin v[0] := 1; f := v[1] end;\n",
                            "x := f(1, (2))")),
              std::vector<std::string>{"7:11 関数 f の引数は1個なのに、2個渡しています。"
                                       "余分な引数は捨てられずに、f の変数 v[0] から順にその初め"
                                       "の値になります"});
    // No local variable to land in.
    EXPECT_EQ(warnings(with("procedure q;\nbegin end;\n", "q(7)")),
              std::vector<std::string>{"6:3 手続き q の引数は0個なのに、1個渡しています。"
                                       "余分な引数はどこにも使われません"});
    // In a recursive call from the routine's own body, and at the first
    // surplus argument after a var parameter.
    EXPECT_EQ(places(with("procedure q(n, var r);\nvar l;\n"
                          "begin l := 0; if n > 0 then q(n - 1, r, l) end;\n",
                          "q(3, x); q(3, x, 5)")),
              (Places{"5:41", "7:18"}));
}

TEST(Warnings, NoSurplusWhenEveryArgumentHasItsParameter) {
    // The last argument goes through a var parameter, as an element or a
    // var parameter passed on.
    EXPECT_EQ(places(with("procedure q(n, var r);\nbegin r := n end;\n"
                          "procedure w(var s);\nbegin q(1, s) end;\n",
                          "i := 2; q(1, x); q(2, a[i]); w(y); write(x + y + a[1])")),
              Places{});
}

TEST(Warnings, ConstantIndexOutsideTheBounds) {
    EXPECT_EQ(
        warnings(with("", "a[6] := 1")),
        std::vector<std::string>{"4:3 添字 6 は配列 a[1..5] の範囲の外です。範囲の外の要素は、"
                                 "となりの変数など別のセルを読み書きします"});
    // Every kind of element access, signed and parenthesised constants.
    EXPECT_EQ(places(with("procedure q(var r);\nbegin r := 1 end;\n",
                          "a[0] := 1;\nwrite(a[-1]);\nread(a[(7)]);\nq(a[-(8)]);\na[+6] := 1")),
              (Places{"6:3", "7:9", "8:8", "9:5", "10:3"}));
    EXPECT_EQ(warnings(with("", "a[-2147483648] := 1"))[0].find("4:3 添字 -2147483648 は"), 0u);
}

TEST(Warnings, NoIndexWarningWithoutAConstantOutside) {
    // The bounds themselves, an index that only folding would make a
    // constant, a variable index, an array declared upside down.
    EXPECT_EQ(places(with("", "i := 3; a[1] := 1; a[5] := a[1];\n"
                              "a[2 + 4] := 1; a[6 - 0] := 2; a[i] := 4;\n"
                              "write(a[1] + a[5])")),
              Places{});
    EXPECT_EQ(places("program p;\nvar b[5..1];\nbegin b[9] := 1; write(b[9]) end.\n"), Places{});
}

TEST(Warnings, FunctionThatNeverAssignsItsResult) {
    EXPECT_EQ(warnings(with("function f(n);\nbegin write(n) end;\n", "x := f(1); write(x)")),
              std::vector<std::string>{"3:10 関数 f の中に f := ... がありません。関数の値は、"
                                       "結果のセルにたまたま残っていた値になります"});
    // A parameter of the same name hides the result: the function cannot
    // assign it.
    EXPECT_EQ(places(with("function g(var g);\nbegin g := 1 end;\n", "x := g(y); write(x)")),
              Places{"3:10"});
}

TEST(Warnings, FunctionAssignedSomewhereIsNotFlagged) {
    // In one branch only, in a loop, or only after a nested routine.
    EXPECT_EQ(places(with("function f(n);\nbegin if n > 0 then f := n end;\n"
                          "function g(n);\nbegin while n > 0 do begin g := n; n := n - 1 end end;\n"
                          "function h(n);\n  procedure inner;\n  begin write(1) end;\n"
                          "begin inner; h := n end;\n",
                          "write(f(1) + g(2) + h(3))")),
              Places{});
}

TEST(Warnings, VariableReadButNeverAssigned) {
    EXPECT_EQ(warnings("program p;\nvar k;\nprocedure q;\nvar l;\nbegin write(l); write(l) end;\n"
                       "begin q; write(k) end.\n"),
              (std::vector<std::string>{
                  "5:13 変数 l の値を読んでいますが、l はどこでも代入されていません。その値は、"
                  "前の呼び出しがそのセルに残したものです",
                  "6:16 変数 k の値を読んでいますが、k はどこでも代入されていません。その値は"
                  "いつも0です"}));
    EXPECT_EQ(warnings("program p;\nvar c[0..3];\nprocedure q;\nvar v[1..2];\n"
                       "begin write(v[1]) end;\nbegin q; write(c[1]) end.\n"),
              (std::vector<std::string>{
                  "5:13 配列 v の要素を読んでいますが、v のどの要素にも代入されていません。"
                  "その値は、前の呼び出しがそのセルに残したものです",
                  "6:16 配列 c の要素を読んでいますが、c のどの要素にも代入されていません。"
                  "その値はいつも0です"}));
    // The shadowed variable is the one flagged.
    EXPECT_EQ(places("program p;\nvar x;\nprocedure q;\nvar x;\nbegin write(x) end;\n"
                     "begin x := 1; q; write(x) end.\n"),
              Places{"5:13"});
}

TEST(Warnings, VariableAssignedAnywhereIsNotFlagged) {
    // By read, through a var parameter (an element, too), in a nested
    // routine, after the read; parameters and variables never read.
    EXPECT_EQ(places("program p;\nvar r, s, t[1..2], u, never;\n"
                     "procedure set(var z);\nbegin z := 1 end;\n"
                     "procedure q(v, var w);\nvar l;\n  procedure inner;\n  begin l := 2 end;\n"
                     "begin inner; write(l + v + w) end;\n"
                     "begin\n  write(u); read(r); set(s); set(t[2]); q(r, s);\n"
                     "  write(r + s + t[1]); u := 1\nend.\n"),
              Places{});
}

TEST(Warnings, InTheOrderOfTheSourceAndOnlyWhenAsked) {
    const std::string source = "program p;\nvar a[1..2], k;\nfunction f;\nbegin write(k) end;\n"
                               "begin a[3] := f end.\n";
    EXPECT_EQ(places(source), (Places{"3:10", "4:13", "5:9"}));
    CompileOptions plain;
    plain.encoding = Encoding::utf8;
    EXPECT_TRUE(compile_text(source, plain).warnings.empty());
    // A program that does not compile gets its error alone.
    EXPECT_EQ(warnings("program p;\nvar k;\nbegin write(k); x := 1 end.\n"),
              std::vector<std::string>{"(error)"});
    // In Shift_JIS when asked.
    CompileOptions sjis;
    sjis.encoding = Encoding::cp932;
    sjis.warnings = true;
    Compiled c = compile_text(source, sjis);
    ASSERT_EQ(c.warnings.size(), 3u);
    EXPECT_EQ(c.warnings[0].text, MSG_W_NO_RESULT);
    EXPECT_EQ(c.warnings[0].message.substr(0, 6), "\x8a\xd6\x90\x94 f");
}

TEST(Warnings, AStatementIndentedAsIfInAnUnbracedBody) {
    // while, if and else, each with the statement after its body at the
    // body's column, first on its line.
    EXPECT_EQ(warnings(with("", "  while i < 3 do\n    i := i + 1;\n    write(i)")),
              (std::vector<std::string>{
                  "6:5 while の本体は前の文だけですが、この文も同じ字下げで while の中にある"
                  "ように見えます。両方を while の本体にするなら begin と end で囲んで下さい"}));
    EXPECT_EQ(places(with("", "  if i = 0 then\n    i := 1;\n    write(i)")), Places{"6:5"});
    EXPECT_EQ(places(with("", "  if i = 0 then\n    i := 1\n  else\n    i := 2;\n    write(i)")),
              Places{"8:5"});
    // Tabs count one column each, and the innermost body is the one named.
    EXPECT_EQ(
        warnings(with("", "\twhile i < 3 do\n\t\tif i = 1 then\n\t\t\ti := 5;\n\t\t\twrite(i)"))
            .front()
            .substr(0, 7),
        "7:4 if ");
    // In a routine's block and in a compound statement.
    EXPECT_EQ(
        places(with("procedure q;\nbegin\n  while i < 3 do\n    i := i + 1;\n    write(i)\n"
                    "end;\n",
                    "  begin\n    if x = 1 then\n      x := 2;\n      write(x)\n  end;\n  q")),
        (Places{"7:5", "13:7"}));
}

TEST(Warnings, NoIndentationWarningWhereTheLayoutSaysWhatTheCodeDoes) {
    // The next statement back at the keyword's column, a body in begin and
    // end, a body on the keyword's line, the next statement not first on
    // its line, an if whose then-body is followed by else.
    EXPECT_EQ(places(with("", "  while i < 3 do\n    i := i + 1;\n  write(i)")), Places{});
    EXPECT_EQ(places(with("", "  while i < 3 do begin\n    i := i + 1;\n    write(i)\n  end")),
              Places{});
    EXPECT_EQ(places(with("", "  while i < 3 do i := i + 1;\n  write(i)")), Places{});
    EXPECT_EQ(places(with("", "  if i = 0 then\n    i := 1; write(i)")), Places{});
    EXPECT_EQ(places(with("", "  if i = 0 then\n    i := 1\n  else i := 2;\n  write(i)")),
              Places{});
    // A body no deeper than the keyword's line.
    EXPECT_EQ(places(with("", "  while i < 3 do\n  i := i + 1;\n  write(i)")), Places{});
    // The then-branch of an if with else does not end the statement.
    EXPECT_EQ(
        places(with(
            "", "  read(i);\n  if i = 0 then\n    if x = 0 then\n      x := 1\n    else x := 2\n"
                "  else\n    y := 1;\n  write(y)")),
        Places{});
}
