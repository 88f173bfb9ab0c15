// The caller's own writers and readers may throw: the exception comes back
// to the caller of compile_text or run_program, unchanged, on every engine,
// and the next compile and run work as if nothing had happened.
//
// Built twice: into api_tests, against the traced core (the native tier and
// the plain loop, with the run trace), and into unit_tests, against
// tsumiki's own core (the native tier and the fast loop).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <string_view>

#include "diag/trace.hpp"
#include "driver/api.hpp"
#include "vm/machine.hpp"

#if TSUMIKI_TRACE
#define CALLBACKS_SUITE CallbacksOfTheTracedCore
#else
#define CALLBACKS_SUITE CallbacksOfTheCore
#endif

namespace {

// What a caller's callback throws: not the library's own kind of error.
struct CallerError {
    int code;
};

// A writer that takes `room` bytes, then throws; a reader that gives
// `room` bytes, then throws std::bad_alloc.
struct Failing {
    std::string bytes;
    std::size_t room = 0;
    std::string_view input;
};

bool write_then_throw(void* context, const char* bytes, std::size_t n) {
    auto* f = static_cast<Failing*>(context);
    if (f->bytes.size() + n > f->room) throw CallerError{42};
    f->bytes.append(bytes, n);
    return true;
}

std::size_t read_then_throw(void* context, char* bytes, std::size_t n) {
    auto* f = static_cast<Failing*>(context);
    if (f->input.empty()) throw std::bad_alloc();
    std::size_t k = n < f->input.size() ? n : f->input.size();
    f->input.copy(bytes, k);
    f->input.remove_prefix(k);
    return k;
}

// Writes 7, reads a number and writes it, then writes 1 to 3 in a loop.
const char* const PROGRAM = "program p;\nvar x;\nbegin\n  write(7);\n  read(x);\n  write(x);\n"
                            "  x := 1;\n  while x <= 3 do begin write(x); x := x + 1 end\nend.\n";

CompileOptions utf8() {
    CompileOptions options;
    options.encoding = Encoding::utf8;
    return options;
}

RunOptions run_options(Engine engine) {
    RunOptions options;
    options.encoding = Encoding::utf8;
    options.engine = engine;
    return options;
}

// The machine as every run leaves it: nothing of the last run's settings
// (a writer kept could point at what its caller has freed since).
void expect_ready() {
    EXPECT_EQ(text_out.write, nullptr);
    EXPECT_EQ(text_out.context, nullptr);
    EXPECT_FALSE(trace_on.parse || trace_on.lex || trace_on.emit || trace_on.run);
    EXPECT_EQ(instruction_budget, 0u);
    EXPECT_EQ(stop_flag, nullptr);
}

// The same program, compiled again, runs on `engine` as it always does.
void expect_next_run_works(Engine engine) {
    ASSERT_EQ(compile_text(PROGRAM, utf8()).error, ErrorKind::none);
    std::string out;
    std::string_view input = "5";
    RunOptions options = run_options(engine);
    options.output = string_writer(out);
    options.input = view_reader(input);
    RunResult r = run_program(options);
    EXPECT_EQ(r.end, RunEnd::halted);
    EXPECT_EQ(out, "7\n数を入力して下さい>5\n1\n2\n3\n");
}

const Engine ENGINES[] = {Engine::native, Engine::interpreter};

const char* name(Engine engine) {
    return engine == Engine::native ? "native" : "interpreter";
}

} // namespace

TEST(CALLBACKS_SUITE, AWriterThatThrowsAtAnyByteReachesTheCaller) {
    // The output held until the read (by_line off) or each line at once;
    // the writer throws at the first piece, in the middle of the run, or
    // at the last.
    for (Engine engine : ENGINES) {
        for (bool by_line : {false, true}) {
            for (std::size_t room : {0u, 2u, 24u, 34u}) {
                SCOPED_TRACE(std::string(name(engine)) + (by_line ? ", by line" : "") +
                             ", room " + std::to_string(room));
                ASSERT_EQ(compile_text(PROGRAM, utf8()).error, ErrorKind::none);
                Failing sink;
                sink.room = room;
                std::string_view input = "5";
                RunOptions options = run_options(engine);
                options.output = Writer{write_then_throw, &sink};
                options.output_by_line = by_line;
                options.input = view_reader(input);
                int thrown = 0;
                try {
                    run_program(options);
                } catch (const CallerError& e) {
                    thrown = e.code;
                }
                EXPECT_EQ(thrown, 42);
                // What the writer took is the start of the whole output.
                std::string all = "7\n数を入力して下さい>5\n1\n2\n3\n";
                EXPECT_EQ(all.substr(0, sink.bytes.size()), sink.bytes);
                expect_ready();
                expect_next_run_works(engine);
            }
        }
    }
}

