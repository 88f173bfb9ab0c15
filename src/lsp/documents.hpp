// The open documents and what the compiler found in each.
//
// Every open and change compiles the text at once (the server handles one
// message at a time, and the compiler's tables hold one program); the
// result is kept with the text, the code store copied out of the global
// tables, so that later requests need no compile.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "driver/api.hpp"
#include "lsp/positions.hpp"
#include "vm/code.hpp"

// A word of the document that starts a statement: "if", "while", "read",
// "write", or a name after "begin", ";", "then", "else" or "do".
struct StatementStart {
    SourcePos pos;
    std::size_t length;
};

struct Document {
    std::string text;
    int version = 0;
    Compiled compiled;
    std::vector<Instruction> code; // the code store after the compile
    std::vector<int> owner;        // per instruction, the routine (declaration) it belongs to
    std::vector<StatementStart> statements;
    std::vector<SourcePos> name_pos; // per declaration, where its name stands
    LineIndex lines;
};

// Documents by URI; written by didOpen, didChange and didClose only.
extern std::map<std::string, Document> documents;

// Stores the text under `uri` and compiles it.
Document& update_document(const std::string& uri, std::string text, int version);

// Compiles a document's text into its fields (the compile's options:
// names, positions, warnings, UTF-8 messages, the calling thread's stack).
void analyse(Document& doc);

// Where a declaration's name stands.  The compiler records some names
// (variables, arrays, parameters) at the token after them, so the name is
// looked for from there back.
SourcePos name_position(const LineIndex& lines, const Declaration& d);

// The document's statement starts, in the order written.
std::vector<StatementStart> find_statements(std::string_view text);
