// The listing read against the program: each source line printed above the
// instructions compiled for it, in the manner of a disassembler's mixed
// source and code view.
//
//      4 |   x := 2;
//   2: LDC(0,2)
//   3: STR(0,3)
//
// The lines come in order: before an instruction, every line not shown yet
// up to the instruction's own; where the code goes back to an earlier line
// (the jump back of a while, the return of a routine at its end), that line
// once more.  It needs the places of the instructions (code_pos), which the
// compiler keeps while it counts positions.
#pragma once

#include <string_view>

// The code store's listing, as list_code prints it, with the lines of
// `source` (the text it was compiled from).
void list_code_with_source(std::string_view source);

// For a listing of one's own: takes the lines of `source` and starts over;
// then list_source_before(i), before instruction i is printed, prints the
// lines due there.
void begin_source_listing(std::string_view source);
void list_source_before(int i);
