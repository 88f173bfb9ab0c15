// How the server speaks of a document: places as protocol ranges, and
// declarations in words (Japanese, from the message table, as every
// tsumiki program writes).  Shared by the answers of every request.
#pragma once

#include <climits>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "diag/diag.hpp"
#include "lsp/documents.hpp"

// Past every place in a document.
inline constexpr SourcePos SOURCE_END{INT_MAX, INT_MAX};

// Whether `a` stands before `b`.
bool before(SourcePos a, SourcePos b);

// `p` moved right by `bytes` on its line.
SourcePos shifted(SourcePos p, std::size_t bytes);

nlohmann::json position_json(LspPosition p);
nlohmann::json range_json(const Document& doc, SourcePos from, SourcePos to);

bool is_routine(const Declaration& d);

// The index of a declaration of `doc` in its list.
inline int index_of(const Document& doc, const Declaration& d) {
    return static_cast<int>(&d - doc.compiled.declarations.data());
}

inline const Declaration& declaration(const Document& doc, int index) {
    return doc.compiled.declarations[static_cast<std::size_t>(index)];
}

// Where a declaration's name stands, as a range.
nlohmann::json name_range(const Document& doc, const Declaration& d);

// A message's text in UTF-8, as the protocol wants; with its numbers and
// names filled in.
std::string text_of(Msg id);

template <typename... Args> std::string printed(Msg id, Args... args) {
    const char* format = msg_in(id, Encoding::utf8);
    int n = std::snprintf(nullptr, 0, format, args...);
    if (n <= 0) return "";
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), format, args...);
    out.pop_back();
    return out;
}

// An array's bounds as declared: "[2..5]".
std::string bounds(const Declaration& d);

// A routine's parameters as declared: "(x, var y)", or "".
std::string parameter_list(const Document& doc, int routine);

// What kind of name a declaration is, in a word: "変数", "var 引数",
// "手続き" ...
std::string kind_word(const Declaration& d);

// One line saying what a declaration is: "変数 total (レベル 0、セル 3)".
std::string what(const Document& doc, int index);

// The declaration whose name, or a use of whose name, stands at `at`; -1
// when none does.
int declaration_at(const Document& doc, SourcePos at);
