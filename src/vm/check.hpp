// The checked run: a run of the plain loop (vm/traced.cpp) that stops, with
// a message naming what went wrong and where, at the first of the slips
// that the machine itself lets pass:
//
//   - an index outside its array's declared bounds (the machine reads or
//     writes whatever cell the address falls on);
//   - a read of a procedure's or function's local variable, or of an
//     element of its local array, that has not been given a value since the
//     routine was entered (the machine reads whatever an earlier frame left
//     in that cell), directly or through a var parameter;
//   - a function that returns without having assigned its result.
//
// The compiler, when asked (check_points_on), notes at each instruction
// where such a slip would show what to look at: check_points.  The run then
// looks before every instruction (check_step), keeping one bit per stack
// cell: whether the cell has been given a value.  Every cell has at the
// start (the main program's variables start at 0 and are never flagged);
// a routine's entry (ENT) takes it from the cells of its local variables,
// and any instruction that writes a cell gives it back.  Without the
// check, nothing of this runs.
#pragma once

#include <cstdint>
#include <string>

#include "diag/diag.hpp"
#include "lexer/lexer.hpp"
#include "vm/code.hpp"

enum CheckKind : unsigned char {
    CHECK_NONE,
    CHECK_INDEX,    // OPR SUB just after an index: s[t] is the index into `name`
    CHECK_VARIABLE, // LOD of the variable `name`
    CHECK_ELEMENT,  // IND of an element of the array `name`
    CHECK_THROUGH,  // IND of what the var parameter `name` refers to
    CHECK_RESULT,   // FRT of the function `name`
};

// What one instruction is checked for.
struct CheckPoint {
    CheckKind kind;
    char name[MAX_NAME_LENGTH + 1];
    std::int32_t low; // arrays: the declared bounds
    std::int32_t high;
    SourcePos where; // what a stop points at
};

// Per instruction of the code store.  Written by the parser through
// note_check while check_points_on, read by the checked run.
extern CheckPoint check_points[CODE_MAX];
extern bool check_points_on;

// Notes that instruction `at` (the next one emitted, usually) is checked.
// An array's bounds are low..high as declared.  Does nothing unless
// check_points_on.
void note_check(int at, CheckKind kind, const char* name, SourcePos where, std::int32_t low = 0,
                std::int32_t high = 0);

// Forgets every check point.
void reset_check_points();

// Whether the run in progress is checked.  Set by run_machine.
extern bool run_checked;

// Every cell counts as given a value: the state at the start of a run.
void begin_checked_run();

// Looks at instruction pc before it runs on the registers sp and bp.  A
// slip ends the run before it, as FatalKind::check_failed; check_stop then
// tells what it was.
void check_step(std::int32_t pc, std::int64_t sp, std::int64_t bp);

// The same look without its stops: what instruction pc does to the cells'
// marks is noted, and nothing ends the run (a debugger going on past a
// stop).
void check_pass(std::int32_t pc, std::int64_t sp, std::int64_t bp);

// Told of each cell whose mark check_step or check_pass changes, with the
// mark it had (true: not given a value), before the change: a debugger
// that takes instructions back puts the marks back with check_mark.  None
// by default.
struct CheckJournal {
    void (*note)(void* context, std::int32_t cell, bool was_unset) = nullptr;
    void* context = nullptr;
};
extern CheckJournal check_journal;
void check_mark(std::int32_t cell, bool is_unset);

// What stopped the last checked run.
struct CheckStop {
    Msg text;            // the message-table format
    CheckPoint point;    // the check point it stopped at
    std::int32_t index;  // the index (CHECK_INDEX, CHECK_ELEMENT)
    std::int32_t value;  // what the cell held (the reads)
};
extern CheckStop check_stop;

// The stop's text, one line without its break, in `encoding`.
std::string check_message(Encoding encoding);
