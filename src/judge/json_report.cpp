// The JSON report, and reading it back for merge.
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "judge/reports.hpp"
#include "judge/text.hpp"

namespace {

const char* const PROGRAM = "tsumiki-judge";

// The fields of a record, in the order written.
const char* const fields[] = {"submission",   "case",    "verdict", "steps",
                              "output_bytes", "message", "line",    "column"};

using Json = nlohmann::ordered_json;

// Whether `value` is a record: exactly the fields, each of its type.
bool read_record(const Json& value, JsonRecord& record) {
    if (!value.is_object() || value.size() != std::size(fields)) return false;
    for (const char* field : fields)
        if (!value.contains(field)) return false;
    const Json& verdict = value["verdict"];
    auto count = [](const Json& v) {
        return v.is_number_unsigned() || (v.is_number_integer() && v.get<std::int64_t>() >= 0);
    };
    auto place = [&](const Json& v) { return count(v) && v.get<std::uint64_t>() <= 0x7FFFFFFF; };
    if (!value["submission"].is_string() || !value["case"].is_string() || !verdict.is_string() ||
        !value["message"].is_string() || !count(value["steps"]) || !count(value["output_bytes"]) ||
        !place(value["line"]) || !place(value["column"]) ||
        !verdict_named(verdict.get<std::string>(), record.outcome.verdict))
        return false;
    record.submission = value["submission"].get<std::string>();
    record.case_name = value["case"].get<std::string>();
    record.outcome.steps = value["steps"].get<std::uint64_t>();
    record.outcome.output_bytes = value["output_bytes"].get<std::uint64_t>();
    record.outcome.message = value["message"].get<std::string>();
    record.outcome.line = value["line"].get<int>();
    record.outcome.column = value["column"].get<int>();
    return true;
}

} // namespace

std::string json_report(const Judgement& judgement) {
    std::string out;
    for (std::size_t s = 0; s < judgement.submissions.size(); ++s) {
        for (std::size_t c = 0; c < judgement.cases.size(); ++c) {
            const std::optional<Outcome>& outcome = judgement.at(s, c);
            if (!outcome) continue;
            Json record;
            record["submission"] = judgement.submissions[s];
            record["case"] = judgement.cases[c];
            record["verdict"] = verdict_name(outcome->verdict);
            record["steps"] = outcome->steps;
            record["output_bytes"] = outcome->output_bytes;
            record["message"] = outcome->message;
            record["line"] = outcome->line;
            record["column"] = outcome->column;
            out += record.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
        }
    }
    return out;
}

bool read_json_report(const std::string& path, std::vector<JsonRecord>& records,
                      std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = say(MSG_J_REPORT_UNREADABLE, {PROGRAM, path});
        return false;
    }
    std::string line;
    int number_in_file = 0;
    while (std::getline(in, line)) {
        ++number_in_file;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        JsonRecord record;
        record.line_number = number_in_file;
        Json value = Json::parse(line, nullptr, false);
        if (value.is_discarded() || !read_record(value, record)) {
            error = say(MSG_J_BAD_RECORD,
                        {PROGRAM, path, number(static_cast<unsigned>(number_in_file))});
            return false;
        }
        records.push_back(std::move(record));
    }
    if (in.bad()) {
        error = say(MSG_J_REPORT_UNREADABLE, {PROGRAM, path});
        return false;
    }
    return true;
}

bool judgement_of(const std::vector<JsonRecord>& records, Judgement& judgement,
                  std::string& error) {
    std::map<std::string, std::size_t> submissions;
    std::map<std::string, std::size_t> cases;
    for (const JsonRecord& r : records) {
        submissions.emplace(r.submission, 0);
        cases.emplace(r.case_name, 0);
    }
    judgement.submissions.clear();
    judgement.cases.clear();
    for (auto& [name, index] : submissions) {
        index = judgement.submissions.size();
        judgement.submissions.push_back(name);
    }
    for (auto& [name, index] : cases) {
        index = judgement.cases.size();
        judgement.cases.push_back(name);
    }
    judgement.resize();
    for (const JsonRecord& r : records) {
        std::optional<Outcome>& cell = judgement.at(submissions[r.submission], cases[r.case_name]);
        if (cell) {
            error = say(MSG_J_DUPLICATE_RECORD, {PROGRAM, r.submission, r.case_name});
            return false;
        }
        cell = r.outcome;
    }
    return true;
}
