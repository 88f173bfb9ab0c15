// Quick fixes for the hints that have one (see fixes.hpp).
#include "lsp/fixes.hpp"

#include <cctype>
#include <string_view>

#include "driver/hints.hpp"
#include "lsp/describe.hpp"
#include "lsp/scopes.hpp"

using nlohmann::json;

namespace {

// The hint, told apart by its message's text before its "%s" (the hint is
// built from that text); `argument` gets what stands for the "%s".
bool hint_is(const std::string& hint, Msg id, std::string* argument = nullptr) {
    std::string_view format = msg_in(id, Encoding::utf8);
    while (!format.empty() && format.back() == '\n')
        format.remove_suffix(1);
    std::size_t mark = format.find("%s");
    std::string_view head = format.substr(0, mark);
    if (hint.compare(0, head.size(), head) != 0) return false;
    if (mark == std::string_view::npos) return hint.size() == head.size();
    std::string_view tail = format.substr(mark + 2);
    if (hint.size() < head.size() + tail.size() ||
        hint.compare(hint.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    if (argument != nullptr)
        *argument = hint.substr(head.size(), hint.size() - head.size() - tail.size());
    return true;
}

// The place just after the last character that is no blank, before byte
// `offset`: the end of the line before, where a ";" belongs.
SourcePos end_before(const Document& doc, std::size_t offset) {
    std::string_view text = doc.text;
    while (offset > 0 && std::isspace(static_cast<unsigned char>(text[offset - 1])) != 0)
        --offset;
    return source_pos(doc.lines, offset);
}

json edit(const Document& doc, SourcePos from, SourcePos to, const std::string& text) {
    return json{{"range", range_json(doc, from, to)}, {"newText", text}};
}

// Declares `name` in the routine that holds `where`: after its last
// variable (before the ";" that ends the list), or in a "var" of its own
// after its heading.
json declare(const Document& doc, const std::string& name, SourcePos where) {
    std::vector<int> around = routines_around(doc, where);
    if (around.empty()) return nullptr;
    int routine = around.front();
    std::string_view text = doc.text;
    int last = -1;
    const auto& decls = doc.compiled.declarations;
    for (std::size_t i = 0; i < decls.size(); ++i)
        if (decls[i].parent == routine && !decls[i].parameter &&
            (decls[i].kind == SYM_VAR || decls[i].kind == SYM_ARRAY))
            last = static_cast<int>(i);
    std::size_t from =
        byte_offset(doc.lines, doc.name_pos[static_cast<std::size_t>(last >= 0 ? last : routine)]);
    std::size_t semi = text.find(';', from);
    if (semi == std::string_view::npos) return nullptr;
    SourcePos at = source_pos(doc.lines, last >= 0 ? semi : semi + 1);
    return edit(doc, at, at, last >= 0 ? ", " + name : "\nvar " + name + ";");
}

} // namespace

json code_actions(const Document& doc, const std::string& uri, LspPosition from, LspPosition to) {
    json list = json::array();
    const Compiled& c = doc.compiled;
    if (c.error == ErrorKind::none) return list;
    int line = to_lsp(doc.lines, c.where).line;
    if (line < from.line || line > to.line) return list;
    std::string hint = hint_for(doc.text, c.error, c.error_text, c.where, Encoding::utf8);
    while (!hint.empty() && hint.back() == '\n')
        hint.pop_back();
    if (hint.empty()) return list;
    std::size_t at = byte_offset(doc.lines, c.where);
    std::string argument;
    json change = nullptr;
    if (hint_is(hint, MSG_HINT_MISSING_SEMI) || hint_is(hint, MSG_HINT_DECLARATION_SEMI)) {
        SourcePos end = end_before(doc, at);
        change = edit(doc, end, end, ";");
    } else if (hint_is(hint, MSG_HINT_ASSIGN)) {
        change = edit(doc, c.where, shifted(c.where, 1), ":=");
    } else if (hint_is(hint, MSG_HINT_FULL_WIDTH, &argument) ||
               hint_is(hint, MSG_HINT_FULL_WIDTH_SPACE)) {
        // The character itself; after a ":" that it was to follow, the next.
        if (at < doc.text.size() && doc.text[at] == ':') ++at;
        if (at >= doc.text.size()) return list;
        int units = 0;
        std::size_t length = utf8_step(std::string_view(doc.text).substr(at), &units);
        SourcePos start = source_pos(doc.lines, at);
        change = edit(doc, start, shifted(start, length), argument.empty() ? " " : argument);
    } else if (hint_is(hint, MSG_HINT_UNDECLARED, &argument)) {
        change = declare(doc, argument, c.where);
    }
    if (change.is_null()) return list;
    // The title: the hint without its "ヒント: ".
    std::size_t colon = hint.find(": ");
    std::string title = colon == std::string::npos ? hint : hint.substr(colon + 2);
    list.push_back(json{{"title", title},
                        {"kind", "quickfix"},
                        {"isPreferred", true},
                        {"edit", {{"changes", {{uri, json::array({change})}}}}}});
    return list;
}
