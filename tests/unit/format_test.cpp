// The formatter: its layout, byte for byte; that formatting twice changes
// nothing more than once; and that every example and every program of the
// end-to-end tests compiles, formatted, to exactly the code it compiled to.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/api.hpp"
#include "format/format.hpp"
#include "vm/code.hpp"

namespace {

CompileOptions options() {
    CompileOptions o;
    o.encoding = Encoding::utf8;
    o.large_stack = true;
    return o;
}

std::string formatted(const std::string& source) {
    Formatted f = format_source(source, options());
    EXPECT_EQ(f.error, ErrorKind::none) << f.message;
    return f.text;
}

// The code store after compiling `source`, as "OPC l a" lines; the error's
// message instead when it does not compile.
std::string code_of(std::string_view source) {
    Compiled c = compile_text(source, options());
    if (c.error != ErrorKind::none) return "error " + c.message;
    std::string out;
    for (int i = 0; i < c.code_size; ++i)
        out += std::string(mnemonic(code[i].op)) + " " + std::to_string(code[i].l) + " " +
               std::to_string(code[i].a) + "\n";
    return out;
}

TEST(Format, LaysOutDeclarationsRoutinesAndStatements) {
    EXPECT_EQ(formatted("program   p ; var a,b[ 1 .. 3 ],c;procedure q( x,var y );var t;begin t:=x;"
                        "y:=t end;function f(n);begin f:=-n*2 end;begin a:=f(-1);q(a,b[2]);"
                        "write( - a + b[ 1 ] div 2 ) end.\n"),
              "program p;\n"
              "var a, b[1..3], c;\n"
              "procedure q(x, var y);\n"
              "var t;\n"
              "begin\n"
              "  t := x;\n"
              "  y := t\n"
              "end;\n"
              "function f(n);\n"
              "begin\n"
              "  f := -n * 2\n"
              "end;\n"
              "begin\n"
              "  a := f(-1);\n"
              "  q(a, b[2]);\n"
              "  write(-a + b[1] div 2)\n"
              "end.\n");
}

TEST(Format, NestsRoutinesOneLevelIn) {
    EXPECT_EQ(formatted("program p; procedure a; procedure b; begin end; begin b end; begin a end."
                        "\n"),
              "program p;\n"
              "procedure a;\n"
              "  procedure b;\n"
              "  begin\n"
              "  end;\n"
              "begin\n"
              "  b\n"
              "end;\n"
              "begin\n"
              "  a\n"
              "end.\n");
}

TEST(Format, PlacesBodiesOfIfAndWhile) {
    EXPECT_EQ(formatted("program p; var x; begin if x<0 then x:=0-x else if x>9 then write(x) "
                        "else begin x:=1; write(x) end; while x<>0 do if x>=1 then x:=x-1; "
                        "while x>0 do begin read(x) end end.\n"),
              "program p;\n"
              "var x;\n"
              "begin\n"
              "  if x < 0 then x := 0 - x\n"
              "  else if x > 9 then write(x)\n"
              "  else\n"
              "  begin\n"
              "    x := 1;\n"
              "    write(x)\n"
              "  end;\n"
              "  while x <> 0 do\n"
              "    if x >= 1 then x := x - 1;\n"
              "  while x > 0 do\n"
              "  begin\n"
              "    read(x)\n"
              "  end\n"
              "end.\n");
}

TEST(Format, KeepsEmptyStatementsOnTheLineBefore) {
    EXPECT_EQ(formatted("program p; var x; begin ; x := 1; ; if x = 1 then else ; while x < 0 do;"
                        "end.\n"),
              "program p;\n"
              "var x;\n"
              "begin;\n"
              "  x := 1;;\n"
              "  if x = 1 then\n"
              "  else;\n"
              "  while x < 0 do;\n"
              "end.\n");
}

TEST(Format, KeepsSpellingsAndWhatFollowsTheProgram) {
    // Carriage returns are dropped as the reader drops them; a number keeps
    // its digits; the text after the "." stays, from its first character.
    EXPECT_EQ(formatted("program p;\r\nvar x;\r\nbegin x := 007 + 4294967296\r\nend.  \r\n\n"
                        "  notes: {anything}\n"),
              "program p;\nvar x;\nbegin\n  x := 007 + 4294967296\nend.\nnotes: {anything}\n");
    EXPECT_EQ(formatted("program p;begin end.\n\x1a"
                        "rest"),
              "program p;\nbegin\nend.\n\x1a"
              "rest");
}

TEST(Format, RefusesAProgramThatDoesNotCompile) {
    Formatted f = format_source("program p;\nbegin\n  x := 1\nend.\n", options());
    EXPECT_EQ(f.error, ErrorKind::syntax);
    EXPECT_EQ(f.message, compile_text("program p;\nbegin\n  x := 1\nend.\n", options()).message);
    EXPECT_EQ(f.where.line, 3);
    EXPECT_EQ(f.text, "");
    f = format_source("program p; begin end.", options()); // nothing after the "."
    EXPECT_EQ(f.error, ErrorKind::lexical);
    EXPECT_EQ(f.text, "");
}

TEST(Format, FormatsTheWordsOfSomeLines) {
    const std::string source = "program p;\nvar x;\nbegin\nx:=1;\n   write( x )\nend.\n";
    Formatted f = format_lines(source, 4, 4, options());
    ASSERT_EQ(f.edits.size(), 1u);
    // From the end of "begin" to the end of "x:=1;"'s last word.
    EXPECT_EQ(source.substr(f.edits[0].first, f.edits[0].last - f.edits[0].first), "\nx:=1;");
    EXPECT_EQ(f.edits[0].text, "\n  x := 1;");
    f = format_lines(source, 5, 5, options());
    ASSERT_EQ(f.edits.size(), 1u);
    EXPECT_EQ(source.substr(f.edits[0].first, f.edits[0].last - f.edits[0].first),
              "\n   write( x )");
    EXPECT_EQ(f.edits[0].text, "\n  write(x)");
    // Lines already laid out, and lines with no word, need nothing.
    EXPECT_TRUE(format_lines(source, 1, 3, options()).edits.empty());
    EXPECT_TRUE(format_lines(source, 7, 9, options()).edits.empty());
}

// The programs of the examples and of the end-to-end tests (their
// sections "#--- NAME.tsu").
std::vector<std::pair<std::string, std::string>> corpus() {
    namespace fs = std::filesystem;
    std::vector<std::pair<std::string, std::string>> programs;
    const fs::path root = TSUMIKI_SOURCE_DIR;
    auto read = [](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    };
    for (const auto& e : fs::recursive_directory_iterator(root / "examples"))
        if (e.path().extension() == ".tsu")
            programs.emplace_back(e.path().string(), read(e.path()));
    for (const auto& e : fs::recursive_directory_iterator(root / "tests" / "e2e")) {
        const fs::path& p = e.path();
        if (p.extension() == ".tsu" || p.extension() == ".src") {
            programs.emplace_back(p.string(), read(p));
            continue;
        }
        if (p.extension() != ".test") continue;
        const std::string text = read(p);
        std::size_t at = 0;
        while ((at = text.find("#--- ", at)) != std::string::npos) {
            if (at != 0 && text[at - 1] != '\n') {
                at += 5;
                continue;
            }
            const std::size_t name_end = text.find('\n', at);
            if (name_end == std::string::npos) break;
            const std::string name = text.substr(at + 5, name_end - at - 5);
            std::size_t next = text.find("\n#--- ", name_end);
            const std::size_t body_end = next == std::string::npos ? text.size() : next + 1;
            if (name.size() > 4 && name.substr(name.size() - 4) == ".tsu")
                programs.emplace_back(p.string() + ":" + name,
                                      text.substr(name_end + 1, body_end - name_end - 1));
            at = body_end;
        }
    }
    return programs;
}

TEST(Format, EveryProgramCompilesToTheSameCodeFormatted) {
    int compiled = 0;
    int refused = 0;
    for (const auto& [name, source] : corpus()) {
        Formatted once = format_source(source, options());
        if (once.error != ErrorKind::none) {
            // Refused with the compile's own error.
            EXPECT_EQ(once.message, compile_text(source, options()).message) << name;
            ++refused;
            continue;
        }
        EXPECT_EQ(code_of(once.text), code_of(source)) << name;
        Formatted twice = format_source(once.text, options());
        EXPECT_EQ(twice.error, ErrorKind::none) << name;
        EXPECT_EQ(twice.text, once.text) << name;
        ++compiled;
    }
    std::printf("%d programs formatted, %d refused\n", compiled, refused);
    // The corpus is there.
    EXPECT_GT(compiled, 200);
    EXPECT_GT(refused, 20);
}

TEST(Format, TheExamplesAreLaidOutAlready) {
    for (const char* name :
         {"arithmetic", "gcd", "hello", "nested", "primes", "recursion", "sort", "stats"}) {
        std::ifstream in(std::string(TSUMIKI_SOURCE_DIR) + "/examples/" + name + ".tsu",
                         std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        EXPECT_EQ(formatted(s.str()), s.str()) << name;
    }
}

} // namespace
