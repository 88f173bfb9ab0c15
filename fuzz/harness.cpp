// libFuzzer harness: compiles and runs one fuzz input as a program and its
// standard input, with the real reader, lexer, parser and machine.
//
// An input is a source text, optionally followed by a Ctrl-Z byte (0x1A)
// and the bytes that `read` finds on standard input.  The reader ends the
// source at the first Ctrl-Z anyway, so the split loses nothing.
//
// Every fatal error ends the process through end_process; here its handler
// throws instead, and the input ends normally.  Status 1 is an error the
// program reported, status 2 an endless run stopped by the instruction
// budget; anything else is a fault and aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diag/diag.hpp"
#include "driver/large_stack.hpp"
#include "driver/reset.hpp"
#include "lexer/lexer.hpp"
#include "lexer/reader.hpp"
#include "parser/blocks.hpp"
#include "symtab/symtab.hpp"
#include "vm/code.hpp"
#include "vm/machine.hpp"

namespace {

// Instructions one input may execute before it counts as an endless loop.
constexpr std::uint64_t FUZZ_INSTRUCTION_BUDGET = 100'000;

constexpr unsigned char INPUT_SEPARATOR = 0x1A;

struct ProcessEnd {
    int status;
};

void throw_end(int status) {
    throw ProcessEnd{status};
}

// A read-only stream over a copy of the bytes.  fmemopen wants at least one
// byte, so an empty text becomes a lone Ctrl-Z: the end of the source to
// the reader, and to `read` a character that is not a number, which leaves
// the cell as the end of the input would.
std::FILE* byte_stream(const std::uint8_t* data, std::size_t size, char*& copy) {
    static char lone_end[1] = {static_cast<char>(INPUT_SEPARATOR)};
    if (size == 0) {
        copy = nullptr;
        return fmemopen(lone_end, 1, "r");
    }
    copy = static_cast<char*>(std::malloc(size));
    if (copy == nullptr) std::abort();
    std::memcpy(copy, data, size);
    return fmemopen(copy, size, "r");
}

int run_one(std::FILE* source, std::FILE* input) {
    try {
        open_source_stream(source);
        run_on_large_stack(parse_program);
        close_source();
        machine_input = input;
        interpret();
    } catch (const ProcessEnd& end) {
        return end.status;
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    set_exit_handler(throw_end);
    instruction_budget = FUZZ_INSTRUCTION_BUDGET;
    // The programs' own output is of no interest and would drown the
    // fuzzer's; TSUMIKI_FUZZ_OUTPUT=1 keeps it for replaying one input.
    const char* keep = std::getenv("TSUMIKI_FUZZ_OUTPUT");
    if (keep == nullptr || std::strcmp(keep, "1") != 0) {
        if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t source_size = 0;
    while (source_size < size && data[source_size] != INPUT_SEPARATOR)
        ++source_size;
    std::size_t input_start = source_size < size ? source_size + 1 : size;

    reset_state();
    char* source_copy = nullptr;
    char* input_copy = nullptr;
    std::FILE* source = byte_stream(data, source_size, source_copy);
    std::FILE* input = byte_stream(data + input_start, size - input_start, input_copy);
    if (source == nullptr || input == nullptr) std::abort();

    int status = run_one(source, input);
    std::fflush(stdout);

    reset_state(); // closes the source if compilation stopped early
    machine_input = stdin;
    std::fclose(input);
    std::free(source_copy);
    std::free(input_copy);

    if (status != 0 && status != 1 && status != BUDGET_EXHAUSTED_STATUS) std::abort();
    return 0;
}
