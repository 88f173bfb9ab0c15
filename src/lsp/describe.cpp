// Places and words for the server's answers (see describe.hpp).
#include "lsp/describe.hpp"

using nlohmann::json;

bool before(SourcePos a, SourcePos b) {
    return a.line < b.line || (a.line == b.line && a.column < b.column);
}

SourcePos shifted(SourcePos p, std::size_t bytes) {
    return SourcePos{p.line, p.column + static_cast<int>(bytes)};
}

json position_json(LspPosition p) {
    return json{{"line", p.line}, {"character", p.character}};
}

json range_json(const Document& doc, SourcePos from, SourcePos to) {
    return json{{"start", position_json(to_lsp(doc.lines, from))},
                {"end", position_json(to_lsp(doc.lines, to))}};
}

bool is_routine(const Declaration& d) {
    return d.kind == SYM_PROC || d.kind == SYM_FUNC;
}

json name_range(const Document& doc, const Declaration& d) {
    SourcePos at = doc.name_pos[static_cast<std::size_t>(index_of(doc, d))];
    return range_json(doc, at, shifted(at, d.name.size()));
}

std::string text_of(Msg id) {
    return msg_in(id, Encoding::utf8);
}

// Built by appending: a short literal put before a temporary string trips
// g++ 12's -Wrestrict when optimising (a false alarm of its own).
std::string bounds(const Declaration& d) {
    std::string text = "[";
    text += std::to_string(d.low);
    text += "..";
    text += std::to_string(d.high);
    text += "]";
    return text;
}

std::string parameter_list(const Document& doc, int routine) {
    std::string out;
    const auto& decls = doc.compiled.declarations;
    for (std::size_t i = 0; i < decls.size(); ++i) {
        if (decls[i].parent != routine || !decls[i].parameter) continue;
        out += out.empty() ? "(" : ", ";
        if (decls[i].kind == SYM_REF) out += "var ";
        out += decls[i].name;
    }
    return out.empty() ? out : out + ")";
}

std::string kind_word(const Declaration& d) {
    switch (d.kind) {
    case SYM_VAR: return text_of(d.parameter ? MSG_L_VALUE_PARAMETER : MSG_L_VARIABLE);
    case SYM_REF: return text_of(MSG_L_VAR_PARAMETER);
    case SYM_ARRAY: return text_of(MSG_L_ARRAY);
    case SYM_PROC: return text_of(d.parent < 0 ? MSG_L_PROGRAM : MSG_W_PROCEDURE);
    case SYM_FUNC: return text_of(MSG_W_FUNCTION);
    }
    return "";
}

std::string what(const Document& doc, int index) {
    const Declaration& d = declaration(doc, index);
    std::string text = kind_word(d);
    text += " ";
    text += d.name;
    switch (d.kind) {
    case SYM_ARRAY:
        text += bounds(d);
        text += printed(MSG_L_CELL, d.level, static_cast<int>(d.offset));
        break;
    case SYM_VAR:
    case SYM_REF: text += printed(MSG_L_CELL, d.level, static_cast<int>(d.offset)); break;
    case SYM_PROC:
    case SYM_FUNC: text += parameter_list(doc, index); break;
    }
    return text;
}

int declaration_at(const Document& doc, SourcePos at) {
    auto covers = [&](SourcePos start, std::size_t length) {
        return start.line == at.line && start.column <= at.column &&
               at.column <= start.column + static_cast<int>(length);
    };
    for (const NameUse& u : doc.compiled.uses)
        if (covers(u.pos, static_cast<std::size_t>(u.length))) return u.declaration;
    const auto& decls = doc.compiled.declarations;
    for (std::size_t i = 0; i < decls.size(); ++i)
        if (covers(doc.name_pos[i], decls[i].name.size())) return static_cast<int>(i);
    return -1;
}
