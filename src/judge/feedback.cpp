#include "judge/feedback.hpp"

#include <algorithm>
#include <filesystem>

#include "judge/compare.hpp"
#include "judge/html.hpp"
#include "judge/markup.hpp"
#include "judge/text.hpp"

namespace {

// The most bytes of a file name taken into a feedback file's name.
constexpr std::size_t NAME_BYTES = 60;
// The most lines of an input or output, and characters of a line, that
// the text shows.
constexpr std::size_t TEXT_LINES = 200;
constexpr std::size_t TEXT_LINE_CHARS = 200;

std::string e(const std::string& s) {
    return escape_text(s);
}

const TestCase* case_named(const std::vector<TestCase>& cases, const std::string& name) {
    auto found =
        std::find_if(cases.begin(), cases.end(), [&](const TestCase& t) { return t.name == name; });
    return found == cases.end() ? nullptr : &*found;
}

// The outcome as the student sees it: of a hidden case, a WA's message
// (which quotes the expected line) replaced.
Outcome shown_outcome(const Judgement& j, std::size_t c, const Outcome& outcome) {
    Outcome shown = outcome;
    if (j.is_hidden(c)) {
        shown.output.clear();
        if (outcome.verdict == Verdict::WA) shown.message = say(MSG_J_FB_HIDDEN_WA, {});
    }
    return shown;
}

std::string score_words(const Judgement& j, std::size_t s) {
    Score score = score_of(j, s);
    return say(MSG_J_SCORE, {}) + ": " + number(score.points) + "/" + number(score.max_points);
}

std::string case_words(const Judgement& j, std::size_t c) {
    return say(MSG_J_HTML_CASE, {}) + " " + shown_name(j.cases[c]);
}

// The first compile error of the submission, if it has one.
const Outcome* compile_error(const Judgement& j, std::size_t s) {
    for (std::size_t c = 0; c < j.cases.size(); ++c) {
        const Outcome* outcome = j.find(s, c);
        if (outcome != nullptr && outcome->verdict == Verdict::CE) return outcome;
    }
    return nullptr;
}

std::string verdict_span(Verdict v) {
    return std::string("<span class=\"v ") + verdict_name(v) + "\">" + verdict_name(v) + "</span>";
}

// A text's lines for the plain feedback, each behind "    | ", at most
// TEXT_LINES of them; the line `mark` (from 0) behind " >> | ".
std::string text_lines(const std::string& utf8, long mark) {
    if (utf8.empty()) return "    " + say(MSG_J_HTML_EMPTY, {}) + "\n";
    std::string out;
    std::vector<std::string_view> lines = output_lines(utf8, false);
    for (std::size_t i = 0; i < lines.size() && i < TEXT_LINES; ++i) {
        std::string_view line = lines[i];
        bool broken = !line.empty() && line.back() == '\n';
        if (broken) line.remove_suffix(1);
        out += static_cast<long>(i) == mark ? " >> | " : "    | ";
        out += visible(line, TEXT_LINE_CHARS);
        if (!broken) out += " " + say(MSG_J_HTML_NO_BREAK, {});
        out += "\n";
    }
    if (lines.size() > TEXT_LINES) out += "    …\n";
    return out;
}

} // namespace

std::string feedback_name(const std::string& submission, std::size_t row) {
    std::string file = std::filesystem::path(submission).filename().string();
    std::string name = number(row);
    name.insert(0, name.size() < 3 ? 3 - name.size() : 0, '0');
    name += '-';
    for (std::size_t i = 0; i < file.size() && i < NAME_BYTES; ++i) {
        char c = file[i];
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || c == '.';
        name += plain ? c : '_';
    }
    return name;
}

