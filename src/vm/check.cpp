#include "vm/check.hpp"

#include <cstdio>
#include <cstring>

#include "vm/effects.hpp"
#include "vm/machine.hpp"

CheckPoint check_points[CODE_MAX];
bool check_points_on = false;
bool run_checked = false;
CheckStop check_stop{};
CheckJournal check_journal{};

namespace {

// Per stack cell: true while it has not been given a value since the
// routine whose local it is was entered.
bool unset[STACK_SIZE];

// Whether any check point has been noted since the last reset.
bool noted = false;

// Whether a slip is let pass (check_pass).
bool passing = false;

// The index checked last: the element an IND just after it reads.
std::int32_t last_index = 0;

void set_cell(std::int64_t cell, bool is_unset) {
    if (!in_stack(cell) || unset[cell] == is_unset) return;
    if (check_journal.note != nullptr)
        check_journal.note(check_journal.context, static_cast<std::int32_t>(cell), unset[cell]);
    unset[cell] = is_unset;
}

bool is_unset(std::int64_t cell) {
    return in_stack(cell) && unset[cell];
}

void stop(std::int32_t pc, std::int64_t sp, std::int64_t bp, Msg text, std::int32_t index,
          std::int32_t value) {
    if (passing) return;
    check_stop = CheckStop{text, check_points[pc], index, value};
    stop_before(pc, pc, sp, bp, FatalKind::check_failed);
}

// The cells from `first` to `last` lose their values.
void unset_cells(std::int64_t first, std::int64_t last) {
    if (first < 0) first = 0;
    if (last >= STACK_SIZE) last = STACK_SIZE - 1;
    for (std::int64_t c = first; c <= last; ++c)
        set_cell(c, true);
}

} // namespace

void check_pass(std::int32_t pc, std::int64_t sp, std::int64_t bp) {
    passing = true;
    check_step(pc, sp, bp);
    passing = false;
}

void check_mark(std::int32_t cell, bool is_unset) {
    if (in_stack(cell)) unset[cell] = is_unset;
}

void note_check(int at, CheckKind kind, const char* name, SourcePos where, std::int32_t low,
                std::int32_t high) {
    if (!check_points_on || at < 0 || at >= CODE_MAX) return;
    CheckPoint& point = check_points[at];
    point.kind = kind;
    std::snprintf(point.name, sizeof point.name, "%s", name);
    point.low = low;
    point.high = high;
    point.where = where;
    noted = true;
}

void reset_check_points() {
    if (noted) std::memset(check_points, 0, sizeof check_points);
    noted = false;
}

void begin_checked_run() {
    std::memset(unset, 0, sizeof unset);
    last_index = 0;
}

void check_step(std::int32_t pc, std::int64_t sp, std::int64_t bp) {
    const Instruction in = code[pc];
    const CheckPoint& point = check_points[pc];
    switch (in.op) {
    case LDC:
    case LDA:
    case GET: set_cell(sp + 1, false); break;
    case LOD: {
        std::int64_t frame = bp;
        if (point.kind == CHECK_VARIABLE && frame_base(bp, in.l, frame) && is_unset(frame + in.a))
            stop(pc, sp, bp, MSG_C_UNSET, 0, s[frame + in.a]);
        set_cell(sp + 1, false);
        break;
    }
    case STR: {
        std::int64_t frame = bp;
        if (frame_base(bp, in.l, frame)) set_cell(frame + in.a, false);
        break;
    }
    case STO:
        if (in_stack(sp - 1)) set_cell(s[sp - 1], false);
        break;
    case IND:
        if (in_stack(sp)) {
            std::int64_t cell = std::int64_t{s[sp]} + in.a;
            if (point.kind == CHECK_ELEMENT && is_unset(cell))
                stop(pc, sp, bp, MSG_C_UNSET_ELEMENT, last_index, s[cell]);
            if (point.kind == CHECK_THROUGH && is_unset(cell))
                stop(pc, sp, bp, MSG_C_UNSET_THROUGH, 0, s[cell]);
        }
        set_cell(sp, false);
        break;
    case OPR:
    case COP:
        if (point.kind == CHECK_INDEX && in_stack(sp)) {
            std::int32_t index = s[sp];
            if (index < point.low || index > point.high) stop(pc, sp, bp, MSG_C_INDEX, index, 0);
            last_index = index;
        }
        set_cell(in.op == OPR && in.a == OPR_NEG ? sp : sp - 1, false);
        break;
    case MST:
        // The links; the return address and a function's result cell wait
        // for CUP and the function.
        set_cell(sp + 1 + FRAME_STATIC_LINK, false);
        set_cell(sp + 1 + FRAME_DYNAMIC_LINK, false);
        unset_cells(sp + 1 + FRAME_RETURN_ADDRESS, sp + in.a);
        break;
    case CUP: set_cell(sp - in.l, false); break;
    case ENT:
        // The main program's frame at 0 keeps its zeros.
        if (bp != 0) unset_cells(sp + 1, bp + in.a);
        break;
    case FRT:
        if (point.kind == CHECK_RESULT && is_unset(bp + FRAME_RESULT))
            stop(pc, sp, bp, MSG_C_NO_RESULT, 0, s[bp + FRAME_RESULT]);
        set_cell(bp, false);
        break;
    case UJP:
    case FJP:
    case RET:
    case HLT:
    case PUT: break;
    }
}

std::string check_message(Encoding encoding) {
    const CheckStop& c = check_stop;
    const CheckPoint& point = c.point;
    char text[512];
    const char* format = msg_in(c.text, encoding);
    switch (c.text) {
    case MSG_C_INDEX:
        std::snprintf(text, sizeof text, format, c.index, point.name, point.low, point.high);
        break;
    case MSG_C_UNSET_ELEMENT:
        std::snprintf(text, sizeof text, format, point.name, c.index, c.value);
        break;
    default: std::snprintf(text, sizeof text, format, point.name, c.value); break;
    }
    return text;
}
