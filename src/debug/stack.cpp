#include "debug/stack.hpp"

#include <cctype>

#include "vm/effects.hpp"
#include "vm/frame.hpp"
#include "vm/machine.hpp"

namespace {

// The routine a frame runs, for its pc (just past the store after HLT: the
// program's).
int routine_at(const ProgramMap& map, std::int32_t pc) {
    if (pc == static_cast<std::int32_t>(map.routine_of.size())) --pc;
    if (pc < 0 || static_cast<std::size_t>(pc) >= map.routine_of.size()) return -1;
    return map.routine_of[static_cast<std::size_t>(pc)];
}

bool is_function(const ProgramMap& map, int routine) {
    return routine >= 0 && map.declarations[static_cast<std::size_t>(routine)].kind == SYM_FUNC;
}

// The frame base `hops` static links out from `base`, as the machine's
// walk finds it; false when a link leads outside the stack.
bool follow_static(std::int64_t base, int hops, std::int64_t& frame) {
    return in_stack(base) && frame_base_at_level(s, base, hops, frame) && in_stack(frame);
}

int frame_with_base(const std::vector<Frame>& frames, std::int64_t base, std::size_t from) {
    for (std::size_t k = from; k < frames.size(); ++k)
        if (frames[k].base == base) return static_cast<int>(k);
    return -1;
}

// The names routine `routine` declares: parameters, variables, arrays.
bool belongs_to(const Declaration& d, int routine) {
    return d.parent == routine && !is_routine(d);
}

void read_value(NameValue& v, const ProgramMap& map, const std::vector<Frame>& frames) {
    v.in_stack = v.reachable && in_stack(v.cell);
    if (!v.in_stack) return;
    v.value = s[v.cell];
    const Declaration& d = map.declarations[static_cast<std::size_t>(v.declaration)];
    if (!v.result && d.kind == SYM_REF) {
        v.target_in_stack = in_stack(v.value);
        if (v.target_in_stack) {
            v.target_value = s[v.value];
            v.target = label_cell(map, frames, v.value);
        }
    }
}

// The cells frame `frame` of routine `routine` gives a name of it, or a
// result, from the frame's base `base`.
NameValue name_in_frame(const ProgramMap& map, const std::vector<Frame>& frames, int declaration,
                        bool result, int routine, std::int64_t base) {
    NameValue v;
    v.declaration = declaration;
    v.result = result;
    v.owner = routine;
    v.reachable = base >= 0;
    v.frame = base >= 0 ? frame_with_base(frames, base, 0) : -1;
    if (v.reachable) {
        v.cell = base + (result ? FRAME_RESULT
                                : map.declarations[static_cast<std::size_t>(declaration)].offset);
    }
    read_value(v, map, frames);
    return v;
}

} // namespace

std::vector<Frame> stack_frames(const ProgramMap& map) {
    std::vector<Frame> frames;
    std::int32_t pc = p;
    const auto code_size = static_cast<std::int32_t>(map.code.size());
    for_each_frame(s, b, [&](std::int64_t base) {
        Frame f;
        f.base = static_cast<std::int32_t>(base);
        f.pc = pc;
        f.routine = routine_at(map, pc);
        f.place = place_of(map, pc);
        f.static_link = static_link_of(s, base);
        f.dynamic_link = dynamic_link_of(s, base);
        f.return_address = return_address_of(s, base);
        frames.push_back(f);
        // The caller's frame runs the CUP just before the return address.
        pc = f.return_address >= 1 && f.return_address <= code_size ? f.return_address - 1 : -1;
        return true;
    });
    for (std::size_t k = 0; k < frames.size(); ++k)
        frames[k].static_frame =
            frames[k].base == 0 ? -1 : frame_with_base(frames, frames[k].static_link, k + 1);
    return frames;
}

