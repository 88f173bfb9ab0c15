// Measures the backends in one process: for each program and backend, the
// compile time (building the IR, optimising, making machine code that can
// be called) and the run time of the compiled main routine, medians of
// std::chrono::steady_clock's time and of the CPU time (getrusage, the
// children's included), each run's output checked against the program's
// expected bytes.  Prints a Markdown table.
//
//   tsumiki-backends [--bench DIR] [--runs N] [--statements N] [--only PROGRAM] [--split]
//       (--split: also the forms with arrays in the stack only, and with
//       entries at loop heads only)
//   tsumiki-backends --faults     the guard programs must fail their guards,
//                                 and the resumable form start at loop heads
//   tsumiki-backends --source N   prints the straight-line program's source
//   tsumiki-backends --chain-source N   the same for its chained form
#include <algorithm>
#include <chrono>
#include <sys/resource.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "backend.hpp"

using namespace backends;

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// CPU time of this process and of the children it waited for (libgccjit
// runs the assembler and the linker as processes), in ms.
double cpu_ms() {
    double ms = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage u{};
        getrusage(who, &u);
        ms += (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
    }
    return ms;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Options {
    std::string bench = "bench/programs";
    int runs = 5;
    int statements = 990;
    std::string only;
    bool split = false; // also the two forms with one trait of the resumable one each
};

std::vector<std::unique_ptr<Backend>> all_backends(Form form) {
    std::vector<std::unique_ptr<Backend>> v;
    v.push_back(make_llvm(1, form));
    v.push_back(make_llvm(2, form));
    v.push_back(make_gccjit(1, form));
    v.push_back(make_gccjit(2, form));
    return v;
}

// One row: compiles `runs` times, runs the last code `runs` times; false
// when any run's output or guard was wrong.
bool measure(Backend& be, const Program& p, int runs, bool run_it) {
    std::vector<double> compile, compile_cpu, run, run_cpu, build, optimise, codegen;
    Compiled code;
    for (int k = 0; k < runs; ++k) {
        double c0 = cpu_ms();
        auto t0 = Clock::now();
        code = be.compile(p);
        compile.push_back(ms_since(t0));
        compile_cpu.push_back(cpu_ms() - c0);
        build.push_back(code.build_ms);
        optimise.push_back(code.optimise_ms);
        codegen.push_back(code.codegen_ms);
    }
    bool ok = true;
    Run r;
    for (int k = 0; k < (run_it ? runs : 1); ++k) {
        double c0 = cpu_ms();
        clear_stack(r);
        auto t0 = Clock::now();
        std::int32_t guard = run_compiled(code.main, r, p.input);
        run.push_back(ms_since(t0));
        run_cpu.push_back(cpu_ms() - c0);
        if (guard != 0 || r.output != p.expected) ok = false;
    }
    std::printf("| %s | %s | %.1f | %.1f | %.1f | %.1f / %.1f / %.1f | %.2f | %.2f | %s |\n", p.name.c_str(),
                be.name().c_str(), median(compile), *std::min_element(compile.begin(), compile.end()),
                median(compile_cpu), median(build), median(optimise), median(codegen), median(run), median(run_cpu),
                ok ? "ok" : "WRONG");
    std::fflush(stdout);
    return ok;
}

struct FaultCase {
    Program p;
    Guard g = GUARD_NONE;
    std::int32_t entry = 0;
    std::vector<std::pair<int, std::int32_t>> before; // stack cells set before the run
    std::vector<std::pair<int, std::int32_t>> after;  // and what they must hold after it
};

std::vector<FaultCase> fault_cases() {
    std::vector<FaultCase> cases;
    cases.push_back({index_fault_program(), GUARD_INDEX, 0, {}, {}});
    cases.push_back({stack_fault_program(), GUARD_STACK, 0, {}, {}});
    Program reads = straight_program(10);
    reads.input = "3\n5\n"; // one number short
    reads.expected = "";
    cases.push_back({reads, GUARD_SERVICE, 0, {}, {}});
    return cases;
}

// Starts at a loop head, with the variables (from cell 3) and the arrays
// of the frame set in the stack: only the resumable form can.
std::vector<FaultCase> resume_cases(const std::string& bench) {
    std::vector<FaultCase> cases;
    // loops at its outer loop with i = n: only the last write is left.
    Program loops = loops_program(bench);
    loops.expected = "12345\n";
    cases.push_back({loops, GUARD_NONE, 1, {{3, 300}, {4, 300}, {7, 12345}}, {}});
    // The index fault's last round: the index guard fails at once, after
    // the round's stores to a[0..99] (cells 6 to 105) in the stack.
    Program last = index_fault_program();
    last.expected = "";
    cases.push_back({last, GUARD_INDEX, 1, {{4, 1000000}, {6, -1}}, {{6, 1000000}, {105, 1000099}}});
    // matrix at its trace loop (the 7th) on the last round, at its third
    // row: a[26] is left to add, then the final sum a[0] + 14 a[13] + 27 a[26].
    Program matrix = matrix_program(bench);
    matrix.expected = "3\n42\n";
    cases.push_back({matrix, GUARD_NONE, 7,
                     {{3, 12}, {4, 2}, {8, 5999}, {9, 2}, {10 + 0, 1}, {10 + 13, 1}, {10 + 26, 1}},
                     {{10 + 26, 1}}});
    return cases;
}

bool check(Backend& be, const FaultCase& c) {
    Run r;
    Compiled code = be.compile(c.p);
    clear_stack(r);
    for (auto [cell, v] : c.before)
        r.stack[cell] = v;
    std::int32_t guard = run_compiled(code.main, r, c.p.input, c.entry);
    bool right = guard == c.g && r.output == c.p.expected;
    for (auto [cell, v] : c.after)
        right = right && r.stack[cell] == v;
    std::printf("%s %s from entry %d: guard %d, %zu bytes written: %s\n", be.name().c_str(), c.p.name.c_str(),
                c.entry, guard, r.output.size(), right ? "ok" : "WRONG");
    return right;
}

bool faults(const std::string& bench) {
    bool ok = true;
    for (Form form : {Form::Plain, Form::Resumable}) {
        for (auto& be : all_backends(form)) {
            for (const FaultCase& c : fault_cases())
                ok = check(*be, c) && ok;
            if (form == Form::Resumable)
                for (const FaultCase& c : resume_cases(bench))
                    ok = check(*be, c) && ok;
        }
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    for (int k = 1; k < argc; ++k) {
        auto arg = [&] {
            if (k + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", argv[k]);
                std::exit(2);
            }
            return std::string(argv[++k]);
        };
        if (!std::strcmp(argv[k], "--bench"))
            o.bench = arg();
        else if (!std::strcmp(argv[k], "--runs"))
            o.runs = std::max(1, std::atoi(arg().c_str()));
        else if (!std::strcmp(argv[k], "--statements"))
            o.statements = std::max(1, std::atoi(arg().c_str()));
        else if (!std::strcmp(argv[k], "--only"))
            o.only = arg();
        else if (!std::strcmp(argv[k], "--split"))
            o.split = true;
        else if (!std::strcmp(argv[k], "--source")) {
            std::fputs(straight_source(std::max(1, std::atoi(arg().c_str()))).c_str(), stdout);
            return 0;
        } else if (!std::strcmp(argv[k], "--chain-source")) {
            std::fputs(straight_source(std::max(1, std::atoi(arg().c_str())), true).c_str(), stdout);
            return 0;
        } else if (!std::strcmp(argv[k], "--faults")) {
            try {
                return faults(o.bench) ? 0 : 1;
            } catch (const std::exception& e) {
                std::fprintf(stderr, "%s\n", e.what());
                return 1;
            }
        } else {
            std::fprintf(stderr, "usage: %s [--bench DIR] [--runs N] [--statements N] [--only PROGRAM] [--split] | "
                                 "--faults | --source N | --chain-source N\n", argv[0]);
            return 2;
        }
    }
    try {
        auto t0 = Clock::now();
        auto backends = all_backends(Form::Plain);
        auto resumable = all_backends(Form::Resumable);
        std::printf("backends set up (LLVM's targets and four LLJITs) in %.2f ms\n\n", ms_since(t0));
        std::vector<Program> programs = {loops_program(o.bench), matrix_program(o.bench), fib_program(o.bench),
                                         straight_program(o.statements), straight_program(o.statements, true)};
        std::printf("| program | backend | compile ms | compile ms (min) | compile CPU ms | build / optimise / codegen ms | run ms | run CPU ms | output |\n");
        std::printf("|---|---|---:|---:|---:|---:|---:|---:|---|\n");
        bool ok = true;
        for (const Program& p : programs) {
            if (!o.only.empty() && p.name != o.only) continue;
            bool straight = p.name == "straight" || p.name == "chain";
            for (auto& be : backends)
                ok = measure(*be, p, o.runs, !straight) && ok;
            if (straight) continue;
            for (auto& be : resumable)
                ok = measure(*be, p, o.runs, true) && ok;
            if (!o.split) continue;
            for (Form form : {Form::StackArrays, Form::Entries})
                for (auto& be : all_backends(form))
                    ok = measure(*be, p, o.runs, true) && ok;
        }
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
