#include "vm/engine.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "diag/trace.hpp"
#include "vm/machine.hpp"
#if TSUMIKI_NATIVE
#include "vm/native.hpp"
#endif
#if TSUMIKI_OPTIMISING
#include "vm/optimiser.hpp"
#include "vm/runtime.hpp"
#include "vm/shape.hpp"
#include "vm/speculation.hpp"
#endif

TierSettings tier_settings;

bool engine_named(const char* name, Engine& engine) {
    if (name == nullptr) {
        engine = Engine::standard;
    } else if (std::strcmp(name, "tiered") == 0) {
        engine = Engine::tiered;
    } else if (std::strcmp(name, "native") == 0) {
        engine = Engine::native;
    } else if (std::strcmp(name, "optimising") == 0) {
        engine = Engine::optimising;
    } else if (std::strcmp(name, "interpreter") == 0) {
        engine = Engine::interpreter;
    } else {
        return false;
    }
    return true;
}

namespace {

#if TSUMIKI_OPTIMISING
using optimising::Shape;
using optimising::shape_of_code;

// The tiered engine's run: the compilation (on the spot or on its thread),
// what the loop heads find, and the back-off after a failed guard.
class Tiering {
  public:
    Tiering() : debug_(std::getenv("TSUMIKI_DEBUG_TIER") != nullptr) {}
    Tiering(const Tiering&) = delete;
    Tiering& operator=(const Tiering&) = delete;
    // A run that ends (or fails) first waits for the compilation: it
    // reads the code store, which the next compilation of a program
    // may change.
    ~Tiering() {
        if (compiler_.joinable()) compiler_.join();
        if (debug_)
            for (const ExitFailures& f : failures_)
                std::fprintf(stderr, "tier: %s failed %d times\n", exit_name(f.exit).c_str(),
                             f.failed);
    }

    static bool at_loop_head(void* context) { return static_cast<Tiering*>(context)->look(); }
    static void at_unsure(void* context) { static_cast<Tiering*>(context)->back(); }

    // The program compiled before the run (the optimising engine's).
    void adopt(Shape shape, std::unique_ptr<OptimisedProgram> program) {
        shape_ = std::move(shape);
        program_ = std::move(program);
        started_ = joined_ = true;
        ready_.store(true, std::memory_order_release);
    }

    // After a run of the tier that guard exit e ended, n times now: the
    // loop heads the native tier passes before the run may move up again,
    // back_off doubled at each failure of the same exit; -1 (the run stays
    // down) once it has failed most_failures times.  The exact tiers replay
    // the stretch the tier ran, and a run that moved up again inside that
    // stretch would end at the same exit.  A division by zero, a read that
    // found no number and an end of the writer or reader end the run
    // where the exact tiers meet them: the run stays down at once.
    std::int32_t back_off(const GuardExit& e) {
        int n = 1;
        auto found = std::find_if(failures_.begin(), failures_.end(),
                                  [&](const ExitFailures& f) { return f.exit == e; });
        if (found == failures_.end())
            failures_.push_back(ExitFailures{e, 1});
        else
            n = ++found->failed;
        const bool ends = e.kind == GUARD_DIVISION || e.kind == GUARD_READ || e.kind == GUARD_ENDED;
        if (ends || n >= tier_settings.most_failures) {
            if (debug_) std::fprintf(stderr, "tier: staying down\n");
            return -1;
        }
        std::int64_t wait = std::int64_t{tier_settings.back_off} << std::min(n - 1, 32);
        auto loops = static_cast<std::int32_t>(std::min<std::int64_t>(wait, INT32_MAX));
        if (debug_) std::fprintf(stderr, "tier: up again after %d loops\n", loops);
        return loops;
    }

