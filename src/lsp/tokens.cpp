// Semantic tokens, inlay hints and folding ranges (see tokens.hpp).
#include "lsp/tokens.hpp"

#include <algorithm>
#include <cctype>
#include <tuple>

#include "lsp/calls.hpp"
#include "lsp/describe.hpp"
#include "lsp/scopes.hpp"

using nlohmann::json;

namespace {

// Token types and modifiers, as the legend lists them.
enum TokenType { T_VARIABLE, T_ARRAY, T_PARAMETER, T_FUNCTION, T_PROCEDURE, T_NAMESPACE };
constexpr const char* TOKEN_TYPES[] = {"variable", "array",     "parameter",
                                       "function", "procedure", "namespace"};
constexpr int M_DECLARATION = 1;
constexpr int M_BY_REFERENCE = 2;
constexpr int M_STATIC_CHAIN = 4;
constexpr const char* TOKEN_MODIFIERS[] = {"declaration", "byReference", "staticChain"};

constexpr int INLAY_TYPE = 1;

int token_type(const Declaration& d) {
    switch (d.kind) {
    case SYM_VAR: return d.parameter ? T_PARAMETER : T_VARIABLE;
    case SYM_REF: return T_PARAMETER;
    case SYM_ARRAY: return T_ARRAY;
    case SYM_FUNC: return T_FUNCTION;
    case SYM_PROC: return d.parent < 0 ? T_NAMESPACE : T_PROCEDURE;
    }
    return T_VARIABLE;
}

bool is_cell(const Declaration& d) {
    return d.kind == SYM_VAR || d.kind == SYM_REF || d.kind == SYM_ARRAY;
}

bool in_word(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// Whether the use is a whole argument: a "," or ")" follows its name.
bool whole_argument(std::string_view text, std::size_t end) {
    while (end < text.size() && std::isspace(static_cast<unsigned char>(text[end])) != 0)
        ++end;
    return end < text.size() && (text[end] == ',' || text[end] == ')');
}

} // namespace

json semantic_token_legend() {
    return json{{"tokenTypes", TOKEN_TYPES}, {"tokenModifiers", TOKEN_MODIFIERS}};
}

int level_difference(const Document& doc, int d, SourcePos at) {
    const Declaration& decl = declaration(doc, d);
    if (!is_cell(decl)) return 0;
    int level = static_cast<int>(routines_around(doc, at).size()) - 1;
    return std::max(0, level - decl.level);
}

json semantic_tokens(const Document& doc) {
    // (where, length in bytes, declaration, modifiers)
    std::vector<std::tuple<int, int, int, int, int>> found;
    const auto& decls = doc.compiled.declarations;
    for (std::size_t i = 0; i < decls.size(); ++i) {
        SourcePos at = doc.name_pos[i];
        found.emplace_back(at.line, at.column, static_cast<int>(decls[i].name.size()),
                           static_cast<int>(i), M_DECLARATION);
    }
    for (const NameUse& u : doc.compiled.uses) {
        int modifiers = level_difference(doc, u.declaration, u.pos) > 0 ? M_STATIC_CHAIN : 0;
        found.emplace_back(u.pos.line, u.pos.column, u.length, u.declaration, modifiers);
    }
    std::sort(found.begin(), found.end());
    json data = json::array();
    LspPosition last{0, 0};
    for (const auto& [line, column, length, d, extra] : found) {
        const Declaration& decl = declaration(doc, d);
        LspPosition start = to_lsp(doc.lines, SourcePos{line, column});
        LspPosition end = to_lsp(doc.lines, SourcePos{line, column + length});
        if (end.line != start.line || end.character <= start.character) continue;
        int modifiers = extra | (decl.kind == SYM_REF ? M_BY_REFERENCE : 0);
        data.push_back(start.line - last.line);
        data.push_back(start.line == last.line ? start.character - last.character
                                               : start.character);
        data.push_back(end.character - start.character);
        data.push_back(token_type(decl));
        data.push_back(modifiers);
        last = start;
    }
    return json{{"data", data}};
}

json inlay_hints(const Document& doc, LspPosition from, LspPosition to) {
    json list = json::array();
    SourcePos first = from_lsp(doc.lines, from);
    SourcePos last = from_lsp(doc.lines, to);
    for (const NameUse& u : doc.compiled.uses) {
        const Declaration& d = declaration(doc, u.declaration);
        if (!is_cell(d) || before(u.pos, first) || before(last, u.pos)) continue;
        SourcePos end = shifted(u.pos, static_cast<std::size_t>(u.length));
        std::string label =
            printed(MSG_L_ADDRESS, level_difference(doc, u.declaration, u.pos), d.offset);
        std::size_t offset = byte_offset(doc.lines, u.pos);
        CallContext call = call_at(doc, offset);
        if (call.routine >= 0 && whole_argument(doc.text, byte_offset(doc.lines, end))) {
            const auto& kinds = declaration(doc, call.routine).params;
            if (call.argument < static_cast<int>(kinds.size()) &&
                kinds[static_cast<std::size_t>(call.argument)] == SYM_REF)
                label = text_of(MSG_L_ADDRESS_PASSED) + label;
        }
        list.push_back(json{{"position", position_json(to_lsp(doc.lines, end))},
                            {"label", label},
                            {"kind", INLAY_TYPE}});
    }
    return list;
}

json folding_ranges(const Document& doc) {
    json list = json::array();
    auto add = [&](SourcePos from, SourcePos to) {
        int a = to_lsp(doc.lines, from).line;
        int b = to_lsp(doc.lines, to).line;
        if (b > a) list.push_back(json{{"startLine", a}, {"endLine", b}});
    };
    const auto& decls = doc.compiled.declarations;
    for (std::size_t i = 0; i < decls.size(); ++i)
        if (is_routine(decls[i]) && decls[i].code_last >= 0) add(doc.name_pos[i], decls[i].end);
    // begin ... end, by their words (the language has no comments or
    // strings to hide one).
    std::string_view text = doc.text;
    std::vector<std::size_t> open;
    for (std::size_t i = 0; i < text.size();) {
        if (!in_word(text[i])) {
            ++i;
            continue;
        }
        std::size_t n = 0;
        while (i + n < text.size() && in_word(text[i + n]))
            ++n;
        std::string_view word = text.substr(i, n);
        if (word == "begin") {
            open.push_back(i);
        } else if (word == "end" && !open.empty()) {
            add(source_pos(doc.lines, open.back()), source_pos(doc.lines, i));
            open.pop_back();
        }
        i += n;
    }
    return list;
}
