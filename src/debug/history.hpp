// The history of a debugging session: what each instruction it ran
// forward changed, so that it can go back over the instructions exactly.
//
// Per instruction one record of 8 bytes: the registers p, t and b before
// it, how many cells it wrote and what it was.  Per cell written, 8 bytes:
// the cell and its old value (most instructions write one, MST two, jumps,
// ENT, RET and PUT none).  GET and PUT also keep the length of the output
// and the place in the input before them, 16 bytes.  A million
// instructions of the sample programs and the benchmarks take 15 MB.
//
// The history keeps at most `limit` bytes: past it the oldest records are
// dropped, and the session can go back only as far as the oldest kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "vm/code.hpp"
#include "vm/machine.hpp"

// Registers before an instruction, as it finds them after its fetch test.
// They fit in 16 bits: p within the store, t and b within the stack.
static_assert(CODE_MAX <= 32767 && STACK_SIZE <= 32767);

// What an instruction did beyond its cells.
enum StepFlag : std::uint8_t {
    STEP_IO = 1,     // GET or PUT: an IoRecord follows
    STEP_CALL = 2,   // a CUP that made a frame
    STEP_RETURN = 4, // a RET or FRT that left one
    STEP_ENDED = 8,  // the run ended with it (HLT, or a run-time error)
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

// Records that come and go at the back and leave from the front, kept in
// chunks of 16384, so that a record costs no allocation of its own and a
// chunk emptied at either end is kept for the next one needed.
template <class T> class RecordLog {
  public:
    static constexpr std::size_t CHUNK = std::size_t{1} << 14;

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T& operator[](std::size_t i) { return at(head_ + i); }
    const T& operator[](std::size_t i) const {
        std::size_t k = head_ + i;
        return chunks_[k / CHUNK][k % CHUNK];
    }
    T& back() { return at(head_ + size_ - 1); }
    const T& back() const { return (*this)[size_ - 1]; }
    const T& front() const { return (*this)[0]; }

    void push_back(const T& record) {
        std::size_t end = head_ + size_;
        if (end == chunks_.size() * CHUNK) chunks_.push_back(new_chunk());
        at(end) = record;
        ++size_;
    }
    void pop_back() {
        --size_;
        std::size_t end = head_ + size_;
        if (end % CHUNK == 0 && end / CHUNK == chunks_.size() - 1 && chunks_.size() > 1) {
            spare_ = std::move(chunks_.back());
            chunks_.pop_back();
        }
    }
    void pop_front() {
        --size_;
        if (++head_ == CHUNK) {
            spare_ = std::move(chunks_.front());
            chunks_.pop_front();
            head_ = 0;
        }
    }
    void clear() {
        chunks_.clear();
        head_ = size_ = 0;
    }

  private:
    T& at(std::size_t k) { return chunks_[k / CHUNK][k % CHUNK]; }
    std::unique_ptr<T[]> new_chunk() {
        if (spare_) return std::move(spare_);
        return std::unique_ptr<T[]>(new T[CHUNK]);
    }

    std::deque<std::unique_ptr<T[]>> chunks_;
    std::unique_ptr<T[]> spare_;
    std::size_t head_ = 0; // the first record's place in the first chunk
    std::size_t size_ = 0;
};

// The default limit: 64 MB, some four million instructions.
inline constexpr std::size_t HISTORY_BYTES_DEFAULT = std::size_t{64} << 20;

class History {
  public:
    explicit History(std::size_t limit = HISTORY_BYTES_DEFAULT) : limit_(limit) {}

    // Starts the record of an instruction about to run on these registers.
    void begin(std::int32_t pc, std::int64_t top, std::int64_t base) {
        steps_.push_back(StepRecord{static_cast<std::int16_t>(pc), static_cast<std::int16_t>(top),
                                    static_cast<std::int16_t>(base), 0, 0});
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

    // Drops the oldest records while the history is over its limit;
    // returns how many instructions' records it dropped.
    std::uint64_t trim();

    bool empty() const { return steps_.empty(); }
    std::size_t size() const { return steps_.size(); }
    const StepRecord& last() const { return steps_.back(); }
    // The k-th cell the newest record wrote, oldest first.
    const CellRecord& last_cell(int k) const {
        return cells_[cells_.size() - steps_.back().cells + static_cast<std::size_t>(k)];
    }

    std::size_t bytes() const {
        return steps_.size() * sizeof(StepRecord) + cells_.size() * sizeof(CellRecord) +
               io_.size() * sizeof(IoRecord);
    }
    std::size_t limit() const { return limit_; }
    void clear();

  private:
    std::size_t limit_;
    RecordLog<StepRecord> steps_;
    RecordLog<CellRecord> cells_;
    RecordLog<IoRecord> io_;
};
