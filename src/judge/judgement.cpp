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

Score score_of(const Judgement& judgement, std::size_t submission) {
    Score score;
    for (std::size_t c = 0; c < judgement.cases.size(); ++c) {
        const std::optional<Outcome>& outcome = judgement.at(submission, c);
        if (!outcome) continue;
        ++score.judged;
        if (outcome->verdict == Verdict::AC) ++score.accepted;
    }
    return score;
}
