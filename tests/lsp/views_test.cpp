// Signature help, folding ranges, semantic tokens and inlay hints through
// the server's message handler.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "lsp/server.hpp"

using nlohmann::json;

namespace {

const char* const URI = "file:///v.tsu";

json call(const std::string& method, json params) {
    static int id = 900;
    std::string out = handle_message(
        json{{"jsonrpc", "2.0"}, {"id", ++id}, {"method", method}, {"params", params}}.dump());
    std::size_t end = out.find("\r\n\r\n");
    EXPECT_NE(end, std::string::npos);
    return json::parse(out.substr(end + 4))["result"];
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

json document() {
    return json{{"textDocument", {{"uri", URI}}}};
}

json at(int line, int character) {
    json p = document();
    p["position"] = {{"line", line}, {"character", character}};
    return p;
}

// x is the program's; add's body reaches it through the static chain.
const char* const VIEWS = "program p;\n"               // 0
                          "var x, a[1..3];\n"          // 1
                          "procedure add(var s, k);\n" // 2
                          "begin\n"                    // 3
                          "  s := s + k + x\n"         // 4
                          "end;\n"                     // 5
                          "begin\n"                    // 6
                          "  x := 1;\n"                // 7
                          "  add(x, a[2])\n"           // 8
                          "end.\n";                    // 9

TEST(Views, SignatureHelpKnowsTheArgument) {
    open(VIEWS);
    json help = call("textDocument/signatureHelp", at(8, 9));
    ASSERT_FALSE(help.is_null());
    json signature = help["signatures"][0];
    EXPECT_EQ(signature["label"], "add(var s, k)");
    EXPECT_EQ(signature["parameters"][0]["label"], json::array({4, 9}));
    EXPECT_EQ(signature["parameters"][1]["label"], json::array({11, 12}));
    EXPECT_EQ(help["activeParameter"], 1);
    // Inside a[...] of the second argument: still the second.
    EXPECT_EQ(call("textDocument/signatureHelp", at(8, 12))["activeParameter"], 1);
    EXPECT_EQ(call("textDocument/signatureHelp", at(8, 6))["activeParameter"], 0);
    EXPECT_EQ(signature["parameters"][0]["documentation"],
              "var 引数: 変数の番地を渡します。手続きや関数の中での代入は、その変数を変えます");
    EXPECT_TRUE(call("textDocument/signatureHelp", at(7, 4)).is_null());
    // While the call is being typed (the program does not compile).
    open("program p;\nprocedure q(a, var b);\nbegin end;\nbegin\n  q(1, \nend.\n");
    EXPECT_EQ(call("textDocument/signatureHelp", at(4, 7))["activeParameter"], 1);
}

TEST(Views, FoldingRoutinesAndBlocks) {
    open(VIEWS);
    std::vector<std::string> ranges;
    json result = call("textDocument/foldingRange", document());
    for (const json& r : result)
        ranges.push_back(std::to_string(r["startLine"].get<int>()) + "-" +
                         std::to_string(r["endLine"].get<int>()));
    EXPECT_EQ(ranges, (std::vector<std::string>{"0-9", "2-5", "3-5", "6-9"}));
}

TEST(Views, SemanticTokensMarkTheStaticChain) {
    open(VIEWS);
    json data = call("textDocument/semanticTokens/full", document())["data"];
    // Groups of five: line delta, start delta, length, type, modifiers.
    std::vector<int> d = data.get<std::vector<int>>();
    ASSERT_EQ(d.size() % 5, 0u);
    // The x of line 4: a variable (0) reached through the static chain (4).
    std::vector<int> x_in_add;
    int line = 0, character = 0;
    for (std::size_t i = 0; i < d.size(); i += 5) {
        character = d[i] == 0 ? character + d[i + 1] : d[i + 1];
        line += d[i];
        if (line == 4 && character == 15) x_in_add = {d[i + 2], d[i + 3], d[i + 4]};
        if (line == 7 && character == 2) { // the main program's x
            EXPECT_EQ(d[i + 4], 0);
        }
        if (line == 4 && character == 2) { // s: byReference
            EXPECT_EQ(d[i + 4], 2);
        }
    }
    EXPECT_EQ(x_in_add, (std::vector<int>{1, 0, 4}));
    EXPECT_EQ(d.size(), 70u);
}

TEST(Views, InlayHintsShowAddresses) {
    open(VIEWS);
    json params = document();
    params["range"] = {{"start", {{"line", 4}, {"character", 0}}},
                       {"end", {{"line", 8}, {"character", 99}}}};
    std::vector<std::string> hints;
    json result = call("textDocument/inlayHint", params);
    for (const json& h : result)
        hints.push_back(std::to_string(h["position"]["line"].get<int>()) + ":" +
                        std::to_string(h["position"]["character"].get<int>()) + " " +
                        h["label"].get<std::string>());
    EXPECT_EQ(hints, (std::vector<std::string>{"4:3 〈0,3〉", "4:8 〈0,3〉", "4:12 〈0,4〉",
                                               "4:16 〈1,3〉", "7:3 〈0,3〉", "8:7 番地〈0,3〉",
                                               "8:10 〈0,4〉"}));
}

} // namespace
