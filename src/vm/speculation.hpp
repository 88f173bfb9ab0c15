// Running the optimising tier (vm/optimiser.hpp) exactly: from a
// checkpoint, and back to it when a guard fails.
//
// A run enters the tier at a resume point of the frame on top of the
// stack, after checking that every frame there is as the code makes it
// (links, return addresses, var parameters' addresses, addresses waiting
// on the stack).  The checkpoint is the machine as it was then: every
// cell, the registers, and the events of its input and output so far.
// The tier then runs that frame, and each frame of the exact tiers below
// it as the one above returns, until HLT.  When a guard fails, the
// machine goes back to the checkpoint and the exact tiers run on from
// there, replaying the output already written and the input already read
// (vm/runtime.hpp): whatever the tier did is done again, exactly, and the
// run goes on as if the tier had never run.  The worst case: a guard that
// fails at the end of a long stretch, which then runs twice.  A guard of a
// kind that resumes (guard_resumes, vm/optimiser.hpp), in the code of the
// frame the tier runs for the exact tiers, does not go back: its exit
// writes that frame's registers into their cells, and the exact tiers go
// on from the guard's instruction, the output and input as they are (after
// a write whose writer ended the run, its event is replayed, for the exact
// tiers to make it again and end the same way).  After an index past its
// array the run goes on, and the cells above the top of the stack, which
// the tier never writes as the exact tiers do (they hold the values pushed
// and the frames made since the checkpoint), are unsure
// (native_unsure_from): the checkpoint and the events since stay kept, and
// should the exact tiers be about to read one of them, the machine goes
// back to the checkpoint after all (back_from_unsure).  A program whose
// routines may read a cell before giving it a value never resumes there
// (those reads are direct, not through an address).
//
// Built only with TSUMIKI_OPTIMISING.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vm/optimiser.hpp"
#include "vm/shape.hpp"

// A guard's exit and the runs of the tier that ended there.
struct ExitFailures {
    GuardExit exit;
    int failed = 0;
};

// How the tier's runs went, since the last reset_speculation_stats: for
// the tests and the debug output.
struct SpeculationStats {
    int entered = 0;              // times a run entered the tier
    int refused = 0;              // times the frames on the stack were not as the code makes them
    int failed[GUARD_COUNT] = {}; // runs of the tier a guard ended, per guard
    std::vector<ExitFailures> exits;  // per exit that ended a run, in the order of the first end
    GuardExit last;                   // the exit of the last run a guard ended
    int returns = 0;                  // returns to frames of the exact tiers
    int resumed = 0;                  // failed runs the exact tiers went on from the guard
    int resumed_by[GUARD_COUNT] = {}; // and those per guard
    int unsure = 0;                   // of those, runs back at the checkpoint after all
    bool declined = false;            // the tier did not compile the program
    std::string why;                  // and why
};
extern SpeculationStats speculation_stats;
void reset_speculation_stats();

// Whether the frames of the run at p, b and t are as the code makes them:
// the tier may enter here.
bool frames_fit(const optimising::Shape& shape);

// Whether a run may move up to the tier here, in the middle: p a loop head
// or the start of a routine, nothing pushed above the top frame, and every
// frame below as the code makes it: each return address a return site of
// the call that made the frame, each dynamic link the frame below with the
// stack there as deep as the return site says, each static link a frame
// of the routine's parent, and each var parameter's address (and each such
// address waiting on the stack) that of a variable or an element of a
// frame below its own (reference_may_reach), never of a header, another
// reference or a cell the tier keeps in a register.  (The header of a call
// half made waits in its cells: the tier's CUP writes it again.)  The tier
// then runs the top frame, and each below from its return site.
bool loop_head_fits(const optimising::Shape& shape);

// Runs the tier from the machine as it is (p at a resume point of the top
// frame, or at the start of its routine, its frames checked).  True when
// the run reached HLT: the registers, ir and the main program's cells are
// then as the exact tiers leave them and the output has gone out.  False
// when a guard failed: the machine is back at the checkpoint, the replay
// of the input and output set up, for the exact tiers to go on, or (an
// exit that resumes) at the guard's instruction with p, b, t and every
// cell up to t as the exact tiers would have them there; and the guard's
// exit counted (speculation_stats.last and .exits, .resumed).
bool speculate(const OptimisedProgram& program, const optimising::Shape& shape);

// The native tier, on from an index past its array, is about to read a
// cell above the top of the stack there (or leaves the run to the
// interpreter): the machine goes back to the checkpoint, the replay of the
// input and output since set up, every cell sure again, as after a guard
// that does not resume.
void back_from_unsure();

// A run that went on from an index past its array has ended: the
// checkpoint and the events since are kept no more.
void end_unsure();

// How many runs of the tier ended at exit e, since the last reset.
int failures_at(const GuardExit& e);

// The resume point of routine r that instruction p is (its start, from
// the first instruction of the routine), or -1.
int resume_entry(const optimising::Shape& shape, int r, std::int32_t p);
