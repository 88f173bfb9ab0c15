// Calls around a place and signature help (see calls.hpp).
#include "lsp/calls.hpp"

#include <cctype>

#include "lsp/describe.hpp"
#include "lsp/scopes.hpp"

using nlohmann::json;

namespace {

bool in_word(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// The declaration the name ending just before byte `end` means.
int routine_before(const Document& doc, std::size_t end) {
    std::string_view text = doc.text;
    while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1])) != 0)
        --end;
    std::size_t start = end;
    while (start > 0 && in_word(text[start - 1]))
        --start;
    if (start == end) return -1;
    SourcePos at = source_pos(doc.lines, start);
    int d = -1;
    for (const NameUse& u : doc.compiled.uses)
        if (u.pos.line == at.line && u.pos.column == at.column) d = u.declaration;
    // A call the compile did not reach: the name as the scopes have it.
    if (d < 0) d = resolve(doc, text.substr(start, end - start), at);
    return d >= 0 && is_routine(declaration(doc, d)) ? d : -1;
}

// A routine's parameters, in order.
std::vector<int> parameters(const Document& doc, int routine) {
    std::vector<int> found;
    const auto& decls = doc.compiled.declarations;
    for (std::size_t i = 0; i < decls.size(); ++i)
        if (decls[i].parent == routine && decls[i].parameter) found.push_back(static_cast<int>(i));
    return found;
}

} // namespace

CallContext call_at(const Document& doc, std::size_t offset) {
    std::string_view text = doc.text;
    int depth = 0;
    int commas = 0;
    for (std::size_t i = std::min(offset, text.size()); i > 0; --i) {
        char c = text[i - 1];
        if (c == ')' || c == ']') {
            ++depth;
        } else if (c == '[') {
            if (depth > 0) --depth; // at 0: an index inside the argument
        } else if (c == '(') {
            if (depth > 0) {
                --depth;
                continue;
            }
            return CallContext{routine_before(doc, i - 1), commas};
        } else if (c == ',' && depth == 0) {
            ++commas;
        } else if (c == ';' || c == '.') {
            if (c == '.' && i >= 2 && text[i - 2] == '.') continue; // ".." of bounds
            return {};
        }
    }
    return {};
}

json signature_help(const Document& doc, LspPosition at) {
    CallContext call = call_at(doc, lsp_offset(doc.lines, at));
    if (call.routine < 0) return nullptr;
    // The label is ASCII (names and punctuation), so its bytes are its
    // UTF-16 units: each parameter is given as [start, end) in it.
    const Declaration& r = declaration(doc, call.routine);
    std::string label = r.name + "(";
    json params = json::array();
    for (int p : parameters(doc, call.routine)) {
        const Declaration& d = declaration(doc, p);
        if (!params.empty()) label += ", ";
        std::size_t start = label.size();
        if (d.kind == SYM_REF) label += "var ";
        label += d.name;
        params.push_back(json{
            {"label", json::array({start, label.size()})},
            {"documentation", text_of(d.kind == SYM_REF ? MSG_L_PASS_ADDRESS : MSG_L_PASS_VALUE)}});
    }
    label += ")";
    json signature{{"label", label}, {"documentation", kind_word(r)}, {"parameters", params}};
    int active = params.empty() ? 0 : std::min(call.argument, static_cast<int>(params.size()) - 1);
    return json{{"signatures", json::array({signature})},
                {"activeSignature", 0},
                {"activeParameter", active}};
}
