// The native tier around its translator: the run-time services the
// machine code calls, the machine code in executable memory, running it
// from instruction 0 with the hand-over to the interpreter, and its
// listing.  The translator is in native_runs.cpp, native_ops.cpp and
// native_calls.cpp (native_translator.hpp).
#include "vm/native.hpp"

#include <algorithm>
#include <asmjit/x86.h>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "diag/diag.hpp"
#include "vm/effects.hpp"
#include "vm/machine.hpp"
#include "vm/native_translator.hpp"
#include "vm/runtime.hpp"

namespace native_tier {

namespace {

// What ended the run inside a run-time service (a Fatal, or whatever the
// caller's writer or reader threw), thrown again once the machine code has
// returned: no exception ever unwinds through it.
std::exception_ptr pending_end;

} // namespace

std::int32_t native_put(std::int32_t v) noexcept {
    try {
        write_number(v);
        return EXIT_HAND_OVER;
    } catch (...) {
        pending_end = std::current_exception();
        return EXIT_ENDED;
    }
}

std::int32_t native_get(std::int32_t* cell) noexcept {
    try {
        put_prompt();
        return read_number(*cell) ? EXIT_HAND_OVER : EXIT_NO_NUMBER;
    } catch (...) {
        pending_end = std::current_exception();
        return EXIT_ENDED;
    }
}

namespace {

using NativeEntry = std::int32_t (*)(NativeState* state, std::int32_t* stack,
                                     const void* const* table);

// About the most machine code an instruction of a compiled program needs.
constexpr std::size_t BYTES_PER_INSTRUCTION = 24;

// Machine code in memory that was written while writable and then made
// executable and read-only, never both at once; released with the object.
class NativeCode {
  public:
    NativeCode() = default;
    NativeCode(const NativeCode&) = delete;
    NativeCode& operator=(const NativeCode&) = delete;
    ~NativeCode() {
        if (memory_ != nullptr) VirtMem::release(memory_, size_);
    }

    // Translates the code store; false when anything failed.
    // `starts`: instructions that must start a run, besides those that do
    // (where a run goes on after an exit of the optimising tier resumed).
    bool make(Logger* logger, NativeListing* listing, bool polls = false, bool counted = false,
              const std::vector<std::int32_t>& starts = {}) {
        CodeHolder holder;
        if (holder.init(Environment::host()) != kErrorOk) return false;
        if (logger != nullptr) holder.setLogger(logger);
        // Room for the usual code up front: the buffer need not grow.
        if (holder.reserveBuffer(&holder.textSection()->buffer(),
                                 static_cast<std::size_t>(cx) * BYTES_PER_INSTRUCTION + 4096) !=
            kErrorOk)
            return false;
        x86::Assembler as(&holder);
        Translator tr(as);
        tr.named = listing != nullptr;
        tr.polls = polls;
        tr.counted = counted;
        tr.also_starts = starts;
        tr.exit = tr.named ? as.newNamedLabel("leave") : as.newLabel();
        tr.hand_over_at_ecx = tr.named ? as.newNamedLabel("hand_over_at_ecx") : as.newLabel();
        tr.mark_runs();
        auto text_so_far = [&]() -> std::string {
            auto* s = static_cast<StringLogger*>(logger);
            std::string text(s->data(), s->dataSize());
            s->clear();
            return text;
        };
        tr.prologue();
        if (listing != nullptr) listing->entry = text_so_far();
        for (int i = 0; i < cx; ++i) {
            tr.instruction(i);
            if (listing != nullptr) listing->instructions.push_back(text_so_far());
        }
        tr.exits();
        if (listing != nullptr) listing->exits = text_so_far();
        if (holder.flatten() != kErrorOk || holder.resolveUnresolvedLinks() != kErrorOk)
            return false;
        std::size_t size = holder.codeSize();
        void* memory = nullptr;
        if (VirtMem::alloc(&memory, size, VirtMem::MemoryFlags::kAccessRW) != kErrorOk)
            return false;
        memory_ = memory;
        size_ = size;
        auto address = reinterpret_cast<std::uint64_t>(memory);
        if (holder.relocateToBase(address) != kErrorOk ||
            holder.copyFlattenedData(memory, size) != kErrorOk ||
            VirtMem::protect(memory, size, VirtMem::MemoryFlags::kAccessRX) != kErrorOk)
            return false;
        // Where a return to each instruction goes: the start of its run, or
        // the hand-over for one inside a run.
        table_.assign(static_cast<std::size_t>(cx), nullptr);
        starts_ = tr.starts;
        for (int i = 0; i < cx; ++i) {
            Label to = tr.starts[i] ? tr.entry[i] : tr.hand_over_at_ecx;
            table_[i] = reinterpret_cast<const void*>(address + holder.labelOffsetFromBase(to));
        }
        run_ = reinterpret_cast<NativeEntry>(memory);
        return true;
    }

    std::int32_t run(NativeState& state) const { return run_(&state, s, table_.data()); }

    // Whether a run of this code may go on at instruction i (with polls):
    // i starts a run.
    bool enters_at(std::int32_t i) const {
        return in_code(i) && starts_[static_cast<std::size_t>(i)];
    }

    // Whether this is the machine code a run with these settings would make
    // of the code store as it is now: made for the same settings, from as
    // many instructions.
    bool fits(bool polls, bool counted) const {
        return run_ != nullptr && polls == polls_ && counted == counted_ && cx == cx_;
    }
    void note(bool polls, bool counted) {
        polls_ = polls;
        counted_ = counted;
        cx_ = cx;
    }

