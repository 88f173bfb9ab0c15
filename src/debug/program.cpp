#include "debug/program.hpp"

#include <algorithm>

namespace {

constexpr char CTRL_Z = 0x1A;

std::vector<std::string> split_lines(const std::string& source) {
    std::vector<std::string> lines(1);
    for (char c : source) {
        if (c == CTRL_Z) break;
        if (c == '\r') continue;
        if (c == '\n')
            lines.emplace_back();
        else
            lines.back() += c;
    }
    return lines;
}

} // namespace

bool is_routine(const Declaration& d) {
    return d.kind == SYM_PROC || d.kind == SYM_FUNC;
}

ProgramMap map_program(const Compiled& compiled, std::string source) {
    ProgramMap map;
    map.source = std::move(source);
    map.lines = split_lines(map.source);
    map.declarations = compiled.declarations;
    map.code_pos = compiled.code_pos;
    map.code_range = compiled.code_range;
    map.statements = compiled.statements;
    map.code.assign(code, code + compiled.code_size);
    const int n = compiled.code_size;
    map.code_pos.resize(static_cast<std::size_t>(n), SourcePos{0, 0});
    map.code_range.resize(static_cast<std::size_t>(n), SourceRange{});
    map.routine_of.assign(static_cast<std::size_t>(n), -1);
    map.statement_of.assign(static_cast<std::size_t>(n), -1);
    map.starts_statement.assign(static_cast<std::size_t>(n), false);

    // Routines are declared outside in, and each one's code lies inside
    // the code of the routine around it: the later one is the inner one.
    const auto count = map.declarations.size();
    map.frame_cells.assign(count, 0);
    map.block_level.assign(count, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const Declaration& d = map.declarations[i];
        if (!is_routine(d)) continue;
        map.block_level[i] = i == 0 ? 0 : d.level + 1;
        int first = std::max(d.code_first, 0);
        int last = std::min(d.code_last, n - 1);
        for (int k = first; k <= last; ++k)
            map.routine_of[static_cast<std::size_t>(k)] = static_cast<int>(i);
        // The block's first instruction jumps over its routines to its ENT.
        if (d.code_first >= 0 && d.code_first < n && map.code[d.code_first].op == UJP) {
            std::int32_t ent = map.code[d.code_first].a;
            if (ent >= 0 && ent < n && map.code[ent].op == ENT)
                map.frame_cells[i] = map.code[ent].a + 1;
        }
    }
    // Statements are recorded inner first: the outer ones go in first so
    // that the inner ones overwrite them.
    for (std::size_t k = map.statements.size(); k-- > 0;) {
        const StatementSpan& st = map.statements[k];
        for (int i = std::max(st.first, 0); i <= st.last && i < n; ++i)
            map.statement_of[static_cast<std::size_t>(i)] = static_cast<int>(k);
        if (st.first >= 0 && st.first < n)
            map.starts_statement[static_cast<std::size_t>(st.first)] = true;
    }
    return map;
}

std::string_view source_line(const ProgramMap& map, int line) {
    if (line < 1 || static_cast<std::size_t>(line) > map.lines.size()) return {};
    return map.lines[static_cast<std::size_t>(line - 1)];
}

Place place_of(const ProgramMap& map, std::int32_t pc) {
    Place place;
    place.pc = pc;
    if (pc < 0 || static_cast<std::size_t>(pc) >= map.code.size()) return place;
    auto i = static_cast<std::size_t>(pc);
    place.pos = map.code_pos[i];
    place.range = map.code_range[i];
    place.statement = map.statement_of[i];
    place.routine = map.routine_of[i];
    if (place.statement >= 0) {
        const StatementSpan& st = map.statements[static_cast<std::size_t>(place.statement)];
        std::string_view line = source_line(map, st.begin.line);
        auto from = static_cast<std::size_t>(std::max(st.begin.column - 1, 0));
        std::size_t to = st.end.line == st.begin.line && st.end.column > st.begin.column
                             ? static_cast<std::size_t>(st.end.column - 1)
                             : line.size();
        if (from < line.size()) place.text = std::string(line.substr(from, to - from));
    } else {
        place.text = std::string(source_line(map, place.pos.line));
    }
    return place;
}

bool line_breakpoint(const ProgramMap& map, int line, int& at_line, std::int32_t& pc) {
    bool found = false;
    for (const StatementSpan& st : map.statements) {
        if (st.begin.line < line) continue;
        // The nearest line at or after `line`, and on it the first
        // instruction.
        if (!found || st.begin.line < at_line || (st.begin.line == at_line && st.first < pc)) {
            at_line = st.begin.line;
            pc = st.first;
            found = true;
        }
    }
    return found;
}
