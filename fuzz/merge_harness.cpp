// libFuzzer harness for the files a teacher or a class hands tsumiki-judge
// besides programs: each input is the bytes of a JSON report (one record a
// line), parsed as merge parses a part, and of a case folder's manifest.
// A crash, a sanitizer report, a leak, an exception or a hang is a fault,
// and so is a broken promise of the formats:
//
//   - the judgement the records make, written again as a JSON report and
//     read back, is the same judgement (names kept exactly, byte for byte);
//   - every name survives name_for_json and name_from_json unchanged;
//   - the table, the JUnit report and the page can be made of it;
//   - a manifest is refused with a message, or puts every case in exactly
//     one group worth at most MAX_GROUP_POINTS, and a submission's score
//     is at most the most it could have.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "judge/html.hpp"
#include "judge/manifest.hpp"
#include "judge/reports.hpp"
#include "judge/text.hpp"

namespace {

// The reports are made only of a judgement this small, so that an input
// stays quick: their size grows with submissions times cases.
constexpr std::size_t REPORTED_CELLS = 4096;

void check(bool holds) {
    if (!holds) std::abort();
}

bool same(const Judgement& a, const Judgement& b) {
    if (a.submissions != b.submissions || a.cases != b.cases || a.judged() != b.judged())
        return false;
    for (std::size_t s = 0; s < a.submissions.size(); ++s) {
        for (std::size_t c = 0; c < a.cases.size(); ++c) {
            const Outcome* x = a.find(s, c);
            const Outcome* y = b.find(s, c);
            if ((x == nullptr) != (y == nullptr)) return false;
            if (x == nullptr) continue;
            if (x->verdict != y->verdict || x->steps != y->steps ||
                x->output_bytes != y->output_bytes || x->line != y->line || x->column != y->column)
                return false;
        }
    }
    return true;
}

// The bytes as the manifest of a folder with a few cases, one of them
// judged for one submission.
void check_manifest(std::string_view bytes) {
    Judgement judgement;
    judgement.submissions = {"s"};
    judgement.cases = {"1", "2", "a", "b-1", "\xe5\x95\x8f"};
    judgement.resize();
    Outcome ac;
    ac.verdict = Verdict::AC;
    judgement.set(0, 2, ac);
    std::string error;
    if (!parse_manifest(bytes, "manifest.txt", judgement, error)) {
        check(!error.empty());
        return;
    }
    std::vector<int> seen(judgement.cases.size(), 0);
    for (const CaseGroup& group : judgement.groups) {
        check(group.points <= MAX_GROUP_POINTS && !group.cases.empty());
        for (std::size_t c : group.cases) {
            check(c < seen.size());
            ++seen[c];
        }
    }
    if (!judgement.groups.empty())
        for (int n : seen)
            check(n == 1);
    check(judgement.hidden.empty() || judgement.hidden.size() == judgement.cases.size());
    Score score = score_of(judgement, 0);
    check(score.points <= score.max_points);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // Any bytes, as a name.
    check(name_from_json(name_for_json(bytes)) == bytes);
    check(is_utf8(name_for_json(bytes)));
    check(is_utf8(shown_name(bytes)));

    check_manifest(bytes);

    std::vector<JsonRecord> records;
    std::string error;
    if (!parse_json_report(bytes, "fuzz.jsonl", records, error)) {
        check(!error.empty());
        return 0;
    }
    Judgement judgement;
    if (!judgement_of(records, judgement, error)) return 0;
    for (const std::string& name : judgement.submissions)
        check(name_from_json(name_for_json(name)) == name);

    // Written and read back: the same judgement.
    std::string written = json_report(judgement);
    std::vector<JsonRecord> again;
    check(parse_json_report(written, "again.jsonl", again, error));
    Judgement back;
    check(judgement_of(again, back, error));
    check(same(judgement, back));
    check(json_report(back) == written);

    if (judgement.submissions.size() * judgement.cases.size() <= REPORTED_CELLS) {
        check(!table_report(judgement, true).empty());
        check(!junit_report(judgement).empty());
        check(!html_report(judgement, {}, Settings{}).empty());
    }
    return 0;
}
