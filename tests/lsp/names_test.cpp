// Completion, references, highlights and rename through the server's
// message handler: what the scope rules make of a name.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "lsp/documents.hpp"
#include "lsp/server.hpp"
#include "lsp/transport.hpp"

using nlohmann::json;

namespace {

const char* const URI = "file:///n.tsu";

json call(const std::string& method, json params) {
    static int id = 500;
    std::string out = handle_message(
        json{{"jsonrpc", "2.0"}, {"id", ++id}, {"method", method}, {"params", params}}.dump());
    std::size_t end = out.find("\r\n\r\n");
    EXPECT_NE(end, std::string::npos);
    return json::parse(out.substr(end + 4));
}

void open(const std::string& text) {
    reset_server();
    call("initialize", json::object());
    handle_message(
        json{{"jsonrpc", "2.0"},
             {"method", "textDocument/didOpen"},
             {"params", {{"textDocument", {{"uri", URI}, {"version", 1}, {"text", text}}}}}}
            .dump());
}

json at(int line, int character) {
    return json{{"textDocument", {{"uri", URI}}},
                {"position", {{"line", line}, {"character", character}}}};
}

// "line:character" of a range's start.
std::string start(const json& range) {
    return std::to_string(range["start"]["line"].get<int>()) + ":" +
           std::to_string(range["start"]["character"].get<int>());
}

// Two procedures: a's parameter x hides the program's x, and b is declared
// after a, so a cannot call it.
const char* const SCOPES = "program p;\n"      // 0
                           "var x, y;\n"       // 1
                           "procedure a(x);\n" // 2
                           "var z;\n"          // 3
                           "begin\n"           // 4
                           "  z := x + y;\n"   // 5
                           "  y := z\n"        // 6
                           "end;\n"            // 7
                           "procedure b;\n"    // 8
                           "begin\n"           // 9
                           "  a(y)\n"          // 10
                           "end;\n"            // 11
                           "begin\n"           // 12
                           "  x := 1;\n"       // 13
                           "  b\n"             // 14
                           "end.\n";           // 15

// The labels offered at a place, each with its detail.
std::vector<std::string> offered(int line, int character) {
    std::vector<std::string> labels;
    json items = call("textDocument/completion", at(line, character))["result"];
    for (const json& item : items) {
        std::string label = item["label"];
        if (item.contains("detail")) label += " | " + item["detail"].get<std::string>();
        labels.push_back(label);
    }
    return labels;
}

TEST(Names, CompletionOffersWhatTheScopesMakeVisible) {
    open(SCOPES);
    // In an expression of a: its own names first, the program's x hidden
    // by the parameter, no procedure, and nothing of b, declared later.
    EXPECT_EQ(offered(5, 7), (std::vector<std::string>{
                                 "x | 値引数 x (レベル 1、セル 3)",
                                 "z | 変数 z (レベル 1、セル 4)",
                                 "y | 変数 y (レベル 0、セル 4) 外側のプログラム p の名前",
                             }));
    // Where a statement begins in a: a itself, and the words that begin one.
    EXPECT_EQ(offered(6, 2), (std::vector<std::string>{
                                 "x | 値引数 x (レベル 1、セル 3)",
                                 "z | 変数 z (レベル 1、セル 4)",
                                 "y | 変数 y (レベル 0、セル 4) 外側のプログラム p の名前",
                                 "a | 手続き a(x) 外側のプログラム p の名前",
                                 "begin",
                                 "if",
                                 "while",
                                 "read",
                                 "write",
                             }));
}

TEST(Names, CompletionInTheBodyKnowsEveryRoutine) {
    open(SCOPES);
    std::vector<std::string> labels;
    json items = call("textDocument/completion", at(14, 3))["result"];
    for (const json& item : items)
        labels.push_back(item["label"]);
    EXPECT_EQ(labels, (std::vector<std::string>{"x", "y", "a", "b", "begin", "if", "while", "read",
                                                "write"}));
    // Half typed ("  b|"): the same list, for the word's start.
    json typed = call("textDocument/completion", at(14, 2))["result"];
    EXPECT_EQ(typed.size(), labels.size());
}

TEST(Names, CompletionWhileTheProgramIsBroken) {
    // Typing in a, before its end: the error stops the compile there, yet
    // what was declared is offered.
    open("program p;\nvar total;\nprocedure a(k);\nbegin\n  to\n");
    std::vector<std::string> labels;
    json items = call("textDocument/completion", at(4, 4))["result"];
    for (const json& item : items)
        labels.push_back(item["label"]);
    EXPECT_EQ(labels, (std::vector<std::string>{"k", "total", "a", "begin", "if", "while", "read",
                                                "write"}));
}

std::vector<std::string> places(const std::string& method, int line, int character) {
    json params = at(line, character);
    params["context"] = {{"includeDeclaration", true}};
    std::vector<std::string> found;
    json result = call(method, params)["result"];
    for (const json& r : result)
        found.push_back(start(r["range"]));
    return found;
}

TEST(Names, ReferencesFollowTheScopes) {
    open(SCOPES);
    // The parameter x: its declaration and its one use, not the program's.
    EXPECT_EQ(places("textDocument/references", 5, 7), (std::vector<std::string>{"2:12", "5:7"}));
    EXPECT_EQ(places("textDocument/references", 13, 2), (std::vector<std::string>{"1:4", "13:2"}));
    // y: used in a and in b.
    EXPECT_EQ(places("textDocument/references", 1, 7),
              (std::vector<std::string>{"1:7", "5:11", "6:2", "10:4"}));
    EXPECT_EQ(places("textDocument/documentHighlight", 10, 2),
              (std::vector<std::string>{"2:10", "10:2"}));
    json without = at(13, 2);
    without["context"] = {{"includeDeclaration", false}};
    EXPECT_EQ(call("textDocument/references", without)["result"].size(), 1u);
    EXPECT_EQ(call("textDocument/references", at(12, 1))["result"], json::array());
}

json rename(int line, int character, const std::string& name) {
    json params = at(line, character);
    params["newName"] = name;
    return call("textDocument/rename", params);
}

std::vector<std::string> edits(const json& answer) {
    std::vector<std::string> found;
    const json& changes = answer["result"]["changes"][URI];
    for (const json& e : changes) {
        EXPECT_EQ(e["newText"], changes[0]["newText"]);
        found.push_back(start(e["range"]));
    }
    return found;
}

std::string refusal(const json& answer) {
    EXPECT_FALSE(answer.contains("result"));
    return answer.contains("error") ? answer["error"]["message"].get<std::string>() : "";
}

TEST(Names, RenameChangesTheDeclarationAndItsUsesOnly) {
    open(SCOPES);
    EXPECT_EQ(edits(rename(5, 7, "w")), (std::vector<std::string>{"2:12", "5:7"}));
    EXPECT_EQ(edits(rename(1, 4, "count")), (std::vector<std::string>{"1:4", "13:2"}));
    EXPECT_EQ(edits(rename(2, 10, "run")), (std::vector<std::string>{"2:10", "10:2"}));
    json prepared = call("textDocument/prepareRename", at(13, 3))["result"];
    EXPECT_EQ(prepared["placeholder"], "x");
    EXPECT_EQ(start(prepared["range"]), "13:2");
    EXPECT_TRUE(call("textDocument/prepareRename", at(12, 1))["result"].is_null());
}

TEST(Names, RenameRefusesWhatWouldChangeTheProgram) {
    open(SCOPES);
    EXPECT_EQ(refusal(rename(1, 4, "y")),
              "y は、同じところで宣言された変数 y (2 行目) と重なります");
    // The program's y, used in a, would be hidden there by a's z.
    EXPECT_EQ(refusal(rename(1, 7, "z")),
              "z にすると、6 行目の y が変数 z (4 行目) を指すようになってしまいます");
    // a's z would hide the program's y in a.
    EXPECT_EQ(refusal(rename(3, 4, "y")),
              "y にすると、6 行目の y が変数 y (4 行目) を指すようになってしまいます");
    EXPECT_EQ(refusal(rename(1, 4, "while")), "while はキーワードなので名前にできません");
    EXPECT_EQ(refusal(rename(1, 4, "2x")),
              "2x は名前になりません。英字で始まり、英字と数字が続く31文字までにして下さい");
    EXPECT_EQ(refusal(rename(1, 4, std::string(32, 'q'))).substr(0, 32), std::string(32, 'q'));
    EXPECT_EQ(refusal(rename(12, 1, "q")), "ここには名前がありません");
    EXPECT_EQ(refusal(rename(3, 4, "x")),
              "x は、同じところで宣言された値引数 x (3 行目) と重なります");
    open("program p;\nvar x;\nbegin\n  x := \nend.\n");
    EXPECT_EQ(refusal(rename(1, 4, "q")),
              "エラーのあるプログラムでは名前を変えられません。先にエラーを直して下さい");
}

} // namespace