CellLabel label_cell(const ProgramMap& map, const std::vector<Frame>& frames, std::int64_t cell) {
    CellLabel label;
    // The frame with the highest base at or below the cell.
    int frame = -1;
    for (std::size_t k = 0; k < frames.size(); ++k) {
        if (frames[k].base <= cell) {
            frame = static_cast<int>(k);
            break;
        }
    }
    label.role = cell > t ? CellRole::unused : CellRole::temporary;
    if (frame < 0) return label;
    const Frame& f = frames[static_cast<std::size_t>(frame)];
    std::int64_t offset = cell - f.base;
    label.frame = frame;
    if (offset < FRAME_PROCEDURE_CELLS) {
        label.role = offset == FRAME_STATIC_LINK    ? CellRole::static_link
                     : offset == FRAME_DYNAMIC_LINK ? CellRole::dynamic_link
                                                    : CellRole::return_address;
        return label;
    }
    if (f.routine < 0) return label;
    if (offset == FRAME_RESULT && is_function(map, f.routine)) {
        label.role = CellRole::result;
        label.declaration = f.routine;
        return label;
    }
    for (std::size_t i = 0; i < map.declarations.size(); ++i) {
        const Declaration& d = map.declarations[i];
        if (!belongs_to(d, f.routine)) continue;
        if (d.kind == SYM_ARRAY) {
            std::int64_t length = array_length(d);
            if (offset >= d.offset && offset < d.offset + length) {
                label.role = CellRole::element;
                label.declaration = static_cast<int>(i);
                label.index = static_cast<std::int32_t>(d.low + (offset - d.offset));
                return label;
            }
        } else if (offset == d.offset) {
            label.role = CellRole::variable;
            label.declaration = static_cast<int>(i);
            return label;
        }
    }
    if (cell > t) label.frame = -1;
    return label;
}

std::int64_t array_length(const Declaration& array) {
    std::int64_t n = std::int64_t{array.high} - array.low + 1;
    return n > 0 ? n : 0;
}

std::int32_t element_cell(std::int64_t first, std::int32_t low, std::int32_t index) {
    return i32(u32(static_cast<std::int32_t>(first)) - (u32(low) - u32(index)));
}

bool element_value(const NameValue& array, const Declaration& d, std::int64_t index,
                   std::int32_t& value) {
    if (!array.reachable) return false;
    std::int64_t cell = array.cell + (index - d.low);
    if (!in_stack(cell)) return false;
    value = s[cell];
    return true;
}

std::vector<Scope> frame_scopes(const ProgramMap& map, const std::vector<Frame>& frames,
                                int frame) {
    std::vector<Scope> scopes;
    if (frame < 0 || static_cast<std::size_t>(frame) >= frames.size()) return scopes;
    const Frame& f = frames[static_cast<std::size_t>(frame)];
    if (f.routine < 0) return scopes;
    const int level = map.block_level[static_cast<std::size_t>(f.routine)];
    // The routine, then each one around it; the names of one nearer hide
    // those of the same name further out, and an enclosing routine's names
    // declared after the routine on the way in are not seen.
    std::vector<std::string> seen;
    int visible_until = static_cast<int>(map.declarations.size());
    for (int r = f.routine; r >= 0;) {
        const Declaration& routine = map.declarations[static_cast<std::size_t>(r)];
        Scope scope;
        scope.routine = r;
        scope.enclosing = r != f.routine;
        int hops = level - map.block_level[static_cast<std::size_t>(r)];
        std::int64_t base = -1;
        if (!follow_static(f.base, hops, base)) base = -1;
        scope.base = base;
        if (routine.kind == SYM_FUNC) {
            NameValue v = name_in_frame(map, frames, r, true, r, base);
            v.enclosing = scope.enclosing;
            scope.names.push_back(v);
        }
        std::vector<std::string> declared_here;
        for (int i = 0; i < visible_until; ++i) {
            const Declaration& d = map.declarations[static_cast<std::size_t>(i)];
            if (d.parent != r) continue;
            declared_here.push_back(d.name);
            if (is_routine(d)) continue;
            NameValue v = name_in_frame(map, frames, i, false, r, base);
            v.enclosing = scope.enclosing;
            for (const std::string& name : seen)
                if (name == d.name) v.shadowed = true;
            scope.names.push_back(v);
        }
        // The function's own name stands in the scope around it.
        if (!scope.names.empty() && scope.names.front().result) {
            for (const std::string& name : seen)
                if (name == routine.name) scope.names.front().shadowed = true;
            for (const std::string& name : declared_here)
                if (name == routine.name) scope.names.front().shadowed = true;
        }
        seen.insert(seen.end(), declared_here.begin(), declared_here.end());
        visible_until = r + 1;
        scopes.push_back(std::move(scope));
        r = routine.parent;
    }
    return scopes;
}

namespace {

void skip_blanks(std::string_view text, std::size_t& i) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
}

bool read_name(std::string_view text, std::size_t& i, std::string& name) {
    skip_blanks(text, i);
    std::size_t from = i;
    if (i >= text.size() || std::isalpha(static_cast<unsigned char>(text[i])) == 0) return false;
    while (i < text.size() && std::isalnum(static_cast<unsigned char>(text[i])) != 0)
        ++i;
    name = std::string(text.substr(from, i - from));
    return true;
}

