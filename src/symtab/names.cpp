#include "symtab/names.hpp"

#include <cstring>

#include "lexer/lexer.hpp"
#include "lexer/reader.hpp"

bool names_on = false;
std::vector<NameRecord> name_records;
std::vector<NameUseRecord> name_uses;

namespace {

// The routine declared last at each level, to find a name's owner.
std::vector<int> routine_at_level;

int owner_of(std::int32_t level) {
    if (level <= 0) return name_records.empty() ? -1 : 0; // the program
    auto k = static_cast<std::size_t>(level - 1);
    return k < routine_at_level.size() ? routine_at_level[k] : -1;
}

} // namespace

void note_declaration(SymbolEntry& entry) {
    entry.record = -1;
    if (!names_on) return;
    NameRecord r{};
    std::memcpy(r.name, entry.name, sizeof r.name);
    r.kind = entry.kind;
    r.level = entry.level;
    r.offset = entry.offset;
    r.low = entry.kind == SYM_ARRAY ? entry.low : 0;
    r.size = entry.kind == SYM_ARRAY ? entry.size : 0;
    r.parent = name_records.empty() ? -1 : owner_of(entry.level);
    r.pos = token_pos;
    r.end = token_pos;
    bool routine = entry.kind == SYM_PROC || entry.kind == SYM_FUNC;
    r.code_first = routine ? entry.code_adr : -1;
    r.code_last = -1;
    entry.record = static_cast<int>(name_records.size());
    name_records.push_back(r);
    if (routine && !name_records.empty() && entry.record > 0) {
        auto k = static_cast<std::size_t>(entry.level);
        if (routine_at_level.size() <= k) routine_at_level.resize(k + 1, -1);
        routine_at_level[k] = entry.record;
    }
}

void note_use(const SymbolEntry& entry) {
    if (!names_on || entry.record < 0) return;
    if (token.kind != WD_ID || std::strcmp(token.text, entry.name) != 0) return;
    if (!name_uses.empty()) {
        const NameUseRecord& last = name_uses.back();
        if (last.pos.line == token_pos.line && last.pos.column == token_pos.column) return;
    }
    name_uses.push_back(NameUseRecord{token_pos, static_cast<int>(std::strlen(entry.name)),
                                      entry.record, NameAccess::read});
}

void note_access(NameAccess access) {
    if (!names_on || name_uses.empty()) return;
    NameUseRecord& last = name_uses.back();
    if (last.pos.line == token_pos.line && last.pos.column == token_pos.column)
        last.access = access;
}

void note_parameter() {
    if (names_on && !name_records.empty()) name_records.back().parameter = true;
}

void note_param_kind(const SymbolEntry& routine, int position, SymbolKind passing) {
    if (!names_on || routine.record < 0) return;
    auto& params = name_records[static_cast<std::size_t>(routine.record)].params;
    auto k = static_cast<std::size_t>(position);
    if (params.size() <= k) params.resize(k + 1, SYM_VAR);
    params[k] = passing;
}

void note_routine_end(const char* name, int code_last) {
    if (!names_on) return;
    // The routine is the newest record with the name that is a routine.
    for (auto i = name_records.size(); i-- > 0;) {
        NameRecord& r = name_records[i];
        if ((r.kind == SYM_PROC || r.kind == SYM_FUNC) && std::strcmp(r.name, name) == 0) {
            r.end = token_pos;
            r.code_last = code_last;
            return;
        }
    }
}

void reset_names() {
    name_records.clear();
    name_uses.clear();
    routine_at_level.clear();
}
