// libFuzzer harness: compiles and runs one fuzz input as a program and its
// standard input, with the real reader, lexer, parser and machine, through
// the library interface.
//
// An input is a source text, optionally followed by a Ctrl-Z byte (0x1A)
// and the bytes that `read` finds on standard input.  The reader ends the
// source at the first Ctrl-Z anyway, so the split loses nothing.
//
// Every error comes back as a result; an endless run is stopped by the
// instruction budget.  A crash, a sanitizer report or an exception that
// escapes the interface is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "driver/api.hpp"

namespace {

// Instructions one input may execute before it counts as an endless loop.
constexpr std::uint64_t FUZZ_INSTRUCTION_BUDGET = 100'000;

constexpr unsigned char INPUT_SEPARATOR = 0x1A;

// The programs' own output is of no interest; TSUMIKI_FUZZ_OUTPUT=1 keeps it
// for replaying one input.
bool keep_output = false;

bool discard(void*, const char*, std::size_t) {
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* keep = std::getenv("TSUMIKI_FUZZ_OUTPUT");
    keep_output = keep != nullptr && std::strcmp(keep, "1") == 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t source_size = 0;
    while (source_size < size && data[source_size] != INPUT_SEPARATOR)
        ++source_size;
    std::size_t input_start = source_size < size ? source_size + 1 : size;
    std::string_view source(reinterpret_cast<const char*>(data), source_size);
    std::string_view input(reinterpret_cast<const char*>(data) + input_start, size - input_start);

    CompileOptions compile_options;
    compile_options.encoding = Encoding::utf8;
    compile_options.names = true;
    // On this thread's stack, within what it has left, as the language
    // server's target compiles.  A thread of its own per input (large_stack)
    // left memory resident with every thread under AddressSanitizer, until
    // a long session ran out of memory, and made each input ten times
    // slower (fuzz/README.md).
    compile_options.stack_bytes = 0;
    Compiled compiled = compile_text(source, compile_options);
    if (compiled.error != ErrorKind::none) return 0;

    RunOptions run_options;
    run_options.encoding = Encoding::utf8;
    run_options.input = view_reader(input);
    if (!keep_output) run_options.output = Writer{discard, nullptr};
    run_options.budget = FUZZ_INSTRUCTION_BUDGET;
    RunResult result = run_program(run_options);
    if (result.end == RunEnd::output_failed || result.end == RunEnd::stopped) std::abort();
    return 0;
}
