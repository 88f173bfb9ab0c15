// libFuzzer harness for the engines against each other: compiles one fuzz
// input (as fuzz/harness.cpp reads it: a source text, optionally a Ctrl-Z
// byte and the bytes `read` finds) and runs it on the plain loop, the fast
// loop (counted and not), the native tier and, where they are built, the
// optimising tier and the tiered engine (set to move every run up at the
// first loop head or routine start it can after a few, the native tier
// running up to there); any difference in what a caller can see aborts.
//
// An input whose first byte is 0x01 instead makes a program with a wild
// reference (wild_references.hpp) from its next five bytes: the cell the
// reference is aimed at, the value written, before or after the hot loop
// or both, the loop's turns, and whether the program is padded past what
// the tiered engine compiles on the spot.
//
// The plain loop runs first, with the instruction budget; a run that does
// not end within it is left out.  The counted fast loop (which a run
// watched by its budget takes between the fetches where the budget is
// due, here from as few as LONGEST_STEP instructions before them) runs
// beside the plain loop with the same budgets and must stop where it
// stops, with the same count.  Then both the plain loop and the native
// tier run again with budgets the input picks (one anywhere in the run,
// one at its last few instructions), and must stop at the same
// instruction, with the same count of instructions begun; the native tier
// twice, translated for the run and from the code made ready once for many
// runs (prepare_runs), as the judge runs it.
// What a caller can see: the output, how the run ended, its message and
// instruction, the registers, and the cells: every cell after a run-time
// error (the dump shows them all), those up to t after HLT (the optimising
// tier keeps what lies above in registers or nowhere; the other engines
// leave every cell as the plain loop does, and are held to all of them),
// and those up to t after an error where a failed guard of the optimising
// tier resumed at its instruction (the cells above hold what the tier left
// there: the exact tiers, which read none of them, ended the run at once).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "driver/api.hpp"
#include "vm/machine.hpp"
#if TSUMIKI_OPTIMISING
#include "vm/speculation.hpp"
#endif
#include "wild_references.hpp"

