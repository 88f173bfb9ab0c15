#include "vm/engine.hpp"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "vm/machine.hpp"
#if TSUMIKI_NATIVE
#include "vm/native.hpp"
#endif
#if TSUMIKI_OPTIMISING
#include "vm/optimiser.hpp"
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
// The whole program on the optimising tier from its start; when a guard
// fails, the exact tiers from the start again, replaying what it did.
// False when it could not run at all.
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
    bool done = speculate(*program, shape);
    if (debug) {
        std::fprintf(stderr, "entered %d returns %d", speculation_stats.entered,
                     speculation_stats.returns);
        for (int g = GUARD_NONE + 1; g < GUARD_COUNT; ++g)
            if (speculation_stats.failed[g] != 0)
                std::fprintf(stderr, " failed %s", guard_name(static_cast<Guard>(g)));
        std::fprintf(stderr, "\n");
    }
    if (done) return true;
    if (!run_native()) interpret_from_here();
    return true;
}

// The tiered engine's run: the compilation (on the spot or on its thread),
// and what the loop heads find.
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
    }

    static bool at_loop_head(void* context) { return static_cast<Tiering*>(context)->look(); }

  private:
    bool look() {
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
        // Up only at a loop head of the main program with nothing above
        // its frame.
        if (!loop_head_fits(shape_)) {
            if (++looks_ >= tier_settings.most_looks) stop_polls();
            return false;
        }
        stop_polls();
        if (debug_) std::fprintf(stderr, "tier: up at %d\n", p);
        bool done = speculate(*program_, shape_);
        if (debug_) {
            std::fprintf(stderr, "tier: %s", done ? "ran to the end" : "back at the checkpoint");
            for (int g = GUARD_NONE + 1; g < GUARD_COUNT; ++g)
                if (speculation_stats.failed[g] != 0)
                    std::fprintf(stderr, " failed %s", guard_name(static_cast<Guard>(g)));
            std::fprintf(stderr, "\n");
        }
        return done;
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
};

bool run_tiered() {
    Tiering tiering;
    const TierSettings& ts = tier_settings;
    const LoopHeadHook hook{ts.first_loops + ts.loops_per_instruction * cx, ts.loops_between_looks,
                            Tiering::at_loop_head, &tiering};
    return run_native(hook);
}
#endif

} // namespace

void run_on_engine(Engine engine, bool watched) {
#if TSUMIKI_OPTIMISING
    if (engine == Engine::optimising && !watched && run_optimising()) return;
    if ((engine == Engine::tiered || engine == Engine::standard) && !watched && run_tiered())
        return;
#endif
#if TSUMIKI_NATIVE
    if (engine != Engine::interpreter && !watched && run_native()) return;
#else
    (void)engine;
    (void)watched;
#endif
    if (watched)
        interpret_from_here();
    else
        interpret_fast_from_here();
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
