// The server's answers, through its message handler, for small programs.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "lsp/documents.hpp"
#include "lsp/features.hpp"
#include "lsp/server.hpp"

using nlohmann::json;

namespace {

const char* const URI = "file:///t.tsu";

// The bodies of the framed messages in `out`.
std::vector<json> messages(std::string_view out) {
    std::vector<json> found;
    while (!out.empty()) {
        std::size_t end = out.find("\r\n\r\n");
        long long n = content_length(out.substr(0, end));
        EXPECT_GE(n, 0);
        found.push_back(json::parse(out.substr(end + 4, static_cast<std::size_t>(n))));
        out.remove_prefix(end + 4 + static_cast<std::size_t>(n));
    }
    return found;
}

json call(const std::string& method, json params) {
    static int id = 100;
    auto got = messages(handle_message(
        json{{"jsonrpc", "2.0"}, {"id", ++id}, {"method", method}, {"params", params}}.dump()));
    EXPECT_EQ(got.size(), 1u);
    return got.empty() ? json() : got[0];
}

// Opens `text` on a fresh server; the diagnostics published.
json open(const std::string& text) {
    reset_server();
    call("initialize", json::object());
    auto got = messages(handle_message(
        json{{"jsonrpc", "2.0"},
             {"method", "textDocument/didOpen"},
             {"params", {{"textDocument", {{"uri", URI}, {"version", 1}, {"text", text}}}}}}
            .dump()));
    EXPECT_EQ(got.size(), 1u);
    return got.empty() ? json() : got[0]["params"]["diagnostics"];
}

json at(int line, int character) {
    return json{{"textDocument", {{"uri", URI}}},
                {"position", {{"line", line}, {"character", character}}}};
}

std::string hover_text(int line, int character) {
    json r = call("textDocument/hover", at(line, character))["result"];
    return r.is_null() ? "" : r["contents"]["value"].get<std::string>();
}

json range(int l1, int c1, int l2, int c2) {
    return json{{"start", {{"line", l1}, {"character", c1}}},
                {"end", {{"line", l2}, {"character", c2}}}};
}

const char* const SHADOW = "program p;\n"
                           "var x, a[2..5];\n"
                           "function f(x, var y);\n"
                           "begin\n"
                           "  x := y + 1;\n"
                           "  f := x\n"
                           "end;\n"
                           "begin\n"
                           "  x := f(a[1], x);\n"
                           "  write(x)\n"
                           "end.\n";

TEST(Features, ErrorsAreDiagnosedAtTheirToken) {
    json d = open("program p;\nvar abc;\nbegin\n  abc = 2\nend.\n");
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0]["message"],
              "構文エラー: :=がありません\nヒント: 代入は := です。= は値を比べるときに使います");
    EXPECT_EQ(d[0]["source"], "tsumiki");
    EXPECT_EQ(d[0]["severity"], 1);
    EXPECT_EQ(d[0]["range"], range(3, 6, 3, 7));
    // A name: the whole name; the end of the file: an empty range past it.
    EXPECT_EQ(open("program p;\nbegin\n  zz9 := 1\nend.\n")[0]["range"], range(2, 2, 2, 5));
    EXPECT_EQ(open("program p;\nbegin\nend")[0]["range"], range(2, 3, 2, 3));
    EXPECT_EQ(open("program p;\nvar x;\nbegin\n  x := 1;\n  write(x)\nend.\n"), json::array());
}

TEST(Features, WarningsBesideTheErrors) {
    // A program that compiles gets its warnings, each at its token.
    json d = open(SHADOW);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0]["severity"], 2);
    EXPECT_EQ(d[0]["source"], "tsumiki");
    EXPECT_EQ(d[0]["range"], range(8, 9, 8, 10));
    EXPECT_EQ(d[0]["message"], "配列 a の要素を読んでいますが、a のどの要素にも代入されていません。"
                               "その値はいつも0です");
    EXPECT_EQ(d[1]["range"], range(8, 11, 8, 12));
    EXPECT_EQ(d[1]["message"], "添字 1 は配列 a[2..5] の範囲の外です。範囲の外の要素は、"
                               "となりの変数など別のセルを読み書きします");
    // One that does not gets its error alone.
    d = open("program p;\nvar k;\nbegin\n  write(k);\n  k = 1\nend.\n");
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0]["severity"], 1);
}

