// The lists that front ends written in other languages keep of the
// library's own: the keywords (the page's editor, the VS Code grammar, the
// Neovim syntax file) and the names of a run's endings (the page's status
// texts).  They cannot be generated from the C++, so each is held to it
// here.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "driver/api.hpp"

namespace {

std::string file_text(const std::string& path) {
    std::ifstream in(std::string(TSUMIKI_SOURCE_DIR) + "/" + path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The text from the first `from` to the first `to` after it.
std::string between(const std::string& text, const std::string& from, const std::string& to) {
    std::size_t start = text.find(from);
    EXPECT_NE(start, std::string::npos) << from;
    if (start == std::string::npos) return "";
    std::size_t end = text.find(to, start + from.size());
    EXPECT_NE(end, std::string::npos) << to;
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Every match of the first group of `pattern` in `text`, split at "|".
std::set<std::string> words(const std::string& text, const std::string& pattern) {
    std::set<std::string> found;
    std::regex re(pattern);
    for (auto m = std::sregex_iterator(text.begin(), text.end(), re); m != std::sregex_iterator();
         ++m) {
        std::stringstream alternatives((*m)[1].str());
        std::string word;
        while (std::getline(alternatives, word, '|'))
            found.insert(word);
    }
    return found;
}

std::set<std::string> library_keywords() {
    std::set<std::string> all;
    for (const char* k : language_keywords())
        all.insert(k);
    return all;
}

} // namespace

TEST(SharedLists, ThePagesEditorHighlightsTheLexersKeywords) {
    std::string list = between(file_text("src/web/page/main.js"), "const KEYWORDS", "]);");
    EXPECT_EQ(words(list, "'([a-z]+)'"), library_keywords());
}

TEST(SharedLists, TheVSCodeGrammarHighlightsTheLexersKeywords) {
    std::string rules = between(file_text("editors/vscode/syntaxes/tsumiki.tmLanguage.json"),
                                "\"keywords\": {", "\"numbers\"");
    EXPECT_EQ(words(rules, R"(\\\\b\(?([a-z|]+)\)?\\\\b)"), library_keywords());
}

TEST(SharedLists, TheNeovimSyntaxHighlightsTheLexersKeywords) {
    std::string syntax = file_text("editors/nvim/syntax/tsumiki.vim");
    std::set<std::string> found;
    for (const std::string& line : words(syntax, R"(\nsyntax keyword \w+ ([a-z ]+))")) {
        std::stringstream list(line);
        std::string word;
        while (list >> word)
            found.insert(word);
    }
    EXPECT_EQ(found, library_keywords());
}

TEST(SharedLists, ThePageNamesEveryEndingOfARunAsTheLibraryDoes) {
    std::string table = between(file_text("src/web/page/main.js"), "const RUN_ENDS", "};");
    std::set<std::string> page = words(table, R"(\n  ([a-z_]+): \[)");
    // Every ending, counted up to the first value the enum does not name
    // (RunEnd's values run from 0 without gaps).
    std::set<std::string> library;
    int count = 0;
    for (; std::string(run_end_name(static_cast<RunEnd>(count))) != "unknown"; ++count)
        library.insert(run_end_name(static_cast<RunEnd>(count)));
    EXPECT_EQ(page, library);
    EXPECT_EQ(library.size(), static_cast<std::size_t>(count)); // each its own name
    EXPECT_GE(count, 6);
}
