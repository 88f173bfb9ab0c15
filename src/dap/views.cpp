// The bodies of stackTrace, scopes, variables, evaluate and disassemble
// (views.hpp).
#include "dap/views.hpp"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

// "[i]": an element's or a cell's index, as a name.  Built by appending:
// g++ 12 at -O3 takes a literal put before a temporary string for an
// overlapping copy (-Wrestrict).
std::string bracketed(long long i) {
    std::string text = "[";
    text += std::to_string(i);
    text += ']';
    return text;
}

// A whole-number field of the arguments, or `fallback` when it is missing
// or of another type.
long long int_field(const json& arguments, const char* key, long long fallback) {
    if (!arguments.is_object()) return fallback;
    auto it = arguments.find(key);
    return it != arguments.end() && it->is_number_integer() ? it->get<long long>() : fallback;
}

// At most this many children in one answer when the client asks for all.
constexpr long long CHILDREN_MAX = 10000;

std::string base_name(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string message_text(Msg id, const std::string& argument) {
    std::string text = format_message(msg_in(id, Encoding::utf8), argument.c_str());
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

std::string Views::instruction_text(const Instruction& in) {
    return std::string(mnemonic(in.op)) + "(" + std::to_string(in.l) + "," + std::to_string(in.a) +
           ")";
}

void Views::set_origin(bool lines_from_1, bool columns_from_1, std::string path) {
    lines_from_1_ = lines_from_1;
    columns_from_1_ = columns_from_1;
    path_ = std::move(path);
}

json Views::source() const {
    return json{{"name", base_name(path_)}, {"path", path_}};
}

long long Views::add(Ref ref) {
    refs_.push_back(std::move(ref));
    return static_cast<long long>(refs_.size());
}

std::string Views::routine_name(int routine) const {
    const auto& decls = session_.program().declarations;
    if (routine < 0 || routine >= static_cast<int>(decls.size())) return "?";
    return decls[static_cast<std::size_t>(routine)].name;
}

void Views::put_place(json& object, const Place& place) const {
    const int from = columns_from_1_ ? 0 : 1;
    const SourceRange& range = place.range;
    if (range.first.line <= 0) {
        object["line"] = line_out(place.pos.line);
        object["column"] = place.pos.column - from;
        return;
    }
    // The range's end is just past its last character, as the protocol's
    // end column is.
    object["line"] = line_out(range.first.line);
    object["column"] = range.first.column - from;
    object["endLine"] = line_out(range.last.line);
    object["endColumn"] = range.last.column - from;
}

json Views::stack_trace(const json& arguments) const {
    std::vector<Frame> frames = session_.frames();
    long long total = static_cast<long long>(frames.size());
    long long start = std::clamp(int_field(arguments, "startFrame", 0), 0LL, total);
    long long levels = int_field(arguments, "levels", 0);
    long long end = levels > 0 && levels < total - start ? start + levels : total;
    json list = json::array();
    for (long long i = start; i < end; ++i) {
        const Frame& f = frames[static_cast<std::size_t>(i)];
        json frame{{"id", i},
                   {"name", routine_name(f.routine)},
                   {"line", 0},
                   {"column", 0},
                   {"instructionPointerReference", std::to_string(f.pc)}};
        if (f.place.pos.line > 0) {
            put_place(frame, f.place);
            frame["source"] = source();
        }
        list.push_back(std::move(frame));
    }
    return json{{"stackFrames", std::move(list)}, {"totalFrames", total}};
}

json Views::scopes(int frame) {
    json list = json::array();
    std::vector<Scope> scopes = session_.scopes(frame);
    for (std::size_t i = 0; i < scopes.size(); ++i) {
        const Scope& shown = scopes[i];
        std::string name =
            shown.enclosing ? routine_name(shown.routine) + " (enclosing)" : "Locals";
        json scope{{"name", name},
                   {"variablesReference", add(Ref{RefKind::scope, frame, static_cast<int>(i)})},
                   {"namedVariables", shown.names.size()},
                   {"expensive", false}};
        if (!shown.enclosing) scope["presentationHint"] = "locals";
        list.push_back(std::move(scope));
    }
    list.push_back(json{{"name", "Machine"},
                        {"presentationHint", "registers"},
                        {"variablesReference", add(Ref{RefKind::machine, frame, 0})},
                        {"namedVariables", 4},
                        {"expensive", false}});
    return json{{"scopes", std::move(list)}};
}

// What a cell is, in words: "total (nested)", "a[3] (sort)", "dynamic link
// of frame 1 (count)", "temporary".
std::string Views::cell_text(std::int32_t cell, const std::vector<Frame>& frames) const {
    CellLabel l = label_cell(session_.program(), frames, cell);
    auto frame_name = [&](int frame) {
        int routine = frame >= 0 && frame < static_cast<int>(frames.size())
                          ? frames[static_cast<std::size_t>(frame)].routine
                          : -1;
        return "frame " + std::to_string(frame) + " (" + routine_name(routine) + ")";
    };
    switch (l.role) {
    case CellRole::static_link: return "static link of " + frame_name(l.frame);
    case CellRole::dynamic_link: return "dynamic link of " + frame_name(l.frame);
    case CellRole::return_address: return "return address of " + frame_name(l.frame);
    case CellRole::result:
        return "result of " + routine_name(l.declaration) + " in " + frame_name(l.frame);
    case CellRole::variable: return routine_name(l.declaration) + " in " + frame_name(l.frame);
    case CellRole::element:
        return routine_name(l.declaration) + "[" + std::to_string(l.index) + "] in " +
               frame_name(l.frame);
    case CellRole::temporary: return "temporary";
    case CellRole::unused: break;
    }
    return "unused";
}

// A var parameter's value: the address it holds, what is there and its value.
std::string Views::var_target(const NameValue& name, const std::vector<Frame>& frames) const {
    std::string text = "@";
    text += std::to_string(name.value);
    if (!name.target_in_stack) return text + " (outside the stack)";
    if (name.target.role == CellRole::variable || name.target.role == CellRole::element ||
        name.target.role == CellRole::result)
        text += " -> " + cell_text(name.value, frames);
    return text + " = " + std::to_string(name.target_value);
}

json Views::variable(const NameValue& name, const std::vector<Frame>& frames, bool enclosing) {
    const auto& decls = session_.program().declarations;
    const Declaration& d = decls[static_cast<std::size_t>(name.declaration)];
    json v{{"name", name.result ? d.name + " (result)" : d.name}, {"variablesReference", 0}};
    std::string type = name.result           ? "function result"
                       : d.kind == SYM_ARRAY ? "array"
                       : d.kind == SYM_REF   ? "var parameter"
                       : d.parameter         ? "value parameter"
                                             : "variable";
    if (enclosing) type += " of " + routine_name(name.owner) + " (enclosing)";
    if (name.shadowed) type += ", hidden by a nearer name";
    v["type"] = type;
    if (!name.reachable || name.frame < 0) {
        v["value"] = "(no frame of " + routine_name(name.owner) + " on the stack)";
    } else if (d.kind == SYM_ARRAY) {
        v["value"] = "array [" + std::to_string(d.low) + ".." + std::to_string(d.high) + "] at @" +
                     std::to_string(name.cell);
        v["indexedVariables"] = array_length(d);
        v["variablesReference"] = add(Ref{RefKind::array, 0, 0, name});
    } else if (!name.in_stack) {
        v["value"] = "(cell " + std::to_string(name.cell) + " is outside the stack)";
    } else if (d.kind == SYM_REF) {
        v["value"] = var_target(name, frames);
    } else {
        v["value"] = std::to_string(name.value);
    }
    if (name.in_stack || d.kind == SYM_ARRAY) v["memoryReference"] = std::to_string(name.cell);
    return v;
}

json Views::elements(const NameValue& array, long long start, long long count) const {
    const Declaration& d =
        session_.program().declarations[static_cast<std::size_t>(array.declaration)];
    long long length = array_length(d);
    start = std::clamp(start, 0LL, length);
    long long end = count > 0 && count < length - start ? start + count
                                                        : std::min(length, start + CHILDREN_MAX);
    json list = json::array();
    for (long long i = start; i < end; ++i) {
        std::int64_t index = d.low + i;
        std::int32_t value = 0;
        bool ok = element_value(array, d, index, value);
        list.push_back(json{{"name", bracketed(index)},
                            {"value", ok ? std::to_string(value) : "(outside the stack)"},
                            {"variablesReference", 0}});
    }
    return list;
}

json Views::cells(long long start, long long count) const {
    std::vector<Frame> frames = session_.frames();
    long long top = session_.registers().t;
    long long length = top < 0 ? 0 : top + 1;
    start = std::clamp(start, 0LL, length);
    long long end = count > 0 && count < length - start ? start + count
                                                        : std::min(length, start + CHILDREN_MAX);
    json list = json::array();
    for (long long i = start; i < end; ++i) {
        auto cell = static_cast<std::int32_t>(i);
        // What the cell is goes in its name too: editors show a type only
        // when asked (VS Code in a tooltip).
        std::string what = cell_text(cell, frames);
        list.push_back(json{{"name", bracketed(i) + " " + what},
                            {"value", std::to_string(session_.cell(cell))},
                            {"type", what},
                            {"variablesReference", 0}});
    }
    return list;
}

bool Views::variables(long long reference, const json& arguments, json& body) {
    if (reference < 1 || reference > static_cast<long long>(refs_.size())) return false;
    // A copy: listing a scope adds references of its own.
    const Ref ref = refs_[static_cast<std::size_t>(reference - 1)];
    long long start = int_field(arguments, "start", 0);
    long long count = int_field(arguments, "count", 0);
    json list = json::array();
    switch (ref.kind) {
    case RefKind::scope: {
        std::vector<Frame> frames = session_.frames();
        std::vector<Scope> scopes = session_.scopes(ref.frame);
        if (ref.scope >= static_cast<int>(scopes.size())) break;
        const Scope& shown = scopes[static_cast<std::size_t>(ref.scope)];
        for (const NameValue& name : shown.names)
            list.push_back(variable(name, frames, shown.enclosing));
        break;
    }
    case RefKind::array: list = elements(ref.name, start, count); break;
    case RefKind::machine: {
        Registers r = session_.registers();
        std::string next =
            r.p >= 0 && r.p < static_cast<std::int32_t>(session_.program().code.size())
                ? instruction_text(session_.program().code[static_cast<std::size_t>(r.p)])
                : "?";
        list.push_back(json{{"name", "p"},
                            {"value", std::to_string(r.p)},
                            {"type", "next instruction: " + next},
                            {"variablesReference", 0}});
        list.push_back(json{{"name", "b"},
                            {"value", std::to_string(r.b)},
                            {"type", "frame base"},
                            {"variablesReference", 0}});
        list.push_back(json{{"name", "t"},
                            {"value", std::to_string(r.t)},
                            {"type", "top of the stack"},
                            {"variablesReference", 0}});
        long long length = r.t < 0 ? 0 : static_cast<long long>(r.t) + 1;
        list.push_back(json{{"name", "cells"},
                            {"value", "0.." + std::to_string(r.t)},
                            {"indexedVariables", length},
                            {"variablesReference", add(Ref{RefKind::cells, ref.frame, 0})}});
        break;
    }
    case RefKind::cells: list = cells(start, count); break;
    }
    body = json{{"variables", std::move(list)}};
    return true;
}

bool Views::evaluate(const std::string& expression, int frame, json& body) {
    Evaluation e = session_.evaluate(expression, frame);
    if (!e.ok) {
        body = message_text(e.error, e.argument);
        return false;
    }
    std::vector<Frame> frames = session_.frames();
    if (e.element) {
        std::string value = e.in_stack ? std::to_string(e.value) : "(outside the stack)";
        if (!e.in_bounds) value += " (index " + std::to_string(e.index) + " is outside the bounds)";
        body = json{{"result", value}, {"variablesReference", 0}};
        if (e.in_stack) body["memoryReference"] = std::to_string(e.cell);
        return true;
    }
    json v = variable(e.name, frames, e.name.enclosing);
    body = json{{"result", v["value"]},
                {"type", v["type"]},
                {"variablesReference", v["variablesReference"]}};
    if (v.contains("indexedVariables")) body["indexedVariables"] = v["indexedVariables"];
    return true;
}

json Views::disassemble(long long first, long long count) const {
    const ProgramMap& map = session_.program();
    long long size = static_cast<long long>(map.code.size());
    json list = json::array();
    count = std::clamp(count, 0LL, CHILDREN_MAX);
    // Up to the last address there is a number for.
    for (long long i = 0; i < count && first <= LLONG_MAX - i; ++i) {
        long long at = first + i;
        if (at < 0 || at >= size) {
            list.push_back(json{{"address", std::to_string(at)},
                                {"instruction", ""},
                                {"presentationHint", "invalid"}});
            continue;
        }
        auto pc = static_cast<std::int32_t>(at);
        json in{{"address", std::to_string(at)},
                {"instruction", instruction_text(map.code[static_cast<std::size_t>(at)])}};
        Place place = session_.place(pc);
        if (place.routine >= 0) in["symbol"] = routine_name(place.routine);
        if (place.pos.line > 0) {
            in["location"] = source();
            put_place(in, place);
        }
        list.push_back(std::move(in));
    }
    return json{{"instructions", std::move(list)}};
}
