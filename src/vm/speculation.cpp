// The checkpoint, the runs of the optimising tier from it, the returns
// into frames of the exact tiers, and the ways back when a guard fails: to
// the checkpoint, or on from the guard's instruction.
#include "vm/speculation.hpp"

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "vm/effects.hpp"
#include "vm/frame.hpp"
#include "vm/machine.hpp"
#include "vm/native.hpp"
#include "vm/runtime.hpp"

using namespace optimising;

SpeculationStats speculation_stats;

void reset_speculation_stats() {
    speculation_stats = SpeculationStats{};
}

namespace {

// What a writer or a reader threw inside a service, for the replay.
std::exception_ptr service_ended;
// Where the services stood when the last one began: the event of a write
// that ended the run is made again from here when its exit resumes.
IoMark service_began;

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
    service_began = io_mark();
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
    service_began = io_mark();
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

namespace {

bool is_place(std::int32_t at, const Shape& shape) {
    return at >= 0 && at < static_cast<std::int32_t>(shape.places.size());
}

// Whether the cells a return from the frame at `frame` into the exact
// tiers' frame below trusts are as they were at the checkpoint, where
// loop_head_fits found them sound: the frame's header, and the caller's
// static link, var parameters and the addresses on its stack.  A var
// parameter aimed past its array can write any cell below the tier's
// frames, these too (then the exact tiers return elsewhere, or with
// another link).
bool frames_unchanged(const Shape& shape, std::int32_t frame) {
    auto same = [](std::int32_t a) { return s[a] == checkpoint.cells[a + 1]; };
    for (int k = 0; k < FRAME_PROCEDURE_CELLS; ++k) // the links and the return address
        if (!same(frame + k)) return false;
    const std::int32_t to = return_address_of(s, frame), below = dynamic_link_of(s, frame);
    const int caller = shape.places[static_cast<std::size_t>(to)].routine;
    const Routine& co = shape.routines[static_cast<std::size_t>(caller)];
    if (!same(below)) return false;
    for (std::size_t a = 0; a < co.cells.size(); ++a)
        if ((co.cells[a] & CELL_REFERENCE) != 0 && !same(below + static_cast<std::int32_t>(a)))
            return false;
    const Slot* slots = shape.slots_at(to);
    for (int k = 0; k < shape.slot_count(to); ++k)
        if (slots[k].kind == SLOT_REFERENCE && !same(below + co.frame + 1 + k)) return false;
    return true;
}

} // namespace

bool loop_head_fits(const Shape& shape) {
    if (!shape.ok || !is_place(p, shape)) return false;
    const InstructionShape& at = shape.places[static_cast<std::size_t>(p)];
    if (at.routine < 0 || (at.flags & PLACE_AFTER_ENT) == 0 || shape.slot_count(p) != 0)
        return false;
    int r = at.routine;
    const Routine& top = shape.routines[static_cast<std::size_t>(r)];
    if (t - b != at.depth || at.depth != top.frame || resume_entry(shape, r, p) < 0) return false;
    // The frames, top to bottom: their bases and routines.
    struct Frame {
        std::int32_t base;
        int routine;
    };
    std::vector<Frame> frames{{b, r}};
    // The references held in frames and pushed above them, with the base
    // of the frame that holds them.
    struct Held {
        std::int32_t to, holder;
    };
    std::vector<Held> held;
    std::int32_t base = b;
    bool sound = true;
    for_each_frame(s, b, [&](std::int64_t) {
        if (r == 0) return false; // down at the main program's frame
        sound = false;
        const Routine& ro = shape.routines[static_cast<std::size_t>(r)];
        if (base < FRAME_PROCEDURE_CELLS || base + ro.frame >= STACK_SIZE) return false;
        std::int32_t to = return_address_of(s, base), below = dynamic_link_of(s, base);
        if (!is_place(to, shape) || to < 1 || !shape.is_return_site(to)) return false;
        const InstructionShape& site = shape.places[static_cast<std::size_t>(to)];
        if (shape.places[static_cast<std::size_t>(to - 1)].callee != r) return false;
        int caller = site.routine;
        if (caller < 0 || below < 0 || below >= base) return false;
        const Routine& co = shape.routines[static_cast<std::size_t>(caller)];
        // The stack of the caller as it stands after the return.
        std::int32_t after = ro.function ? base : base - 1;
        if ((site.flags & PLACE_AFTER_ENT) == 0 || site.depth != after - below) return false;
        if (resume_entry(shape, caller, to) < 0) return false;
        const Slot* slots = shape.slots_at(to);
        for (int k = 0; k < shape.slot_count(to); ++k)
            if (slots[k].kind == SLOT_REFERENCE)
                held.push_back(Held{s[below + co.frame + 1 + k], below});
        base = below;
        r = caller;
        frames.push_back(Frame{base, r});
        sound = true;
        return true;
    });
    if (!sound || r != 0 || base != 0) return false;
    for (int k = 0; k < FRAME_PROCEDURE_CELLS; ++k) // the main program's header: zeros
        if (s[k] != 0) return false;
    // The static links and the var parameters: each link a frame further
    // down of the routine's parent.
    static int routine_at[STACK_SIZE]; // per frame base: its routine + 1, else 0
    bool fit = true;
    for (const Frame& f : frames)
        routine_at[f.base] = f.routine + 1;
    for (std::size_t f = 0; f + 1 < frames.size() && fit; ++f) {
        const Routine& ro = shape.routines[static_cast<std::size_t>(frames[f].routine)];
        std::int32_t link = static_link_of(s, frames[f].base);
        fit = link >= 0 && link < frames[f].base && routine_at[link] == std::max(ro.parent, 0) + 1;
        for (std::size_t a = 0; a < ro.cells.size(); ++a)
            if ((ro.cells[a] & CELL_REFERENCE) != 0)
                held.push_back(
                    Held{s[frames[f].base + static_cast<std::int32_t>(a)], frames[f].base});
    }
    for (const Frame& f : frames)
        routine_at[f.base] = 0;
    // Each reference aims where the compiler aims them (reference_may_reach):
    // a variable or an element of a frame below the one that holds it.  One
    // aimed past its array at a header, a reference or a variable the tier
    // keeps in a register would let the tier's stores change what it trusts.
    for (std::size_t k = 0; k < held.size() && fit; ++k) {
        const Held h = held[k];
        auto in = std::partition_point(frames.begin(), frames.end(),
                                       [&](const Frame& f) { return f.base > h.to; });
        if (h.to < 0 || h.to >= h.holder || in == frames.end()) return false;
        const Routine& ro = shape.routines[static_cast<std::size_t>(in->routine)];
        std::int32_t a = h.to - in->base;
        fit = a >= FRAME_PROCEDURE_CELLS && a <= ro.frame &&
              reference_may_reach(ro.cells[static_cast<std::size_t>(a)]);
    }
    return fit;
}

void back_from_unsure() {
    IoMark now = io_mark();
    back_to_checkpoint();
    replay_io(checkpoint.io, now, nullptr);
    native_unsure_from(STACK_SIZE);
    ++speculation_stats.unsure;
}

void end_unsure() {
    if (native_unsure() == STACK_SIZE) return;
    end_io_log();
    native_unsure_from(STACK_SIZE);
}

int failures_at(const GuardExit& e) {
    for (const ExitFailures& f : speculation_stats.exits)
        if (f.exit == e) return f.failed;
    return 0;
}

namespace {

void count_failure(const GuardExit& e) {
    speculation_stats.last = e;
    for (ExitFailures& f : speculation_stats.exits)
        if (f.exit == e) {
            ++f.failed;
            return;
        }
    speculation_stats.exits.push_back(ExitFailures{e, 1});
}

} // namespace

bool speculate(const OptimisedProgram& program, const Shape& shape) {
    take_checkpoint();
    keep_reads(checkpoint.io);
    std::fill(std::begin(speculation.shadow), std::end(speculation.shadow), std::uint8_t{1});
    speculation.guard = GUARD_NONE;
    speculation.site = -1;
    speculation.resume_at = -1;
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
        if (!frames_unchanged(shape, static_cast<std::int32_t>(frame))) {
            speculation.guard = GUARD_FRAME;
            speculation.site = s[frame + 2];
            break;
        }
        ++speculation_stats.returns;
        const Routine& ro = shape.routines[static_cast<std::size_t>(r)];
        if (ro.function) s[frame] = value;
        std::int32_t to = return_address_of(s, frame);
        std::int32_t caller = dynamic_link_of(s, frame);
        t = static_cast<std::int32_t>(ro.function ? frame : frame - 1);
        p = to;
        b = caller;
        frame = caller;
        r = shape.places[static_cast<std::size_t>(to)].routine;
        entry = resume_entry(shape, r, to);
    }
    Guard g = static_cast<Guard>(speculation.guard);
    ++speculation_stats.failed[g];
    count_failure(GuardExit{speculation.site, g});
    if (speculation.resume_at >= 0) {
        // The exit wrote the frame's registers back: the exact tiers go on
        // at the guard's instruction in the frame the tier ran, with the
        // output and input as they are.
        const std::int32_t at = speculation.resume_at;
        ++speculation_stats.resumed;
        ++speculation_stats.resumed_by[g];
        p = at;
        b = static_cast<std::int32_t>(frame);
        t = b + shape.places[static_cast<std::size_t>(at)].depth;
        if (g == GUARD_ENDED) {
            // The write that ended the run is made again, and ends it
            // again, with the same exception.
            IoMark now = io_mark();
            --now.events;
            replay_io(service_began, now, service_ended);
            service_ended = nullptr;
        } else if (g == GUARD_BOUNDS) {
            // The run goes on: the checkpoint and the events since stay
            // kept until it ends, for a read of the cells above t.
            native_unsure_from(t + 1);
        } else {
            end_io_log();
        }
        speculation.guard = GUARD_NONE;
        speculation.resume_at = -1;
        return false;
    }
    // A guard failed: back to the checkpoint; the exact tiers replay the
    // events since, and an end that a writer or reader made happens again.
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