TEST(Features, DiagnosticsCarryTheHintOnALineOfItsOwn) {
    auto message = [](const std::string& text) {
        json d = open(text);
        return d.size() == 1 ? d[0]["message"].get<std::string>() : std::string("(none)");
    };
    EXPECT_EQ(message("program p;\nvar x;\nbegin\n  x := 1\n  write(x)\nend.\n"),
              "構文エラー: ブロックのおわりのendがありません\n"
              "ヒント: 前の行の終りにセミコロン(;)が抜けていませんか");
    EXPECT_EQ(message("program p;\nbegin\n  write(1)；\nend.\n"),
              "字句エラー: 認識できないトークン\n"
              "ヒント: 全角の文字です。半角の ; に直して下さい");
    EXPECT_EQ(message("program p;\nbegin\n  zz9 := 1\nend.\n"),
              "構文エラー: 宣言されていない識別子の使用(k)\nヒント: 宣言されていない名前: zz9");
    EXPECT_EQ(message("\xEF\xBB\xBFprogram p;\nbegin\nend.\n"),
              "字句エラー: 認識できないトークン\n"
              "ヒント: ファイルの先頭にBOM(バイト順マーク)があります。BOMなしで保存して下さい");
    EXPECT_EQ(message("program p;\nbegin\nend."),
              "字句エラー: ファイルの終り\n"
              "ヒント: 最後のピリオドのあとに改行がありません。ピリオドのあとで改行して下さい");
    // No hint applies: the message alone.
    EXPECT_EQ(message("program p;\nvar abc;\nbegin\n  abc 2\nend.\n"),
              "構文エラー: :=がありません");
}

TEST(Features, DeepNestingIsAnError) {
    json d = open("program p;\nvar x;\nbegin\n  x := " + std::string(1000000, '(') + "1\nend.\n");
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0]["message"], "構文エラー: 入れ子が深すぎます");
}

TEST(Features, AnyBytesAndHugeDocumentsEndInAnswers) {
    std::string every;
    for (int c = 1; c < 0x80; ++c)
        every += static_cast<char>(c);
    every += "\xc3\xa9\xf0\x9f\x98\x80";
    EXPECT_EQ(open(every).size(), 1u);
    EXPECT_EQ(open(std::string("program p;\0", 11)).size(), 1u);
    // 4 MiB of blanks and 2000 statements.
    std::string big = "program p;\nvar x;" + std::string(4 << 20, ' ') + "\nbegin\n";
    for (int i = 0; i < 2000; ++i)
        big += "  x := x + 1;\n";
    EXPECT_EQ(open(big + "  write(x)\nend.\n"), json::array());
    EXPECT_EQ(open(big + "  write(y)\nend.\n")[0]["range"], range(2003, 8, 2003, 9));
}

TEST(Features, DefinitionFollowsScopes) {
    open(SHADOW);
    auto target = [](int line, int character) {
        return call("textDocument/definition", at(line, character))["result"]["range"];
    };
    EXPECT_EQ(target(4, 2), range(2, 11, 2, 12));  // x in f: the parameter
    EXPECT_EQ(target(8, 2), range(1, 4, 1, 5));    // x in the program: the variable
    EXPECT_EQ(target(8, 16), range(1, 4, 1, 5));   // just past the name
    EXPECT_EQ(target(8, 7), range(2, 9, 2, 10));   // the call of f
    EXPECT_EQ(target(5, 2), range(2, 9, 2, 10));   // f's result
    EXPECT_EQ(target(2, 18), range(2, 18, 2, 19)); // a declaration: itself
    EXPECT_TRUE(call("textDocument/definition", at(3, 1))["result"].is_null());
}

