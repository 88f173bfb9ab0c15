// tsumiki-listcode SOURCE: compiles SOURCE and prints the code store
// instead of running it.  The baseline interpreter of the benchmarks
// (baseline/baseline.cpp) runs that listing.
#include <cstdio>
#include <cstdlib>

#include "driver/large_stack.hpp"
#include "lexer/reader.hpp"
#include "parser/blocks.hpp"
#include "vm/code.hpp"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tsumiki-listcode SOURCE\n");
        return 1;
    }
    if (open_source(argv[1]) == 0) std::exit(1);
    run_on_large_stack(parse_program);
    close_source();
    list_code();
    std::exit(0);
}
