// The compile session against the compiler it watches: its events come in
// the order of the compiler's own traces, its states are the compiler's
// tables at every step, its backward motions retrace the forward ones, and
// a program with an error is stepped up to it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "debug/compile_session.hpp"
#include "symtab/symtab.hpp"
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

CompileOptions utf8_options() {
    CompileOptions options;
    options.encoding = Encoding::utf8;
    return options;
}

bool append(void* context, const char* bytes, std::size_t n) {
    static_cast<std::string*>(context)->append(bytes, n);
    return true;
}

// What the trace of a compile shows of one event: its kind, and a routine,
// a token code, a name or an instruction.
std::string traced(const std::string& line) {
    struct Tag {
        const char* text;
        const char* event;
    };
    static const Tag tags[] = {
        {"<program>の解析", "enter parse_program"},
        {"</block>", "leave parse_block"},
        {"<block>の解析", "enter parse_block"},
        {"</sregist_vardecls>", "leave sregist_vardecls"},
        {"<sregist_vardecls>", "enter sregist_vardecls"},
        {"<proc func>の解析", "enter parse_proc_func"},
        {"</statement>", "leave parse_statement"},
        {"<statement>解析", "enter parse_statement"},
        {"</condition>", "leave parse_condition"},
        {"<condition>解析", "enter parse_condition"},
        {"</expression>", "leave parse_expression"},
        {"<expression>解析", "enter parse_expression"},
        {"</term>", "leave parse_term"},
        {"<term>解析", "enter parse_term"},
        {"</factor>", "leave parse_factor"},
        {"<factor>解析", "enter parse_factor"},
    };
    for (const Tag& t : tags)
        if (line.find(t.text) != std::string::npos) return t.event;
    std::size_t at = line.find(" -> トークン:");
    if (at != std::string::npos) {
        std::size_t from = at + std::strlen(" -> トークン:");
        return "token " + line.substr(from, line.find('(', from) - from);
    }
    if (line.rfind("generate_code:", 0) == 0) return "emit " + line.substr(14);
    at = line.find("を検索中...");
    if (at != std::string::npos) {
        std::size_t of = line.rfind("の", at);
        return "lookup " + line.substr(0, of);
    }
    if (line.find("として登録") != std::string::npos) {
        // "変数x", "配列変数a[1..3]", "仮引数(参照呼び)r", "手続き名p", "関数名f"
        static const char* const kinds[] = {"配列変数", "変数", "仮引数(参照呼び)", "手続き名",
                                            "関数名"};
        for (const char* k : kinds) {
            if (line.rfind(k, 0) != 0) continue;
            std::string rest = line.substr(std::strlen(k));
            std::size_t end = rest.find_first_of("[を");
            return "regist " + rest.substr(0, end);
        }
    }
    return ""; // a line the session has no event for (a form chosen, say)
}

// The same of an event, or "" for an event no trace line shows.
std::string described(const WatchEvent& e) {
    switch (e.kind) {
    case WATCH_TOKEN: return "token " + std::to_string(e.token);
    case WATCH_ENTER:
    case WATCH_LEAVE: {
        if (e.routine == ROUTINE_PARAMS || e.routine == ROUTINE_CALL || e.routine == ROUTINE_INDEX)
            return "";
        if (e.kind == WATCH_LEAVE &&
            (e.routine == ROUTINE_PROGRAM || e.routine == ROUTINE_PROC_FUNC))
            return "";
        return std::string(e.kind == WATCH_ENTER ? "enter " : "leave ") +
               parse_routine_names[e.routine];
    }
    case WATCH_REGIST: return std::string("regist ") + e.text;
    case WATCH_LOOKUP: return std::string("lookup ") + e.text;
    case WATCH_EMIT:
        return "emit " + std::to_string(e.index) + " " + mnemonic(e.op) + " " +
               std::to_string(e.l) + " " + std::to_string(e.a);
    default: return "";
    }
}

