#include "vm/code.hpp"

#include <cstring>

#include "diag/diag.hpp"
#include "diag/stream.hpp"
#include "diag/trace.hpp"
#include "diag/watch.hpp"
#include "lexer/reader.hpp"

Instruction code[CODE_MAX];
SourcePos code_pos[CODE_MAX];
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

// Appends `op l,a`, compiled for the construct at `where`.
int generate_code_at(SourcePos where, Opcode op, std::int32_t l, std::int32_t a) {
    trace_emit(MSG_T_EMIT, cx, mnemonic(op), l, a);
    if (cx >= CODE_MAX) syntax_error(MSG_CODE_TOO_LARGE);
    code[cx] = Instruction{op, l, a};
    if (positions_on) code_pos[cx] = where;
    const int i = cx++;
    if (watching()) {
        WatchEvent event{};
        event.kind = WATCH_EMIT;
        event.index = i;
        event.op = op;
        event.l = l;
        event.a = a;
        // From the construct's start to the end of what the parser has
        // read of it: the token before the current one, or the current one
        // when the construct begins there.
        event.first = where;
        bool before =
            previous_token_end.line < where.line ||
            (previous_token_end.line == where.line && previous_token_end.column <= where.column);
        event.last = before ? ch_pos : previous_token_end;
        send_event(event);
    }
    return i;
}

} // namespace

int generate_code(Opcode op, std::int32_t l, std::int32_t a) {
    return generate_code_at(token_pos, op, l, a);
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
    last_emitted = generate_code_at(where, op, l, a);
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
    std::memset(cells_notes, 0, sizeof cells_notes[0] * static_cast<std::size_t>(cx));
    cx = 0;
    last_emitted = -1;
}