  private:
    bool look() {
        if (native_unsure() < STACK_SIZE) {
            // Still going on from an index past its array: back to the
            // checkpoint, never up from cells that may not be what the
            // exact tiers make.
            back();
            return false;
        }
        if (!started_) {
            started_ = true;
            const bool here = cx <= tier_settings.compile_here_up_to;
            if (debug_)
                std::fprintf(stderr, "tier: compiling at %d %s\n", p,
                             here ? "here" : "on another thread");
            if (here) {
                compile();
            } else {
                compiler_ = std::thread([this] { compile(); });
                if (!tier_settings.wait) return false;
            }
        }
        if (!tier_settings.wait && !ready_.load(std::memory_order_acquire)) return false;
        if (!joined_) {
            if (compiler_.joinable()) compiler_.join();
            joined_ = true;
            if (program_ == nullptr) {
                speculation_stats.declined = true;
                speculation_stats.why = why_;
                if (debug_) std::fprintf(stderr, "tier: declined: %s\n", why_.c_str());
                stop_polls();
                return false;
            }
        }
        // Up only at a loop head or routine start whose frames fit, and not
        // while the exact tiers replay what a run of the tier did.
        if (replaying_io() || !loop_head_fits(shape_)) {
            if (++looks_ >= tier_settings.most_looks) stop_polls();
            return false;
        }
        stop_polls();
        if (debug_) std::fprintf(stderr, "tier: up at %d\n", p);
        const int resumed = speculation_stats.resumed;
        bool done = speculate(*program_, shape_);
        if (debug_) {
            if (done)
                std::fprintf(stderr, "tier: ran to the end\n");
            else
                std::fprintf(stderr, "tier: %s: failed %s\n",
                             speculation_stats.resumed > resumed ? "on from the guard"
                                                                 : "back at the checkpoint",
                             exit_name(speculation_stats.last).c_str());
        }
        if (done) return true;
        if (native_unsure() < STACK_SIZE) {
            // On from an index past its array: the run may end soon (the
            // guard failed on the last turn of the loop); if not, back to
            // the checkpoint, as if it had not resumed, and on from there.
            if (debug_)
                std::fprintf(stderr, "tier: on for %d loops, then back at the checkpoint\n",
                             tier_settings.resumed_for);
            poll_after(tier_settings.resumed_for);
            return false;
        }
        std::int32_t wait = back_off(speculation_stats.last);
        if (wait >= 0) poll_after(wait);
        return false;
    }

    // The native tier, on from an index past its array, was about to read
    // a cell the tier left unsure, or the run has not ended soon after:
    // back to the checkpoint of that run of the tier, then as after a
    // failure there.
    void back() {
        back_from_unsure();
        if (debug_)
            std::fprintf(stderr, "tier: back at the checkpoint at %d: %s\n", p,
                         exit_name(speculation_stats.last).c_str());
        std::int32_t wait = back_off(speculation_stats.last);
        if (wait >= 0)
            poll_after(wait);
        else
            stop_polls();
    }

    // On the compiler's thread, or on the run's: reads the code store and
    // the notes of the parser, which no one changes while the program runs.
    void compile() {
        auto started = std::chrono::steady_clock::now();
        shape_ = shape_of_code();
        program_ = optimise_program(shape_, &why_);
        if (debug_) {
            auto took = std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::steady_clock::now() - started);
            std::fprintf(stderr, "tier: compiled %d instructions in %lld us\n", cx,
                         static_cast<long long>(took.count()));
        }
        ready_.store(true, std::memory_order_release);
    }

    const bool debug_;
    bool started_ = false;
    bool joined_ = false;
    int looks_ = 0; // that found no fit
    std::thread compiler_;
    std::atomic<bool> ready_{false};
    Shape shape_;                               // written by the compiler's thread
    std::unique_ptr<OptimisedProgram> program_; // before ready_, read after it
    std::string why_;
    std::vector<ExitFailures> failures_; // per guard exit, the runs of the tier it ended
};

// The native tier from p as it is: run_native() without a hook starts at
// instruction 0, and a failed guard that resumed left p at its instruction.
bool run_native_from_here() {
    if (p == 0) return run_native();
    auto never = [](void*) {
        stop_polls();
        return false;
    };
    auto back = [](void*) { back_from_unsure(); };
    return run_native(LoopHeadHook{INT32_MAX, INT32_MAX, never, back, nullptr});
}

