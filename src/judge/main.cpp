// tsumiki-judge: grades a class.  Every submission is compiled once and
// run on every case of a case folder, each run in a process of its own with
// an instruction budget and an output limit; the verdicts go to a table on
// standard output and, when asked, to JSON, JUnit XML and an HTML page.
// `tsumiki-judge merge` joins the JSON reports of shares judged apart
// (--shard) into the table and reports one run would have made.
//
// Exit status: 0 once every run was judged, whatever the verdicts; 2 for a
// usage error or a case folder that cannot be read; 1 when no process could
// be started; 128 + the signal when interrupted (the reports then hold what
// was judged).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <unistd.h>

#include "judge/html.hpp"
#include "judge/options.hpp"
#include "judge/pool.hpp"
#include "judge/reports.hpp"
#include "judge/text.hpp"
#include "version.hpp"

namespace {

const char* const PROGRAM = "tsumiki-judge";

[[noreturn]] void fail(const std::string& complaint, int status) {
    std::fputs(complaint.c_str(), stderr);
    std::exit(status);
}

void print_help(const Settings& defaults) {
    std::string text =
        say(MSG_J_USAGE, {PROGRAM}) + say(MSG_J_USAGE_MERGE, {PROGRAM}) +
        say(MSG_J_HELP_ABOUT, {}) + say(MSG_J_HELP_VERDICTS, {}) +
        say(MSG_J_HELP_OPTIONS, {number(defaults.steps), number(defaults.output_limit)}) +
        say(MSG_J_HELP_MERGE, {}) + say(MSG_J_HELP_END, {});
    std::fputs(text.c_str(), stdout);
}

// The report files, opened before any work so that a path that cannot be
// written is a usage error, not a lost run.
struct Reports {
    std::unique_ptr<std::ofstream> json, junit, html;
};

std::unique_ptr<std::ofstream> open_report(const std::string& path) {
    if (path.empty()) return nullptr;
    auto file = std::make_unique<std::ofstream>(path, std::ios::binary | std::ios::trunc);
    if (!*file) fail(say(MSG_J_REPORT_UNWRITABLE, {PROGRAM, path}), 2);
    return file;
}

void write_report(std::ofstream* file, const std::string& path, const std::string& text) {
    if (file == nullptr) return;
    file->write(text.data(), static_cast<std::streamsize>(text.size()));
    file->close();
    if (!*file) fail(say(MSG_J_REPORT_UNWRITABLE, {PROGRAM, path}), 1);
}

void write_reports(const CommandLine& line, Reports& reports, const Judgement& judgement,
                   const std::vector<TestCase>& cases) {
    bool colour = line.colour == Colour::always ||
                  (line.colour == Colour::automatic && isatty(STDOUT_FILENO) != 0 &&
                   (std::getenv("NO_COLOR") == nullptr || std::getenv("NO_COLOR")[0] == '\0'));
    std::string table = table_report(judgement, colour);
    if (std::fwrite(table.data(), 1, table.size(), stdout) != table.size() ||
        std::fflush(stdout) != 0)
        fail(msg_in(MSG_OUTPUT_FAILED, Encoding::utf8), 1);
    write_report(reports.json.get(), line.json, json_report(judgement));
    write_report(reports.junit.get(), line.junit, junit_report(judgement));
    if (reports.html)
        write_report(reports.html.get(), line.html, html_report(judgement, cases, line.settings));
}

std::vector<TestCase> cases_or_fail(const std::string& folder) {
    std::vector<TestCase> cases;
    std::string error;
    if (!read_cases(folder, cases, error)) fail(error, 2);
    return cases;
}

// The status for how the work ended, after saying why it did not finish.
int status_of(PoolEnd end) {
    if (end == PoolEnd::interrupted) {
        std::fputs(say(MSG_J_INTERRUPTED, {PROGRAM}).c_str(), stderr);
        return 128 + interrupting_signal();
    }
    if (end == PoolEnd::failed) {
        std::fputs(say(MSG_J_START_FAILED, {PROGRAM}).c_str(), stderr);
        return 1;
    }
    return 0;
}

int judge(CommandLine& line) {
    std::vector<TestCase> cases = cases_or_fail(line.cases);
    Judgement judgement;
    std::string error;
    if (!find_submissions(line.operands, judgement.submissions, error)) fail(error, 2);
    keep_share(judgement.submissions, line.shard, line.shards);
    for (const TestCase& c : cases)
        judgement.cases.push_back(c.name);
    judgement.resize();
    Reports reports{open_report(line.json), open_report(line.junit), open_report(line.html)};

    line.settings.keep_output = !line.html.empty();
    std::vector<Work> work;
    for (std::size_t s = 0; s < judgement.submissions.size(); ++s) {
        Work w{s, {judgement.submissions[s], {}}};
        for (std::size_t c = 0; c < cases.size(); ++c)
            w.task.cases.push_back(c);
        work.push_back(std::move(w));
    }
    Progress progress{isatty(STDERR_FILENO) != 0, judgement.submissions.size() * cases.size()};
    PoolEnd end = do_work(work, cases, line.settings, judgement, progress);
    write_reports(line, reports, judgement, cases);
    return status_of(end);
}

// For the page: what the runs that were not AC printed, from running them
// again (every run is the same again: its budget counts instructions, not
// time).  A run that now ends otherwise than its report says is named on
// standard error; the report's verdict stands.
PoolEnd run_again(Judgement& merged, const std::vector<TestCase>& cases, const CommandLine& line) {
    std::vector<Work> work;
    std::size_t total = 0;
    for (std::size_t s = 0; s < merged.submissions.size(); ++s) {
        Work w{s, {merged.submissions[s], {}}};
        for (std::size_t c = 0; c < merged.cases.size(); ++c) {
            const std::optional<Outcome>& outcome = merged.at(s, c);
            if (!outcome || outcome->verdict == Verdict::AC || outcome->verdict == Verdict::CE)
                continue;
            for (std::size_t k = 0; k < cases.size(); ++k)
                if (cases[k].name == merged.cases[c]) w.task.cases.push_back(k);
        }
        total += w.task.cases.size();
        if (!w.task.cases.empty()) work.push_back(std::move(w));
    }
    // The worker speaks of the folder's cases; the judgement's columns are
    // the reports' cases.
    Judgement by_folder;
    by_folder.submissions = merged.submissions;
    for (const TestCase& c : cases)
        by_folder.cases.push_back(c.name);
    by_folder.resize();
    Settings settings = line.settings;
    settings.keep_output = true;
    PoolEnd end =
        do_work(work, cases, settings, by_folder, Progress{isatty(STDERR_FILENO) != 0, total});
    for (std::size_t s = 0; s < merged.submissions.size(); ++s) {
        for (std::size_t c = 0; c < merged.cases.size(); ++c) {
            std::optional<Outcome>& outcome = merged.at(s, c);
            if (!outcome) continue;
            for (std::size_t k = 0; k < cases.size(); ++k) {
                const std::optional<Outcome>& now = by_folder.at(s, k);
                if (cases[k].name != merged.cases[c] || !now) continue;
                if (now->verdict != outcome->verdict || now->steps != outcome->steps ||
                    now->output_bytes != outcome->output_bytes || now->message != outcome->message)
                    std::fputs(say(MSG_J_RERUN_DIFFERS,
                                   {PROGRAM, merged.submissions[s] + " " + merged.cases[c] + ": " +
                                                 verdict_name(outcome->verdict) + " -> " +
                                                 verdict_name(now->verdict)})
                                   .c_str(),
                               stderr);
                outcome->output = now->output;
            }
        }
    }
    return end;
}

int merge(CommandLine& line) {
    std::vector<JsonRecord> records;
    std::string error;
    for (const std::string& path : line.operands)
        if (!read_json_report(path, records, error)) fail(error, 2);
    Judgement merged;
    if (!judgement_of(records, merged, error)) fail(error, 2);
    std::vector<TestCase> cases;
    if (!line.html.empty()) cases = cases_or_fail(line.cases);
    Reports reports{open_report(line.json), open_report(line.junit), open_report(line.html)};
    PoolEnd end = PoolEnd::done;
    if (!line.html.empty()) end = run_again(merged, cases, line);
    write_reports(line, reports, merged, cases);
    return status_of(end);
}

} // namespace

int main(int argc, char** argv) {
    CommandLine line;
    std::string error;
    if (!read_command_line(argc, argv, line, error)) fail(error, 2);
    if (line.help) {
        print_help(Settings{});
        return 0;
    }
    if (line.version) {
        std::fputs(say(MSG_J_VERSION, {tsumiki_version}).c_str(), stdout);
        return 0;
    }
    // The runs write as tsumiki would in this environment.
    const char* asked = std::getenv(ENCODING_VARIABLE);
    if (asked != nullptr && asked[0] != '\0' && !encoding_named(asked, line.settings.encoding))
        fail(say(MSG_BAD_ENCODING, {asked}), 2);
    return line.merge ? merge(line) : judge(line);
}
