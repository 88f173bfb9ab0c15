// The JUnit XML report: what CI systems show as test results.  A test
// suite per submission, a test case per case; WA, TLE and OLE are
// failures, RE and CE errors.  Nothing in it depends on the clock, so that
// the same judgement always gives the same bytes.
#include "judge/markup.hpp"
#include "judge/reports.hpp"
#include "judge/text.hpp"

namespace {

bool is_error(Verdict verdict) {
    return verdict == Verdict::RE || verdict == Verdict::CE;
}

std::string attribute(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + escape_markup(value) + "\"";
}

std::string place(const Outcome& outcome) {
    if (outcome.line == 0) return "";
    return say(MSG_J_PLACE, {number(static_cast<unsigned>(outcome.line)),
                             number(static_cast<unsigned>(outcome.column))}) +
           ": ";
}

} // namespace

std::string junit_report(const Judgement& judgement) {
    std::string suites;
    std::size_t tests = 0, failures = 0, errors = 0;
    for (std::size_t s = 0; s < judgement.submissions.size(); ++s) {
        const std::string& submission = judgement.submissions[s];
        std::string cases;
        std::size_t suite_tests = 0, suite_failures = 0, suite_errors = 0;
        for (std::size_t c = 0; c < judgement.cases.size(); ++c) {
            const Outcome* outcome = judgement.find(s, c);
            if (!outcome) continue;
            ++suite_tests;
            cases += "    <testcase" + attribute("name", shown_name(judgement.cases[c])) +
                     attribute("classname", shown_name(submission));
            if (outcome->verdict == Verdict::AC) {
                cases += "/>\n";
                continue;
            }
            const char* element = is_error(outcome->verdict) ? "error" : "failure";
            ++(is_error(outcome->verdict) ? suite_errors : suite_failures);
            std::string message = place(*outcome) + outcome->message;
            std::string text = std::string(verdict_name(outcome->verdict)) + ": " + message +
                               "\nsteps: " + number(outcome->steps) +
                               ", output_bytes: " + number(outcome->output_bytes);
            cases += ">\n      <" + std::string(element) +
                     attribute("type", verdict_name(outcome->verdict)) +
                     attribute("message", message) + ">" + escape_text(text) + "</" + element +
                     ">\n    </testcase>\n";
        }
        suites += "  <testsuite" + attribute("name", shown_name(submission)) +
                  attribute("tests", number(suite_tests)) +
                  attribute("failures", number(suite_failures)) +
                  attribute("errors", number(suite_errors)) + attribute("skipped", "0") + ">\n" +
                  cases + "  </testsuite>\n";
        tests += suite_tests;
        failures += suite_failures;
        errors += suite_errors;
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites" +
           attribute("name", "tsumiki-judge") + attribute("tests", number(tests)) +
           attribute("failures", number(failures)) + attribute("errors", number(errors)) + ">\n" +
           suites + "</testsuites>\n";
}
