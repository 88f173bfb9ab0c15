#include "debug/compile_session.hpp"

#include <algorithm>

namespace {

// Sets the watcher for one compile and takes it away however the compile
// ends.
class Watching {
  public:
    Watching(WatchSink sink, void* context) { watcher = Watcher{sink, context}; }
    Watching(const Watching&) = delete;
    Watching& operator=(const Watching&) = delete;
    ~Watching() { watcher = Watcher{}; }
};

// Whether an event carries a place in the source.
bool has_place(const WatchEvent& e) {
    return e.kind == WATCH_TOKEN || e.kind == WATCH_ENTER || e.kind == WATCH_LEAVE ||
           e.kind == WATCH_EMIT || e.kind == WATCH_ERROR;
}

} // namespace

void apply_event(CompileState& state, const WatchEvent& e, int* difference) {
    const std::size_t event = state.step;
    ++state.step;
    switch (e.kind) {
    case WATCH_TOKEN: state.token = event; break;
    case WATCH_ENTER: state.routines.push_back(event); break;
    case WATCH_LEAVE:
        if (!state.routines.empty()) state.routines.pop_back();
        break;
    case WATCH_SCOPE: state.scopes.push_back(e.level); break;
    case WATCH_CLOSE:
        if (!state.scopes.empty()) state.scopes.pop_back();
        if (e.entry >= 0 && static_cast<std::size_t>(e.entry) < state.symbols.size())
            state.symbols.resize(static_cast<std::size_t>(e.entry));
        break;
    case WATCH_REGIST: {
        CompileSymbol s{
            e.text, static_cast<SymbolKind>(e.symbol), e.level, e.offset, e.code_adr, e.low, e.high,
            {}};
        // The entry's index is the count of live entries once it is in.
        if (e.entry >= 1) state.symbols.resize(static_cast<std::size_t>(e.entry - 1));
        state.symbols.push_back(std::move(s));
        break;
    }
    case WATCH_LOOKUP:
        if (difference != nullptr) {
            *difference = 0;
            if (e.entry >= 1 && static_cast<std::size_t>(e.entry) <= state.symbols.size() &&
                !state.scopes.empty())
                *difference = state.scopes.back() -
                              state.symbols[static_cast<std::size_t>(e.entry - 1)].level;
        }
        break;
    case WATCH_PASSING:
        if (e.entry >= 1 && static_cast<std::size_t>(e.entry) <= state.symbols.size() &&
            e.position >= 0 && e.position < PARAM_MAX) {
            auto& params = state.symbols[static_cast<std::size_t>(e.entry - 1)].params;
            if (params.size() <= static_cast<std::size_t>(e.position))
                params.resize(static_cast<std::size_t>(e.position) + 1, SYM_VAR);
            params[static_cast<std::size_t>(e.position)] = static_cast<SymbolKind>(e.symbol);
        }
        break;
    case WATCH_EMIT: {
        Instruction in{static_cast<Opcode>(e.op), e.l, e.a};
        state.code.push_back(CompiledInstruction{in, e.first, e.last, event + 1});
        // The parser emits a forward jump with target 0 and backpatches it.
        if ((in.op == UJP || in.op == FJP) && in.a == 0) state.open_jumps.push_back(e.index);
        break;
    }
    case WATCH_BACKPATCH: {
        if (e.index >= 0 && static_cast<std::size_t>(e.index) < state.code.size())
            state.code[static_cast<std::size_t>(e.index)].instruction.a = e.a;
        auto open = std::find(state.open_jumps.begin(), state.open_jumps.end(), e.index);
        if (open != state.open_jumps.end()) state.open_jumps.erase(open);
        break;
    }
    case WATCH_ERROR: break;
    }
}

void CompileSession::receive(void* context, const WatchEvent& event) {
    auto* session = static_cast<CompileSession*>(context);
    if (session->events_.size() >= COMPILE_EVENT_MAX) {
        session->truncated_ = true;
        return;
    }
    int difference = 0;
    apply_event(session->recording_, event, &difference);
    session->events_.push_back(event);
    session->differences_.push_back(difference);
}

Compiled CompileSession::open_text(std::string_view source, const CompileOptions& options) {
    source_ = std::string(source);
    events_.clear();
    differences_.clear();
    truncated_ = false;
    recording_ = CompileState{};
    CompileOptions o = options;
    o.positions = true;
    {
        Watching watching(receive, this);
        compiled_ = compile_text(source_, o);
    }
    if (compiled_.error != ErrorKind::none && !truncated_) {
        WatchEvent error{};
        error.kind = WATCH_ERROR;
        error.first = compiled_.where;
        error.last = compiled_.where;
        events_.push_back(error);
        differences_.push_back(0);
    }
    recording_ = CompileState{};
    state_ = CompileState{};
    return compiled_;
}

