// The stretch of source each instruction computes (Compiled::code_range):
// by hand for a few programs, and for every example against the tokens the
// lexer read (from the compile session's events) and against the code
// itself: an operator's range holds both its operands', a statement's last
// store or output holds the whole statement.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "debug/compile_session.hpp"
#include "vm/code.hpp"

namespace {

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::filesystem::path> examples() {
    std::vector<std::filesystem::path> found;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(TSUMIKI_SOURCE_DIR) + "/examples"))
        if (entry.path().extension() == ".tsu") found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}

Compiled compile(CompileSession& session, const std::string& source) {
    CompileOptions options;
    options.encoding = Encoding::utf8;
    return session.open_text(source, options);
}

bool before(SourcePos a, SourcePos b) {
    return a.line < b.line || (a.line == b.line && a.column < b.column);
}

bool same(SourcePos a, SourcePos b) {
    return a.line == b.line && a.column == b.column;
}

std::string shown(SourcePos p) {
    return std::to_string(p.line) + ":" + std::to_string(p.column);
}

// The source text a range covers, its lines joined by a blank.
std::string text_of(const std::string& source, SourceRange range) {
    std::vector<std::string> lines;
    std::stringstream in(source);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::string text;
    for (int n = range.first.line; n <= range.last.line; ++n) {
        if (n < 1 || n > static_cast<int>(lines.size())) return "?";
        const std::string& line = lines[static_cast<std::size_t>(n - 1)];
        auto from = n == range.first.line ? static_cast<std::size_t>(range.first.column - 1) : 0;
        auto to =
            n == range.last.line ? static_cast<std::size_t>(range.last.column - 1) : line.size();
        if (from > to || to > line.size()) return "?";
        if (!text.empty()) text += ' ';
        text += line.substr(from, to - from);
    }
    return text;
}

// "MNEMONIC text" per instruction, from the first to the last given.
std::vector<std::string> listed(const Compiled& c, const std::string& source, int first, int last) {
    std::vector<std::string> out;
    for (int i = first; i <= last; ++i)
        out.push_back(std::string(mnemonic(code[i].op)) + " " +
                      text_of(source, c.code_range[static_cast<std::size_t>(i)]));
    return out;
}

// The first instruction on a line, by code_pos.
int first_on_line(const Compiled& c, int line) {
    for (std::size_t i = 0; i < c.code_pos.size(); ++i)
        if (c.code_pos[i].line == line) return static_cast<int>(i);
    return -1;
}

TEST(CodeRanges, StepThroughAnAssignmentLightsEachSubexpression) {
    const std::string source = "program p;\n"
                               "var total, k;\n"
                               "begin\n"
                               "  total := 0; k := 3;\n"
                               "  total := total + k * 2;\n"
                               "  write(total)\n"
                               "end.\n";
    CompileSession session;
    Compiled c = compile(session, source);
    ASSERT_EQ(c.error, ErrorKind::none) << c.message;
    ASSERT_EQ(c.code_range.size(), static_cast<std::size_t>(c.code_size));
    const std::vector<std::string> expected{
        "UJP program p;",
        "ENT begin",
        "LDC 0",
        "STR total := 0",
        "LDC 3",
        "STR k := 3",
        "LOD total",
        "LOD k",
        "LDC 2",
        "OPR k * 2",
        "OPR total + k * 2",
        "STR total := total + k * 2",
        "LOD total",
        "PUT write(total)",
        "HLT .",
    };
    EXPECT_EQ(listed(c, source, 0, c.code_size - 1), expected);
}

TEST(CodeRanges, ElementsCallsJumpsAndReads) {
    const std::string source = "program q;\n"
                               "var a[1..3], i;\n"
                               "function f(x);\n"
                               "begin f := (x + 1) * x end;\n"
                               "begin\n"
                               "  read(a[2]);\n"
                               "  i := 1;\n"
                               "  while i <= 3 do i := i + 1;\n"
                               "  if f(a[2]) > -i then write(a[i - 1]) else write(0)\n"
                               "end.\n";
    CompileSession session;
    Compiled c = compile(session, source);
    ASSERT_EQ(c.error, ErrorKind::none) << c.message;
    const int f = first_on_line(c, 4) + 1; // past f's ENT
    EXPECT_EQ(listed(c, source, 0, 2),
              (std::vector<std::string>{"UJP program q;", "UJP function f(x);", "ENT begin"}));
    EXPECT_EQ(listed(c, source, f + 6, f + 7), (std::vector<std::string>{"FRT end", "ENT begin"}));
    EXPECT_EQ(listed(c, source, f, f + 5),
              (std::vector<std::string>{"LOD x", "LDC 1", "OPR x + 1", "LOD x", "OPR (x + 1) * x",
                                        "STR f := (x + 1) * x"}));
    const int read = first_on_line(c, 6);
    EXPECT_EQ(listed(c, source, read, read + 5),
              (std::vector<std::string>{"LDA a", "LDC a", "LDC 2", "OPR a[2]", "OPR a[2]",
                                        "GET read(a[2])"}));
    EXPECT_EQ(listed(c, source, read + 6, read + 6), (std::vector<std::string>{"STO a[2]"}));
    const int loop = first_on_line(c, 8);
    EXPECT_EQ(listed(c, source, loop, loop + 9),
              (std::vector<std::string>{"LOD i", "LDC 3", "COP i <= 3", "FJP while i <= 3", "LOD i",
                                        "LDC 1", "OPR i + 1", "STR i := i + 1", "UJP while i <= 3",
                                        "MST f(a[2])"}));
    const int call = loop + 9;
    EXPECT_EQ(listed(c, source, call + 1, call + 12),
              (std::vector<std::string>{"LDA a", "LDC a", "LDC 2", "OPR a[2]", "OPR a[2]",
                                        "IND a[2]", "CUP f(a[2])", "LOD i", "OPR -i",
                                        "COP f(a[2]) > -i", "FJP if f(a[2]) > -i", "LDA a"}));
    EXPECT_EQ(listed(c, source, call + 13, call + 24),
              (std::vector<std::string>{"LDC a", "LOD i", "LDC 1", "OPR i - 1", "OPR a[i - 1]",
                                        "OPR a[i - 1]", "IND a[i - 1]", "PUT write(a[i - 1])",
                                        "UJP if f(a[2]) > -i", "LDC 0", "PUT write(0)", "HLT ."}));
}

