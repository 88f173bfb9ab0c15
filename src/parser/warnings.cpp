#include "parser/warnings.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "symtab/names.hpp"
#include "vm/code.hpp"

bool warnings_on = false;
std::vector<WarningRecord> warning_records;

namespace {

struct UnbracedBody {
    const char* keyword;
    int guard_indent;
    int guard_line;
    SourcePos body;
};

// The bodies without begin and end that end where the statement just
// parsed ends, innermost first.  Written by note_unbraced_body, emptied
// before each statement of a sequence and after the sequence.
std::vector<UnbracedBody> unbraced_bodies;

} // namespace

namespace {

// A message-table format filled in with its arguments.
std::string format_text(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(static_cast<std::size_t>(n > 0 ? n : 0) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    text.pop_back();
    return text;
}

void add(SourcePos pos, Msg text, std::string message) {
    warning_records.push_back(WarningRecord{pos, text, std::move(message)});
}

std::int32_t high_bound(std::int32_t low, std::int32_t size) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(low) +
                                     static_cast<std::uint32_t>(size) - 1u);
}

// The cells an array's declaration takes (its size may be written upside
// down: a[5..1] takes three).
std::int64_t cells_of(const NameRecord& r) {
    if (r.kind != SYM_ARRAY) return 1;
    return r.size < 0 ? -std::int64_t{r.size} : std::int64_t{r.size};
}

// The local variable of the routine recorded at `routine` whose cells hold
// frame offset `offset`, as its name or its element ("v[1]"); empty when
// no local variable is there.
std::string local_at(int routine, std::int64_t offset) {
    for (const NameRecord& r : name_records) {
        if (r.parent != routine || r.parameter || r.kind == SYM_PROC || r.kind == SYM_FUNC)
            continue;
        std::int64_t k = offset - r.offset;
        if (k < 0 || k >= cells_of(r)) continue;
        if (r.kind != SYM_ARRAY) return r.name;
        auto index = static_cast<std::int32_t>(static_cast<std::uint32_t>(r.low) +
                                               static_cast<std::uint32_t>(k));
        return format_text("%s[%d]", r.name, index);
    }
    return {};
}

// The value of the instructions from `first` to the end of the store when
// they are a constant: one LDC, perhaps negated.
bool constant_code(int first, std::int32_t& value) {
    if (cx - first == 1 && code[first].op == LDC) {
        value = code[first].a;
        return true;
    }
    if (cx - first == 2 && code[first].op == LDC && code[first + 1].op == OPR &&
        code[first + 1].a == OPR_NEG) {
        value = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(code[first].a));
        return true;
    }
    return false;
}

bool before(SourcePos a, SourcePos b) {
    return a.line < b.line || (a.line == b.line && a.column < b.column);
}

} // namespace

void warn_surplus_arguments(const SymbolEntry& callee, int given, SourcePos at) {
    const bool function = callee.kind == SYM_FUNC;
    const char* kind = msg(function ? MSG_W_FUNCTION : MSG_W_PROCEDURE);
    // The first surplus value lands just past the parameters.
    std::string local = callee.record < 0
                            ? std::string{}
                            : local_at(callee.record, (function ? 4 : 3) + callee.param_count);
    if (local.empty())
        add(at, MSG_W_SURPLUS_UNUSED,
            format_text(msg(MSG_W_SURPLUS_UNUSED), kind, callee.name, callee.param_count, given));
    else
        add(at, MSG_W_SURPLUS_TO_LOCAL,
            format_text(msg(MSG_W_SURPLUS_TO_LOCAL), kind, callee.name, callee.param_count, given,
                        callee.name, local.c_str()));
}

void warn_constant_index(const SymbolEntry& array, int first, SourcePos at) {
    std::int32_t index = 0;
    // An array declared upside down has no index inside its bounds: its
    // declaration is the thing to fix.
    if (array.size <= 0 || !constant_code(first, index)) return;
    std::int32_t high = high_bound(array.low, array.size);
    if (index >= array.low && index <= high) return;
    add(at, MSG_W_INDEX_OUTSIDE,
        format_text(msg(MSG_W_INDEX_OUTSIDE), index, array.name, array.low, high));
}

void note_unbraced_body(const char* keyword, int guard_indent, int guard_line, SourcePos body) {
    if (warnings_on)
        unbraced_bodies.push_back(UnbracedBody{keyword, guard_indent, guard_line, body});
}

void warn_misleading_indentation(SourcePos next, int next_indent) {
    for (const UnbracedBody& u : unbraced_bodies) {
        if (u.body.line > u.guard_line && u.body.column > u.guard_indent &&
            next.line > u.body.line && next.column == next_indent && next.column == u.body.column) {
            add(next, MSG_W_MISLEADING_INDENT,
                format_text(msg(MSG_W_MISLEADING_INDENT), u.keyword, u.keyword, u.keyword));
            break;
        }
    }
    unbraced_bodies.clear();
}

void forget_unbraced_bodies() {
    unbraced_bodies.clear();
}

void finish_warnings() {
    const std::size_t n = name_records.size();
    std::vector<const NameUseRecord*> first_read(n, nullptr);
    std::vector<bool> assigned(n, false);
    for (const NameUseRecord& u : name_uses) {
        auto d = static_cast<std::size_t>(u.declaration);
        if (u.access != NameAccess::read)
            assigned[d] = true;
        else if (first_read[d] == nullptr)
            first_read[d] = &u;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const NameRecord& r = name_records[i];
        if (r.kind == SYM_FUNC && !assigned[i]) {
            add(r.pos, MSG_W_NO_RESULT, format_text(msg(MSG_W_NO_RESULT), r.name, r.name));
        } else if ((r.kind == SYM_VAR || r.kind == SYM_ARRAY) && !r.parameter && !assigned[i] &&
                   first_read[i] != nullptr) {
            // The main program's cells start at 0; a routine's hold whatever
            // the last frame there left.
            bool main = r.level == 0;
            Msg text = r.kind == SYM_ARRAY ? (main ? MSG_W_UNSET_ARRAY_MAIN : MSG_W_UNSET_ARRAY)
                                           : (main ? MSG_W_UNSET_MAIN : MSG_W_UNSET);
            add(first_read[i]->pos, text, format_text(msg(text), r.name, r.name));
        }
    }
    std::stable_sort(
        warning_records.begin(), warning_records.end(),
        [](const WarningRecord& a, const WarningRecord& b) { return before(a.pos, b.pos); });
}

void reset_warnings() {
    warning_records.clear();
    unbraced_bodies.clear();
}