TEST(CompileSession, EventsComeInTheOrderOfTheTraces) {
    for (const auto& path : examples()) {
        SCOPED_TRACE(path.string());
        std::string trace;
        CompileOptions options = utf8_options();
        options.traces = TraceSwitches{true, true, true, false};
        options.trace_out = Writer{append, &trace};
        CompileSession session;
        Compiled c = session.open_text(read_file(path), options);
        ASSERT_EQ(c.error, ErrorKind::none);

        std::vector<std::string> from_trace;
        std::istringstream lines(trace);
        for (std::string line; std::getline(lines, line);)
            if (std::string t = traced(line); !t.empty()) from_trace.push_back(t);
        std::vector<std::string> from_events;
        for (const WatchEvent& e : session.events())
            if (std::string d = described(e); !d.empty()) from_events.push_back(d);
        EXPECT_GT(from_events.size(), 50u);
        EXPECT_EQ(from_events, from_trace);
    }
}

// The compiler's own tables, taken as each event is sent.
struct Snapshot {
    std::vector<Instruction> code;
    std::vector<SymbolEntry> symbols;
};

void take_snapshot(void* context, const WatchEvent&) {
    Snapshot s;
    s.code.assign(code, code + cx);
    s.symbols.assign(symtab + 1, symtab + 1 + sym_count);
    static_cast<std::vector<Snapshot>*>(context)->push_back(std::move(s));
}

void expect_same_tables(const CompileState& state, const Snapshot& compiler) {
    ASSERT_EQ(state.code.size(), compiler.code.size());
    for (std::size_t i = 0; i < state.code.size(); ++i) {
        const Instruction& a = state.code[i].instruction;
        const Instruction& b = compiler.code[i];
        EXPECT_TRUE(a.op == b.op && a.l == b.l && a.a == b.a) << "instruction " << i;
    }
    ASSERT_EQ(state.symbols.size(), compiler.symbols.size());
    for (std::size_t i = 0; i < state.symbols.size(); ++i) {
        const CompileSymbol& s = state.symbols[i];
        const SymbolEntry& e = compiler.symbols[i];
        EXPECT_EQ(s.name, e.name);
        EXPECT_EQ(s.kind, e.kind);
        EXPECT_EQ(s.level, e.level);
        if (e.kind == SYM_PROC || e.kind == SYM_FUNC) {
            EXPECT_EQ(s.code_adr, e.code_adr);
            ASSERT_EQ(s.params.size(), static_cast<std::size_t>(e.param_count)) << s.name;
            for (std::size_t p = 0; p < s.params.size(); ++p)
                EXPECT_EQ(s.params[p], e.param_kinds[p]);
        } else {
            EXPECT_EQ(s.offset, e.offset);
        }
        if (e.kind == SYM_ARRAY) {
            EXPECT_EQ(s.low, e.low);
            EXPECT_EQ(static_cast<std::int64_t>(s.high) - s.low + 1, e.size);
        }
    }
}

TEST(CompileSession, EveryStepHoldsTheCompilersTables) {
    for (const auto& path : examples()) {
        SCOPED_TRACE(path.string());
        const std::string source = read_file(path);
        // The compiler's tables at each event, from a compile of its own.
        std::vector<Snapshot> snapshots;
        watcher = Watcher{take_snapshot, &snapshots};
        Compiled plain = compile_text(source, utf8_options());
        watcher = Watcher{};
        ASSERT_EQ(plain.error, ErrorKind::none);

        CompileSession session;
        session.open_text(source, utf8_options());
        ASSERT_EQ(session.last_step(), snapshots.size());
        for (std::size_t k = 0; k < snapshots.size(); ++k) {
            session.go_to(k + 1);
            SCOPED_TRACE("step " + std::to_string(k + 1));
            expect_same_tables(session.state(), snapshots[k]);
            if (HasFatalFailure()) return;
        }
        // Once everything has happened, no jump is left open.
        EXPECT_TRUE(session.state().open_jumps.empty());
        EXPECT_TRUE(session.state().routines.empty());
    }
}

