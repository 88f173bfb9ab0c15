// The optimising tier: the code store compiled again, routine by routine,
// into machine code that keeps variables and temporaries in registers,
// stores no dead cell, calls routines as functions (small ones inlined),
// and checks with cheap guards that the run stays one it models: every
// index inside its array's bounds, no division by zero, the stack's height
// below its end, no variable read before it has a value, every read and
// write done.  A failed guard abandons the run of the tier, which the
// exact tiers then replay from where it started (vm/speculation.hpp).
//
// Each routine has up to two functions:
//
//   normal   int32 (int64 b, int32 arg1..arg5): a call from the tier's own
//            code; b is the frame's base (its static link already in
//            s[b]), the first five parameters come in registers, the rest
//            in their cells.  Returns a function's value.
//   resume   int32 (int64 b, int32 entry): goes on in a frame the exact
//            tiers made, at a resume point: the routine's start, a loop
//            head or a return site.  Everything comes from the cells.
//
// Both use the stack cells only for what an address or another frame can
// reach: arrays, variables whose address a call gets, variables a nested
// routine uses, parameter cells past the fifth, static links.
//
// Built only with TSUMIKI_OPTIMISING (asmjit's compiler).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vm/machine.hpp"
#include "vm/shape.hpp"

// Why a run of the tier was abandoned: the guard that failed.
enum Guard : std::int32_t {
    GUARD_NONE,
    GUARD_BOUNDS,   // an index outside its array's declared bounds
    GUARD_DIVISION, // a division by zero
    GUARD_STACK,    // the stack's height could pass its end
    GUARD_UNSET,    // a read of a cell that has no value yet
    GUARD_READ,     // a read found no number
    GUARD_ENDED,    // the writer or the reader ended the run
    GUARD_FRAME,    // a return found a frame of the exact tiers changed under the tier
    GUARD_ADDRESS,  // a reference outside the stack
    GUARD_COUNT
};

// A guard's name, for listings and messages of the tests.
const char* guard_name(Guard g);

// Whether a failed guard of kind g, in the code of the frame a run of the
// tier entered, leaves the machine as the exact tiers would have it just
// before the guard's instruction, for them to go on from there.  Those
// whose failure is an error of the exact tiers at that instruction, with
// no cell above the top of the stack in what it leaves, do: a division by
// zero, a reference outside the stack, a writer that ends the run at a
// write (whose event the exact tiers make again, vm/speculation.hpp).
// The exact tiers end the run there, so the cells above the top of the
// stack, which the tier never writes as the exact tiers do (they hold the
// values pushed and the frames made since the run moved up), are never
// read.  An index past its array, after which the run goes on, resumes
// too when `unset_reads` is false (no routine but the main program may
// read a cell of its frame before giving it a value): the exact tiers can
// then reach those cells only through an address, and the native tier
// watches its reads through addresses (vm/speculation.hpp).  The other
// kinds go back to the checkpoint: a read of a cell with no value yet
// could read those cells; a read that fails, or whose reader ends the
// run, leaves the cell it pushed as it was, one of those; and the stack's
// guard fails before the tier has done anything.
bool guard_resumes(Guard g, bool unset_reads);

// A guard's exit: the instruction of the store whose code the guard
// checks (for a stack guard, the routine's first instruction; for a
// frame, the return site) and the guard's kind.  Every guard of one kind
// in the code made for one instruction shares its exit, in each function
// that code is in.
struct GuardExit {
    std::int32_t at = -1;
    Guard kind = GUARD_NONE;
};
inline bool operator==(const GuardExit& x, const GuardExit& y) {
    return x.at == y.at && x.kind == y.kind;
}

// An exit as the listings and the debug output show it: "bounds at 17".
std::string exit_name(const GuardExit& e);

// What the machine code and the C++ around it share while the tier runs.
struct SpeculationState {
    void* native_stack;              // rsp at the entry, restored when a guard fails
    std::int32_t guard;              // the guard that failed, GUARD_NONE while none did
    std::int32_t site;               // and the instruction of its exit (GuardExit::at)
    std::int32_t resume_at;          // the instruction to go on from, or -1 (a resuming exit)
    std::uint8_t shadow[STACK_SIZE]; // per cell: 1 when it holds what the exact tiers would
};
extern SpeculationState speculation;

// The run-time services the machine code calls (vm/speculation.cpp): each
// returns GUARD_NONE, or the guard to fail with.
extern "C" std::int32_t speculation_put(std::int32_t v) noexcept;
extern "C" std::int32_t speculation_get(std::int32_t* cell) noexcept;

// The compiled program, in executable memory.
class OptimisedProgram {
  public:
    virtual ~OptimisedProgram() = default;
    // Runs routine r's resume function in the frame at b from resume point
    // `entry` (resume_entry), through the entry sequence that a failed guard
    // returns to.  Returns what the routine returned (a function's value);
    // speculation.guard then says whether a guard failed instead.
    virtual std::int32_t resume(int r, std::int64_t b, std::int32_t entry) const = 0;
};

// The resume points of routine r, in the order of their entry numbers:
// its start (the first instruction after ENT), then every loop head and
// return site of its own code.
std::vector<int> resume_points(const optimising::Shape& shape, int r);

// What the tier makes of the program, for the listing: per routine the
// machine code of its functions, with the instructions of the store they
// come from as comments.
struct OptimisedListing {
    std::string text;
};

// Compiles every routine of a program of the compiler's shape.  Null when
// the shape is not ok, or nothing could be made (no executable memory, a
// construct the tier leaves to the exact tiers); `why` then says what.
std::unique_ptr<OptimisedProgram> optimise_program(const optimising::Shape& shape, std::string* why,
                                                   OptimisedListing* listing = nullptr);
