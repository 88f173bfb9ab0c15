#include "vm/code.hpp"

#include <cstring>

#include "diag/diag.hpp"
#include "diag/stream.hpp"
#include "diag/trace.hpp"
#include "diag/watch.hpp"
#include "lexer/reader.hpp"

Instruction code[CODE_MAX];
SourcePos code_pos[CODE_MAX];
SourceRange code_range[CODE_MAX];
int cx = 0;
int last_emitted = -1;
StatementSpan statement_spans[STATEMENT_MAX];
int statement_count = 0;

namespace {

// Per instruction, the cells noted for it and the LDA they were noted for.
struct CellsNote {
    Instruction lda;
    std::int32_t cells;
};
CellsNote cells_notes[CODE_MAX];

// Whether `a` stands at or before `b`.
bool not_after(SourcePos a, SourcePos b) {
    return a.line < b.line || (a.line == b.line && a.column <= b.column);
}

// Tells the watcher that instruction i was emitted, for the range given
// (only when watching()).
void send_emit(int i, SourceRange range) {
    WatchEvent event{};
    event.kind = WATCH_EMIT;
    event.index = i;
    event.op = code[i].op;
    event.l = code[i].l;
    event.a = code[i].a;
    event.first = range.first;
    event.last = range.last;
    send_event(event);
}

// Appends `op l,a`, compiled for the construct at `where` whose range
// begins at `first`.
int generate_code_at(SourcePos where, SourcePos first, Opcode op, std::int32_t l, std::int32_t a) {
    trace_emit(MSG_T_EMIT, cx, mnemonic(op), l, a);
    if (cx >= CODE_MAX) syntax_error(MSG_CODE_TOO_LARGE);
    code[cx] = Instruction{op, l, a};
    if (positions_on) {
        code_pos[cx] = where;
        code_range[cx] = range_from(first);
    }
    const int i = cx++;
    if (watching()) send_emit(i, positions_on ? code_range[i] : range_from(first));
    return i;
}

} // namespace

SourceRange range_from(SourcePos first) {
    // The lexer stands just past the current token; previous_token_end is
    // just past the one before it.
    if (not_after(previous_token_end, first)) return SourceRange{first, ch_pos};
    return SourceRange{first, previous_token_end};
}

void set_range(int i, SourceRange range) {
    if (!positions_on || i < 0 || i >= cx) return;
    code_range[i] = range;
}

int generate_code(Opcode op, std::int32_t l, std::int32_t a) {
    return generate_code_at(token_pos, token_pos, op, l, a);
}

void backpatch(int i) {
    if (i < 0 || i >= cx) return;
    const std::int32_t old_a = code[i].a;
    code[i].a = cx;
    if (watching()) {
        WatchEvent event{};
        event.kind = WATCH_BACKPATCH;
        event.index = i;
        event.a = cx;
        event.old_a = old_a;
        send_event(event);
    }
}

void list_code() {
    text_printf("%s", msg(MSG_LIST_HEADING));
    for (int i = 0; i < cx; ++i)
        text_printf(msg(MSG_LIST_LINE), i, mnemonic(code[i].op), code[i].l, code[i].a);
    text_printf("%s", msg(MSG_LIST_END));
}

int emit_at(SourcePos where, Opcode op, std::int32_t l, std::int32_t a) {
    last_emitted = generate_code_at(where, where, op, l, a);
    return last_emitted;
}

int emit_from(SourcePos where, SourcePos first, Opcode op, std::int32_t l, std::int32_t a) {
    last_emitted = generate_code_at(where, first, op, l, a);
    return last_emitted;
}

void note_cells(int i, std::int32_t cells) {
    if (i >= 0 && i < cx) cells_notes[i] = CellsNote{code[i], cells};
}

std::int32_t cells_at(int i) {
    if (i < 0 || i >= cx) return 0;
    const CellsNote& n = cells_notes[i];
    const Instruction& in = code[i];
    if (in.op != LDA || n.lda.op != LDA || n.lda.l != in.l || n.lda.a != in.a) return 0;
    return n.cells;
}

void note_statement(SourcePos begin, int first) {
    if (!positions_on || cx <= first || statement_count >= STATEMENT_MAX) return;
    statement_spans[statement_count++] = StatementSpan{begin, previous_token_end, first, cx - 1};
}

void reset_code() {
    statement_count = 0;
    // Entries past cx were never written.
    std::memset(code, 0, sizeof code[0] * static_cast<std::size_t>(cx));
    std::memset(code_pos, 0, sizeof code_pos[0] * static_cast<std::size_t>(cx));
    std::memset(code_range, 0, sizeof code_range[0] * static_cast<std::size_t>(cx));
    std::memset(cells_notes, 0, sizeof cells_notes[0] * static_cast<std::size_t>(cx));
    cx = 0;
    last_emitted = -1;
}