// Every instruction that names a variable or calls a routine carries the
// level difference of the lookup made just before it.
TEST(CompileSession, LookupsGiveTheLevelDifferenceTheCodeUses) {
    int checked = 0;
    for (const auto& path : examples()) {
        SCOPED_TRACE(path.string());
        CompileSession session;
        session.open_text(read_file(path), utf8_options());
        const auto& events = session.events();
        for (std::size_t k = 1; k < events.size(); ++k) {
            const WatchEvent& e = events[k];
            const WatchEvent& before = events[k - 1];
            if (e.kind != WATCH_EMIT || before.kind != WATCH_LOOKUP ||
                before.lookup != LOOKUP_LEVEL)
                continue;
            EXPECT_EQ(session.level_difference(k - 1), e.l) << "instruction " << e.index;
            ++checked;
        }
    }
    EXPECT_GT(checked, 50);
}

// A state as a text, to compare two of them whole.
std::string shown(const CompileState& s) {
    std::ostringstream out;
    out << s.step << " routines";
    for (std::size_t r : s.routines)
        out << ' ' << r;
    out << " scopes";
    for (int l : s.scopes)
        out << ' ' << l;
    out << " names";
    for (const CompileSymbol& n : s.symbols) {
        out << ' ' << n.name << ':' << int(n.kind) << ':' << n.level << ':' << n.offset << ':'
            << n.code_adr << ':' << n.low << ':' << n.high << ':';
        for (SymbolKind p : n.params)
            out << int(p);
    }
    out << " code";
    for (const CompiledInstruction& c : s.code)
        out << ' ' << mnemonic(c.instruction.op) << c.instruction.l << ',' << c.instruction.a;
    out << " open";
    for (int j : s.open_jumps)
        out << ' ' << j;
    out << " token " << (s.token ? static_cast<long long>(*s.token) : -1);
    return out.str();
}

// The states a motion goes through until it can go no further, the one it
// starts from first.
std::vector<std::string> visited(CompileSession& session, CompileMotion motion) {
    std::vector<std::string> states{shown(session.state())};
    for (;;) {
        std::size_t before = session.step();
        bool moved = session.move(motion);
        if (session.step() != before) states.push_back(shown(session.state()));
        if (!moved) return states;
    }
}

TEST(CompileSession, BackwardMotionsRetraceTheForwardOnes) {
    const std::pair<CompileMotion, CompileMotion> motions[] = {
        {CompileMotion::token, CompileMotion::reverse_token},
        {CompileMotion::routine, CompileMotion::reverse_routine},
        {CompileMotion::emit, CompileMotion::reverse_emit},
    };
    for (const auto& path : examples()) {
        SCOPED_TRACE(path.string());
        CompileSession session;
        session.open_text(read_file(path), utf8_options());
        for (auto [forward, backward] : motions) {
            session.go_to(0);
            std::vector<std::string> there = visited(session, forward);
            EXPECT_EQ(session.step(), session.last_step());
            std::vector<std::string> back = visited(session, backward);
            EXPECT_EQ(session.step(), 0u);
            std::reverse(back.begin(), back.end());
            EXPECT_EQ(back, there);
            EXPECT_GT(there.size(), 5u);
        }
    }
}

TEST(CompileSession, AProgramWithAnErrorIsSteppedUpToIt) {
    const std::string source = "program p;\nvar x;\nbegin\n  x := 1;\n  x := y + 1\nend.\n";
    CompileSession session;
    Compiled c = session.open_text(source, utf8_options());
    ASSERT_EQ(c.error, ErrorKind::syntax);
    ASSERT_FALSE(session.events().empty());
    const WatchEvent& last = session.events().back();
    EXPECT_EQ(last.kind, WATCH_ERROR);
    EXPECT_EQ(last.first.line, 5);
    EXPECT_EQ(last.first.column, 8);

    while (session.move(CompileMotion::token)) {
    }
    EXPECT_EQ(session.step(), session.last_step());
    const CompileState& s = session.state();
    std::vector<std::string> routines;
    for (std::size_t r : s.routines)
        routines.push_back(parse_routine_names[session.events()[r].routine]);
    const std::vector<std::string> expected = {"parse_program",    "parse_block", "parse_statement",
                                               "parse_expression", "parse_term",  "parse_factor"};
    EXPECT_EQ(routines, expected);
    ASSERT_EQ(s.code.size(), 4u); // UJP, ENT, LDC 1, STR x
    EXPECT_EQ(s.code[0].instruction.a, 1);
    ASSERT_EQ(s.symbols.size(), 2u);
    EXPECT_EQ(s.symbols[1].name, "x");
    // The last lookup found nothing.
    const WatchEvent& lookup = session.events()[session.last_step() - 2];
    EXPECT_EQ(lookup.kind, WATCH_LOOKUP);
    EXPECT_EQ(lookup.entry, 0);
}

