#include "judge/judgement.hpp"

namespace {

const char* const names[VERDICT_COUNT] = {"AC", "WA", "RE", "CE", "TLE", "OLE"};

} // namespace

const char* verdict_name(Verdict verdict) {
    return names[static_cast<int>(verdict)];
}

bool verdict_named(std::string_view name, Verdict& verdict) {
    for (int v = 0; v < VERDICT_COUNT; ++v) {
        if (name == names[v]) {
            verdict = static_cast<Verdict>(v);
            return true;
        }
    }
    return false;
}

bool cells_fit(std::size_t submissions, std::size_t cases) {
    return cases == 0 || submissions <= MAX_CELLS / cases;
}

const Outcome* Judgement::find(std::size_t submission, std::size_t case_index) const {
    auto found = outcomes_.find(key(submission, case_index));
    return found == outcomes_.end() ? nullptr : &found->second;
}

Outcome* Judgement::find(std::size_t submission, std::size_t case_index) {
    auto found = outcomes_.find(key(submission, case_index));
    return found == outcomes_.end() ? nullptr : &found->second;
}

void Judgement::set(std::size_t submission, std::size_t case_index, Outcome outcome) {
    outcomes_.insert_or_assign(key(submission, case_index), std::move(outcome));
}

void Judgement::erase(std::size_t submission, std::size_t case_index) {
    outcomes_.erase(key(submission, case_index));
}

Score score_of(const Judgement& judgement, std::size_t submission) {
    Score score;
    for (std::size_t c = 0; c < judgement.cases.size(); ++c) {
        const Outcome* outcome = judgement.find(submission, c);
        if (!outcome) continue;
        ++score.judged;
        if (outcome->verdict == Verdict::AC) ++score.accepted;
    }
    if (judgement.groups.empty()) {
        score.points = score.accepted;
        score.max_points = judgement.cases.size();
        return score;
    }
    for (const CaseGroup& group : judgement.groups) {
        score.max_points += group.points;
        bool passed = true;
        for (std::size_t c : group.cases) {
            const Outcome* outcome = judgement.find(submission, c);
            passed = passed && outcome != nullptr && outcome->verdict == Verdict::AC;
        }
        if (passed) score.points += group.points;
    }
    return score;
}
