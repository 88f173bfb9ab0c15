// The document store and the compile of each text.
#include "lsp/documents.hpp"

#include <algorithm>
#include <cctype>
#include <utility>

std::map<std::string, Document> documents;

namespace {

bool starts_word(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

bool in_word(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// The owner of each instruction: the innermost routine whose code range
// holds it.  Routines come in the order declared, an enclosing one before
// those inside it, so the last to claim an instruction is the innermost.
std::vector<int> code_owners(const Compiled& c) {
    std::vector<int> owner(static_cast<std::size_t>(c.code_size), -1);
    for (std::size_t d = 0; d < c.declarations.size(); ++d) {
        const Declaration& decl = c.declarations[d];
        if (decl.code_first < 0 || decl.code_last < decl.code_first) continue;
        for (int i = decl.code_first; i <= decl.code_last && i < c.code_size; ++i)
            owner[static_cast<std::size_t>(i)] = static_cast<int>(d);
    }
    return owner;
}

} // namespace

std::vector<StatementStart> find_statements(std::string_view text) {
    std::vector<StatementStart> found;
    std::string_view previous; // the last token, words and single characters
    SourcePos pos{1, 1};
    std::size_t i = 0;
    auto advance = [&](std::size_t n) {
        for (std::size_t k = 0; k < n; ++k, ++i) {
            if (text[i] == '\n')
                pos = SourcePos{pos.line + 1, 1};
            else if (text[i] != '\r')
                ++pos.column;
        }
    };
    while (i < text.size() && text[i] != 0x1A) { // the reader stops at Ctrl-Z
        char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            advance(1);
            continue;
        }
        std::size_t length = 1;
        if (starts_word(c)) {
            while (i + length < text.size() && in_word(text[i + length]))
                ++length;
        }
        std::string_view token = text.substr(i, length);
        bool statement = token == "if" || token == "while" || token == "read" || token == "write";
        if (!statement && starts_word(c) && !is_keyword(token)) {
            statement = previous == "begin" || previous == ";" || previous == "then" ||
                        previous == "else" || previous == "do";
        }
        if (statement) found.push_back(StatementStart{pos, length});
        previous = token;
        advance(length);
    }
    return found;
}

SourcePos name_position(const LineIndex& lines, const Declaration& d) {
    std::string_view text = lines.text;
    std::size_t at = byte_offset(lines, d.pos);
    std::size_t n = d.name.size();
    auto name_at = [&](std::size_t i) {
        return text.compare(i, n, d.name) == 0 && (i == 0 || !in_word(text[i - 1])) &&
               (i + n >= text.size() || !in_word(text[i + n]));
    };
    if (n == 0 || name_at(at)) return d.pos;
    std::size_t from = std::min(at, text.size() - std::min(text.size(), n));
    for (std::size_t i = from + 1; i-- > 0;)
        if (name_at(i)) return source_pos(lines, i);
    return d.pos;
}

void analyse(Document& doc) {
    CompileOptions options;
    options.encoding = Encoding::utf8;
    options.positions = true;
    options.names = true;
    options.warnings = true;
    options.stack_bytes = 0;
    doc.compiled = compile_text(doc.text, options);
    doc.code.assign(code, code + doc.compiled.code_size);
    doc.owner = code_owners(doc.compiled);
    doc.statements = find_statements(doc.text);
    doc.lines = index_lines(doc.text);
    doc.name_pos.clear();
    for (const Declaration& d : doc.compiled.declarations)
        doc.name_pos.push_back(name_position(doc.lines, d));
}

Document& update_document(const std::string& uri, std::string text, int version) {
    Document& doc = documents[uri];
    doc.text = std::move(text);
    doc.version = version;
    analyse(doc);
    return doc;
}
