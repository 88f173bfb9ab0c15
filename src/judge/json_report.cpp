// The JSON report, and reading it back for merge.
#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include "driver/user_file.hpp"
#include "judge/reports.hpp"
#include "judge/text.hpp"

namespace {

const char* const PROGRAM = "tsumiki-judge";

// The fields of a record, in the order written.
const char* const fields[] = {"submission",   "case",    "verdict", "steps",
                              "output_bytes", "message", "line",    "column"};

using Json = nlohmann::ordered_json;

// A record is an object of numbers and strings: nothing nests in it.
constexpr int MAX_RECORD_DEPTH = 1;

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
    record.submission = name_from_json(value["submission"].get<std::string>());
    record.case_name = name_from_json(value["case"].get<std::string>());
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
            const Outcome* outcome = judgement.find(s, c);
            if (!outcome) continue;
            Json record;
            record["submission"] = name_for_json(judgement.submissions[s]);
            record["case"] = name_for_json(judgement.cases[c]);
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

bool parse_json_report(std::string_view bytes, const std::string& path,
                       std::vector<JsonRecord>& records, std::string& error) {
    int number_in_file = 0;
    while (!bytes.empty()) {
        std::size_t end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        ++number_in_file;
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
        JsonRecord record;
        record.line_number = number_in_file;
        // Nesting deeper than a record's is not parsed at all.
        int depth = 0, deepest = 0;
        bool quoted = false, escaped = false;
        for (char c : line) {
            if (quoted) {
                if (escaped)
                    escaped = false;
                else if (c == '\\')
                    escaped = true;
                else if (c == '"')
                    quoted = false;
                continue;
            }
            quoted = c == '"';
            depth += c == '[' || c == '{' ? 1 : c == ']' || c == '}' ? -1 : 0;
            deepest = std::max(deepest, depth);
        }
        Json value;
        if (deepest <= MAX_RECORD_DEPTH) value = Json::parse(line, nullptr, false);
        if (deepest > MAX_RECORD_DEPTH || value.is_discarded() || !read_record(value, record)) {
            error = say(MSG_J_BAD_RECORD,
                        {PROGRAM, path, number(static_cast<unsigned>(number_in_file))});
            return false;
        }
        records.push_back(std::move(record));
    }
    return true;
}

bool read_json_report(const std::string& path, std::vector<JsonRecord>& records,
                      std::string& error) {
    std::string bytes;
    FileRefusal refusal = read_user_file(path, REPORT_BYTES, bytes);
    if (refusal == FileRefusal::missing || refusal == FileRefusal::unreadable) {
        error = say(MSG_J_REPORT_UNREADABLE, {PROGRAM, path});
        return false;
    }
    if (refusal != FileRefusal::none) {
        error = say(MSG_J_REPORT_REFUSED, {PROGRAM, path, refusal_words(refusal, REPORT_BYTES)});
        return false;
    }
    return parse_json_report(bytes, path, records, error);
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
    if (!cells_fit(submissions.size(), cases.size())) {
        error = say(MSG_J_TOO_MANY_CELLS,
                    {PROGRAM, number(submissions.size()), number(cases.size()), number(MAX_CELLS)});
        return false;
    }
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
        std::size_t s = submissions[r.submission], c = cases[r.case_name];
        if (judgement.find(s, c) != nullptr) {
            error = say(MSG_J_DUPLICATE_RECORD,
                        {PROGRAM, shown_name(r.submission), shown_name(r.case_name)});
            return false;
        }
        judgement.set(s, c, r.outcome);
    }
    return true;
}