int CompileSession::level_difference(std::size_t event) const {
    return event < differences_.size() ? differences_[event] : 0;
}

CompileState CompileSession::state_at(std::size_t step) const {
    step = std::min(step, events_.size());
    CompileState s;
    if (step >= state_.step) s = state_;
    while (s.step < step)
        apply_event(s, events_[s.step]);
    return s;
}

void CompileSession::go_to(std::size_t step) {
    step = std::min(step, events_.size());
    if (step < state_.step) state_ = CompileState{};
    while (state_.step < step)
        apply_event(state_, events_[state_.step]);
}

bool CompileSession::matches(CompileMotion motion, const WatchEvent& e) const {
    switch (motion) {
    case CompileMotion::token:
    case CompileMotion::reverse_token: return e.kind == WATCH_TOKEN;
    case CompileMotion::routine:
    case CompileMotion::reverse_routine: return e.kind == WATCH_ENTER || e.kind == WATCH_LEAVE;
    case CompileMotion::emit:
    case CompileMotion::reverse_emit: return e.kind == WATCH_EMIT;
    case CompileMotion::end:
    case CompileMotion::start: break;
    }
    return false;
}

bool CompileSession::move(CompileMotion motion) {
    const std::size_t now = state_.step;
    switch (motion) {
    case CompileMotion::end: go_to(events_.size()); return now != events_.size();
    case CompileMotion::start: go_to(0); return now != 0;
    case CompileMotion::token:
    case CompileMotion::routine:
    case CompileMotion::emit:
        for (std::size_t k = now + 1; k <= events_.size(); ++k) {
            if (matches(motion, events_[k - 1])) {
                go_to(k);
                return true;
            }
        }
        go_to(events_.size());
        return false;
    case CompileMotion::reverse_token:
    case CompileMotion::reverse_routine:
    case CompileMotion::reverse_emit:
        for (std::size_t k = now; k-- > 1;) {
            if (matches(motion, events_[k - 1])) {
                go_to(k);
                return true;
            }
        }
        go_to(0);
        return false;
    }
    return false;
}

std::optional<std::size_t> CompileSession::emission_of(int index) const {
    for (std::size_t k = 0; k < events_.size(); ++k)
        if (events_[k].kind == WATCH_EMIT && events_[k].index == index) return k + 1;
    return std::nullopt;
}

std::optional<std::size_t> CompileSession::registration_of(std::string_view name,
                                                           std::size_t from) const {
    for (std::size_t k = from; k < events_.size(); ++k)
        if (events_[k].kind == WATCH_REGIST && name == events_[k].text) return k + 1;
    return std::nullopt;
}

namespace {

// Whether event k reads the first token of a line in `lines`.
bool starts_line(const std::vector<WatchEvent>& events, std::size_t k,
                 const std::vector<int>& lines) {
    const WatchEvent& e = events[k];
    if (e.kind != WATCH_TOKEN) return false;
    if (std::find(lines.begin(), lines.end(), e.first.line) == lines.end()) return false;
    for (std::size_t j = k; j-- > 0;)
        if (events[j].kind == WATCH_TOKEN) return events[j].first.line != e.first.line;
    return true;
}

} // namespace

std::optional<std::size_t> CompileSession::line_after(const std::vector<int>& lines,
                                                      std::size_t from) const {
    for (std::size_t k = from; k < events_.size(); ++k)
        if (starts_line(events_, k, lines)) return k + 1;
    return std::nullopt;
}

std::optional<std::size_t> CompileSession::line_before(const std::vector<int>& lines,
                                                       std::size_t from) const {
    // Step k + 1 lies before `from` when k + 1 < from.
    for (std::size_t k = std::min(from, events_.size() + 1); k-- > 1;)
        if (starts_line(events_, k - 1, lines)) return k;
    return std::nullopt;
}

std::optional<std::size_t> CompileSession::visible(std::string_view name) const {
    for (std::size_t i = state_.symbols.size(); i-- > 0;)
        if (state_.symbols[i].name == name) return i;
    return std::nullopt;
}

SourcePos CompileSession::place() const {
    for (std::size_t k = state_.step; k-- > 0;)
        if (has_place(events_[k])) return events_[k].first;
    return SourcePos{1, 1};
}
