// The checkpoint, the runs of the optimising tier from it, the returns
// into frames of the exact tiers, and the way back when a guard fails.
#include "vm/speculation.hpp"

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "vm/effects.hpp"
#include "vm/machine.hpp"
#include "vm/runtime.hpp"

SpeculationStats speculation_stats;

void reset_speculation_stats() {
    speculation_stats = SpeculationStats{};
}

namespace {

// What a writer or a reader threw inside a service, for the replay.
std::exception_ptr service_ended;

// The machine at the checkpoint.
struct Checkpoint {
    std::int32_t cells[STACK_SIZE + 1]; // the spare cell below s[0], then the stack
    std::int32_t p, b, t, ir_pc;
    Instruction ir;
    IoMark io;
};
Checkpoint checkpoint;

void take_checkpoint() {
    std::memcpy(checkpoint.cells, s - 1, sizeof checkpoint.cells);
    checkpoint.p = p;
    checkpoint.b = b;
    checkpoint.t = t;
    checkpoint.ir = ir;
    checkpoint.ir_pc = ir_pc;
    checkpoint.io = io_mark();
}

void back_to_checkpoint() {
    std::memcpy(s - 1, checkpoint.cells, sizeof checkpoint.cells);
    p = checkpoint.p;
    b = checkpoint.b;
    t = checkpoint.t;
    ir = checkpoint.ir;
    ir_pc = checkpoint.ir_pc;
}

} // namespace

extern "C" std::int32_t speculation_put(std::int32_t v) noexcept {
    try {
        write_number(v);
        return GUARD_NONE;
    } catch (...) {
        service_ended = std::current_exception();
        speculation.guard = GUARD_ENDED;
        return GUARD_ENDED;
    }
}

extern "C" std::int32_t speculation_get(std::int32_t* cell) noexcept {
    try {
        put_prompt();
        if (read_number(*cell)) return GUARD_NONE;
        speculation.guard = GUARD_READ;
        return GUARD_READ;
    } catch (...) {
        service_ended = std::current_exception();
        speculation.guard = GUARD_ENDED;
        return GUARD_ENDED;
    }
}

int resume_entry(const Shape& shape, int r, std::int32_t at) {
    const Routine& ro = shape.routines[static_cast<std::size_t>(r)];
    if (at == ro.entry) return 0;
    std::vector<int> points = resume_points(shape, r);
    auto found = std::find(points.begin(), points.end(), at);
    return found == points.end() ? -1 : static_cast<int>(found - points.begin());
}

bool frames_fit(const Shape& shape) {
    // The program's start: nothing but the cleared stack.
    return p == 0 && b == 0 && t == 0 && shape.ok;
}

bool speculate(const OptimisedProgram& program, const Shape& shape) {
    take_checkpoint();
    keep_reads(checkpoint.io);
    std::fill(std::begin(speculation.shadow), std::end(speculation.shadow), std::uint8_t{1});
    speculation.guard = GUARD_NONE;
    ++speculation_stats.entered;
    int r = shape.places[static_cast<std::size_t>(p)].routine;
    int entry = resume_entry(shape, r, p);
    std::int64_t frame = b;
    for (;;) {
        std::int32_t value = program.resume(r, frame, entry);
        if (speculation.guard != GUARD_NONE) break;
        if (r == 0) {
            // HLT, with the main program's cells written back.
            const Routine& main = shape.routines[0];
            end_io_log();
            halt_at(main.exit, main.frame, 0);
            return true;
        }
        // The routine returned into a frame of the exact tiers: RET or FRT
        // as they would make it, then on in the caller at its return site.
        ++speculation_stats.returns;
        const Routine& ro = shape.routines[static_cast<std::size_t>(r)];
        if (ro.function) s[frame] = value;
        std::int32_t to = s[frame + 2];
        std::int32_t caller = s[frame + 1];
        t = static_cast<std::int32_t>(ro.function ? frame : frame - 1);
        p = to;
        b = caller;
        frame = caller;
        r = shape.places[static_cast<std::size_t>(to)].routine;
        entry = resume_entry(shape, r, to);
    }
    // A guard failed: back to the checkpoint; the exact tiers replay the
    // events since, and an end that a writer or reader made happens again.
    Guard g = static_cast<Guard>(speculation.guard);
    ++speculation_stats.failed[g];
    IoMark now = io_mark();
    std::exception_ptr ended;
    if (g == GUARD_ENDED) {
        --now.events; // the event that ended it is made again, and ends it again
        ended = service_ended;
        service_ended = nullptr;
    }
    back_to_checkpoint();
    replay_io(checkpoint.io, now, ended);
    speculation.guard = GUARD_NONE;
    return false;
}
