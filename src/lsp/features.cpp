// The answers to the protocol's document requests (see features.hpp).
#include "lsp/features.hpp"

#include <cstdio>

#include "diag/diag.hpp"
#include "driver/hints.hpp"
#include "lsp/describe.hpp"

using nlohmann::json;

namespace {

// Protocol values.
constexpr int SEVERITY_ERROR = 1;
constexpr int SEVERITY_WARNING = 2;
constexpr int SYMBOL_MODULE = 2;
constexpr int SYMBOL_FUNCTION = 12;
constexpr int SYMBOL_VARIABLE = 13;
constexpr int SYMBOL_ARRAY = 18;

// The whole of a declaration: a routine to past its closing ";" or ".";
// one that an error left unfinished, to the end of the text (an editor
// wants the whole to hold the name).
json full_range(const Document& doc, const Declaration& d) {
    if (is_routine(d) && d.code_first >= 0)
        return range_json(
            doc, doc.name_pos[static_cast<std::size_t>(&d - doc.compiled.declarations.data())],
            d.code_last < 0 ? SOURCE_END : shifted(d.end, 1));
    return name_range(doc, d);
}

// The innermost routine whose text holds `at`, or -1.
int routine_at(const Document& doc, SourcePos at) {
    int found = -1;
    const auto& decls = doc.compiled.declarations;
    for (std::size_t i = 0; i < decls.size(); ++i) {
        const Declaration& d = decls[i];
        if (is_routine(d) && d.code_first >= 0 && !before(at, d.pos) && !before(d.end, at))
            found = static_cast<int>(i);
    }
    return found;
}

json symbol(const Document& doc, int index) {
    const Declaration& d = doc.compiled.declarations[static_cast<std::size_t>(index)];
    json s{{"name", d.name}, {"range", full_range(doc, d)}, {"selectionRange", name_range(doc, d)}};
    switch (d.kind) {
    case SYM_VAR:
    case SYM_REF:
        s["kind"] = SYMBOL_VARIABLE;
        s["detail"] = kind_word(d);
        break;
    case SYM_ARRAY:
        s["kind"] = SYMBOL_ARRAY;
        s["detail"] = bounds(d);
        break;
    case SYM_PROC:
    case SYM_FUNC:
        s["kind"] = d.parent < 0 ? SYMBOL_MODULE : SYMBOL_FUNCTION;
        s["detail"] = kind_word(d) + parameter_list(doc, index);
        json children = json::array();
        const auto& decls = doc.compiled.declarations;
        for (std::size_t i = 0; i < decls.size(); ++i)
            if (decls[i].parent == index) children.push_back(symbol(doc, static_cast<int>(i)));
        s["children"] = std::move(children);
        break;
    }
    return s;
}

// The token at `where`, as a range.
json token_range(const Document& doc, SourcePos where) {
    std::size_t offset = byte_offset(doc.lines, where);
    std::size_t length = token_length(doc.text, offset);
    // The token's end, counted as the compiler counts (no carriage returns).
    std::size_t counted = 0;
    for (std::size_t i = offset; i < offset + length; ++i)
        if (doc.text[i] != '\r') ++counted;
    return range_json(doc, where, shifted(where, counted));
}

} // namespace

std::string listing(const Document& doc, int routine, SourcePos from, SourcePos to) {
    std::string out;
    const char* format = msg_in(MSG_LIST_LINE, Encoding::utf8);
    const auto& pos = doc.compiled.code_pos;
    for (std::size_t i = 0; i < doc.code.size() && i < pos.size(); ++i) {
        if (doc.owner[i] != routine || before(pos[i], from) || !before(pos[i], to)) continue;
        const Instruction& in = doc.code[i];
        char line[96];
        std::snprintf(line, sizeof line, format, static_cast<int>(i), mnemonic(in.op), in.l, in.a);
        out += line;
    }
    return out;
}

