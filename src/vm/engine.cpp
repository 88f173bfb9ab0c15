#include "vm/engine.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vm/machine.hpp"
#if TSUMIKI_NATIVE
#include "vm/native.hpp"
#endif
#if TSUMIKI_OPTIMISING
#include "vm/optimiser.hpp"
#include "vm/shape.hpp"
#include "vm/speculation.hpp"
#endif

bool engine_named(const char* name, Engine& engine) {
    if (name == nullptr || std::strcmp(name, "tiered") == 0) {
        engine = Engine::standard;
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
#endif

} // namespace

void run_on_engine(Engine engine, bool watched) {
#if TSUMIKI_OPTIMISING
    if (engine == Engine::optimising && !watched && run_optimising()) return;
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