TEST(CompileSession, JumpsStayOpenUntilTheirBackpatch) {
    const std::string source =
        "program p;\nvar i;\nbegin\n  while i < 3 do\n    i := i + 1\nend.\n";
    CompileSession session;
    ASSERT_EQ(session.open_text(source, utf8_options()).error, ErrorKind::none);
    // The main block's jump over the routines is open until ENT.
    ASSERT_TRUE(session.move(CompileMotion::emit));
    EXPECT_EQ(session.state().open_jumps, std::vector<int>{0});
    ASSERT_TRUE(session.move(CompileMotion::emit));
    EXPECT_TRUE(session.state().open_jumps.empty());
    // The while's FJP is open through its body.
    std::optional<std::size_t> fjp = session.emission_of(5);
    ASSERT_TRUE(fjp);
    session.go_to(*fjp);
    EXPECT_EQ(session.state().code.back().instruction.op, FJP);
    EXPECT_EQ(session.state().open_jumps, std::vector<int>{5});
    std::optional<std::size_t> back = session.emission_of(10);
    ASSERT_TRUE(back);
    session.go_to(*back);
    EXPECT_EQ(session.state().open_jumps, std::vector<int>{5});
    session.go_to(*back + 1);
    EXPECT_TRUE(session.state().open_jumps.empty());
    EXPECT_EQ(session.state().code[5].instruction.a, 11);
    const WatchEvent& patch = session.events()[*back];
    EXPECT_EQ(patch.kind, WATCH_BACKPATCH);
    EXPECT_EQ(patch.old_a, 0);
    EXPECT_EQ(patch.a, 11);
}

TEST(CompileSession, ScopesCloseWithTheirRoutine) {
    const std::string source = "program p;\nvar x;\nprocedure q(a, var b);\n  var y;\nbegin\n  "
                               "y := a\nend;\nbegin\n  q(1, x)\nend.\n";
    CompileSession session;
    ASSERT_EQ(session.open_text(source, utf8_options()).error, ErrorKind::none);
    std::optional<std::size_t> y = session.registration_of("y", 0);
    ASSERT_TRUE(y);
    session.go_to(*y);
    const auto& names = session.state().symbols;
    ASSERT_EQ(names.size(), 6u);
    EXPECT_EQ(names[2].name, "q");
    EXPECT_EQ(names[2].params, (std::vector<SymbolKind>{SYM_VAR, SYM_REF}));
    EXPECT_EQ(names[5].level, 1);
    EXPECT_EQ(names[5].offset, 5);
    EXPECT_EQ(session.state().scopes, (std::vector<int>{0, 1}));
    ASSERT_TRUE(session.visible("a"));
    // In the main block only p, x and q are left.
    std::optional<std::size_t> call = session.line_after({9}, 0);
    ASSERT_TRUE(call);
    session.go_to(*call);
    EXPECT_EQ(session.state().symbols.size(), 3u);
    EXPECT_FALSE(session.visible("a"));
    EXPECT_EQ(session.state().scopes, std::vector<int>{0});
    EXPECT_EQ(session.place().line, 9);
    EXPECT_EQ(session.line_before({9}, *call), std::nullopt);
    EXPECT_EQ(session.line_before({3}, *call), session.line_after({3}, 0));
}

} // namespace