namespace {

constexpr std::uint64_t FUZZ_INSTRUCTION_BUDGET = 100'000;

constexpr unsigned char INPUT_SEPARATOR = 0x1A;
constexpr unsigned char WILD_REFERENCE_MARK = 0x01;

// The program with a wild reference that bytes 1 to 5 of an input say.
std::string wild_reference_input(const std::uint8_t* data) {
    static constexpr std::int32_t VALUES[8] = {0, 1, 8, 17, 28, 35, 2000000000, -1};
    WildReference w;
    w.index = data[1] % 48 - 4;
    w.value = VALUES[data[2] % 8] + data[3] % 4;
    w.before = data[4] % 3 != 1;
    w.after = data[4] % 3 != 0;
    w.padded = data[4] / 3 % 2 != 0;
    w.turns = data[5] % 40;
    return wild_reference_program(w);
}

// Everything a run leaves behind.
struct Seen {
    std::string out;
    RunEnd end;
    std::string message;
    std::int32_t pc, p, b, t;
    std::uint64_t steps;
    Instruction ir;
    std::vector<std::int32_t> cells;
    bool resumed; // a failed guard of the optimising tier resumed
};

// A run on `engine`; with `plain`, a watched run on the interpreter goes
// on the plain loop alone, not on the counted fast loop.
Seen run_on(Engine engine, std::string_view input, std::uint64_t budget, bool plain = false) {
    Seen seen{};
    counted_runs = !plain;
    counted_least = LONGEST_STEP;
    RunOptions options;
    options.encoding = Encoding::utf8;
    options.input = view_reader(input);
    options.output = string_writer(seen.out);
    options.engine = engine;
    options.budget = budget;
#if TSUMIKI_OPTIMISING
    const int resumed = speculation_stats.resumed;
#endif
    RunResult result = run_program(options);
    counted_runs = true;
#if TSUMIKI_OPTIMISING
    seen.resumed = speculation_stats.resumed != resumed;
#endif
    seen.end = result.end;
    seen.message = result.message;
    seen.pc = result.pc;
    seen.steps = result.steps;
    seen.p = p;
    seen.b = b;
    seen.t = t;
    seen.ir = ir;
    seen.cells.assign(s, s + STACK_SIZE);
    return seen;
}

[[noreturn]] void differ(const char* engine, const char* what, const Seen& i, const Seen& n) {
    std::fprintf(stderr,
                 "%s differs from the plain loop in %s\n"
                 "plain loop: end %d pc %d p %d b %d t %d, %zu bytes\n"
                 "%-11s end %d pc %d p %d b %d t %d, %zu bytes\n",
                 engine, what, static_cast<int>(i.end), i.pc, i.p, i.b, i.t, i.out.size(), engine,
                 static_cast<int>(n.end), n.pc, n.p, n.b, n.t, n.out.size());
    std::abort();
}

// Aborts unless `n` shows what `i` shows; `all_cells`: every cell, even
// above t after HLT.
void compare(const char* engine, const Seen& i, const Seen& n, bool all_cells) {
    if (i.out != n.out) differ(engine, "the output", i, n);
    if (i.end != n.end || i.message != n.message || i.pc != n.pc) differ(engine, "the end", i, n);
    if (i.p != n.p || i.b != n.b || i.t != n.t || i.ir.op != n.ir.op || i.ir.l != n.ir.l ||
        i.ir.a != n.ir.a)
        differ(engine, "the registers", i, n);
    std::size_t cells = i.cells.size();
    if (!all_cells && (i.end == RunEnd::halted || n.resumed))
        cells = i.t < 0 ? 0 : std::min(cells, static_cast<std::size_t>(i.t) + 1);
    for (std::size_t c = 0; c < cells; ++c)
        if (i.cells[c] != n.cells[c]) differ(engine, "the stack", i, n);
}

// Aborts unless the counted run `n` stops where `i` stopped, having begun
// as many instructions.
void expect_counted(const char* engine, const Seen& i, const Seen& n) {
    compare(engine, i, n, true);
    if (i.steps != n.steps) differ(engine, "the instructions begun", i, n);
}

// The budgets the input picks for a run that begins `steps` instructions:
// one from 1 to steps + 1, one from steps - 3 to steps + 1.
std::uint64_t picked_budget(const std::uint8_t* data, std::size_t size, std::uint64_t steps,
                            bool near_end) {
    std::uint64_t h = 1469598103934665603u; // FNV-1a
    for (std::size_t k = 0; k < size; ++k)
        h = (h ^ data[k]) * 1099511628211u;
    if (near_end) return steps > 3 ? steps - 3 + (h >> 40) % 5 : 1 + (h >> 40) % (steps + 1);
    return 1 + h % (steps + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t source_size = 0;
    while (source_size < size && data[source_size] != INPUT_SEPARATOR)
        ++source_size;
    std::size_t input_start = source_size < size ? source_size + 1 : size;
    std::string_view source(reinterpret_cast<const char*>(data), source_size);
    std::string_view input(reinterpret_cast<const char*>(data) + input_start, size - input_start);
    std::string generated;
    if (size >= 6 && data[0] == WILD_REFERENCE_MARK) {
        generated = wild_reference_input(data);
        source = generated;
        input = {};
    }

    CompileOptions compile_options;
    compile_options.encoding = Encoding::utf8;
    // On this thread's stack, within what it has left, as the language
    // server's target compiles.  A thread of its own per input (large_stack)
    // left memory resident with every thread under AddressSanitizer, until
    // a long session ran out of memory, and made each input ten times
    // slower (fuzz/README.md).
    compile_options.stack_bytes = 0;
    if (compile_text(source, compile_options).error != ErrorKind::none) return 0;

    // With a budget the run is watched: the plain loop alone, then the
    // counted loop between the fetches where the budget is due.  Without
    // one the interpreter engine runs the fast loop.
    Seen plain = run_on(Engine::interpreter, input, FUZZ_INSTRUCTION_BUDGET, true);
    if (plain.end == RunEnd::budget_spent) return 0;
    expect_counted("counted loop", plain,
                   run_on(Engine::interpreter, input, FUZZ_INSTRUCTION_BUDGET));
    compare("fast loop", plain, run_on(Engine::interpreter, input, 0), true);
    compare("native", plain, run_on(Engine::native, input, 0), true);
    // Each budget twice on the native tier: translated for the run, then
    // from the code made ready once for many runs, as the judge runs it.
    std::uint64_t budgets[2];
    Seen stopped[2];
    for (int near_end : {0, 1}) {
        budgets[near_end] = picked_budget(data, size, plain.steps, near_end != 0);
        stopped[near_end] = run_on(Engine::interpreter, input, budgets[near_end], true);
        expect_counted("counted loop with a budget", stopped[near_end],
                       run_on(Engine::interpreter, input, budgets[near_end]));
        expect_counted("native with a budget", stopped[near_end],
                       run_on(Engine::native, input, budgets[near_end]));
    }
    RunOptions ready;
    ready.engine = Engine::native;
    ready.budget = 1;
    if (prepare_runs(ready))
        for (int near_end : {0, 1})
            expect_counted("native made ready", stopped[near_end],
                           run_on(Engine::native, input, budgets[near_end]));
#if TSUMIKI_OPTIMISING
    compare("optimising", plain, run_on(Engine::optimising, input, 0), false);
    // Up at the first, second, ... loop head or routine start it can,
    // after as many as the input's length says (the first is the main
    // program's start), compiled on the spot or on another thread as the
    // length says too; after a failed guard, up again after as few loop
    // heads as it says; on from an index past its array, back at the
    // checkpoint after as few loop heads as it says, or 10000.
    tier_settings = TierSettings{static_cast<int>(size % 16),     0, 0, 200, true,
                                 size / 16 % 2 == 0 ? 1 << 30 : 0};
    tier_settings.back_off = static_cast<int>(size / 32 % 8);
    tier_settings.resumed_for = size / 256 % 2 == 0 ? 10'000 : static_cast<int>(size / 512 % 8);
    compare("tiered", plain, run_on(Engine::tiered, input, 0), false);
#endif
    return 0;
}
