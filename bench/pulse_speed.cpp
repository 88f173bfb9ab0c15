// tsumiki-pulsespeed: how fast the traced core runs a program whose run
// has a pulse, as the playground's runs have, on the counted fast loop and
// on the plain loop alone.
//
//   tsumiki-pulsespeed [--every N] [--only counted|plain] PROGRAM.tsu[:INPUT] ...
//
// For each program: a run with a pulse every N instructions (default
// 10,000, the playground's), first with the counted fast loop, then with
// the plain loop alone (counted_runs off), or only one of them.  Times are
// CPU times.  Printed as a Markdown table: instructions run, millions of
// instructions per second on each, and their ratio.  With --only, one run
// and nothing timed that callgrind would count twice.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "diag/stream.hpp"
#include "driver/api.hpp"
#include "vm/machine.hpp"

namespace {

bool discard(void*, const char*, std::size_t) {
    return true;
}

void pulse(void* context) {
    ++*static_cast<std::uint64_t*>(context);
}

double cpu_seconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// One run of the compiled program; its CPU time, and its count in `steps`.
double run_once(const std::string& input, std::uint64_t every, bool counted, std::uint64_t& steps) {
    counted_runs = counted;
    std::string_view rest = input;
    std::uint64_t pulses = 0;
    RunOptions run;
    run.encoding = Encoding::utf8;
    run.input = view_reader(rest);
    run.output = Writer{discard, nullptr};
    run.engine = Engine::interpreter;
    run.pulse = Pulse{pulse, &pulses, every};
    const double start = cpu_seconds();
    RunResult result = run_program(run);
    const double took = cpu_seconds() - start;
    steps = result.steps;
    counted_runs = true;
    return took;
}

double per_second(std::uint64_t instructions, double seconds) {
    return seconds > 0 ? static_cast<double>(instructions) / seconds / 1e6 : 0;
}

} // namespace

int main(int argc, char** argv) {
    std::uint64_t every = 10000;
    std::string only;
    std::vector<std::string> programs;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--every" && i + 1 < argc) {
            every = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--only" && i + 1 < argc) {
            only = argv[++i];
        } else {
            programs.push_back(a);
        }
    }
    if (programs.empty() || (!only.empty() && only != "counted" && only != "plain")) {
        std::fprintf(stderr, "usage: tsumiki-pulsespeed [--every N] [--only counted|plain] "
                             "PROGRAM.tsu[:INPUT] ...\n");
        return 2;
    }
    if (only.empty()) {
        std::printf("| program | instructions | counted M/s | plain M/s | counted / plain |\n");
        std::printf("|---|---:|---:|---:|---:|\n");
    }
    for (const std::string& named : programs) {
        std::string path = named, input;
        std::size_t colon = named.rfind(':');
        if (colon != std::string::npos && colon > 0) {
            path = named.substr(0, colon);
            input = named.substr(colon + 1);
        }
        CompileOptions c;
        c.large_stack = true;
        Compiled compiled = compile_file(path.c_str(), c);
        if (compiled.error != ErrorKind::none) {
            std::fprintf(stderr, "%s: does not compile: %s", path.c_str(),
                         compiled.message.c_str());
            return 1;
        }
        std::uint64_t steps = 0, plain_steps = 0;
        if (!only.empty()) {
            run_once(input, every, only == "counted", steps);
            std::printf("%s: %llu instructions\n", path.c_str(),
                        static_cast<unsigned long long>(steps));
            continue;
        }
        const double counted = run_once(input, every, true, steps);
        const double plain = run_once(input, every, false, plain_steps);
        if (steps != plain_steps) {
            std::fprintf(stderr, "%s: the counts differ: %llu counted, %llu plain\n", path.c_str(),
                         static_cast<unsigned long long>(steps),
                         static_cast<unsigned long long>(plain_steps));
            return 1;
        }
        std::printf("| %s | %llu | %.0f | %.0f | %.2f |\n", path.c_str(),
                    static_cast<unsigned long long>(steps), per_second(steps, counted),
                    per_second(steps, plain), plain / counted);
    }
    return 0;
}
