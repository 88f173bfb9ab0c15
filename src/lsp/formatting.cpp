// Formatting (see formatting.hpp).
#include "lsp/formatting.hpp"

#include "format/format.hpp"

using nlohmann::json;

namespace {

json lsp_json(LspPosition p) {
    return json{{"line", p.line}, {"character", p.character}};
}

json text_edit(const Document& doc, std::size_t first, std::size_t last, const std::string& text) {
    return json{{"range",
                 {{"start", lsp_json(lsp_pos(doc.lines, first))},
                  {"end", lsp_json(lsp_pos(doc.lines, last))}}},
                {"newText", text}};
}

// "LINE:COLUMN: message", the message without its line breaks.
std::string refusal(const Formatted& f) {
    std::string message = f.message;
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    return std::to_string(f.where.line) + ":" + std::to_string(f.where.column) + ": " + message;
}

} // namespace

FormatAnswer format_document(const Document& doc) {
    Formatted f = format_source(doc.text, utf8_compile_options());
    if (f.error != ErrorKind::none) return FormatAnswer{json(), refusal(f)};
    json edits = json::array();
    if (f.text != doc.text) edits.push_back(text_edit(doc, 0, doc.text.size(), f.text));
    return FormatAnswer{edits, ""};
}

FormatAnswer format_range(const Document& doc, LspPosition from, LspPosition to) {
    const int first = from_lsp(doc.lines, from).line;
    int last = from_lsp(doc.lines, to).line;
    if (to.character == 0 && to.line > from.line) last = from_lsp(doc.lines, {to.line - 1, 0}).line;
    Formatted f = format_lines(doc.text, first, last, utf8_compile_options());
    if (f.error != ErrorKind::none) return FormatAnswer{json(), refusal(f)};
    json edits = json::array();
    for (const FormatEdit& e : f.edits)
        edits.push_back(text_edit(doc, e.first, e.last, e.text));
    return FormatAnswer{edits, ""};
}
