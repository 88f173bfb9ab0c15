// The results of one submission as course platforms' autograders report
// them (results.json).
#include <nlohmann/json.hpp>

#include "judge/reports.hpp"
#include "judge/text.hpp"

namespace {

using Json = nlohmann::ordered_json;

// The groups of the judgement, each case alone when it has none.
std::vector<CaseGroup> groups_of(const Judgement& j) {
    if (!j.groups.empty()) return j.groups;
    std::vector<CaseGroup> groups;
    for (std::size_t c = 0; c < j.cases.size(); ++c)
        groups.push_back(CaseGroup{1, {c}});
    return groups;
}

// A case's lines of a test's output: its verdict and message; of a hidden
// case's WA, a message that quotes nothing of the case.
std::string case_output(const Judgement& j, std::size_t s, std::size_t c) {
    std::string out = say(MSG_J_HTML_CASE, {}) + " " + shown_name(j.cases[c]) + ": ";
    const Outcome* outcome = j.find(s, c);
    if (outcome == nullptr) return out + "-\n";
    out += verdict_name(outcome->verdict);
    std::string message = outcome->message;
    if (j.is_hidden(c) && outcome->verdict == Verdict::WA) message = say(MSG_J_FB_HIDDEN_WA, {});
    if (outcome->line > 0)
        message = say(MSG_J_PLACE, {number(static_cast<unsigned>(outcome->line)),
                                    number(static_cast<unsigned>(outcome->column))}) +
                  ": " + message;
    if (!message.empty()) out += "\n" + message;
    return out + "\n";
}

} // namespace

std::string results_json(const Judgement& j, std::size_t s) {
    Json tests = Json::array();
    for (const CaseGroup& group : groups_of(j)) {
        std::string name, output;
        bool passed = true;
        // A test with a hidden case is hidden from the student as a whole.
        bool hidden = false;
        for (std::size_t c : group.cases) {
            hidden = hidden || j.is_hidden(c);
            name += (name.empty() ? "" : " + ") + shown_name(j.cases[c]);
            output += case_output(j, s, c);
            const Outcome* outcome = j.find(s, c);
            passed = passed && outcome != nullptr && outcome->verdict == Verdict::AC;
        }
        Json test;
        test["name"] = say(MSG_J_HTML_CASE, {}) + " " + name;
        test["score"] = passed ? group.points : 0;
        test["max_score"] = group.points;
        test["status"] = passed ? "passed" : "failed";
        test["output"] = output;
        test["visibility"] = hidden ? "hidden" : "visible";
        tests.push_back(std::move(test));
    }
    Json results;
    results["score"] = score_of(j, s).points;
    results["output"] = shown_name(j.submissions[s]);
    results["tests"] = std::move(tests);
    return results.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}
