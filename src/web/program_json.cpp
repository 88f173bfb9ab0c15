#include "program_json.hpp"

#include "json.hpp"

namespace {

const char* kind_name(SymbolKind kind) {
    switch (kind) {
    case SYM_VAR: return "var";
    case SYM_PROC: return "proc";
    case SYM_FUNC: return "func";
    case SYM_ARRAY: return "array";
    case SYM_REF: return "ref";
    }
    return "var";
}

template <typename T, typename Fn> void json_list(std::string& out, const T& items, Fn each) {
    out += '[';
    bool first = true;
    for (const auto& item : items) {
        if (!first) out += ',';
        first = false;
        each(item);
    }
    out += ']';
}

} // namespace

std::string program_json(const ProgramMap& map) {
    std::string out = "{";
    json_key(out, "code");
    json_list(out, map.code, [&](const Instruction& i) {
        out += '[' + std::to_string(i.op) + ',' + std::to_string(i.l) + ',' + std::to_string(i.a) +
               ']';
    });
    out += ',';
    json_key(out, "line");
    json_list(out, map.code_pos, [&](const SourcePos& pos) { json_number(out, pos.line); });
    out += ',';
    json_key(out, "range");
    json_list(out, map.code_range, [&](const SourceRange& r) {
        out += '[' + std::to_string(r.first.line) + ',' + std::to_string(r.first.column) + ',' +
               std::to_string(r.last.line) + ',' + std::to_string(r.last.column) + ']';
    });
    out += ',';
    json_key(out, "statementOf");
    json_list(out, map.statement_of, [&](int s) { json_number(out, s); });
    out += ',';
    json_key(out, "routineOf");
    json_list(out, map.routine_of, [&](int r) { json_number(out, r); });
    out += ',';
    json_key(out, "statements");
    json_list(out, map.statements, [&](const StatementSpan& s) {
        out += '[' + std::to_string(s.begin.line) + ',' + std::to_string(s.begin.column) + ',' +
               std::to_string(s.end.line) + ',' + std::to_string(s.end.column) + ',' +
               std::to_string(s.first) + ',' + std::to_string(s.last) + ']';
    });
    out += ',';
    json_key(out, "names");
    json_list(out, map.declarations, [&](const Declaration& d) {
        out += '[';
        json_string(out, d.name);
        out += ',';
        json_string(out, kind_name(d.kind));
        out += ',';
        json_bool(out, d.parameter);
        for (std::int64_t n :
             {std::int64_t{d.level}, std::int64_t{d.offset}, std::int64_t{d.low},
              std::int64_t{d.high}, std::int64_t{d.parent}, std::int64_t{d.pos.line}}) {
            out += ',';
            json_number(out, n);
        }
        out += ']';
    });
    out += ',';
    json_key(out, "mnemonics");
    json_list(out, mnemonics, [&](const char* m) { json_string(out, m); });
    out += ',';
    json_key(out, "effects");
    json_list(out, opcode_effects, [&](const OpcodeEffect& e) {
        out += '[';
        json_string(out, e.symbols);
        out += ',';
        json_string(out, e.english);
        out += ',';
        json_string(out, e.japanese);
        out += ']';
    });
    out += '}';
    return out;
}