// The nearest name `name` the frame's statement sees: a variable, a
// parameter, an array, or the result of a function it is inside.
Evaluation find_name(const ProgramMap& map, const std::vector<Frame>& frames, int frame,
                     const std::string& name) {
    Evaluation e;
    for (const Scope& scope : frame_scopes(map, frames, frame)) {
        for (const NameValue& v : scope.names) {
            if (v.shadowed) continue;
            const Declaration& d = map.declarations[static_cast<std::size_t>(v.declaration)];
            if (d.name == name) {
                e.ok = true;
                e.name = v;
                return e;
            }
        }
    }
    // A procedure or function seen from here, whose name is no value.
    for (const Declaration& d : map.declarations) {
        if (is_routine(d) && d.name == name) {
            e.error = MSG_D_NOT_A_VARIABLE;
            e.argument = name;
            return e;
        }
    }
    e.error = MSG_D_NO_SUCH_NAME;
    e.argument = name;
    return e;
}

// A scalar's value: a var parameter's is its target's.
bool scalar_value(const ProgramMap& map, const NameValue& v, std::int32_t& value) {
    const Declaration& d = map.declarations[static_cast<std::size_t>(v.declaration)];
    if (!v.in_stack) return false;
    if (!v.result && d.kind == SYM_REF) {
        if (!v.target_in_stack) return false;
        value = v.target_value;
        return true;
    }
    value = v.value;
    return true;
}

} // namespace

Evaluation evaluate(const ProgramMap& map, const std::vector<Frame>& frames, int frame,
                    std::string_view text) {
    Evaluation bad;
    bad.error = MSG_D_BAD_EXPRESSION;
    bad.argument = std::string(text);
    std::size_t i = 0;
    std::string name;
    if (!read_name(text, i, name)) return bad;
    Evaluation e = find_name(map, frames, frame, name);
    if (!e.ok) return e;
    const Declaration& d = map.declarations[static_cast<std::size_t>(e.name.declaration)];
    bool array = !e.name.result && d.kind == SYM_ARRAY;
    skip_blanks(text, i);
    if (i == text.size()) {
        e.in_stack = e.name.in_stack;
        if (!array && !scalar_value(map, e.name, e.value)) e.in_stack = false;
        return e;
    }
    if (text[i] != '[') return bad;
    if (!array) {
        Evaluation not_array;
        not_array.error = MSG_D_NOT_AN_ARRAY;
        not_array.argument = name;
        return not_array;
    }
    ++i;
    skip_blanks(text, i);
    std::int64_t index = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+' ||
                            std::isdigit(static_cast<unsigned char>(text[i])) != 0)) {
        bool negative = text[i] == '-';
        if (text[i] == '-' || text[i] == '+') ++i;
        if (i >= text.size() || std::isdigit(static_cast<unsigned char>(text[i])) == 0) return bad;
        std::uint32_t value = 0; // modulo 2^32, as the lexer and read take numbers
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0)
            value = value * 10u + static_cast<std::uint32_t>(text[i++] - '0');
        index = i32(negative ? 0u - value : value);
    } else {
        std::string index_name;
        if (!read_name(text, i, index_name)) return bad;
        Evaluation by = find_name(map, frames, frame, index_name);
        if (!by.ok) return by;
        const Declaration& id = map.declarations[static_cast<std::size_t>(by.name.declaration)];
        if (!by.name.result && id.kind == SYM_ARRAY) {
            Evaluation not_scalar;
            not_scalar.error = MSG_D_INDEX_NOT_NUMBER;
            not_scalar.argument = index_name;
            return not_scalar;
        }
        std::int32_t v = 0;
        if (!scalar_value(map, by.name, v)) {
            Evaluation unknown;
            unknown.error = MSG_D_VALUE_UNKNOWN;
            unknown.argument = index_name;
            return unknown;
        }
        index = v;
    }
    skip_blanks(text, i);
    if (i >= text.size() || text[i] != ']') return bad;
    ++i;
    skip_blanks(text, i);
    if (i != text.size()) return bad;
    e.element = true;
    e.index = static_cast<std::int32_t>(index);
    e.in_bounds = index >= d.low && index <= d.high;
    if (e.name.reachable) {
        e.cell = element_cell(e.name.cell, d.low, e.index);
        e.in_stack = in_stack(e.cell);
        if (e.in_stack) e.value = s[e.cell];
    }
    return e;
}
