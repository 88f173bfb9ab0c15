// tsumiki-debugspeed: how fast a debugging session runs a program to a
// breakpoint with its history on, and how much memory that history takes.
//
//   tsumiki-debugspeed [--max N] [--history MB] PROGRAM.tsu[:INPUT] ...
//
// For each program: a session (debug/session.hpp) with a breakpoint on its
// HLT is continued until it stops there, or until N instructions have run
// (default 20 million: the benchmarks run far longer under the session
// than they are worth waiting for), its history kept up to MB megabytes
// (default: the session's default, 64).  The same number of instructions then
// runs on the plain interpreter of the same traced core, without a
// session, for comparison.  Times are CPU times.  Printed as a Markdown
// table: instructions run, millions of instructions per second in the
// session and on the plain loop, their ratio, the history's bytes per
// million instructions (of those it keeps), and how many instructions'
// history was dropped past the default limit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "debug/session.hpp"
#include "driver/api.hpp"
#include "vm/code.hpp"

namespace {

bool discard(void*, const char*, std::size_t) {
    return true;
}

struct Source {
    std::string text;
    std::size_t given = 0;
};

std::size_t give(void* context, char* bytes, std::size_t n) {
    auto* source = static_cast<Source*>(context);
    std::size_t left = source->text.size() - source->given;
    if (n > left) n = left;
    source->text.copy(bytes, n, source->given);
    source->given += n;
    return n;
}

bool read_file(const std::string& path, std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char buffer[1 << 14];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

double cpu_seconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

struct Figures {
    std::uint64_t instructions = 0;
    double session_seconds = 0;
    double plain_seconds = 0;
    double bytes_per_million = 0;
    std::uint64_t dropped = 0;
    bool reached = false; // stopped at the breakpoint on HLT
};

// Continues a session on `path` to the breakpoint on its HLT, at most `max`
// instructions; false when it can't be measured (a message is printed).
bool measure(const std::string& path, const std::string& input, std::uint64_t max,
             std::size_t history, Figures& f) {
    static DebugSession session;
    SessionOptions options;
    options.encoding = Encoding::utf8;
    options.input = input;
    options.output = Writer{discard, nullptr};
    options.large_stack = true;
    options.history_bytes = history;
    Compiled compiled = session.open_file(path.c_str(), options);
    if (compiled.error != ErrorKind::none) {
        std::fprintf(stderr, "%s: does not compile: %s", path.c_str(), compiled.message.c_str());
        return false;
    }
    const std::vector<Instruction>& code = session.program().code;
    for (std::size_t i = 0; i < code.size(); ++i)
        if (code[i].op == HLT) session.break_at_instruction(static_cast<std::int32_t>(i));

    double start = cpu_seconds();
    Stop stop = session.run(Motion::cont, max);
    f.session_seconds = cpu_seconds() - start;
    HistoryState h = session.history();
    f.instructions = h.position;
    f.reached = stop.reason == StopReason::breakpoint;
    f.dropped = h.dropped;
    std::uint64_t kept = h.position - h.oldest;
    f.bytes_per_million = kept == 0 ? 0 : static_cast<double>(h.bytes) * 1e6 / static_cast<double>(kept);
    if (stop.reason != StopReason::breakpoint && stop.reason != StopReason::budget) {
        std::fprintf(stderr, "%s: the session stopped for another reason (%d) after %llu instructions\n",
                     path.c_str(), static_cast<int>(stop.reason),
                     static_cast<unsigned long long>(f.instructions));
        return false;
    }

    // The same instructions on the plain loop of the same core.
    CompileOptions c;
    c.large_stack = true;
    if (compile_file(path.c_str(), c).error != ErrorKind::none) return false;
    Source source{input};
    RunOptions run;
    run.encoding = Encoding::utf8;
    run.input = Reader{give, &source};
    run.output = Writer{discard, nullptr};
    run.engine = Engine::interpreter;
    run.budget = f.instructions;
    start = cpu_seconds();
    run_program(run);
    f.plain_seconds = cpu_seconds() - start;
    return true;
}

double per_second(std::uint64_t instructions, double seconds) {
    return seconds > 0 ? static_cast<double>(instructions) / seconds / 1e6 : 0;
}

} // namespace

int main(int argc, char** argv) {
    std::uint64_t max = 20'000'000;
    std::size_t history = HISTORY_BYTES_DEFAULT;
    std::vector<std::string> programs;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--max" && i + 1 < argc) {
            max = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--history" && i + 1 < argc) {
            history = static_cast<std::size_t>(std::strtoull(argv[++i], nullptr, 10)) << 20;
        } else if (!a.empty() && a[0] != '-') {
            programs.push_back(a);
        } else {
            std::fprintf(stderr, "usage: tsumiki-debugspeed [--max N] [--history MB] PROGRAM.tsu[:INPUT] ...\n");
            return 1;
        }
    }
    if (programs.empty() || max == 0 || history == 0) {
        std::fprintf(stderr, "usage: tsumiki-debugspeed [--max N] [--history MB] PROGRAM.tsu[:INPUT] ...\n");
        return 1;
    }

    std::printf("| program | instructions | session, M/s | plain loop, M/s | plain / session | "
                "history, MB per million | dropped |\n|---|---:|---:|---:|---:|---:|---:|\n");
    std::uint64_t total = 0;
    double session_total = 0;
    double plain_total = 0;
    int failed = 0;
    for (const std::string& argument : programs) {
        std::string path = argument;
        std::string input;
        std::size_t colon = argument.rfind(':');
        if (colon != std::string::npos) {
            path = argument.substr(0, colon);
            if (!read_file(argument.substr(colon + 1), input)) {
                std::fprintf(stderr, "%s: can't read\n", argument.substr(colon + 1).c_str());
                ++failed;
                continue;
            }
        }
        Figures f;
        if (!measure(path, input, max, history, f)) {
            ++failed;
            continue;
        }
        std::string name = path.substr(path.rfind('/') + 1);
        double session_rate = per_second(f.instructions, f.session_seconds);
        double plain_rate = per_second(f.instructions, f.plain_seconds);
        std::printf("| %s%s | %llu | %.1f | %.1f | %.1f | %.1f | %llu |\n", name.c_str(),
                    f.reached ? "" : " (cut)", static_cast<unsigned long long>(f.instructions),
                    session_rate, plain_rate, session_rate > 0 ? plain_rate / session_rate : 0,
                    f.bytes_per_million / 1e6, static_cast<unsigned long long>(f.dropped));
        total += f.instructions;
        session_total += f.session_seconds;
        plain_total += f.plain_seconds;
    }
    if (total > 0)
        std::printf("| all | %llu | %.1f | %.1f | %.1f | | |\n", static_cast<unsigned long long>(total),
                    per_second(total, session_total), per_second(total, plain_total),
                    session_total > 0 && plain_total > 0 ? session_total / plain_total : 0);
    return failed == 0 ? 0 : 1;
}
