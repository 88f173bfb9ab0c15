// Re-grading shows what changed: the runs whose verdict differs between
// two JSON reports.
#include <map>
#include <optional>
#include <utility>

#include "judge/reports.hpp"
#include "judge/text.hpp"

std::string diff_report(const std::vector<JsonRecord>& old_records,
                        const std::vector<JsonRecord>& new_records, std::size_t& changed) {
    using Verdicts = std::pair<std::optional<Verdict>, std::optional<Verdict>>;
    // (submission, case) -> the verdict in the old and in the new report;
    // std::string orders the names by their bytes, as the reports do.
    std::map<std::pair<std::string, std::string>, Verdicts> runs;
    for (const JsonRecord& r : old_records)
        runs[{r.submission, r.case_name}].first = r.outcome.verdict;
    for (const JsonRecord& r : new_records)
        runs[{r.submission, r.case_name}].second = r.outcome.verdict;
    auto name = [](const std::optional<Verdict>& v) {
        return v ? std::string(verdict_name(*v)) : std::string("-");
    };
    std::string out;
    changed = 0;
    for (const auto& [run, verdicts] : runs) {
        if (verdicts.first == verdicts.second) continue;
        ++changed;
        out += shown_name(run.first) + " " + shown_name(run.second) + ": " + name(verdicts.first) +
               " -> " + name(verdicts.second) + "\n";
    }
    return out + say(MSG_J_DIFF_SUMMARY, {number(changed)});
}
