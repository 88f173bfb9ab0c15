// libFuzzer harness for the native tier: compiles one fuzz input (as
// fuzz/harness.cpp reads it: a source text, optionally a Ctrl-Z byte and the
// bytes `read` finds) and runs it on the interpreter and on the native tier;
// any difference in what a caller can see aborts.
//
// The interpreter runs first, with the instruction budget; a run that does
// not end within it is left out, since the native tier has no budget.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "driver/api.hpp"
#include "vm/machine.hpp"

namespace {

constexpr std::uint64_t FUZZ_INSTRUCTION_BUDGET = 100'000;

constexpr unsigned char INPUT_SEPARATOR = 0x1A;

// Everything a run leaves behind.
struct Seen {
    std::string out;
    RunEnd end;
    std::string message;
    std::int32_t pc, p, b, t;
    std::vector<std::int32_t> cells;
};

Seen run_on(Engine engine, std::string_view input, std::uint64_t budget) {
    Seen seen{};
    RunOptions options;
    options.encoding = Encoding::utf8;
    options.input = view_reader(input);
    options.output = string_writer(seen.out);
    options.engine = engine;
    options.budget = budget;
    RunResult result = run_program(options);
    seen.end = result.end;
    seen.message = result.message;
    seen.pc = result.pc;
    seen.p = p;
    seen.b = b;
    seen.t = t;
    seen.cells.assign(s, s + STACK_SIZE);
    return seen;
}

[[noreturn]] void differ(const char* what, const Seen& i, const Seen& n) {
    std::fprintf(stderr,
                 "native tier differs from the interpreter in %s\n"
                 "interpreter: end %d pc %d p %d b %d t %d, %zu bytes\n"
                 "native:      end %d pc %d p %d b %d t %d, %zu bytes\n",
                 what, static_cast<int>(i.end), i.pc, i.p, i.b, i.t, i.out.size(),
                 static_cast<int>(n.end), n.pc, n.p, n.b, n.t, n.out.size());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t source_size = 0;
    while (source_size < size && data[source_size] != INPUT_SEPARATOR)
        ++source_size;
    std::size_t input_start = source_size < size ? source_size + 1 : size;
    std::string_view source(reinterpret_cast<const char*>(data), source_size);
    std::string_view input(reinterpret_cast<const char*>(data) + input_start, size - input_start);

    CompileOptions compile_options;
    compile_options.encoding = Encoding::utf8;
    // On this thread's stack, within what it has left, as the language
    // server's target compiles.  A thread of its own per input (large_stack)
    // left memory resident with every thread under AddressSanitizer, until
    // a long session ran out of memory, and made each input ten times
    // slower (fuzz/README.md).
    compile_options.stack_bytes = 0;
    if (compile_text(source, compile_options).error != ErrorKind::none) return 0;

    Seen by_interpreter = run_on(Engine::interpreter, input, FUZZ_INSTRUCTION_BUDGET);
    if (by_interpreter.end == RunEnd::budget_spent) return 0;
    Seen native = run_on(Engine::native, input, 0);
    const Seen& i = by_interpreter;
    const Seen& n = native;
    if (i.out != n.out) differ("the output", i, n);
    if (i.end != n.end || i.message != n.message || i.pc != n.pc) differ("the end", i, n);
    if (i.p != n.p || i.b != n.b || i.t != n.t) differ("the registers", i, n);
    if (i.cells != n.cells) differ("the stack", i, n);
    return 0;
}
