#include "symtab/symtab.hpp"

#include <cstring>

#include "diag/diag.hpp"
#include "diag/trace.hpp"
#include "diag/watch.hpp"
#include "symtab/names.hpp"

SymbolEntry symtab[SYMTAB_MAX];
int sym_count = 0;

namespace {

// The highest entry ever used since the table was last emptied: emptying it
// clears no further.
int sym_high = 0;

// The one place the table grows.  The slot is not cleared: a registration
// writes only the fields of its kind.
SymbolEntry& push_entry(const char* name, SymbolKind kind) {
    if (sym_count >= SYMTAB_MAX - 1) syntax_error(MSG_TOO_MANY_NAMES);
    ++sym_count;
    if (sym_count > sym_high) sym_high = sym_count;
    SymbolEntry& e = symtab[sym_count];
    std::strncpy(e.name, name, MAX_NAME_LENGTH);
    e.name[MAX_NAME_LENGTH] = '\0';
    e.kind = kind;
    return e;
}

// The event of the entry just registered.
void watch_regist(const SymbolEntry& e) {
    if (!watching()) return;
    WatchEvent event{};
    event.kind = WATCH_REGIST;
    event.entry = sym_count;
    set_event_text(event, e.name);
    event.symbol = e.kind;
    event.level = e.level;
    if (e.kind == SYM_PROC || e.kind == SYM_FUNC) {
        event.code_adr = e.code_adr;
    } else {
        event.offset = e.offset;
    }
    if (e.kind == SYM_ARRAY) {
        event.low = e.low;
        event.high = static_cast<std::int32_t>(static_cast<std::uint32_t>(e.low) +
                                               static_cast<std::uint32_t>(e.size) - 1u);
    }
    send_event(event);
}

// The newest live entry with the name, or the sentinel 0.
int search(const char* name, Msg trace_format, LookupKind lookup) {
    trace_parse(trace_format, name);
    int i = sym_count;
    while (std::strcmp(name, symtab[i].name) != 0 && i > 0)
        --i;
    if (watching()) {
        WatchEvent event{};
        event.kind = WATCH_LOOKUP;
        event.lookup = lookup;
        set_event_text(event, name);
        event.entry = i;
        send_event(event);
    }
    return i;
}

SymbolEntry& find(const char* name, Msg trace_format, LookupKind lookup, Msg undeclared) {
    int i = search(name, trace_format, lookup);
    if (i <= 0) syntax_error(undeclared);
    note_use(symtab[i]);
    return symtab[i];
}

} // namespace

void regist_var(const char* name, std::int32_t level, std::int32_t offset) {
    trace_parse(MSG_T_REGIST_VAR, name, level, offset);
    SymbolEntry& e = push_entry(name, SYM_VAR);
    e.level = level;
    e.offset = offset;
    watch_regist(e);
    note_declaration(e);
}

void regist_array(const char* name, std::int32_t level, std::int32_t offset, std::int32_t low,
                  std::int32_t size) {
    auto high = static_cast<std::int32_t>(static_cast<std::uint32_t>(low) +
                                          static_cast<std::uint32_t>(size) - 1u);
    trace_parse(MSG_T_REGIST_ARRAY, name, low, high, level, offset);
    SymbolEntry& e = push_entry(name, SYM_ARRAY);
    e.low = low;
    e.size = size;
    e.level = level;
    e.offset = offset;
    watch_regist(e);
    note_declaration(e);
}

void regist_ref_param(const char* name, std::int32_t level, std::int32_t offset) {
    trace_parse(MSG_T_REGIST_REF, name, level, offset);
    SymbolEntry& e = push_entry(name, SYM_REF);
    e.level = level;
    e.offset = offset;
    watch_regist(e);
    note_declaration(e);
}

void regist_proc(const char* name, std::int32_t level, std::int32_t code_adr) {
    trace_parse(MSG_T_REGIST_PROC, name, level, code_adr);
    SymbolEntry& e = push_entry(name, SYM_PROC);
    e.level = level;
    e.code_adr = code_adr;
    e.param_count = 0;
    watch_regist(e);
    note_declaration(e);
}

void regist_func(const char* name, std::int32_t level, std::int32_t code_adr) {
    trace_parse(MSG_T_REGIST_FUNC, name, level, code_adr);
    SymbolEntry& e = push_entry(name, SYM_FUNC);
    e.level = level;
    e.code_adr = code_adr;
    e.param_count = 0;
    watch_regist(e);
    note_declaration(e);
}

void ReRegist(const char* name, int position, SymbolKind passing) {
    SymbolEntry& e = find(name, MSG_T_FIND_REREGIST, LOOKUP_PARAM, MSG_UNDECLARED_RR);
    if (e.kind != SYM_FUNC && e.kind != SYM_PROC) syntax_error(MSG_NOT_A_ROUTINE);
    if (position < 0 || position >= PARAM_MAX) syntax_error(MSG_TOO_MANY_PARAMS);
    e.param_kinds[position] = passing;
    note_param_kind(e, position, passing);
    if (position >= e.param_count) e.param_count = position + 1;
    if (watching()) {
        WatchEvent event{};
        event.kind = WATCH_PASSING;
        event.entry = static_cast<int>(&e - symtab);
        event.position = position;
        event.symbol = passing;
        send_event(event);
    }
}

std::int32_t get_array_low(const char* name) {
    return find(name, MSG_T_FIND_ARRAY, LOOKUP_ARRAY, MSG_UNDECLARED_AS).low;
}

// A position beyond the routine's own parameters passes by value: the bytes
// there belong to no parameter of this routine.
SymbolKind get_param_kind(const char* name, int position) {
    const SymbolEntry& e = find(name, MSG_T_FIND_REREGIST, LOOKUP_PARAM, MSG_UNDECLARED_RR);
    if (position < 0 || position >= e.param_count) return SYM_VAR;
    return static_cast<SymbolKind>(e.param_kinds[position]);
}

SymbolKind get_kind(const char* name) {
    return find(name, MSG_T_FIND_KIND, LOOKUP_KIND, MSG_UNDECLARED_K).kind;
}

std::int32_t get_level(const char* name) {
    return find(name, MSG_T_FIND_LEVEL, LOOKUP_LEVEL, MSG_UNDECLARED_L).level;
}

std::int32_t get_offset(const char* name) {
    return find(name, MSG_T_FIND_OFFSET, LOOKUP_OFFSET, MSG_UNDECLARED_A).offset;
}

std::int32_t get_code_adr(const char* name) {
    return find(name, MSG_T_FIND_CODE_ADR, LOOKUP_CODE_ADR, MSG_UNDECLARED_I).code_adr;
}

int newest_entry(const char* name) {
    int i = sym_count;
    while (i > 0 && std::strcmp(name, symtab[i].name) != 0)
        --i;
    return i;
}

void reset_symtab() {
    std::memset(symtab, 0, sizeof symtab[0] * static_cast<std::size_t>(sym_high + 1));
    sym_count = 0;
    sym_high = 0;
    reset_names();
}
