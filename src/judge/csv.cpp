// The CSV report: a row per submission, as a gradebook imports it.
#include "judge/reports.hpp"
#include "judge/text.hpp"

std::string csv_field(std::string_view text) {
    std::string field(text);
    if (!field.empty() && std::string_view("=+-@\t\r").find(field[0]) != std::string_view::npos)
        field.insert(0, 1, '\'');
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string quoted = "\"";
    for (char c : field) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string csv_report(const Judgement& judgement) {
    // Names as the table shows them: UTF-8, whatever bytes they hold.
    std::string out = "submission";
    for (const std::string& c : judgement.cases)
        out += "," + csv_field(shown_name(c));
    out += ",score,max_score\r\n";
    for (std::size_t s = 0; s < judgement.submissions.size(); ++s) {
        out += csv_field(shown_name(judgement.submissions[s]));
        for (std::size_t c = 0; c < judgement.cases.size(); ++c) {
            const Outcome* outcome = judgement.find(s, c);
            out += ",";
            out += outcome != nullptr ? verdict_name(outcome->verdict) : "-";
        }
        Score score = score_of(judgement, s);
        out += "," + number(score.points) + "," + number(score.max_points) + "\r\n";
    }
    return out;
}