json diagnostics(const Document& doc) {
    json list = json::array();
    const Compiled& c = doc.compiled;
    if (c.error == ErrorKind::none) {
        for (const Warning& w : c.warnings)
            list.push_back(json{{"range", token_range(doc, w.where)},
                                {"severity", SEVERITY_WARNING},
                                {"source", "tsumiki"},
                                {"message", w.message}});
        return list;
    }
    auto trimmed = [](std::string text) {
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        return text;
    };
    // The message, and on a line of its own the hint, as check shows it.
    std::string text = trimmed(c.message);
    std::string hint = trimmed(hint_for(doc.text, c.error, c.error_text, c.where, Encoding::utf8));
    if (!hint.empty()) {
        text += "\n";
        text += hint;
    }
    list.push_back(json{{"range", token_range(doc, c.where)},
                        {"severity", SEVERITY_ERROR},
                        {"source", "tsumiki"},
                        {"message", text}});
    return list;
}

json document_symbols(const Document& doc) {
    json list = json::array();
    const auto& decls = doc.compiled.declarations;
    for (std::size_t i = 0; i < decls.size(); ++i)
        if (decls[i].parent < 0) list.push_back(symbol(doc, static_cast<int>(i)));
    return list;
}

json definition(const Document& doc, const std::string& uri, LspPosition at) {
    int d = declaration_at(doc, from_lsp(doc.lines, at));
    if (d < 0) return nullptr;
    return json{{"uri", uri},
                {"range", name_range(doc, doc.compiled.declarations[static_cast<std::size_t>(d)])}};
}

json hover(const Document& doc, LspPosition at) {
    SourcePos where = from_lsp(doc.lines, at);
    std::string text;
    int d = declaration_at(doc, where);
    if (d >= 0) {
        const Declaration& decl = doc.compiled.declarations[static_cast<std::size_t>(d)];
        int line = doc.name_pos[static_cast<std::size_t>(d)].line;
        text = "`" + what(doc, d) + "`  \n";
        if (decl.parent >= 0) {
            const Declaration& in =
                doc.compiled.declarations[static_cast<std::size_t>(decl.parent)];
            text += printed(MSG_L_DECLARED_IN, line, kind_word(in).c_str(), in.name.c_str());
        } else {
            text += printed(MSG_L_DECLARED, line);
        }
    }
    // A statement's first word: its instructions, up to the next statement.
    const auto& starts = doc.statements;
    for (std::size_t i = 0; i < starts.size() && doc.compiled.error == ErrorKind::none; ++i) {
        SourcePos s = starts[i].pos;
        if (s.line != where.line || where.column < s.column ||
            where.column > s.column + static_cast<int>(starts[i].length))
            continue;
        // Up to the next statement or the routine's closing "end".
        int routine = routine_at(doc, s);
        SourcePos next = i + 1 < starts.size() ? starts[i + 1].pos : SOURCE_END;
        if (routine >= 0) {
            SourcePos end = doc.compiled.declarations[static_cast<std::size_t>(routine)].end;
            if (before(end, next)) next = end;
        }
        std::string code = listing(doc, routine, s, next);
        if (!code.empty()) text += (text.empty() ? "" : "\n\n") + ("```\n" + code + "```");
        break;
    }
    if (text.empty()) return nullptr;
    return json{{"contents", {{"kind", "markdown"}, {"value", text}}}};
}

json code_lenses(const Document& doc) {
    json list = json::array();
    if (doc.compiled.error != ErrorKind::none) return list;
    const auto& decls = doc.compiled.declarations;
    for (std::size_t i = 0; i < decls.size(); ++i) {
        const Declaration& d = decls[i];
        if (!is_routine(d) || d.code_first < 0) continue;
        std::string code = listing(doc, static_cast<int>(i), SourcePos{0, 0}, SOURCE_END);
        std::size_t count = 0;
        for (char c : code)
            count += c == '\n';
        std::string title =
            printed(MSG_L_INSTRUCTIONS, static_cast<int>(count), d.code_first, d.code_last);
        list.push_back(json{{"range", name_range(doc, d)},
                            {"command",
                             {{"title", title},
                              {"command", "tsumiki.showInstructions"},
                              {"arguments", json::array({d.name, code})}}}});
    }
    return list;
}
