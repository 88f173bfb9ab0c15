// Calls in a document's text: which call's parentheses hold a place and
// which argument it is in, for signature help and the hints after a var
// argument.
#pragma once

#include <cstddef>
#include <string_view>

#include <nlohmann/json.hpp>

#include "lsp/documents.hpp"

// The call whose open parentheses hold byte `offset`: the routine called
// (-1 when there is none, or the name before "(" is no routine) and the
// argument (from 0) that the offset is in.
struct CallContext {
    int routine = -1;
    int argument = 0;
};

// Looks back from `offset` to the unclosed "(" of the call, over nested
// parentheses and brackets, no further than the statement's start.
CallContext call_at(const Document& doc, std::size_t offset);

// SignatureHelp for the call at `at`, or null outside a call: the routine
// with its parameters, the one the cursor is in active, each saying whether
// it takes a value or a variable's address.
nlohmann::json signature_help(const Document& doc, LspPosition at);
