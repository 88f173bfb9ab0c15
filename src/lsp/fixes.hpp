// Quick fixes: code actions for the compile errors whose hint
// (driver/hints.hpp) has exactly one fix.
//
//   - a ";" missing at the end of the line before (a statement, or a
//     declaration): insert it there;
//   - "=" where ":=" is meant: replace it;
//   - a full-width character that looks like one of the language's own:
//     its half-width form (a blank for the ideographic space);
//   - a name not declared: declare it as a variable of the routine the
//     error is in, beside that routine's variables or in a new "var".
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "lsp/documents.hpp"

// CodeAction[] for the document's error, when the lines from `from` to `to`
// hold it; each titled with its hint, and with the edit that makes it.
nlohmann::json code_actions(const Document& doc, const std::string& uri, LspPosition from,
                            LspPosition to);
