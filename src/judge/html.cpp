#include "judge/html.hpp"

#include <algorithm>
#include <optional>

#include "driver/api.hpp"
#include "judge/compare.hpp"
#include "judge/feedback.hpp"
#include "judge/markup.hpp"
#include "judge/text.hpp"

namespace {

// The most lines of an output, and of source, that the page shows.
constexpr std::size_t SHOWN_LINES = 2000;
// The most bytes of one line of an output that the page shows.
constexpr std::size_t SHOWN_LINE_BYTES = 4096;
// Lines of source shown around an error's line.
constexpr int EXCERPT_LINES = 2;

const char* const STYLE = R"(
body { font-family: sans-serif; margin: 1.5em; color: #222; }
h1 { font-size: 1.4em; }
h2 { font-size: 1.15em; }
h3 { font-size: 1em; margin: .6em 0 .3em; }
table.results { border-collapse: collapse; }
table.results th, table.results td { border: 1px solid #ccc; padding: .2em .6em; text-align: center; }
table.results th.name { text-align: left; }
td.v a, span.v { font-weight: bold; text-decoration: none; }
.AC { color: #187a2f; } .WA { color: #c0262d; } .RE { color: #9c27b0; }
.CE { color: #a66a00; } .TLE { color: #1f5fbf; } .OLE { color: #00838f; }
section.detail, section.source, section.case { display: none; border-top: 2px solid #888; margin-top: 1.5em; }
section:target { display: block; }
pre { background: #f6f6f6; padding: .4em; margin: 0; overflow-x: auto; }
.sides { display: grid; grid-template-columns: minmax(10em, 1fr) 3fr; gap: 1em; align-items: start; }
table.compare { border-collapse: collapse; width: 100%; font-family: monospace; }
table.compare td, table.compare th { border: 1px solid #ddd; padding: 0 .4em; white-space: pre-wrap; vertical-align: top; }
table.compare td.n { color: #888; text-align: right; }
tr.differs td { background: #fff0f0; }
tr.differs mark { background: #ffb3b3; }
.nobreak { color: #888; font-size: .85em; }
table.source { border-collapse: collapse; font-family: monospace; }
table.source td { padding: 0 .5em; white-space: pre; }
table.source td.n { color: #888; text-align: right; }
tr.error td { background: #fff0f0; }
tr.error mark { background: #ffb3b3; }
.message { font-weight: bold; }
a.playground { font-weight: bold; }
.echo::after { content: attr(data-echo) "\A"; color: #1f5fbf; font-style: italic;
  text-decoration: underline dotted; }
)";

std::string text_of(Msg m) {
    return say(m, {});
}

std::string e(const std::string& s) {
    return escape_text(s);
}

std::string link(const std::string& href, const std::string& text, const std::string& cls = "") {
    return "<a href=\"#" + href + "\"" + (cls.empty() ? "" : " class=\"" + cls + "\"") + ">" +
           text + "</a>";
}

std::string verdict_span(Verdict v) {
    return std::string("<span class=\"v ") + verdict_name(v) + "\">" + verdict_name(v) + "</span>";
}

std::string run_id(std::size_t s, std::size_t c) {
    return "r" + number(s) + "-" + number(c);
}

// A text's lines, each with its "\n" when it has one.
std::vector<std::string_view> raw_lines(std::string_view text) {
    return output_lines(text, false);
}

std::string cut_note(std::uint64_t whole) {
    return "<p class=\"cut\">" + e(say(MSG_J_HTML_CUT, {number(whole)})) + "</p>";
}

// The numbers a case's reads take, shown after each read's prompt in an
// output as a terminal echoes what is typed: the prompt can only come from
// a read, so the k-th prompt of an output is the k-th read's.  The echo is
// drawn by the style from the element's data-echo, so that the text of the
// output (what a copy takes) stays the output's bytes.
class Echoes {
  public:
    // For outputs of at most SHOWN_OUTPUT_BYTES in `encoding`.
    Echoes(std::string_view input, Encoding encoding)
        : numbers_(numbers_read(
              input,
              SHOWN_OUTPUT_BYTES / std::string_view(msg_in(MSG_PROMPT, encoding)).size() + 1)) {}

    // Takes the prompts of the next piece of the output (UTF-8): a line,
    // or the whole.
    void next(std::string_view text) {
        first_ = read_;
        ends_.clear();
        const std::string_view prompt = msg_in(MSG_PROMPT, Encoding::utf8);
        for (std::size_t found = text.find(prompt); found != std::string_view::npos;
             found = text.find(prompt, found + prompt.size()))
            ends_.push_back(found + prompt.size());
        read_ += ends_.size();
    }

    // [begin, end) of that piece, escaped, with the echo after each of its
    // prompts that ends in (begin, end].
    std::string shown(std::string_view text, std::size_t begin, std::size_t end) const {
        std::string out;
        for (std::size_t i = 0; i < ends_.size(); ++i) {
            if (ends_[i] <= begin || ends_[i] > end) continue;
            out += escape_text(text.substr(begin, ends_[i] - begin)) + echo(first_ + i);
            begin = ends_[i];
        }
        return out + escape_text(text.substr(begin, end - begin));
    }

  private:
    // The echo of read k, if it took a number.
    std::string echo(std::size_t k) const {
        if (k >= numbers_.size()) return {};
        return "<span class=\"echo\" data-echo=\"" + std::to_string(numbers_[k]) + "\" title=\"" +
               escape_markup(text_of(MSG_J_HTML_INPUT)) + "\"></span>";
    }

    std::vector<std::int32_t> numbers_;
    std::size_t read_ = 0;          // the read whose prompt comes next
    std::size_t first_ = 0;         // the read of the piece's first prompt
    std::vector<std::size_t> ends_; // where the piece's prompts end
};

// An input or an output as it is, in a <pre>; an output with `echoes`.
std::string text_block(std::string_view bytes, Encoding encoding, Echoes* echoes = nullptr) {
    if (bytes.empty()) return "<pre class=\"empty\">" + e(text_of(MSG_J_HTML_EMPTY)) + "</pre>";
    std::string shown(bytes.substr(0, SHOWN_OUTPUT_BYTES));
    std::string text = to_utf8(shown, encoding);
    if (echoes != nullptr) echoes->next(text);
    std::string out =
        "<pre>" + (echoes != nullptr ? echoes->shown(text, 0, text.size()) : e(text)) + "</pre>";
    if (bytes.size() > shown.size()) out += cut_note(bytes.size());
    return out;
}

// The bytes up to the last whole UTF-8 character within `n`.
std::size_t char_boundary(std::string_view s, std::size_t n) {
    while (n > 0 && n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

// One side of a compared line: its text, from `from` marked, the number
// read after each prompt, and a note where it has no line break.
std::string line_cell(std::optional<std::string_view> line, std::optional<std::size_t> from,
                      Encoding encoding, Echoes& echoes) {
    if (!line) return "<td></td>";
    std::string_view raw = *line;
    bool broken = !raw.empty() && raw.back() == '\n';
    if (broken) raw.remove_suffix(1);
    std::string text = to_utf8(raw, encoding);
    // A line too long to show whole is cut, on a character's boundary.
    bool cut = text.size() > SHOWN_LINE_BYTES;
    std::size_t shown = cut ? char_boundary(text, SHOWN_LINE_BYTES) : text.size();
    echoes.next(text);
    std::string out = "<td>";
    if (from) {
        std::size_t at = std::min(*from, shown);
        out += echoes.shown(text, 0, at) + "<mark>" + echoes.shown(text, at, shown) + "</mark>";
    } else {
        out += echoes.shown(text, 0, shown);
    }
    if (cut) out += "\xE2\x80\xA6"; // …
    if (!broken) out += " <span class=\"nobreak\">" + e(text_of(MSG_J_HTML_NO_BREAK)) + "</span>";
    return out + "</td>";
}

// The expected and the actual output side by side, line by line, the
// lines that differ (as the comparison sees them) marked, and the number
// each read took from `input` after its prompt.
std::string comparison(std::string_view input, std::string_view expected, std::string_view actual,
                       std::uint64_t actual_bytes, const Settings& settings,
                       const std::string& id) {
    // Of the expected output, as much as of the actual one; both compared
    // as text, as the judge compares them (judge/compare.hpp).
    std::uint64_t expected_bytes = expected.size();
    std::uint64_t actual_shown = actual.size();
    std::string want_text =
        to_utf8(expected.substr(0, SHOWN_OUTPUT_BYTES), encoding_of_expected(expected));
    std::string got_text = to_utf8(actual, settings.encoding);
    auto want = raw_lines(want_text);
    auto got = raw_lines(got_text);
    auto want_seen = output_lines(want_text, settings.ignore_trailing_space);
    auto got_seen = output_lines(got_text, settings.ignore_trailing_space);
    std::size_t rows = std::min(std::max(want.size(), got.size()), SHOWN_LINES);
    std::string out = "<table class=\"compare\"><tr><th>" + e(text_of(MSG_J_HTML_LINE)) +
                      "</th><th>" + e(text_of(MSG_J_HTML_EXPECTED)) + "</th><th>" +
                      e(text_of(MSG_J_HTML_ACTUAL)) + "</th></tr>\n";
    auto at = [](const std::vector<std::string_view>& v, std::size_t i) {
        return i < v.size() ? std::optional<std::string_view>(v[i]) : std::nullopt;
    };
    Echoes expected_echoes(input, settings.encoding);
    Echoes actual_echoes = expected_echoes;
    bool first = true;
    for (std::size_t i = 0; i < rows; ++i) {
        auto w = at(want, i), g = at(got, i);
        bool differs = at(want_seen, i) != at(got_seen, i);
        std::optional<std::size_t> from;
        if (differs && w && g) {
            std::string_view a = *w, b = *g;
            std::size_t same = 0;
            while (same < a.size() && same < b.size() && a[same] == b[same])
                ++same;
            from = char_boundary(a, same);
        } else if (differs) {
            from = 0;
        }
        out += "<tr";
        if (differs)
            out += first ? " class=\"differs\" id=\"" + id + "-first\"" : " class=\"differs\"";
        if (differs) first = false;
        out += "><td class=\"n\">" + number(i + 1) + "</td>" +
               line_cell(w, from, Encoding::utf8, expected_echoes) +
               line_cell(g, from, Encoding::utf8, actual_echoes) + "</tr>\n";
    }
    out += "</table>\n";
    if (std::max(want.size(), got.size()) > SHOWN_LINES || actual_bytes > actual_shown ||
        expected_bytes > SHOWN_OUTPUT_BYTES)
        out += cut_note(std::max<std::uint64_t>(actual_bytes, expected_bytes));
    return out;
}

// A submission's source: its bytes and its lines, decoded for the page.
struct Source {
    bool read = false;
    std::string bytes;                   // the first SHOWN_SOURCE_BYTES of it
    std::uint64_t size = 0;              // of the whole
    std::vector<std::string_view> lines; // without their line ends
    bool utf8 = true;

    std::string line_text(std::string_view line) const {
        return utf8 ? to_utf8(line, Encoding::utf8) : to_utf8(line, Encoding::cp932);
    }
};

// The source as its worker read it and sent it (judge/worker.hpp).
Source source_of(const Judgement& j, std::size_t s) {
    Source source;
    if (s >= j.sources.size() || !j.sources[s].read) return source;
    const SourceShown& shown = j.sources[s];
    source.read = true;
    source.bytes = shown.head;
    source.size = shown.size;
    source.utf8 = shown.utf8;
    std::string_view rest = source.bytes;
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        source.lines.push_back(line);
    }
    return source;
}

// A source line, with the character at byte `column` (from 1) marked.
std::string marked_line(const Source& source, std::string_view line, int column) {
    auto at = static_cast<std::size_t>(column - 1);
    if (column < 1 || at >= line.size()) return e(source.line_text(line));
    // The whole character that starts there: one byte, or a Shift_JIS or
    // UTF-8 sequence.
    std::size_t length = 1;
    auto c = static_cast<unsigned char>(line[at]);
    if (!source.utf8 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC))) length = 2;
    if (source.utf8)
        while (at + length < line.size() &&
               (static_cast<unsigned char>(line[at + length]) & 0xC0) == 0x80)
            ++length;
    return e(source.line_text(line.substr(0, at))) + "<mark>" +
           e(source.line_text(line.substr(at, length))) + "</mark>" +
           e(source.line_text(line.substr(std::min(at + length, line.size()))));
}

std::string source_row(const Source& source, std::size_t index, int mark_line, int column) {
    bool error = static_cast<int>(index + 1) == mark_line;
    std::string_view line = source.lines[index];
    // A line too long to show whole (a file of one long line).
    if (line.size() > 1000) line = line.substr(0, 1000);
    std::string text = error ? marked_line(source, line, column) : e(source.line_text(line));
    return std::string("<tr") + (error ? " class=\"error\"" : "") + "><td class=\"n\">" +
           number(index + 1) + "</td><td>" + text + "</td></tr>\n";
}

// The source's lines around `line`, then (when `whole` is set) a link to
// the whole source's section.
std::string excerpt(const Source& source, std::size_t s, int line, int column, bool whole = true) {
    if (!source.read) return "<p>" + e(text_of(MSG_J_HTML_NO_SOURCE)) + "</p>";
    std::string out = "<table class=\"source\">\n";
    int first = std::max(1, line - EXCERPT_LINES);
    int last = std::min(static_cast<int>(source.lines.size()), line + EXCERPT_LINES);
    for (int l = first; l <= last; ++l)
        out += source_row(source, static_cast<std::size_t>(l - 1), line, column);
    out += "</table>\n";
    if (!whole) return out;
    return out + "<p>" + link("s" + number(s), e(text_of(MSG_J_HTML_WHOLE_SOURCE))) + "</p>\n";
}

std::string whole_source(const Source& source, std::size_t s, const std::string& name) {
    std::string out = "<section class=\"source\" id=\"s" + number(s) + "\">\n<h2>" +
                      e(text_of(MSG_J_HTML_SOURCE)) + ": " + e(shown_name(name)) + "</h2>\n";
    if (!source.read) {
        out += "<p>" + e(text_of(MSG_J_HTML_NO_SOURCE)) + "</p>\n";
    } else {
        out += "<table class=\"source\">\n";
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < source.lines.size() && bytes < SHOWN_SOURCE_BYTES; ++i) {
            out += source_row(source, i, 0, 0);
            bytes += source.lines[i].size() + 1;
        }
        out += "</table>\n";
        if (bytes < source.size)
            out += "<p class=\"cut\">" + e(say(MSG_J_HTML_SOURCE_CUT, {number(source.size)})) +
                   "</p>\n";
    }
    return out + "<p>" + link("results", e(text_of(MSG_J_HTML_BACK))) + "</p>\n</section>\n";
}

std::string heading(const Judgement& j, std::size_t s, std::optional<std::size_t> c, Verdict v) {
    std::string title = e(shown_name(j.submissions[s]));
    if (c) title += " / " + e(text_of(MSG_J_HTML_CASE)) + " " + e(shown_name(j.cases[*c]));
    return "<h2>" + title + ": " + verdict_span(v) + "</h2>\n";
}

std::string message_block(const Outcome& outcome) {
    std::string out;
    if (!outcome.message.empty()) {
        std::string place;
        if (outcome.line > 0)
            place = say(MSG_J_PLACE, {number(static_cast<unsigned>(outcome.line)),
                                      number(static_cast<unsigned>(outcome.column))}) +
                    ": ";
        // A hint stands on a line of its own in the message.
        std::string_view message = outcome.message;
        std::size_t cut = message.find('\n');
        out += "<p class=\"message\">" + e(place + std::string(message.substr(0, cut)));
        while (cut != std::string_view::npos) {
            message.remove_prefix(cut + 1);
            cut = message.find('\n');
            out += "<br>" + e(std::string(message.substr(0, cut)));
        }
        out += "</p>\n";
    }
    return out;
}

std::string playground_paragraph(const Judgement& j, std::size_t s, std::size_t c,
                                 const TestCase* test, PlaygroundLinks* links) {
    if (links == nullptr) return "";
    const Outcome* outcome = j.find(s, c);
    const std::string& url = links->link(j, s, c, test);
    if (outcome == nullptr || url.empty()) return "";
    Msg where = outcome->verdict == Verdict::WA   ? MSG_J_HTML_PLAYGROUND_WA
                : outcome->verdict == Verdict::RE ? MSG_J_HTML_PLAYGROUND_RE
                                                  : MSG_J_HTML_PLAYGROUND_TLE;
    return "<p><a class=\"playground\" href=\"" + escape_markup(url) + "\">" +
           e(text_of(MSG_J_HTML_PLAYGROUND)) + "</a> " + e(text_of(where)) + "</p>\n";
}

std::string run_detail(const Judgement& j, std::size_t s, std::size_t c, const Outcome& outcome,
                       const TestCase* test, const Source& source, const Settings& settings,
                       const PageLinks& links) {
    std::string out =
        "<section class=\"detail\" id=\"" + run_id(s, c) + "\">\n" +
        heading(j, s, c, outcome.verdict) + message_block(outcome) + "<p>" +
        e(say(MSG_J_HTML_STEPS, {number(outcome.steps), number(outcome.output_bytes)})) + "</p>\n";
    if (outcome.verdict == Verdict::AC) {
        out +=
            "<p>" + e(text_of(MSG_J_HTML_AS_EXPECTED)) + " " +
            link("c" + number(c), e(text_of(MSG_J_HTML_CASE)) + " " + e(shown_name(j.cases[c]))) +
            "</p>\n";
    } else if (!links.feedback.empty()) {
        // The student's page shows the input and both outputs.
        std::string page = feedback_name(j.submissions[s], s + 1) + ".html";
        out += "<p class=\"details\">" + e(text_of(MSG_J_HTML_DETAILS)) + " <a href=\"" +
               escape_markup(links.feedback + page) + "#k" + number(c) + "\">" + e(page) +
               "</a></p>\n";
    } else {
        std::string_view input =
            test != nullptr ? std::string_view(test->input) : std::string_view();
        std::string_view expected =
            test != nullptr ? std::string_view(test->expected) : std::string_view();
        out += "<div class=\"sides\">\n<div><h3>" + e(text_of(MSG_J_HTML_INPUT)) + "</h3>" +
               text_block(input, settings.encoding) + "</div>\n<div>" +
               comparison(input, expected, outcome.output, outcome.output_bytes, settings,
                          run_id(s, c)) +
               "</div>\n</div>\n";
        if (outcome.line > 0)
            out += "<h3>" + e(text_of(MSG_J_HTML_SOURCE)) + "</h3>\n" +
                   excerpt(source, s, outcome.line, outcome.column);
    }
    out += playground_paragraph(j, s, c, test, links.playground);
    return out + "<p>" + link("results", e(text_of(MSG_J_HTML_BACK))) + "</p>\n</section>\n";
}

std::string compile_detail(const Judgement& j, std::size_t s, const Outcome& outcome,
                           const Source& source) {
    std::string out = "<section class=\"detail\" id=\"ce" + number(s) + "\">\n" +
                      heading(j, s, std::nullopt, Verdict::CE) + message_block(outcome) + "<p>" +
                      e(text_of(MSG_J_HTML_NOT_RUN)) + "</p>\n";
    if (outcome.line > 0) out += excerpt(source, s, outcome.line, outcome.column);
    return out + "<p>" + link("results", e(text_of(MSG_J_HTML_BACK))) + "</p>\n</section>\n";
}

std::string case_section(const Judgement& j, std::size_t c, const TestCase* test,
                         const Settings& settings) {
    std::string_view input = test != nullptr ? std::string_view(test->input) : std::string_view();
    std::string_view expected =
        test != nullptr ? std::string_view(test->expected) : std::string_view();
    Echoes echoes(input, settings.encoding);
    return "<section class=\"case\" id=\"c" + number(c) + "\">\n<h2>" +
           e(text_of(MSG_J_HTML_CASE)) + " " + e(shown_name(j.cases[c])) +
           "</h2>\n<div class=\"sides\">\n<div><h3>" + e(text_of(MSG_J_HTML_INPUT)) + "</h3>" +
           text_block(input, settings.encoding) + "</div>\n<div><h3>" +
           e(text_of(MSG_J_HTML_EXPECTED)) + "</h3>" +
           text_block(expected, encoding_of_expected(expected), &echoes) + "</div>\n</div>\n<p>" +
           link("results", e(text_of(MSG_J_HTML_BACK))) + "</p>\n</section>\n";
}

} // namespace

std::string html_report(const Judgement& j, const std::vector<TestCase>& cases,
                        const Settings& settings, const PageLinks& links) {
    std::vector<const TestCase*> tests;
    for (const std::string& name : j.cases) {
        auto found = std::find_if(cases.begin(), cases.end(),
                                  [&](const TestCase& t) { return t.name == name; });
        tests.push_back(found == cases.end() ? nullptr : &*found);
    }
    std::string title = e(text_of(MSG_J_HTML_TITLE));
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>" +
        title + "</title>\n<style>" + STYLE +
        "</style>\n</head>\n<body>\n"
        "<h1>" +
        title + "</h1>\n<p class=\"settings\">" +
        e(say(MSG_J_HTML_SETTINGS, {number(settings.steps), number(settings.output_limit)}) +
          text_of(settings.ignore_trailing_space ? MSG_J_HTML_TRAILING : MSG_J_HTML_EXACT)) +
        "</p>\n";

    // The table.
    out += "<table class=\"results\" id=\"results\">\n<tr><th class=\"name\">" +
           e(text_of(MSG_J_SUBMISSION)) + "</th>";
    for (std::size_t c = 0; c < j.cases.size(); ++c)
        out += "<th>" + link("c" + number(c), e(shown_name(j.cases[c]))) + "</th>";
    out += "<th>" + e(text_of(MSG_J_SCORE)) + "</th></tr>\n";
    std::size_t counts[VERDICT_COUNT] = {};
    for (std::size_t s = 0; s < j.submissions.size(); ++s) {
        out += "<tr><th class=\"name\">" + link("s" + number(s), e(shown_name(j.submissions[s]))) +
               "</th>";
        bool compile_error_counted = false;
        for (std::size_t c = 0; c < j.cases.size(); ++c) {
            const Outcome* outcome = j.find(s, c);
            if (!outcome) {
                out += "<td>-</td>";
                continue;
            }
            // A compile error once a submission: no case of it ran.
            if (outcome->verdict != Verdict::CE || !compile_error_counted)
                ++counts[static_cast<int>(outcome->verdict)];
            compile_error_counted = compile_error_counted || outcome->verdict == Verdict::CE;
            std::string target = outcome->verdict == Verdict::CE ? "ce" + number(s) : run_id(s, c);
            out += std::string("<td class=\"v\">") +
                   link(target, verdict_name(outcome->verdict), verdict_name(outcome->verdict)) +
                   "</td>";
        }
        Score score = score_of(j, s);
        out += "<td class=\"score\">" + number(score.points) + "/" + number(score.max_points) +
               "</td></tr>\n";
    }
    out += "</table>\n<p class=\"summary\">" +
           e(say(MSG_J_SUMMARY, {number(j.submissions.size()), number(j.cases.size()),
                                 number(j.submissions.size() * j.cases.size())}));
    for (int v = 0; v < VERDICT_COUNT; ++v)
        out += " " + verdict_span(static_cast<Verdict>(v)) + " " + number(counts[v]);
    out += "</p>\n";

    // The details, then the sources and the cases.
    for (std::size_t s = 0; s < j.submissions.size(); ++s) {
        Source source = source_of(j, s);
        bool compile_error_shown = false;
        for (std::size_t c = 0; c < j.cases.size(); ++c) {
            const Outcome* outcome = j.find(s, c);
            if (!outcome) continue;
            if (outcome->verdict != Verdict::CE) {
                out += run_detail(j, s, c, *outcome, tests[c], source, settings, links);
            } else if (!compile_error_shown) {
                compile_error_shown = true;
                out += compile_detail(j, s, *outcome, source);
            }
        }
        out += whole_source(source, s, j.submissions[s]);
    }
    for (std::size_t c = 0; c < j.cases.size(); ++c)
        out += case_section(j, c, tests[c], settings);
    return out + "</body>\n</html>\n";
}

const char* page_style() {
    return STYLE;
}

std::string page_text(std::string_view bytes, Encoding encoding) {
    return text_block(bytes, encoding);
}

std::string page_comparison(std::string_view input, std::string_view expected,
                            const Outcome& outcome, const Settings& settings,
                            const std::string& id) {
    return comparison(input, expected, outcome.output, outcome.output_bytes, settings, id);
}

std::string page_message(const Outcome& outcome) {
    return message_block(outcome);
}

std::string page_excerpt(const Judgement& judgement, std::size_t submission, int line, int column) {
    return excerpt(source_of(judgement, submission), submission, line, column, false);
}

std::string page_playground(const Judgement& judgement, std::size_t submission,
                            std::size_t case_index, const TestCase* test, PlaygroundLinks* links) {
    return playground_paragraph(judgement, submission, case_index, test, links);
}

std::string folder_url(std::string_view path) {
    static const char HEX[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : path) {
        auto c = static_cast<unsigned char>(ch);
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || c == '.' || c == '~' || c == '/';
        if (plain) {
            out += ch;
        } else {
            out += '%';
            out += HEX[c >> 4];
            out += HEX[c & 15];
        }
    }
    if (out.empty() || out.back() != '/') out += '/';
    return out;
}
