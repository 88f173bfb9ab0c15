#include "debug/history.hpp"

StepRecord History::undo(IoRecord& io) {
    StepRecord r = steps_.back();
    for (int k = 0; k < r.cells; ++k) {
        const CellRecord& c = cells_.back();
        s[c.cell] = c.old;
        cells_.pop_back();
    }
    if ((r.flags & STEP_IO) != 0) {
        io = io_.back();
        io_.pop_back();
    }
    steps_.pop_back();
    return r;
}

std::uint64_t History::trim() {
    std::uint64_t dropped = 0;
    // Never the newest record: the session may be about to undo it.
    while (bytes() > limit_ && steps_.size() > 1) {
        const StepRecord& r = steps_.front();
        for (int k = 0; k < r.cells; ++k)
            cells_.pop_front();
        if ((r.flags & STEP_IO) != 0) io_.pop_front();
        steps_.pop_front();
        ++dropped;
    }
    return dropped;
}

void History::clear() {
    steps_.clear();
    cells_.clear();
    io_.clear();
}
