// tsumiki-judge: grades a class.  Every submission is compiled once and
// run on every case of a case folder, each run in a process of its own with
// an instruction budget and an output limit; the verdicts go to a table on
// standard output and, when asked, to JSON, JUnit XML and an HTML page.
// `tsumiki-judge merge` joins the JSON reports of shares judged apart
// (--shard) into the table and reports one run would have made.
// With --model, a model solution is judged on the cases first, and the
// class only when it passes every one; `tsumiki-judge make-outputs` writes
// the cases' expected outputs from the model's runs.  `tsumiki-judge
// similar` lists the pairs of submissions whose code is alike
// (judge/similar_command.hpp).
//
// Exit status: 0 once every run was judged, whatever the verdicts; 2 for a
// usage error or a case folder that cannot be read; 1 when no process could
// be started; 128 + the signal when interrupted (the reports then hold what
// was judged).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "judge/feedback.hpp"
#include "judge/html.hpp"
#include "judge/manifest.hpp"
#include "judge/options.hpp"
#include "judge/pool.hpp"
#include "judge/report_files.hpp"
#include "judge/reports.hpp"
#include "judge/similar.hpp"
#include "judge/similar_command.hpp"
#include "judge/text.hpp"
#include "version.hpp"
#include "vm/engine.hpp"

