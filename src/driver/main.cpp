// tsumiki SOURCE: compiles the program in SOURCE and runs it at once.
#include <cstdio>
#include <cstdlib>

#include "diag/diag.hpp"
#include "driver/large_stack.hpp"
#include "lexer/reader.hpp"
#include "parser/blocks.hpp"
#include "vm/machine.hpp"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf(msg(MSG_USAGE), argc > 0 && argv[0] != nullptr ? argv[0] : "tsumiki");
        std::exit(1);
    }
    const char* path = argv[1];
    if (open_source(path) == 0) {
        std::printf(msg(MSG_OPEN_FAILED_DRIVER), path);
        std::exit(1);
    }
    run_on_large_stack(parse_program);
    close_source();
    interpret();
    std::exit(0);
}