TEST(CALLBACKS_SUITE, AReaderThatThrowsReachesTheCallerAfterTheOutputBeforeIt) {
    for (Engine engine : ENGINES) {
        SCOPED_TRACE(name(engine));
        ASSERT_EQ(compile_text(PROGRAM, utf8()).error, ErrorKind::none);
        Failing source;
        std::string out;
        RunOptions options = run_options(engine);
        options.output = string_writer(out);
        options.input = Reader{read_then_throw, &source};
        EXPECT_THROW(run_program(options), std::bad_alloc);
        // The prompt went out before the read that threw.
        EXPECT_EQ(out, "7\n数を入力して下さい>");
        expect_ready();
        expect_next_run_works(engine);
    }
}

TEST(CALLBACKS_SUITE, AReaderThatThrowsAfterSomeInputEndsTheRunThere) {
    // The first read gets its number; the reader throws when the number
    // might go on past the bytes it gave.
    for (Engine engine : ENGINES) {
        SCOPED_TRACE(name(engine));
        ASSERT_EQ(compile_text(PROGRAM, utf8()).error, ErrorKind::none);
        Failing source;
        source.input = "12";
        std::string out;
        RunOptions options = run_options(engine);
        options.output = string_writer(out);
        options.input = Reader{read_then_throw, &source};
        options.budget = 1000; // the traced core's watches are put back too
        EXPECT_THROW(run_program(options), std::bad_alloc);
        EXPECT_EQ(out, "7\n数を入力して下さい>");
        expect_ready();
        expect_next_run_works(engine);
    }
}

#if TSUMIKI_TRACE
TEST(CALLBACKS_SUITE, ATraceWriterThatThrowsReachesTheCaller) {
    for (Engine engine : ENGINES) {
        for (std::size_t room : {0u, 500u}) {
            SCOPED_TRACE(std::string(name(engine)) + ", room " + std::to_string(room));
            ASSERT_EQ(compile_text(PROGRAM, utf8()).error, ErrorKind::none);
            Failing trace;
            trace.room = room;
            std::string out;
            std::string_view input = "5";
            RunOptions options = run_options(engine);
            options.output = string_writer(out);
            options.input = view_reader(input);
            options.trace = true;
            options.trace_out = Writer{write_then_throw, &trace};
            EXPECT_THROW(run_program(options), CallerError);
            expect_ready();
            expect_next_run_works(engine);
        }
    }
}

TEST(CALLBACKS_SUITE, APulseThatThrowsReachesTheCaller) {
    for (Engine engine : ENGINES) {
        SCOPED_TRACE(name(engine));
        ASSERT_EQ(compile_text(PROGRAM, utf8()).error, ErrorKind::none);
        std::string out;
        std::string_view input = "5";
        RunOptions options = run_options(engine);
        options.output = string_writer(out);
        options.input = view_reader(input);
        options.pulse = Pulse{[](void*) { throw CallerError{7}; }, nullptr, 10};
        EXPECT_THROW(run_program(options), CallerError);
        // The output written before the tenth fetch went out first.
        EXPECT_EQ(out, "7\n数を入力して下さい>5\n");
        expect_ready();
        EXPECT_EQ(run_pulse.call, nullptr);
        expect_next_run_works(engine);
    }
}

TEST(CALLBACKS_SUITE, ACompileTraceWriterThatThrowsReachesTheCaller) {
    // On the caller's stack and on a thread of its own with a large stack;
    // at the first character and in the middle of the program.
    for (bool large_stack : {false, true}) {
        for (std::size_t room : {0u, 300u}) {
            SCOPED_TRACE(std::string(large_stack ? "large stack" : "own stack") + ", room " +
                         std::to_string(room));
            Failing trace;
            trace.room = room;
            CompileOptions options = utf8();
            options.traces.lex = true;
            options.traces.parse = true;
            options.trace_out = Writer{write_then_throw, &trace};
            options.large_stack = large_stack;
            EXPECT_THROW(compile_text(PROGRAM, options), CallerError);
            expect_ready();
            expect_next_run_works(Engine::native);
        }
    }
}

namespace {

int open_descriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

} // namespace

TEST(CALLBACKS_SUITE, ASourceFileIsClosedWhenTheCompileThrows) {
    std::string path = ::testing::TempDir() + "callbacks_test.tsu";
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(PROGRAM, f);
    std::fclose(f);
    const int before = open_descriptors();
    for (std::size_t room : {0u, 300u}) {
        Failing trace;
        trace.room = room;
        CompileOptions options = utf8();
        options.traces.lex = true;
        options.trace_out = Writer{write_then_throw, &trace};
        EXPECT_THROW(compile_file(path.c_str(), options), CallerError);
    }
    EXPECT_EQ(open_descriptors(), before);
    EXPECT_EQ(compile_file(path.c_str(), utf8()).error, ErrorKind::none);
    std::remove(path.c_str());
}
#endif