  private:
    void* memory_ = nullptr;
    std::size_t size_ = 0;
    std::vector<const void*> table_;
    std::vector<bool> starts_; // per instruction: starts a run
    NativeEntry run_ = nullptr;
    bool polls_ = false;
    bool counted_ = false;
    int cx_ = 0;
};

// The machine code kept by keep_native for the runs to come, or none.
std::unique_ptr<NativeCode> kept;

} // namespace

} // namespace native_tier

using namespace native_tier;

namespace {

// Whether the hook of the run under way still wants its calls.
bool polling = false;
// The countdown after the hook's call when it asked for one (poll_after),
// else -1.
std::int32_t next_poll = -1;
// The lowest cell a run with a hook may not trust (native_unsure_from).
std::int32_t unsure_from = STACK_SIZE;

// Translates the code store into `native` for runs with or without polls
// and counting; false when no machine code could be made.
bool translate(NativeCode& native, bool polls, bool counted) {
    auto started = std::chrono::steady_clock::now();
    if (!native.make(nullptr, nullptr, polls, counted)) return false;
    native.note(polls, counted);
    if (std::getenv("TSUMIKI_DEBUG_TIER") != nullptr) {
        auto took = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - started);
        std::fprintf(stderr, "native: translated %d instructions in %lld us\n", cx,
                     static_cast<long long>(took.count()));
    }
    return true;
}

// Runs the machine code from p, b and t until it stops for good; with a
// hook, through its calls at the loop heads; with a budget (not 0),
// counting.  Whatever the run leaves to the interpreter, the interpreter
// does, as run_native says: counting on from where the machine code
// stopped, with a budget.
bool run_from_here(const LoopHeadHook* hook, std::uint64_t budget) {
    if (cx == 0) return false;
    const bool counted = budget != 0;
    // More than 2^63 instructions take centuries: the same as no end.
    const auto allowed = static_cast<std::int64_t>(std::min<std::uint64_t>(budget, INT64_MAX));
    if (hook == nullptr) unsure_from = STACK_SIZE;
    NativeState state{p, b, t, hook != nullptr ? hook->first : 0, -1, allowed, unsure_from};
    std::int32_t reason;
    {
        const bool polls = hook != nullptr;
        auto made = std::make_unique<NativeCode>();
        const bool reuse = kept != nullptr && kept->fits(polls, counted);
        if (!reuse && !translate(*made, polls, counted)) return false;
        const NativeCode* native = reuse ? kept.get() : made.get();
        // The instructions inside a run that an exit of the optimising tier
        // resumed at: each starts a run of the machine code made again.
        std::vector<std::int32_t> also_starts;
        polling = hook != nullptr;
        next_poll = -1;
        for (;;) {
            if (polls && in_code(state.p) && !native->enters_at(state.p)) {
                also_starts.push_back(state.p);
                auto again = std::make_unique<NativeCode>();
                if (again->make(nullptr, nullptr, polls, counted, also_starts)) {
                    made = std::move(again);
                    native = made.get();
                }
            }
            reason = native->run(state);
            const bool unsure = reason == EXIT_HAND_OVER && unsure_from < STACK_SIZE &&
                                !(in_code(state.p) && code[state.p].op == HLT);
            if (reason != EXIT_LOOP_HEAD && !unsure) break;
            p = state.p;
            b = state.b;
            t = state.t;
            if (unsure)
                hook->unsure(hook->context);
            else if (hook->at_loop_head(hook->context))
                return true;
            std::int32_t countdown = !polling         ? INT32_MAX
                                     : next_poll >= 0 ? next_poll
                                                      : hook->every;
            next_poll = -1;
            state = NativeState{p, b, t, countdown, -1, 0, unsure_from};
        }
    }
    // The instructions begun, the one a service ended the run in included.
    const auto begun = static_cast<std::uint64_t>(allowed - state.left);
    if (counted) instructions_run = begun;
    // A run-time service that ended the run leaves the registers as the
    // interpreter does: as they were before the run.
    if (reason == EXIT_ENDED) {
        std::exception_ptr end = pending_end;
        pending_end = nullptr;
        std::rethrow_exception(end);
    }
    p = state.p;
    b = state.b;
    t = state.t;
    if (reason == EXIT_HAND_OVER) {
        if (counted)
            interpret_traced_from(begun, state.last);
        else
            interpret_from_here();
        return true;
    }
    // GET at p failed, as the interpreter's does: it pushed the cell it
    // could not fill.
    fail_at(state.p, std::int64_t{state.t} + 1, state.b, MSG_NO_NUMBER);
}

} // namespace

bool run_native() {
    return run_from_here(nullptr, 0);
}

bool run_native(const LoopHeadHook& hook) {
    return run_from_here(&hook, 0);
}

bool run_native_counted(std::uint64_t budget) {
    return run_from_here(nullptr, budget);
}

bool keep_native_counted() {
    kept.reset();
    if (cx == 0) return false;
    auto native = std::make_unique<NativeCode>();
    if (!translate(*native, false, true)) return false;
    kept = std::move(native);
    return true;
}

void forget_native() {
    kept.reset();
}

void native_unsure_from(std::int32_t cell) {
    unsure_from = cell;
}

std::int32_t native_unsure() {
    return unsure_from;
}

void stop_polls() {
    polling = false;
}

void poll_after(std::int32_t loops) {
    polling = true;
    next_poll = loops;
}

NativeListing list_native() {
    NativeListing listing;
    if (cx == 0) return listing;
    StringLogger logger;
    NativeCode native;
    if (!native.make(&logger, &listing)) return NativeListing{};
    return listing;
}
