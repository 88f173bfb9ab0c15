// A writer with room for a given number of bytes, for the tests that run a
// program on several engines and compare what each wrote, up to a writer
// that refuses the rest as a full disk would; and a run into one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "driver/api.hpp"

struct Limited {
    std::string bytes;
    std::size_t room;
};

// Takes the bytes while they fit in `room` (Limited*), and refuses them,
// all of them, otherwise.
inline bool write_limited(void* context, const char* bytes, std::size_t n) {
    auto* to = static_cast<Limited*>(context);
    if (n > to->room - to->bytes.size()) return false;
    to->bytes.append(bytes, n);
    return true;
}

// Runs the program compiled last on `engine`, on `input`, with `budget`
// (0: none), writing into `sink`; messages in UTF-8.
inline RunResult run_into(Limited& sink, Engine engine, std::string_view input,
                          std::uint64_t budget) {
    RunOptions options;
    options.encoding = Encoding::utf8;
    options.input = view_reader(input);
    options.output = Writer{write_limited, &sink};
    options.engine = engine;
    options.budget = budget;
    return run_program(options);
}
