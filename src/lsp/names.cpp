// Completion, references, highlights and rename (see names.hpp).
#include "lsp/names.hpp"

#include <cctype>
#include <string_view>

#include "lexer/lexer.hpp"
#include "lsp/describe.hpp"
#include "lsp/scopes.hpp"

using nlohmann::json;

namespace {

// Protocol values.
constexpr int COMPLETION_FUNCTION = 3;
constexpr int COMPLETION_VARIABLE = 6;
constexpr int COMPLETION_KEYWORD = 14;
constexpr int HIGHLIGHT_TEXT = 1;

bool in_word(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// The words that may begin a statement.
constexpr std::string_view STATEMENT_WORDS[] = {"begin", "if", "while", "read", "write"};

// Whether a statement may begin at byte `start`: the token before it is
// "begin", "then", "else", "do" or ";".
bool statement_starts(std::string_view text, std::size_t start) {
    std::size_t k = start;
    while (k > 0 && std::isspace(static_cast<unsigned char>(text[k - 1])) != 0)
        --k;
    if (k == 0) return false;
    if (text[k - 1] == ';') return true;
    std::size_t from = k;
    while (from > 0 && in_word(text[from - 1]))
        --from;
    std::string_view word = text.substr(from, k - from);
    return word == "begin" || word == "then" || word == "else" || word == "do";
}

json location(const std::string& uri, json range) {
    return json{{"uri", uri}, {"range", std::move(range)}};
}

json use_range(const Document& doc, const NameUse& u) {
    return range_json(doc, u.pos, shifted(u.pos, static_cast<std::size_t>(u.length)));
}

// The declaration's name and every use of it, in the order written.
std::vector<json> places(const Document& doc, int d, bool include_declaration) {
    std::vector<json> found;
    if (include_declaration) found.push_back(name_range(doc, declaration(doc, d)));
    for (const NameUse& u : doc.compiled.uses)
        if (u.declaration == d) found.push_back(use_range(doc, u));
    return found;
}

bool is_name(std::string_view word) {
    if (word.empty() || word.size() > static_cast<std::size_t>(MAX_NAME_LENGTH)) return false;
    if (std::isalpha(static_cast<unsigned char>(word[0])) == 0) return false;
    for (char c : word)
        if (std::isalnum(static_cast<unsigned char>(c)) == 0 ||
            static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

int line_of(const Document& doc, int d) {
    return doc.name_pos[static_cast<std::size_t>(d)].line;
}

// Why renaming `d` to `name` would change what a use means, or "".
std::string changed_meaning(const Document& doc, int d, const std::string& name) {
    const Declaration& decl = declaration(doc, d);
    // A use of `d` that a declaration of `name` in an inner scope would
    // take.
    for (const NameUse& u : doc.compiled.uses) {
        if (u.declaration != d) continue;
        int e = resolve(doc, name, u.pos);
        if (e >= 0 && e != d && scope_depth(doc, e) > scope_depth(doc, d))
            return printed(MSG_L_RENAME_HIDDEN, name.c_str(), u.pos.line, decl.name.c_str(),
                           kind_word(declaration(doc, e)).c_str(), name.c_str(), line_of(doc, e));
    }
    // A use of another `name` that `d`, declared further in, would take.
    for (const NameUse& u : doc.compiled.uses) {
        if (u.declaration == d || declaration(doc, u.declaration).name != name) continue;
        if (in_scope(doc, d, u.pos) && scope_depth(doc, d) > scope_depth(doc, u.declaration))
            return printed(MSG_L_RENAME_HIDDEN, name.c_str(), u.pos.line, name.c_str(),
                           kind_word(decl).c_str(), name.c_str(), line_of(doc, d));
    }
    return "";
}

} // namespace

json completion(const Document& doc, LspPosition at) {
    std::string_view text = doc.text;
    std::size_t start = std::min(lsp_offset(doc.lines, at), text.size());
    while (start > 0 && in_word(text[start - 1]))
        --start;
    SourcePos where = source_pos(doc.lines, start);
    bool statement = statement_starts(text, start);
    std::vector<int> around = routines_around(doc, where);
    int here = around.empty() ? -1 : around.front();

    json items = json::array();
    int rank = 0;
    for (int d : visible_at(doc, where)) {
        const Declaration& decl = declaration(doc, d);
        if (decl.kind == SYM_PROC && !statement) continue; // no value
        std::string detail = what(doc, d);
        if (decl.parent != here) {
            const Declaration& holder = declaration(doc, decl.parent);
            detail += " ";
            detail += printed(MSG_L_OUTSIDE, kind_word(holder).c_str(), holder.name.c_str());
        }
        char order[16];
        std::snprintf(order, sizeof order, "%05d", rank++);
        items.push_back(json{{"label", decl.name},
                             {"kind", is_routine(decl) ? COMPLETION_FUNCTION : COMPLETION_VARIABLE},
                             {"detail", detail},
                             {"sortText", order}});
    }
    if (statement)
        for (std::string_view w : STATEMENT_WORDS)
            items.push_back(json{
                {"label", w}, {"kind", COMPLETION_KEYWORD}, {"sortText", "9" + std::string(w)}});
    return items;
}

json references(const Document& doc, const std::string& uri, LspPosition at,
                bool include_declaration) {
    json list = json::array();
    int d = declaration_at(doc, from_lsp(doc.lines, at));
    if (d < 0) return list;
    for (json& range : places(doc, d, include_declaration))
        list.push_back(location(uri, std::move(range)));
    return list;
}

json document_highlights(const Document& doc, LspPosition at) {
    json list = json::array();
    int d = declaration_at(doc, from_lsp(doc.lines, at));
    if (d < 0) return list;
    for (json& range : places(doc, d, true))
        list.push_back(json{{"range", std::move(range)}, {"kind", HIGHLIGHT_TEXT}});
    return list;
}

json prepare_rename(const Document& doc, LspPosition at) {
    int d = declaration_at(doc, from_lsp(doc.lines, at));
    if (d < 0 || doc.compiled.error != ErrorKind::none) return nullptr;
    SourcePos where = from_lsp(doc.lines, at);
    // The range of the name under the cursor: the use, or the declaration.
    for (const NameUse& u : doc.compiled.uses)
        if (u.declaration == d && u.pos.line == where.line && u.pos.column <= where.column &&
            where.column <= u.pos.column + u.length)
            return json{{"range", use_range(doc, u)}, {"placeholder", declaration(doc, d).name}};
    return json{{"range", name_range(doc, declaration(doc, d))},
                {"placeholder", declaration(doc, d).name}};
}

RenameAnswer rename(const Document& doc, const std::string& uri, LspPosition at,
                    const std::string& new_name) {
    int d = declaration_at(doc, from_lsp(doc.lines, at));
    if (d < 0) return {nullptr, text_of(MSG_L_RENAME_NO_NAME)};
    // Uses past an error are not known: a rename would miss them.
    if (doc.compiled.error != ErrorKind::none) return {nullptr, text_of(MSG_L_RENAME_ERROR)};
    if (is_keyword(new_name)) return {nullptr, printed(MSG_L_RENAME_KEYWORD, new_name.c_str())};
    if (!is_name(new_name)) return {nullptr, printed(MSG_L_RENAME_NOT_NAME, new_name.c_str())};
    const Declaration& decl = declaration(doc, d);
    const auto& decls = doc.compiled.declarations;
    for (std::size_t e = 0; e < decls.size(); ++e)
        if (static_cast<int>(e) != d && decls[e].parent == decl.parent && decls[e].name == new_name)
            return {nullptr,
                    printed(MSG_L_RENAME_CLASH, new_name.c_str(), kind_word(decls[e]).c_str(),
                            new_name.c_str(), line_of(doc, static_cast<int>(e)))};
    std::string changed = changed_meaning(doc, d, new_name);
    if (!changed.empty()) return {nullptr, changed};
    json edits = json::array();
    for (json& range : places(doc, d, true))
        edits.push_back(json{{"range", std::move(range)}, {"newText", new_name}});
    return {json{{"changes", {{uri, std::move(edits)}}}}, ""};
}