std::string feedback_html(const Judgement& j, std::size_t s, const std::vector<TestCase>& cases,
                          const Settings& settings, PlaygroundLinks* playground) {
    std::string title = e(say(MSG_J_FB_TITLE, {shown_name(j.submissions[s])}));
    std::string out = "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                      "<title>" +
                      title + "</title>\n<style>" + page_style() +
                      "section.run { border-top: 2px solid #888; margin-top: 1.5em; }\n"
                      "</style>\n</head>\n<body>\n<h1>" +
                      title + "</h1>\n<p class=\"score\">" + e(score_words(j, s)) + "</p>\n";
    // The verdicts, each linked to its case below.
    out += "<table class=\"results\">\n<tr>";
    for (std::size_t c = 0; c < j.cases.size(); ++c)
        out += "<th><a href=\"#k" + number(c) + "\">" + e(shown_name(j.cases[c])) + "</a></th>";
    out += "</tr>\n<tr>";
    for (std::size_t c = 0; c < j.cases.size(); ++c) {
        const Outcome* outcome = j.find(s, c);
        out += std::string("<td class=\"v\">") +
               (outcome != nullptr ? verdict_span(outcome->verdict) : "-") + "</td>";
    }
    out += "</tr>\n</table>\n";
    if (const Outcome* ce = compile_error(j, s)) {
        out += "<section class=\"run\" id=\"ce\">\n<h2>" + verdict_span(Verdict::CE) + "</h2>\n" +
               page_message(*ce) + "<p>" + e(say(MSG_J_HTML_NOT_RUN, {})) + "</p>\n";
        if (ce->line > 0) out += page_excerpt(j, s, ce->line, ce->column);
        out += "</section>\n";
    }
    for (std::size_t c = 0; c < j.cases.size(); ++c) {
        const Outcome* found = j.find(s, c);
        if (found != nullptr && found->verdict == Verdict::CE) continue;
        out += "<section class=\"run\" id=\"k" + number(c) + "\">\n<h2>" + e(case_words(j, c)) +
               ": " + (found != nullptr ? verdict_span(found->verdict) : "-") + "</h2>\n";
        if (found == nullptr) {
            out += "<p>" + e(say(MSG_J_HTML_NOT_JUDGED, {})) + "</p>\n</section>\n";
            continue;
        }
        Outcome outcome = shown_outcome(j, c, *found);
        out += page_message(outcome);
        if (j.is_hidden(c)) {
            out += "<p class=\"hidden\">" + e(say(MSG_J_FB_HIDDEN, {})) + "</p>\n";
        } else if (outcome.verdict == Verdict::AC) {
            out += "<p>" + e(say(MSG_J_HTML_AS_EXPECTED, {})) + "</p>\n";
        } else {
            const TestCase* test = case_named(cases, j.cases[c]);
            std::string_view input = test != nullptr ? std::string_view(test->input) : "";
            std::string_view expected = test != nullptr ? std::string_view(test->expected) : "";
            out += "<div class=\"sides\">\n<div><h3>" + e(say(MSG_J_HTML_INPUT, {})) + "</h3>" +
                   page_text(input, settings.encoding) + "</div>\n<div>" +
                   page_comparison(input, expected, outcome, settings, "k" + number(c)) +
                   "</div>\n</div>\n" + page_playground(j, s, c, test, playground);
        }
        if (outcome.verdict != Verdict::AC && outcome.line > 0)
            out += "<h3>" + e(say(MSG_J_HTML_SOURCE, {})) + "</h3>\n" +
                   page_excerpt(j, s, outcome.line, outcome.column);
        out += "</section>\n";
    }
    return out + "</body>\n</html>\n";
}

std::string feedback_text(const Judgement& j, std::size_t s, const std::vector<TestCase>& cases,
                          const Settings& settings) {
    std::string out =
        say(MSG_J_FB_TITLE, {shown_name(j.submissions[s])}) + "\n" + score_words(j, s) + "\n";
    auto message_lines = [](const Outcome& outcome) {
        std::string lines;
        std::string_view message = outcome.message;
        std::string place;
        if (outcome.line > 0)
            place = say(MSG_J_PLACE, {number(static_cast<unsigned>(outcome.line)),
                                      number(static_cast<unsigned>(outcome.column))}) +
                    ": ";
        while (!message.empty()) {
            std::size_t cut = message.find('\n');
            lines += "  " + place + visible(message.substr(0, cut), std::string::npos) + "\n";
            place.clear();
            message.remove_prefix(cut == std::string_view::npos ? message.size() : cut + 1);
        }
        return lines;
    };
    if (const Outcome* ce = compile_error(j, s))
        out += "\nCE\n" + message_lines(*ce) + "  " + say(MSG_J_HTML_NOT_RUN, {}) + "\n";
    for (std::size_t c = 0; c < j.cases.size(); ++c) {
        const Outcome* found = j.find(s, c);
        if (found != nullptr && found->verdict == Verdict::CE) continue;
        out += "\n" + case_words(j, c) + ": ";
        if (found == nullptr) {
            out += "-\n  " + say(MSG_J_HTML_NOT_JUDGED, {}) + "\n";
            continue;
        }
        Outcome outcome = shown_outcome(j, c, *found);
        out += std::string(verdict_name(outcome.verdict)) + "\n" + message_lines(outcome);
        if (j.is_hidden(c)) {
            out += "  " + say(MSG_J_FB_HIDDEN, {}) + "\n";
            continue;
        }
        if (outcome.verdict == Verdict::AC) continue;
        const TestCase* test = case_named(cases, j.cases[c]);
        std::string_view input = test != nullptr ? std::string_view(test->input) : "";
        std::string_view expected = test != nullptr ? std::string_view(test->expected) : "";
        std::string want = expected_text(expected.substr(0, SHOWN_OUTPUT_BYTES));
        std::string got = to_utf8(outcome.output, settings.encoding);
        long differs = first_different_line(output_lines(want, settings.ignore_trailing_space),
                                            output_lines(got, settings.ignore_trailing_space));
        out += "  " + say(MSG_J_HTML_INPUT, {}) + ":\n" +
               text_lines(to_utf8(input.substr(0, SHOWN_OUTPUT_BYTES), settings.encoding), -1) +
               "  " + say(MSG_J_HTML_EXPECTED, {}) + ":\n" + text_lines(want, differs) + "  " +
               say(MSG_J_HTML_ACTUAL, {}) + ":\n" + text_lines(got, differs);
    }
    return out;
}
