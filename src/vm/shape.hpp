// The shape of a compiled program, as the optimising tier sees it: its
// routines and their frames, how deep the stack stands before every
// instruction and what each pushed cell holds there, which cells a nested
// routine or an address reaches, and where a run may enter the tier.
//
// The optimising tier compiles only code that has the shape the compiler
// gives every program: each routine a UJP chain to its ENT, then a body
// whose depth at every instruction is the same on every path, whose calls
// are MST, arguments, CUP, and whose addresses come from LDA and var
// parameters and go only to IND, STO and var arguments.  Anything else (a
// store filled by hand, a jump into another routine) leaves `ok` false,
// with the reason, and the program runs on the exact tiers alone.
#pragma once

#include <cstdint>
#include <vector>

#include "vm/code.hpp"

// The optimising tier names its own types: the shape it compiles from here,
// its translator in vm/optimiser_translator.hpp.
namespace optimising {

// What one cell pushed above a frame holds before an instruction.
enum SlotKind : std::uint8_t {
    SLOT_VALUE,     // a number
    SLOT_ADDRESS,   // an address into the variable or array an LDA named
    SLOT_REFERENCE, // an address a var parameter held: of a cell below the frame
    SLOT_HEADER,    // a cell of a callee's frame header that MST reserved
};

struct Slot {
    SlotKind kind;
    std::int32_t from; // ADDRESS: the LDA; HEADER: the MST; else -1
};

// What is known of a cell of a routine's frame, by its offset.
enum CellFlag : std::uint8_t {
    CELL_PARAMETER = 1,    // a parameter: the caller gives it a value
    CELL_REFERENCE = 2,    // a var parameter: it holds an address
    CELL_ARRAY = 4,        // part of an array (an LDA of several cells)
    CELL_ESCAPES = 8,      // its address goes to a call as a var argument
    CELL_NESTED = 16,      // a nested routine reads or writes it
    CELL_UNSET = 32,       // its own code may read it before giving it a value
    CELL_UNSET_NESTED = 64 // a nested routine may run before it has a value
};

// Whether a reference may aim at a cell with these flags.  The compiler
// passes as a var argument only a variable or an element (the object an
// LDA names, whose cells escape), never a frame's header, a var
// parameter's own cell, a function's result or a cell pushed above a
// frame.  The optimising tier keeps such cells in the stack, reads and
// writes them only there, and holds everything else (headers, references,
// the other variables) in registers or reads it once; it admits a run of
// the exact tiers only when every reference aims at such a cell.  Its own
// stores then reach nothing it trusts, and no write can change it.
inline bool reference_may_reach(std::uint8_t flags) {
    return (flags & (CELL_ARRAY | CELL_ESCAPES)) != 0 && (flags & CELL_REFERENCE) == 0;
}

struct Routine {
    int entry = 0;                   // its first instruction, the CUP target (0: the main program)
    int ent = -1;                    // its ENT
    int exit = -1;                   // its RET, FRT or (the main program) HLT
    std::int32_t frame = 0;          // ENT's operand: the offset of the frame's last cell
    bool function = false;           // ends with FRT; offset 3 is its result
    int args = 0;                    // argument cells of a call (CUP's l, the result cell included)
    int parent = -1;                 // the routine whose block declares it; -1: the main program
    int level = 0;                   // 0 for the main program
    std::int32_t deepest = 0;        // the highest t - b after any of its instructions
    bool recursive = false;          // can call itself, directly or not
    std::vector<std::uint8_t> cells; // per frame offset 0..frame: CellFlag bits
    std::vector<int> code;           // its instructions, in increasing order
};

// What is known of an instruction.
enum PlaceFlag : std::uint8_t {
    PLACE_LOOP_HEAD = 1,   // a jump from further on (or itself) leads here
    PLACE_RETURN_SITE = 2, // right after a CUP: a return comes back here
    PLACE_UNSET_READ = 4,  // a LOD, IND or FRT that may read a cell with no value yet
    PLACE_AFTER_ENT = 8,   // the frame is made: the cells above it are slots
};

struct InstructionShape {
    int routine = -1;       // the routine it belongs to; -1: never reached
    std::int32_t depth = 0; // t - b before it
    int slots = 0;          // its slots start here in Shape::slots (depth - frame of them)
    int callee = -1;        // CUP: the routine it calls; MST: the routine its CUP calls
    std::uint8_t flags = 0; // PlaceFlag bits
};

struct Shape {
    bool ok = false;
    const char* why = "";          // when not ok: what does not fit, for the listing and the tests
    int failed_at = -1;            // and at which instruction, or -1
    std::vector<Routine> routines; // the main program first
    std::vector<InstructionShape> places; // per instruction of the store
    std::vector<Slot> slots;

    // The slots above the frame before instruction i (depth - frame of them).
    const Slot* slots_at(int i) const { return slots.data() + places[i].slots; }
    int slot_count(int i) const;
    // The routine l static links out from routine r (the main program at most).
    int ancestor(int r, std::int32_t l) const;
    // Where a return address leads: the routine a return site belongs to.
    bool is_return_site(int i) const;
};

// Works out the shape of the code store as it is now (code[], cx and the
// cells the parser noted for every LDA).
Shape shape_of_code();

} // namespace optimising
