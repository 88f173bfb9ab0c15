// The answers about names that follow the scope rules (lsp/scopes.hpp):
// completion, references, document highlights and rename, as protocol
// JSON.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "lsp/documents.hpp"

// CompletionItem[]: the names visible where the word at `at` begins, those
// of enclosing routines marked as such; at a statement's start also the
// words that begin a statement, and elsewhere no procedures.
nlohmann::json completion(const Document& doc, LspPosition at);

// Location[]: the declaration of the name at `at` (with
// `include_declaration`) and every use the compiler resolved to it, in the
// order written; [] away from a name.
nlohmann::json references(const Document& doc, const std::string& uri, LspPosition at,
                          bool include_declaration);

// DocumentHighlight[]: the same places in the document.
nlohmann::json document_highlights(const Document& doc, LspPosition at);

// {range, placeholder} of the name at `at`, or null away from a name.
nlohmann::json prepare_rename(const Document& doc, LspPosition at);

// A rename's WorkspaceEdit, or the reason it is refused (in Japanese, for
// the reader): a new name that is no name or a keyword, one declared
// already beside the old, or one that would make a use mean another
// declaration (hiding it or hidden by it).
struct RenameAnswer {
    nlohmann::json edit;
    std::string refusal; // empty: `edit` holds the answer
};
RenameAnswer rename(const Document& doc, const std::string& uri, LspPosition at,
                    const std::string& new_name);
