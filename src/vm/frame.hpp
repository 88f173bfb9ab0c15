// The layout of a frame on the machine's stack, and the two walks along
// its links: out along the static links (base(l)) and down along the
// dynamic links (the calls that are running).  Every tier and tool that
// reads a frame's header names its cells from here.
//
//        +-------------------+
//   b+4  | first parameter   |  of a function (then its variables)
//        +-------------------+
//   b+3  | result            |  a function's value; a procedure's first
//        +-------------------+  parameter (FRAME_PROCEDURE_CELLS = 3)
//   b+2  | return address    |  the instruction after the caller's CUP
//        +-------------------+
//   b+1  | dynamic link      |  the caller's b
//        +-------------------+
//   b    | static link       |  the b of the enclosing block's frame
//        +-------------------+
//
// A call builds the header in two steps: MST puts the two links above the
// top and reserves the header's cells (MST l,3 for a procedure, MST l,4
// for a function); the arguments follow; CUP n,x stores the return
// address n cells below the top and makes the new b the cell
// FRAME_RETURN_ADDRESS below it.  RET drops the frame (t := b-1); FRT
// moves the result to the frame's first cell, where the caller finds it
// on top (t := b).  The main program's frame lies at 0, its links 0.
#pragma once

#include <cstdint>

#include "vm/machine.hpp"

// The cells of a frame's header, as offsets from its base.
inline constexpr int FRAME_STATIC_LINK = 0;
inline constexpr int FRAME_DYNAMIC_LINK = 1;
inline constexpr int FRAME_RETURN_ADDRESS = 2;
inline constexpr int FRAME_RESULT = 3; // a function's only

// The header's length: the offset of a routine's first parameter (or
// variable), which is also MST's operand.
inline constexpr int FRAME_PROCEDURE_CELLS = 3;
inline constexpr int FRAME_FUNCTION_CELLS = 4;

// The header's length for a function (true) or a procedure.
constexpr int frame_header_cells(bool function) {
    return function ? FRAME_FUNCTION_CELLS : FRAME_PROCEDURE_CELLS;
}

static_assert(FRAME_STATIC_LINK < FRAME_PROCEDURE_CELLS &&
                  FRAME_DYNAMIC_LINK < FRAME_PROCEDURE_CELLS &&
                  FRAME_RETURN_ADDRESS < FRAME_PROCEDURE_CELLS,
              "a procedure's header holds the links and the return address");
static_assert(FRAME_RESULT >= FRAME_PROCEDURE_CELLS && FRAME_RESULT < FRAME_FUNCTION_CELLS,
              "a function's result lies in the cells only a function's header has");

// The header's cells of the frame at `base`, over the stack `cells`.
inline std::int32_t static_link_of(const std::int32_t* cells, std::int64_t base) {
    return cells[base + FRAME_STATIC_LINK];
}
inline std::int32_t dynamic_link_of(const std::int32_t* cells, std::int64_t base) {
    return cells[base + FRAME_DYNAMIC_LINK];
}
inline std::int32_t return_address_of(const std::int32_t* cells, std::int64_t base) {
    return cells[base + FRAME_RETURN_ADDRESS];
}

// A frame base b the loops accept: a stack index with room for the
// longest header above it.
constexpr bool frame_fits(std::int64_t base) {
    return base >= 0 && base <= STACK_SIZE - FRAME_FUNCTION_CELLS;
}

// The frame l static links out from the frame at `base`, over the stack
// `cells` (index 0 to STACK_SIZE-1), into `frame`.  `base` must be a
// stack index.  A frame that links to itself ends the walk of base(l), and
// following its link again changes nothing, so the walk simply goes on;
// false when a link lies outside the stack.  Inline: it is the
// interpreter's base(l).
inline bool frame_base_at_level(const std::int32_t* cells, std::int64_t base, std::int32_t l,
                                std::int64_t& frame) {
    std::int64_t x = base;
    if (l > 0) {
        x = static_link_of(cells, x); // base itself is always a stack index
        for (--l; l > 0; --l) {
            if (static_cast<std::uint64_t>(x) >= static_cast<std::uint64_t>(STACK_SIZE))
                return false;
            x = static_link_of(cells, x);
        }
    }
    frame = x;
    return true;
}

// The frames of the running calls, from the one at `base` down the
// dynamic links: visit(frame base) for each while it returns true.  The
// walk trusts no cell: it visits only frames that fit, ends after the
// frame at 0, and ends where a dynamic link does not lead down the stack
// (a chain that does not go down has been overwritten).
template <class Visit>
inline void for_each_frame(const std::int32_t* cells, std::int64_t base, Visit visit) {
    while (frame_fits(base)) {
        if (!visit(base) || base == 0) return;
        std::int64_t caller = dynamic_link_of(cells, base);
        if (caller >= base) return;
        base = caller;
    }
}
