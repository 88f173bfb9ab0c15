#include "vm/code.hpp"

#include <cstdio>
#include <cstring>

#include "diag/diag.hpp"
#include "diag/trace.hpp"

Instruction code[CODE_MAX];
int cx = 0;
int last_emitted = -1;

int generate_code(Opcode op, std::int32_t l, std::int32_t a) {
    trace_emit(MSG_T_EMIT, cx, mnemonic(op), l, a);
    if (cx >= CODE_MAX) syntax_error(MSG_CODE_TOO_LARGE);
    code[cx] = Instruction{op, l, a};
    return cx++;
}

void backpatch(int i) {
    if (i >= 0 && i < cx) code[i].a = cx;
}

void list_code() {
    std::fputs(msg(MSG_LIST_HEADING), stdout);
    for (int i = 0; i < cx; ++i)
        std::printf(msg(MSG_LIST_LINE), i, mnemonic(code[i].op), code[i].l, code[i].a);
    std::fputs(msg(MSG_LIST_END), stdout);
}

void reset_code() {
    std::memset(code, 0, sizeof code);
    cx = 0;
    last_emitted = -1;
}