TEST(Features, HoversSayWhatANameIs) {
    open(SHADOW);
    EXPECT_EQ(hover_text(8, 10),
              "`配列 a[2..5] (レベル 0、セル 4)`  \n2 行目で宣言 (プログラム p の中)");
    EXPECT_EQ(hover_text(4, 8), "`var 引数 y (レベル 1、セル 5)`  \n3 行目で宣言 (関数 f の中)");
    EXPECT_EQ(hover_text(2, 9), "`関数 f(x, var y)`  \n3 行目で宣言 (プログラム p の中)");
    EXPECT_EQ(hover_text(0, 8), "`プログラム p`  \n1 行目で宣言");
}

TEST(Features, StatementHoversAndLensesShowTheCode) {
    open(SHADOW);
    // "write": its operand and PUT, nothing of the statement before.
    EXPECT_EQ(hover_text(9, 3), "```\n22: LOD(0,3)\n23: PUT(0,0)\n```");
    json lenses = call("textDocument/codeLens", {{"textDocument", {{"uri", URI}}}})["result"];
    ASSERT_EQ(lenses.size(), 2u);
    EXPECT_EQ(lenses[1]["range"], range(2, 9, 2, 10));
    EXPECT_EQ(lenses[1]["command"]["title"], "命令 10 個 (1..10)");
    std::string f = lenses[1]["command"]["arguments"][1];
    EXPECT_EQ(f, "1: UJP(0,2)\n2: ENT(0,5)\n3: LOD(0,5)\n4: IND(0,0)\n5: LDC(0,1)\n6: OPR(0,1)\n"
                 "7: STR(0,4)\n8: LOD(0,4)\n9: STR(0,3)\n10: FRT(0,0)\n");
}

TEST(Features, SymbolsNestAsDeclared) {
    open(SHADOW);
    json s = call("textDocument/documentSymbol", {{"textDocument", {{"uri", URI}}}})["result"];
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0]["name"], "p");
    EXPECT_EQ(s[0]["range"], range(0, 8, 10, 4));
    std::vector<std::string> inside;
    for (const json& c : s[0]["children"])
        inside.push_back(c["name"].get<std::string>() + " " + c["detail"].get<std::string>());
    EXPECT_EQ(inside, (std::vector<std::string>{"x 変数", "a [2..5]", "f 関数(x, var y)"}));
    EXPECT_EQ(s[0]["children"][2]["children"].size(), 2u);
    EXPECT_EQ(s[0]["children"][2]["range"], range(2, 9, 6, 4));
}

// A routine cut short by an error still holds its name and its
// declarations: editors refuse a symbol whose whole does not hold its name.
TEST(Features, SymbolsOfAnUnfinishedRoutineRunToTheEnd) {
    open("program broken;\nvar total;\nprocedure p;\nbegin\n  total := totl\nend;\nbegin\nend.\n");
    json s = call("textDocument/documentSymbol", {{"textDocument", {{"uri", URI}}}})["result"];
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0]["selectionRange"], range(0, 8, 0, 14));
    EXPECT_EQ(s[0]["range"], range(0, 8, 8, 0));
    ASSERT_EQ(s[0]["children"].size(), 2u);
    EXPECT_EQ(s[0]["children"][1]["name"], "p");
    EXPECT_EQ(s[0]["children"][1]["range"], range(2, 10, 8, 0));
}

TEST(Features, ChangesRecompileAndCloseClears) {
    open("program p;\nbegin\n  write(q)\nend.\n");
    auto notify = [](const std::string& method, json params) {
        auto got = messages(handle_message(
            json{{"jsonrpc", "2.0"}, {"method", method}, {"params", params}}.dump()));
        EXPECT_EQ(got.size(), 1u);
        return got.empty() ? json() : got[0]["params"];
    };
    json fixed =
        notify("textDocument/didChange",
               {{"textDocument", {{"uri", URI}, {"version", 2}}},
                {"contentChanges", {{{"text", "program p;\nbegin\n  write(1)\nend.\n"}}}}});
    EXPECT_EQ(fixed["diagnostics"], json::array());
    EXPECT_EQ(fixed["version"], 2);
    EXPECT_EQ(notify("textDocument/didClose", {{"textDocument", {{"uri", URI}}}})["diagnostics"],
              json::array());
    EXPECT_TRUE(call("textDocument/hover", at(2, 3))["result"].is_null());
}

} // namespace
