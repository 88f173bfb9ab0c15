// Quick fixes through the server's message handler: each hint with one fix
// gets it, and the fixed program compiles.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "driver/api.hpp"
#include "lsp/positions.hpp"
#include "lsp/server.hpp"

using nlohmann::json;

namespace {

const char* const URI = "file:///f.tsu";

json call(const std::string& method, json params) {
    static int id = 1300;
    std::string out = handle_message(
        json{{"jsonrpc", "2.0"}, {"id", ++id}, {"method", method}, {"params", params}}.dump());
    std::size_t end = out.find("\r\n\r\n");
    EXPECT_NE(end, std::string::npos);
    return json::parse(out.substr(end + 4))["result"];
}

// The code actions for lines `from` to `to` of `text`, opened afresh.
json actions(const std::string& text, int from, int to) {
    reset_server();
    call("initialize", json::object());
    handle_message(
        json{{"jsonrpc", "2.0"},
             {"method", "textDocument/didOpen"},
             {"params", {{"textDocument", {{"uri", URI}, {"version", 1}, {"text", text}}}}}}
            .dump());
    return call("textDocument/codeAction", {{"textDocument", {{"uri", URI}}},
                                            {"range",
                                             {{"start", {{"line", from}, {"character", 0}}},
                                              {"end", {{"line", to}, {"character", 0}}}}},
                                            {"context", {{"diagnostics", json::array()}}}});
}

// `text` with the one edit of the one action for its error applied.
std::string fixed(const std::string& text, int line, std::string* title = nullptr) {
    json list = actions(text, line, line);
    EXPECT_EQ(list.size(), 1u) << text;
    if (list.size() != 1) return text;
    if (title != nullptr) *title = list[0]["title"];
    EXPECT_EQ(list[0]["kind"], "quickfix");
    json edits = list[0]["edit"]["changes"][URI];
    EXPECT_EQ(edits.size(), 1u);
    LineIndex lines = index_lines(text);
    auto offset = [&](const json& p) {
        return lsp_offset(lines, LspPosition{p["line"].get<int>(), p["character"].get<int>()});
    };
    std::size_t a = offset(edits[0]["range"]["start"]);
    std::size_t b = offset(edits[0]["range"]["end"]);
    return text.substr(0, a) + edits[0]["newText"].get<std::string>() + text.substr(b);
}

bool compiles(const std::string& text) {
    return compile_text(text, CompileOptions{}).error == ErrorKind::none;
}

TEST(Fixes, MissingSemicolonAtTheEndOfTheLineBefore) {
    std::string title;
    std::string text = fixed("program p;\nvar x;\nbegin\n  x := 1\n  write(x)\nend.\n", 4, &title);
    EXPECT_EQ(text, "program p;\nvar x;\nbegin\n  x := 1;\n  write(x)\nend.\n");
    EXPECT_EQ(title, "前の行の終りにセミコロン(;)が抜けていませんか");
    EXPECT_TRUE(compiles(text));
    text = fixed("program p;\nvar x\nbegin\n  x := 1\nend.\n", 2);
    EXPECT_EQ(text, "program p;\nvar x;\nbegin\n  x := 1\nend.\n");
}

TEST(Fixes, EqualsBecomesAssignment) {
    std::string text = fixed("program p;\nvar x;\nbegin\n  x = 1\nend.\n", 3);
    EXPECT_EQ(text, "program p;\nvar x;\nbegin\n  x := 1\nend.\n");
}

TEST(Fixes, FullWidthBecomesHalfWidth) {
    EXPECT_EQ(fixed("program p;\nvar x;\nbegin\n  x := 1 ＋ 2\nend.\n", 3),
              "program p;\nvar x;\nbegin\n  x := 1 + 2\nend.\n");
    EXPECT_EQ(fixed("program p;\nvar x；\nbegin\n  x := 1\nend.\n", 1),
              "program p;\nvar x;\nbegin\n  x := 1\nend.\n");
    EXPECT_EQ(fixed("program p;\nvar x;\nbegin\n  x :＝ 1\nend.\n", 3),
              "program p;\nvar x;\nbegin\n  x := 1\nend.\n");
}

TEST(Fixes, UndeclaredNameBecomesAVariableOfItsRoutine) {
    std::string text = fixed("program p;\nvar x;\nbegin\n  y := 1\nend.\n", 3);
    EXPECT_EQ(text, "program p;\nvar x, y;\nbegin\n  y := 1\nend.\n");
    EXPECT_TRUE(compiles(text));
    text = fixed(
        "program p;\nvar x;\nprocedure q(k);\nbegin\n  t := k\nend;\nbegin\n  q(x)\nend.\n", 4);
    EXPECT_EQ(text, "program p;\nvar x;\nprocedure q(k);\nvar t;\nbegin\n  t := k\nend;\n"
                    "begin\n  q(x)\nend.\n");
    EXPECT_TRUE(compiles(text));
    text = fixed("program p;\nvar a[1..3];\nbegin\n  a[1] := i\nend.\n", 3);
    EXPECT_EQ(text, "program p;\nvar a[1..3], i;\nbegin\n  a[1] := i\nend.\n");
}

TEST(Fixes, NothingWithoutAnErrorWithOneFix) {
    EXPECT_EQ(actions("program p;\nvar x;\nbegin\n  x := 1\nend.\n", 0, 9), json::array());
    // No then: its hint has no fix.
    EXPECT_EQ(actions("program p;\nvar x;\nbegin\n  if x = 1 x := 2\nend.\n", 0, 9), json::array());
    // The error is on another line than the one asked about.
    EXPECT_EQ(actions("program p;\nvar x;\nbegin\n  x = 1\nend.\n", 0, 1), json::array());
}

} // namespace