// The whole program on the optimising tier from its start; when a guard
// fails, the exact tiers from the start again, replaying what it did, and
// moving up again as the tiered engine does after a failure.  False when
// it could not run at all.
bool run_optimising() {
    const bool debug = std::getenv("TSUMIKI_DEBUG_TIER") != nullptr;
    auto started = std::chrono::steady_clock::now();
    Shape shape = shape_of_code();
    std::string why;
    auto program = optimise_program(shape, &why);
    if (debug) {
        auto took = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - started);
        std::fprintf(stderr, "compiled %d instructions in %lld us\n", cx,
                     static_cast<long long>(took.count()));
    }
    if (program == nullptr) {
        speculation_stats.declined = true;
        speculation_stats.why = why;
        if (debug) std::fprintf(stderr, "declined: %s\n", why.c_str());
        return false;
    }
    if (!frames_fit(shape)) return false;
    native_unsure_from(STACK_SIZE);
    bool done = speculate(*program, shape);
    if (debug) {
        std::fprintf(stderr, "entered %d returns %d", speculation_stats.entered,
                     speculation_stats.returns);
        if (!done) std::fprintf(stderr, " failed %s", exit_name(speculation_stats.last).c_str());
        std::fprintf(stderr, "\n");
    }
    if (done) return true;
    Tiering tiering;
    const GuardExit failed = speculation_stats.last;
    tiering.adopt(std::move(shape), std::move(program));
    // On from an index past its array, as the tiered engine goes on.
    const bool unsure = native_unsure() < STACK_SIZE;
    std::int32_t wait = unsure ? tier_settings.resumed_for : tiering.back_off(failed);
    if (debug && unsure)
        std::fprintf(stderr, "tier: on for %d loops, then back at the checkpoint\n", wait);
    const LoopHeadHook hook{wait, tier_settings.loops_between_looks, Tiering::at_loop_head,
                            Tiering::at_unsure, &tiering};
    if (!(wait >= 0 ? run_native(hook) : run_native_from_here())) {
        if (native_unsure() < STACK_SIZE) back_from_unsure();
        interpret_from_here();
    }
    end_unsure();
    return true;
}

bool run_tiered() {
    Tiering tiering;
    const TierSettings& ts = tier_settings;
    const LoopHeadHook hook{ts.first_loops + ts.loops_per_instruction * cx, ts.loops_between_looks,
                            Tiering::at_loop_head, Tiering::at_unsure, &tiering};
    native_unsure_from(STACK_SIZE);
    const bool ran = run_native(hook);
    end_unsure();
    return ran;
}
#endif

} // namespace

void run_on_engine(Engine engine, Watch watch) {
    const bool watched = watch != Watch::none;
#if TSUMIKI_OPTIMISING
    if (engine == Engine::optimising && !watched && run_optimising()) return;
    if ((engine == Engine::tiered || engine == Engine::standard) && !watched && run_tiered())
        return;
#endif
#if TSUMIKI_NATIVE
    if (engine != Engine::interpreter && !watched && run_native()) return;
    if (engine != Engine::interpreter && watch == Watch::budget && trace_built &&
        run_native_counted(instruction_budget))
        return;
#else
    (void)engine;
#endif
    if (watched)
        interpret_from_here();
    else
        interpret_fast_from_here();
}

bool prepare_engine(Engine engine, Watch watch) {
#if TSUMIKI_NATIVE
    forget_native();
    if (engine != Engine::interpreter && watch == Watch::budget && trace_built)
        return keep_native_counted();
#else
    (void)engine;
    (void)watch;
#endif
    return false;
}

void forget_prepared() {
#if TSUMIKI_NATIVE
    forget_native();
#endif
}

std::string list_optimised(std::string& why) {
#if TSUMIKI_OPTIMISING
    Shape shape = shape_of_code();
    OptimisedListing listing;
    if (optimise_program(shape, &why, &listing) == nullptr) return std::string();
    return listing.text;
#else
    why = "not built";
    return std::string();
#endif
}