// The index of the first instruction of the operand that instruction j
// (inclusive) ends: walks back over the code until one value is made.
int operand_start(int j) {
    int needed = 1;
    while (j >= 0) {
        const Instruction& in = code[j];
        if (in.op == CUP) {
            // A function call makes one value from its MST on.
            int depth = 1;
            while (depth > 0 && --j >= 0) {
                if (code[j].op == CUP) ++depth;
                if (code[j].op == MST) --depth;
            }
            --needed;
        } else {
            int pops = 0;
            int pushes = 1;
            if (in.op == IND || (in.op == OPR && in.a == OPR_NEG)) pops = 1;
            if ((in.op == OPR && in.a != OPR_NEG) || in.op == COP) pops = 2;
            needed += pops - pushes;
        }
        if (needed == 0) return j;
        --j;
    }
    return -1;
}

bool inside(SourceRange inner, SourceRange outer) {
    return !before(inner.first, outer.first) && !before(outer.last, inner.last);
}

TEST(CodeRanges, EveryExampleRunsFromATokenToATokenAndCoversItsOperands) {
    for (const auto& path : examples()) {
        SCOPED_TRACE(path.filename().string());
        const std::string source = read_file(path);
        CompileSession session;
        Compiled c = compile(session, source);
        ASSERT_EQ(c.error, ErrorKind::none) << c.message;
        std::vector<SourcePos> starts;
        std::vector<SourcePos> ends;
        for (const WatchEvent& e : session.events())
            if (e.kind == WATCH_TOKEN) {
                starts.push_back(e.first);
                ends.push_back(e.last);
            }
        auto listed_in = [](const std::vector<SourcePos>& places, SourcePos p) {
            return std::any_of(places.begin(), places.end(),
                               [&](SourcePos q) { return same(p, q); });
        };
        ASSERT_EQ(c.code_range.size(), static_cast<std::size_t>(c.code_size));
        for (int i = 0; i < c.code_size; ++i) {
            const SourceRange r = c.code_range[static_cast<std::size_t>(i)];
            SCOPED_TRACE(std::to_string(i) + ": " + mnemonic(code[i].op) + " " + shown(r.first) +
                         "-" + shown(r.last));
            EXPECT_TRUE(listed_in(starts, r.first)) << "starts inside a token";
            EXPECT_TRUE(listed_in(ends, r.last)) << "ends inside a token";
            EXPECT_TRUE(before(r.first, r.last));
            // An operator's range holds its two operands', and reaches
            // before the right one's (the left one is in it).
            const bool binary = (code[i].op == OPR && code[i].a != OPR_NEG) || code[i].op == COP;
            const bool unary = code[i].op == IND || (code[i].op == OPR && code[i].a == OPR_NEG);
            if (binary || unary) {
                const int right = operand_start(i - 1);
                ASSERT_GE(right, 0);
                EXPECT_TRUE(inside(c.code_range[static_cast<std::size_t>(i - 1)], r));
                EXPECT_TRUE(inside(c.code_range[static_cast<std::size_t>(right)], r));
                if (binary) {
                    const int left = operand_start(right - 1);
                    ASSERT_GE(left, 0);
                    EXPECT_TRUE(inside(c.code_range[static_cast<std::size_t>(left)], r));
                    EXPECT_TRUE(inside(c.code_range[static_cast<std::size_t>(right - 1)], r));
                }
            }
        }
        // A statement's last instruction, when no statement inside it ends
        // there too, computes the whole statement: a store, an output, a
        // call; a while's jump back holds its heading only.
        for (std::size_t k = 0; k < c.statements.size(); ++k) {
            const StatementSpan& st = c.statements[k];
            bool inner = false;
            for (std::size_t j = 0; j < k; ++j)
                if (c.statements[j].last == st.last) inner = true;
            const Opcode op = code[st.last].op;
            if (inner || op == UJP || op == FJP) continue;
            // A read's store holds the name or element read into.
            if (op == STO && st.last > 0 && code[st.last - 1].op == GET) continue;
            const SourceRange r = c.code_range[static_cast<std::size_t>(st.last)];
            EXPECT_TRUE(same(r.first, st.begin) && same(r.last, st.end))
                << "statement " << shown(st.begin) << "-" << shown(st.end) << ", range "
                << shown(r.first) << "-" << shown(r.last);
        }
    }
}

} // namespace
