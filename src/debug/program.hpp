// What a debugging session knows of the program it runs, worked out once
// from the compiler's record (driver/api.hpp): which routine and which
// statement each instruction belongs to, where statements start, the size
// of each routine's frame, and the source's lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/api.hpp"
#include "vm/code.hpp"

// Where an instruction stands in the source, as a debugger shows it.
struct Place {
    std::int32_t pc = -1;
    SourcePos pos{};     // of the instruction's construct (0:0 unknown)
    SourceRange range{}; // the stretch of source it computes (0:0 unknown)
    int statement = -1;  // the innermost statement it belongs to, or -1
    int routine = -1;    // the innermost routine (a declaration) it belongs to
    // The statement's text on its first line, or the source line when the
    // instruction belongs to no statement.
    std::string text;
};

struct ProgramMap {
    std::string source; // the source file's bytes
    // Its lines as the reader sees them: carriage returns dropped, nothing
    // after a Ctrl-Z; lines[0] is line 1.
    std::vector<std::string> lines;
    std::vector<Declaration> declarations; // declarations[0] is the program
    std::vector<SourcePos> code_pos;
    std::vector<SourceRange> code_range;
    std::vector<StatementSpan> statements;
    std::vector<Instruction> code;
    // Per instruction: the innermost routine (declaration index) and
    // statement (index in statements) it belongs to, -1 for none; whether
    // a statement starts there.
    std::vector<int> routine_of;
    std::vector<int> statement_of;
    std::vector<bool> starts_statement;
    // Per declaration, for routines: the cells of a frame once its ENT has
    // run, and the level of the routine's block (the level its names are
    // declared at).
    std::vector<std::int32_t> frame_cells;
    std::vector<int> block_level;
};

// The map of the program compiled last, whose record `compiled` (with
// positions and names) is, and whose source text is `source`.
ProgramMap map_program(const Compiled& compiled, std::string source);

// Where instruction pc stands.
Place place_of(const ProgramMap& map, std::int32_t pc);

// Line `line` (from 1) of the source; empty past the end.
std::string_view source_line(const ProgramMap& map, int line);

// Where a breakpoint on source line `line` goes: the first instruction of
// the first statement that starts on it, or, when none does, on the next
// line where one does.  False when no statement starts there or after.
bool line_breakpoint(const ProgramMap& map, int line, int& at_line, std::int32_t& pc);

// Whether a declaration is a routine (a procedure, a function, the
// program).
bool is_routine(const Declaration& d);