namespace {

const char* const PROGRAM = "tsumiki-judge";

void print_help(const Settings& defaults) {
    std::string text =
        say(MSG_J_USAGE, {PROGRAM}) + say(MSG_J_USAGE_MERGE, {PROGRAM}) +
        say(MSG_J_USAGE_MAKE, {PROGRAM}) + say(MSG_J_USAGE_DIFF, {PROGRAM}) +
        say(MSG_J_USAGE_SIMILAR, {PROGRAM}) + say(MSG_J_HELP_ABOUT, {}) +
        say(MSG_J_HELP_VERDICTS, {}) +
        say(MSG_J_HELP_OPTIONS, {number(defaults.steps), number(defaults.output_limit)}) +
        say(MSG_J_HELP_MANIFEST, {}) + say(MSG_J_HELP_MERGE, {}) + say(MSG_J_HELP_MAKE, {}) +
        say(MSG_J_HELP_DIFF, {}) + say(MSG_J_HELP_SIMILAR, {number(SIMILAR_DEFAULT_THRESHOLD)}) +
        say(MSG_J_HELP_END, {});
    std::fputs(text.c_str(), stdout);
}

// The report files: temporaries made before any work, renamed over the
// reports once written (judge/report_files.hpp).  They stay in place (and
// are not moved) while the signal handler may remove them.
struct Reports {
    ReportFile json, junit, html, csv, results;
};
Reports* open_reports = nullptr;

[[noreturn]] void fail(const std::string& complaint, int status) {
    if (open_reports != nullptr)
        for (ReportFile* file : {&open_reports->json, &open_reports->junit, &open_reports->html,
                                 &open_reports->csv, &open_reports->results})
            discard_report(*file);
    std::fputs(complaint.c_str(), stderr);
    std::exit(status);
}

// Opens the reports asked for, refusing a path that is also a file the
// judge reads (`inputs`: a submission or a case, say `--json=alice.tsu`
// from a glob) or another report's.
void open_all(Reports& reports, const CommandLine& line, const std::vector<std::string>& inputs) {
    reports.json.path = line.json;
    reports.junit.path = line.junit;
    reports.html.path = line.html;
    reports.csv.path = line.csv;
    reports.results.path = line.results_json;
    std::vector<std::string> taken = inputs;
    for (ReportFile* file :
         {&reports.json, &reports.junit, &reports.html, &reports.csv, &reports.results}) {
        if (file->path.empty()) continue;
        if (same_file_as_any(file->path, taken))
            fail(say(MSG_J_REPORT_IS_INPUT, {PROGRAM, file->path}), 2);
        taken.push_back(file->path);
    }
    open_reports = &reports;
    for (ReportFile* file :
         {&reports.json, &reports.junit, &reports.html, &reports.csv, &reports.results}) {
        if (file->path.empty()) continue;
        if (!open_report(*file)) fail(say(MSG_J_REPORT_UNWRITABLE, {PROGRAM, file->path}), 2);
        if (!file->temporary.empty()) remove_on_stop(file->temporary.c_str());
    }
}

void finish(ReportFile& file, const std::string& text) {
    if (file.path.empty()) return;
    if (!finish_report(file, text)) fail(say(MSG_J_REPORT_UNWRITABLE, {PROGRAM, file.path}), 1);
}

// --feedback: the folder, made when it is not there, before any work.
void make_feedback_folder(const CommandLine& line) {
    if (line.feedback.empty()) return;
    std::error_code failed;
    std::filesystem::create_directory(line.feedback, failed);
    if (failed || !std::filesystem::is_directory(line.feedback, failed))
        fail(say(MSG_J_FEEDBACK_UNWRITABLE, {PROGRAM, shown_name(line.feedback)}), 2);
}

// Each submission's pages in the feedback folder, each written whole or
// not at all, never over a file the judge read.
void write_feedback(const CommandLine& line, const Judgement& judgement,
                    const std::vector<TestCase>& cases, const std::vector<std::string>& inputs,
                    PlaygroundLinks& playground) {
    if (line.feedback.empty()) return;
    for (std::size_t s = 0; s < judgement.submissions.size(); ++s) {
        std::string base =
            (std::filesystem::path(line.feedback) / feedback_name(judgement.submissions[s], s + 1))
                .string();
        for (bool html : {true, false}) {
            ReportFile file;
            file.path = base + (html ? ".html" : ".txt");
            if (same_file_as_any(file.path, inputs))
                fail(say(MSG_J_REPORT_IS_INPUT, {PROGRAM, shown_name(file.path)}), 2);
            std::string text = html ? feedback_html(judgement, s, cases, line.settings, &playground)
                                    : feedback_text(judgement, s, cases, line.settings);
            if (!open_report(file) || !finish_report(file, text))
                fail(say(MSG_J_REPORT_UNWRITABLE, {PROGRAM, shown_name(file.path)}), 1);
        }
    }
}

// Where the class page's details lead: the playground, and the students'
// pages (as a path from the page's folder) when there are any.
PageLinks page_links(const CommandLine& line, PlaygroundLinks& playground) {
    PageLinks links;
    links.playground = &playground;
    if (!line.feedback.empty()) {
        std::error_code failed;
        std::filesystem::path page_folder =
            std::filesystem::absolute(line.html, failed).parent_path();
        std::filesystem::path folder = std::filesystem::absolute(line.feedback, failed);
        std::filesystem::path relative =
            folder.lexically_normal().lexically_relative(page_folder.lexically_normal());
        links.feedback =
            folder_url(failed || relative.empty() ? folder.string() : relative.generic_string());
    }
    return links;
}

// The report files, whole, with Ctrl-C held off until they are renamed;
// then the table.
void write_reports(const CommandLine& line, Reports& reports, const Judgement& judgement,
                   const std::vector<TestCase>& cases, const std::vector<std::string>& inputs) {
    hold_stops();
    PlaygroundLinks playground(line.playground, line.settings);
    write_feedback(line, judgement, cases, inputs, playground);
    finish(reports.json, json_report(judgement));
    finish(reports.junit, junit_report(judgement));
    if (!reports.csv.path.empty()) finish(reports.csv, csv_report(judgement));
    if (!reports.results.path.empty()) finish(reports.results, results_json(judgement, 0));
    if (!reports.html.path.empty())
        finish(reports.html,
               html_report(judgement, cases, line.settings, page_links(line, playground)));
    open_reports = nullptr;
    release_stops();
    bool colour = line.colour == Colour::always ||
                  (line.colour == Colour::automatic && isatty(STDOUT_FILENO) != 0 &&
                   (std::getenv("NO_COLOR") == nullptr || std::getenv("NO_COLOR")[0] == '\0'));
    std::string table = table_report(judgement, colour);
    if (std::fwrite(table.data(), 1, table.size(), stdout) != table.size() ||
        std::fflush(stdout) != 0)
        fail(msg_in(MSG_OUTPUT_FAILED, Encoding::utf8), 1);
}

std::vector<TestCase> cases_or_fail(const std::string& folder) {
    std::vector<TestCase> cases;
    std::string error;
    if (!read_cases(folder, cases, error)) fail(error, 2);
    return cases;
}

// The files of the cases, as paths.
void add_case_files(std::vector<std::string>& paths, const std::string& folder,
                    const std::vector<TestCase>& cases) {
    for (const TestCase& c : cases) {
        std::string base = (std::filesystem::path(folder) / c.name).string();
        paths.push_back(base + ".in");
        paths.push_back(base + ".out");
    }
    paths.push_back((std::filesystem::path(folder) / MANIFEST_NAME).string());
}

void check_size(const Judgement& judgement) {
    if (!cells_fit(judgement.submissions.size(), judgement.cases.size()))
        fail(say(MSG_J_TOO_MANY_CELLS, {PROGRAM, number(judgement.submissions.size()),
                                        number(judgement.cases.size()), number(MAX_CELLS)}),
             2);
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

// The model solution's outcome on every case (an empty `expected` of each
// case is then the same as none), its output kept when `keep` is set.
// Interrupted, or when no worker starts, the judge ends.
Judgement run_model(const CommandLine& line, const std::vector<TestCase>& cases, bool keep) {
    Judgement model;
    model.submissions.push_back(line.model);
    for (const TestCase& c : cases)
        model.cases.push_back(c.name);
    check_size(model);
    model.resize();
    Settings settings = line.settings;
    settings.keep_output = keep;
    Work w{0, {line.model, folder_of(line.model), {}}};
    for (std::size_t c = 0; c < cases.size(); ++c)
        w.task.cases.push_back(c);
    PoolEnd end =
        do_work({w}, cases, settings, model, Progress{isatty(STDERR_FILENO) != 0, cases.size()});
    if (end != PoolEnd::done) std::exit(status_of(end));
    return model;
}

// A case's outcome in a line of a message: the verdict, the place and the
// message's first line.
std::string outcome_words(const Outcome& outcome) {
    std::string place;
    if (outcome.line > 0)
        place = say(MSG_J_PLACE, {number(static_cast<unsigned>(outcome.line)),
                                  number(static_cast<unsigned>(outcome.column))}) +
                ": ";
    std::string_view message = outcome.message;
    return std::string(verdict_name(outcome.verdict)) + " " + place +
           visible(message.substr(0, message.find('\n')), std::string::npos);
}

// --model: the class is judged only when the model passes every case.
void check_model(const CommandLine& line, const std::vector<TestCase>& cases) {
    Judgement model = run_model(line, cases, false);
    for (std::size_t c = 0; c < cases.size(); ++c) {
        const Outcome* outcome = model.find(0, c);
        if (outcome != nullptr && outcome->verdict == Verdict::AC) continue;
        Outcome none;
        none.verdict = Verdict::CE;
        fail(say(MSG_J_MODEL_WRONG, {PROGRAM, shown_name(line.model), shown_name(cases[c].name),
                                     outcome_words(outcome != nullptr ? *outcome : none)}),
             2);
    }
}

// make-outputs: every case's NAME.out from the model's run, written only
// once every run gave one.  A run that ends in an error gives what
// tsumiki prints, its message included (a program that reads until its
// input ends stops so), with a warning.
int make_outputs(CommandLine& line) {
    catch_stops();
    std::vector<TestCase> cases;
    std::string error;
    if (!read_cases(line.cases, cases, error, false)) fail(error, 2);
    for (TestCase& c : cases)
        c.expected.clear();
    Judgement model = run_model(line, cases, true);
    std::vector<std::string> outputs;
    for (std::size_t c = 0; c < cases.size(); ++c) {
        const Outcome* outcome = model.find(0, c);
        std::string name = shown_name(cases[c].name);
        if (outcome == nullptr ||
            (outcome->verdict != Verdict::AC && outcome->verdict != Verdict::WA &&
             outcome->verdict != Verdict::RE)) {
            Outcome none;
            none.verdict = Verdict::CE;
            fail(say(MSG_J_MODEL_FAILED, {PROGRAM, shown_name(line.model), name,
                                          outcome_words(outcome != nullptr ? *outcome : none)}),
                 2);
        }
        if (outcome->output_bytes > outcome->output.size())
            fail(say(MSG_J_MODEL_OUTPUT_LARGE,
                     {PROGRAM, shown_name(line.model), name, number(SHOWN_OUTPUT_BYTES)}),
                 2);
        if (outcome->verdict == Verdict::RE)
            std::fputs(say(MSG_J_MODEL_ERROR_KEPT, {PROGRAM, shown_name(line.model), name}).c_str(),
                       stderr);
        outputs.push_back(outcome->output);
    }
    // Each written whole or not at all, never over the model itself.
    std::vector<ReportFile> files(cases.size());
    for (std::size_t c = 0; c < cases.size(); ++c) {
        files[c].path = (std::filesystem::path(line.cases) / cases[c].name).string() + ".out";
        if (same_file_as_any(files[c].path, {line.model}))
            fail(say(MSG_J_REPORT_IS_INPUT, {PROGRAM, shown_name(files[c].path)}), 2);
    }
    hold_stops();
    for (std::size_t c = 0; c < cases.size(); ++c)
        if (!open_report(files[c]) || !finish_report(files[c], outputs[c]))
            fail(say(MSG_J_REPORT_UNWRITABLE, {PROGRAM, shown_name(files[c].path)}), 1);
    release_stops();
    std::fputs(say(MSG_J_OUTPUTS_WRITTEN, {PROGRAM, number(cases.size())}).c_str(), stderr);
    return 0;
}

int judge(CommandLine& line) {
    catch_stops();
    std::vector<TestCase> cases = cases_or_fail(line.cases);
    if (!line.model.empty()) check_model(line, cases);
    Judgement judgement;
    std::string error;
    if (!find_submissions(line.operands, judgement.submissions, error)) fail(error, 2);
    keep_share(judgement.submissions, line.shard, line.shards);
    if (!line.results_json.empty() && judgement.submissions.size() != 1)
        fail(say(MSG_J_RESULTS_ONE, {PROGRAM, number(judgement.submissions.size())}), 2);
    for (const TestCase& c : cases)
        judgement.cases.push_back(c.name);
    check_size(judgement);
    judgement.resize();
    if (!read_manifest(line.cases, judgement, error)) fail(error, 2);
    std::vector<std::string> inputs = judgement.submissions;
    add_case_files(inputs, line.cases, cases);
    if (!line.model.empty()) inputs.push_back(line.model);
    Reports reports;
    open_all(reports, line, inputs);
    make_feedback_folder(line);

    line.settings.keep_output = line.shows_outputs();
    std::vector<Work> work;
    for (std::size_t s = 0; s < judgement.submissions.size(); ++s) {
        const std::string& path = judgement.submissions[s];
        Work w{s, {path, folder_of(path), {}}};
        for (std::size_t c = 0; c < cases.size(); ++c)
            w.task.cases.push_back(c);
        work.push_back(std::move(w));
    }
    Progress progress{isatty(STDERR_FILENO) != 0, judgement.submissions.size() * cases.size()};
    PoolEnd end = do_work(work, cases, line.settings, judgement, progress);
    write_reports(line, reports, judgement, cases, inputs);
    return status_of(end);
}

// For the page: what the runs that were not AC printed, from running them
// again (every run is the same again: its budget counts instructions, not
// time), and every submission's source as its worker reads it.  Only a
// submission under a folder given with --submissions is read; of any other
// the page shows the verdicts alone.  A run that now ends otherwise than
// its report says is named on standard error; the report's verdict stands.
PoolEnd run_again(Judgement& merged, const std::vector<TestCase>& cases, const CommandLine& line) {
    // The folder's case of each of the reports' cases.
    std::vector<std::size_t> folder_case(merged.cases.size(), cases.size());
    for (std::size_t c = 0; c < merged.cases.size(); ++c)
        for (std::size_t k = 0; k < cases.size(); ++k)
            if (cases[k].name == merged.cases[c]) folder_case[c] = k;
    std::vector<Work> work;
    std::size_t total = 0;
    for (std::size_t s = 0; s < merged.submissions.size(); ++s) {
        const std::string& name = merged.submissions[s];
        std::string folder = folder_holding(name, line.folders);
        if (folder.empty()) {
            std::fputs(say(MSG_J_NOT_UNDER_FOLDER, {PROGRAM, shown_name(name)}).c_str(), stderr);
            continue;
        }
        Work w{s, {name, folder, {}}};
        for (std::size_t c = 0; c < merged.cases.size(); ++c) {
            const Outcome* outcome = merged.find(s, c);
            if (!outcome || outcome->verdict == Verdict::AC || outcome->verdict == Verdict::CE ||
                folder_case[c] == cases.size())
                continue;
            w.task.cases.push_back(folder_case[c]);
        }
        total += w.task.cases.size();
        work.push_back(std::move(w));
    }
    // The worker speaks of the folder's cases; the judgement's columns are
    // the reports' cases.
    Judgement by_folder;
    by_folder.submissions = merged.submissions;
    for (const TestCase& c : cases)
        by_folder.cases.push_back(c.name);
    check_size(by_folder);
    by_folder.resize();
    Settings settings = line.settings;
    settings.keep_output = true;
    PoolEnd end =
        do_work(work, cases, settings, by_folder, Progress{isatty(STDERR_FILENO) != 0, total});
    merged.sources = std::move(by_folder.sources);
    for (std::size_t s = 0; s < merged.submissions.size(); ++s) {
        for (std::size_t c = 0; c < merged.cases.size(); ++c) {
            Outcome* outcome = merged.find(s, c);
            if (!outcome || folder_case[c] == cases.size()) continue;
            const Outcome* now = by_folder.find(s, folder_case[c]);
            if (!now) continue;
            if (now->verdict != outcome->verdict || now->steps != outcome->steps ||
                now->output_bytes != outcome->output_bytes || now->message != outcome->message)
                std::fputs(
                    say(MSG_J_RERUN_DIFFERS, {PROGRAM, shown_name(merged.submissions[s]) + " " +
                                                           shown_name(merged.cases[c]) + ": " +
                                                           verdict_name(outcome->verdict) + " -> " +
                                                           verdict_name(now->verdict)})
                        .c_str(),
                    stderr);
            outcome->output = now->output;
        }
    }
    return end;
}

int merge(CommandLine& line) {
    catch_stops();
    std::vector<JsonRecord> records;
    std::string error;
    for (const std::string& path : line.operands)
        if (!read_json_report(path, records, error)) fail(error, 2);
    Judgement merged;
    if (!judgement_of(records, merged, error)) fail(error, 2);
    if (!line.cases.empty() && !read_manifest(line.cases, merged, error)) fail(error, 2);
    if (!line.results_json.empty() && merged.submissions.size() != 1)
        fail(say(MSG_J_RESULTS_ONE, {PROGRAM, number(merged.submissions.size())}), 2);
    std::vector<TestCase> cases;
    std::vector<std::string> inputs;
    if (line.shows_outputs()) {
        cases = cases_or_fail(line.cases);
        add_case_files(inputs, line.cases, cases);
        for (const std::string& name : merged.submissions)
            if (!folder_holding(name, line.folders).empty()) inputs.push_back(name);
    }
    Reports reports;
    open_all(reports, line, inputs);
    make_feedback_folder(line);
    PoolEnd end = PoolEnd::done;
    if (line.shows_outputs()) end = run_again(merged, cases, line);
    write_reports(line, reports, merged, cases, inputs);
    return status_of(end);
}

// diff: the runs whose verdict changed; the status 1 when some did, as
// diff(1) has it.
int diff(const CommandLine& line) {
    std::vector<JsonRecord> reports[2];
    std::string error;
    for (int r = 0; r < 2; ++r) {
        Judgement checked; // refuses two records of one run
        if (!read_json_report(line.operands[r], reports[r], error) ||
            !judgement_of(reports[r], checked, error))
            fail(error, 2);
    }
    std::size_t changed = 0;
    std::string text = diff_report(reports[0], reports[1], changed);
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        fail(msg_in(MSG_OUTPUT_FAILED, Encoding::utf8), 2);
    return changed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // similar reads its own options (judge/similar_command.hpp).
    if (argc > 1 && std::string_view(argv[1]) == "similar") return similar_command(argc, argv);
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
    // And on the engine TSUMIKI_ENGINE names (the interpreter, or the
    // native tier, which counts the budget as exactly, where it is built).
    const char* engine = std::getenv(ENGINE_VARIABLE);
    if (!engine_named(engine, line.settings.engine)) fail(say(MSG_ENGINE_UNKNOWN, {engine}), 2);
    if (line.diff) return diff(line);
    return line.merge ? merge(line) : line.make_outputs ? make_outputs(line) : judge(line);
}
