#include "support.hpp"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "vm/code.hpp"
#include "vm/machine.hpp"

namespace {

std::uint64_t mix(std::uint64_t h, std::uint64_t v) {
    h ^= v + 0x9e3779b97f4a7c15u + (h << 6) + (h >> 2);
    return h * 0xff51afd7ed558ccdu;
}

std::uint64_t mix_signed(std::uint64_t h, std::int64_t v) {
    return mix(h, static_cast<std::uint64_t>(v));
}

// Reads the run trace as it comes: a state is the line of registers, the
// line of cells and the line of the instruction.
struct TraceReader {
    std::vector<std::uint64_t> states;
    std::size_t output_bytes = 0;
    std::string line;
    int stage = 0;
    std::uint64_t h = 0;

    void take(const char* bytes, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (bytes[i] != '\n') {
                line += bytes[i];
                continue;
            }
            end_line();
            line.clear();
        }
    }

    void end_line() {
        int pr, br, tr;
        if (std::sscanf(line.c_str(), "p = %d: b = %d: t = %d", &pr, &br, &tr) == 3) {
            h = 0;
            for (std::int64_t v : {pr, br, tr})
                h = mix_signed(h, v);
            h = mix(h, output_bytes);
            stage = 1;
        } else if (stage == 1) {
            const char* c = line.c_str();
            while (*c != '\0') {
                if (*c == '-' || (*c >= '0' && *c <= '9')) {
                    char* end;
                    h = mix_signed(h, std::strtoll(c, &end, 10));
                    c = end;
                } else {
                    ++c;
                }
            }
            stage = 2;
        } else if (stage == 2 && !line.empty()) {
            char name[4] = {};
            int l, a;
            ASSERT_EQ(std::sscanf(line.c_str(), "%3c(%d,%d)", name, &l, &a), 3) << line;
            int op = -1;
            for (int k = 0; k < OPCODE_COUNT; ++k)
                if (std::strcmp(mnemonics[k], name) == 0) op = k;
            h = mix_signed(mix_signed(mix_signed(h, op), l), a);
            states.push_back(h);
            stage = 0;
        }
    }
};

bool take_trace(void* context, const char* bytes, std::size_t n) {
    static_cast<TraceReader*>(context)->take(bytes, n);
    return true;
}

bool count_output(void* context, const char*, std::size_t n) {
    static_cast<TraceReader*>(context)->output_bytes += n;
    return true;
}

} // namespace

void open_program(DebugSession& session, const std::string& source, const std::string& input,
                  std::string* out, std::size_t history_bytes) {
    SessionOptions options;
    options.input = input;
    static std::string ignored;
    options.output = string_writer(out != nullptr ? *out : ignored);
    options.history_bytes = history_bytes;
    Compiled compiled = session.open_text(source, options);
    ASSERT_EQ(compiled.error, ErrorKind::none) << compiled.message;
    ASSERT_TRUE(session.is_open());
}

std::string source_file(const std::string& relative) {
    std::ifstream in(std::string(TSUMIKI_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::uint64_t trace_state(const DebugSession& session) {
    Registers r = session.registers();
    std::uint64_t h = 0;
    for (std::int64_t v : {r.p, r.b, r.t})
        h = mix_signed(h, v);
    h = mix(h, session.output().size());
    for (std::int32_t i = 0; i <= r.t; ++i)
        h = mix_signed(h, session.cell(i));
    const Instruction& in = session.program().code[static_cast<std::size_t>(r.p)];
    return mix_signed(mix_signed(mix_signed(h, in.op), in.l), in.a);
}

std::uint64_t whole_state(const DebugSession& session) {
    Registers r = session.registers();
    std::uint64_t h = 0;
    for (std::int64_t v : {r.p, r.b, r.t})
        h = mix_signed(h, v);
    // A sum of every cell times a weight of its own: every cell counts.
    std::uint64_t cells = 0;
    for (std::int32_t i = -1; i < STACK_SIZE; ++i)
        cells += static_cast<std::uint64_t>(static_cast<std::uint32_t>(s[i])) *
                 (0x9e3779b97f4a7c15u * static_cast<std::uint64_t>(i + 2) | 1u);
    h = mix(h, cells);
    h = mix(h, std::hash<std::string>{}(session.output()));
    h = mix(h, session.input_position());
    return mix(h, session.ended() ? 1 : 0);
}

std::vector<std::uint64_t> traced_states(const std::string& input) {
    TraceReader reader;
    std::string_view rest = input;
    RunOptions options;
    options.encoding = Encoding::utf8;
    options.input = view_reader(rest);
    options.output = Writer{count_output, &reader};
    options.trace = true;
    options.trace_out = Writer{take_trace, &reader};
    options.engine = Engine::interpreter;
    run_program(options);
    return reader.states;
}

int line_here(const DebugSession& session) {
    return session.place(session.registers().p).pos.line;
}
