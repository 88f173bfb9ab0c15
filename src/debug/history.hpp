// The history of a debugging session: what each instruction it ran
// forward changed, so that it can go back over the instructions exactly.
//
// Per instruction one record of 8 bytes: the registers p, t and b before
// it, how many cells it wrote and what it was.  Per cell written, 8 bytes:
// the cell and its old value (most instructions write one, MST two, jumps,
// ENT, RET and PUT none).  GET and PUT also keep the length of the output
// and the place in the input before them, 16 bytes.  A million
// instructions of the sample programs take about 16 MB.
//
// The history keeps at most `limit` bytes: past it the oldest records are
// dropped, and the session can go back only as far as the oldest kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "vm/code.hpp"
#include "vm/machine.hpp"

// Registers before an instruction, as it finds them after its fetch test.
// They fit in 16 bits: p within the store, t and b within the stack.
static_assert(CODE_MAX <= 32767 && STACK_SIZE <= 32767);

// What an instruction did beyond its cells.
enum StepFlag : std::uint8_t {
    STEP_IO = 1,       // GET or PUT: an IoRecord follows
    STEP_CALL = 2,     // a CUP that made a frame
    STEP_RETURN = 4,   // a RET or FRT that left one
    STEP_ENDED = 8,    // the run ended with it (HLT, or a run-time error)
};

struct StepRecord {
    std::int16_t p;
    std::int16_t t;
    std::int16_t b;
    std::uint8_t cells; // cell records of this instruction
    std::uint8_t flags; // StepFlag
};

struct CellRecord {
    std::int32_t cell;
    std::int32_t old;
};

struct IoRecord {
    std::uint64_t output; // bytes of output before the instruction
    std::uint64_t input;  // bytes of input used before it
};

// The default limit: 64 MB, some four million instructions.
inline constexpr std::size_t HISTORY_BYTES_DEFAULT = std::size_t{64} << 20;

class History {
public:
    explicit History(std::size_t limit = HISTORY_BYTES_DEFAULT) : limit_(limit) {}

    // Starts the record of an instruction about to run on these registers.
    void begin(std::int32_t p, std::int64_t t, std::int64_t b) {
        steps_.push_back(StepRecord{static_cast<std::int16_t>(p), static_cast<std::int16_t>(t),
                                    static_cast<std::int16_t>(b), 0, 0});
    }
    // The instruction is about to write `cell`, which still holds its old
    // value.
    void cell(std::int64_t cell) {
        cells_.push_back(CellRecord{static_cast<std::int32_t>(cell), s[cell]});
        ++steps_.back().cells;
    }
    void io(std::uint64_t output, std::uint64_t input) {
        io_.push_back(IoRecord{output, input});
        steps_.back().flags |= STEP_IO;
    }
    void flag(StepFlag f) { steps_.back().flags |= f; }

    // Takes back the newest record: its cells get their old values back
    // (newest first), and the registers it found are given back.  Its
    // output and input places, when it has them, go to `io`.
    StepRecord undo(IoRecord& io);

    // Forgets the record begun last without undoing it (the session has
    // undone its cells itself); its cells' old values are restored.
    void undo_cells_of_last();

    // Drops the oldest records while the history is over its limit;
    // returns how many instructions' records it dropped.
    std::uint64_t trim();

    bool empty() const { return steps_.empty(); }
    std::size_t size() const { return steps_.size(); }
    const StepRecord& last() const { return steps_.back(); }
    // The cells the newest record wrote, oldest first.
    std::deque<CellRecord>::const_iterator last_cells() const {
        return cells_.end() - steps_.back().cells;
    }
    std::deque<CellRecord>::const_iterator cells_end() const { return cells_.end(); }

    std::size_t bytes() const {
        return steps_.size() * sizeof(StepRecord) + cells_.size() * sizeof(CellRecord) +
               io_.size() * sizeof(IoRecord);
    }
    std::size_t limit() const { return limit_; }
    void clear();

private:
    std::size_t limit_;
    std::deque<StepRecord> steps_;
    std::deque<CellRecord> cells_;
    std::deque<IoRecord> io_;
};
