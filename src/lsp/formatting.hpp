// Formatting a document, or the lines of a range of it, through the
// library's formatter (format/format.hpp).
//
// The answer is TextEdit[]: for a whole document one edit that replaces
// all of it, for a range one edit from the end of the word before the
// range's first word to the end of its last; none when the text is laid
// out already.  A document that does not compile is refused with the
// compile's message and its place.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "lsp/documents.hpp"

struct FormatAnswer {
    nlohmann::json edits;
    std::string refusal; // not empty: the request fails with this text
};

FormatAnswer format_document(const Document& doc);

// The words that begin on the lines from `from`'s to `to`'s (a range that
// ends at the start of a line leaves that line out).
FormatAnswer format_range(const Document& doc, LspPosition from, LspPosition to);
