#include "judge/similar_report.hpp"

#include <algorithm>

#include "judge/markup.hpp"
#include "judge/text.hpp"

namespace {

// The columns of the left side of the terminal's side-by-side lines.
constexpr std::size_t SIDE_COLUMNS = 38;
// The most characters of one source line shown.
constexpr std::size_t LINE_CHARS = 200;

std::string lines_words(const std::string& name, int first, int last) {
    return say(MSG_J_SIM_LINES, {shown_name(name), number(static_cast<unsigned>(first)),
                                 number(static_cast<unsigned>(last))});
}

// Source line `n` (from 1) with its number, as the terminal shows it.
std::string numbered(const SimilarEntry& entry, int n) {
    std::string text =
        n >= 1 && static_cast<std::size_t>(n) <= entry.lines.size() ? entry.lines[n - 1] : "";
    std::string num = number(static_cast<unsigned>(n));
    return std::string(num.size() < 5 ? 5 - num.size() : 0, ' ') + num + "  " +
           visible(text, LINE_CHARS);
}

// `text` made exactly `columns` wide: cut with "…" or padded with spaces.
std::string fit(const std::string& text, std::size_t columns) {
    if (display_width(text) <= columns)
        return text + std::string(columns - display_width(text), ' ');
    std::string out;
    std::size_t width = 0, i = 0;
    while (i < text.size()) {
        std::size_t n = 1;
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0xF0)
            n = 4;
        else if (c >= 0xE0)
            n = 3;
        else if (c >= 0xC0)
            n = 2;
        std::string ch = text.substr(i, n);
        std::size_t w = display_width(ch);
        if (width + w + 1 > columns) break;
        out += ch;
        width += w;
        i += n;
    }
    return out + "…" + std::string(columns - width - 1, ' ');
}

std::size_t compiled_count(const std::vector<SimilarEntry>& entries) {
    return static_cast<std::size_t>(std::count_if(
        entries.begin(), entries.end(), [](const SimilarEntry& e) { return e.compiled; }));
}

std::string summary(const std::vector<SimilarEntry>& entries, std::size_t pairs,
                    unsigned threshold) {
    std::size_t n = compiled_count(entries);
    return say(MSG_J_SIM_SUMMARY, {number(entries.size()), number(n * (n > 0 ? n - 1 : 0) / 2),
                                   number(threshold), number(pairs)});
}

const char* const STYLE = R"(
body { font-family: sans-serif; margin: 1.5em; color: #222; }
h1 { font-size: 1.4em; }
h2 { font-size: 1.15em; border-top: 2px solid #888; padding-top: .5em; margin-top: 1.5em; }
table.pairs { border-collapse: collapse; }
table.pairs th, table.pairs td { border: 1px solid #ccc; padding: .2em .6em; text-align: left; }
table.pairs td.score { text-align: right; font-weight: bold; }
table.region { border-collapse: collapse; width: 100%; margin: .6em 0; table-layout: fixed; }
table.region th { text-align: left; font-weight: normal; color: #555; }
table.region td { vertical-align: top; width: 50%; }
pre { background: #f6f6f6; padding: .4em; margin: 0; overflow-x: auto; }
span.n { color: #888; }
)";

std::string e(const std::string& s) {
    return escape_text(s);
}

// The lines first to last of a submission, numbered, for a <pre>.
std::string html_lines(const SimilarEntry& entry, int first, int last) {
    std::string out;
    for (int n = first; n <= last; ++n) {
        std::string text =
            n >= 1 && static_cast<std::size_t>(n) <= entry.lines.size() ? entry.lines[n - 1] : "";
        std::string num = number(static_cast<unsigned>(n));
        out += "<span class=\"n\">" + std::string(num.size() < 5 ? 5 - num.size() : 0, ' ') + num +
               "</span>  " + e(visible(text, LINE_CHARS)) + "\n";
    }
    return out;
}

} // namespace

std::vector<SimilarRegion> similar_regions(const SimilarPair& pair, const SimilarCode& a,
                                           const SimilarCode& b) {
    // Per line of each program, whether some instruction was compiled from
    // it: lines between two stretches that hold no code ("begin", a
    // declaration, a blank line) do not part them.
    auto code_lines = [](const SimilarCode& code) {
        std::vector<bool> has;
        for (std::size_t k = 0; k < code.tokens.size(); ++k) {
            if (code.first_line[k] <= 0) continue;
            auto last = static_cast<std::size_t>(code.last_line[k]);
            if (has.size() <= last) has.resize(last + 1, false);
            for (auto n = static_cast<std::size_t>(code.first_line[k]); n <= last; ++n)
                has[n] = true;
        }
        return has;
    };
    std::vector<bool> has_a = code_lines(a), has_b = code_lines(b);
    // Whether the lines first to last join the stretch low to high: they
    // begin inside it or after it with only lines without code between.
    auto joins = [](const std::vector<bool>& has, int low, int high, int first, int) {
        if (first < low) return false;
        for (int n = high + 1; n < first; ++n)
            if (static_cast<std::size_t>(n) < has.size() && has[static_cast<std::size_t>(n)])
                return false;
        return true;
    };
    auto add = [&](std::vector<SimilarRegion>& out, const SimilarRegion& r) {
        if (!out.empty()) {
            SimilarRegion& last = out.back();
            if (joins(has_a, last.a_first, last.a_last, r.a_first, r.a_last) &&
                joins(has_b, last.b_first, last.b_last, r.b_first, r.b_last)) {
                last.a_first = std::min(last.a_first, r.a_first);
                last.a_last = std::max(last.a_last, r.a_last);
                last.b_first = std::min(last.b_first, r.b_first);
                last.b_last = std::max(last.b_last, r.b_last);
                return;
            }
        }
        out.push_back(r);
    };
    // The tiles' instructions, pair by pair, in stretches of lines.
    std::vector<SimilarRegion> pieces;
    for (const SimilarTile& t : pair.tiles) {
        std::vector<SimilarRegion> tile;
        for (std::size_t k = 0; k < t.length; ++k) {
            std::size_t i = t.a_first + k, j = t.b_first + k;
            if (i >= a.tokens.size() || j >= b.tokens.size()) break;
            if (a.first_line[i] <= 0 || b.first_line[j] <= 0) continue;
            add(tile, {a.first_line[i], a.last_line[i], b.first_line[j], b.last_line[j]});
        }
        pieces.insert(pieces.end(), tile.begin(), tile.end());
    }
    std::sort(pieces.begin(), pieces.end(), [](const SimilarRegion& x, const SimilarRegion& y) {
        return x.a_first != y.a_first ? x.a_first < y.a_first : x.b_first < y.b_first;
    });
    std::vector<SimilarRegion> regions;
    for (const SimilarRegion& r : pieces)
        add(regions, r);
    return regions;
}

std::string similar_text(const std::vector<SimilarEntry>& entries,
                         const std::vector<SimilarPair>& pairs, unsigned threshold) {
    std::string out;
    for (const SimilarPair& pair : pairs) {
        const SimilarEntry& a = entries[pair.a];
        const SimilarEntry& b = entries[pair.b];
        out += say(MSG_J_SIM_PAIR, {number(pair.score), shown_name(a.name), shown_name(b.name)});
        for (const SimilarRegion& r : similar_regions(pair, a.code, b.code)) {
            out += "  " + fit(lines_words(a.name, r.a_first, r.a_last), SIDE_COLUMNS) + " | " +
                   lines_words(b.name, r.b_first, r.b_last) + "\n";
            int rows = std::max(r.a_last - r.a_first, r.b_last - r.b_first) + 1;
            for (int k = 0; k < rows; ++k) {
                std::string left = r.a_first + k <= r.a_last ? numbered(a, r.a_first + k) : "";
                std::string right = r.b_first + k <= r.b_last ? numbered(b, r.b_first + k) : "";
                std::string line = "  " + fit(left, SIDE_COLUMNS) + " | " + right;
                line.erase(line.find_last_not_of(' ') + 1);
                out += line + "\n";
            }
        }
        out += "\n";
    }
    std::size_t skipped = entries.size() - compiled_count(entries);
    if (skipped > 0) {
        out += say(MSG_J_SIM_SKIPPED, {number(skipped)});
        for (const SimilarEntry& entry : entries)
            if (!entry.compiled) out += "  " + shown_name(entry.name) + ": " + entry.why + "\n";
        out += "\n";
    }
    return out + summary(entries, pairs.size(), threshold);
}

std::string similar_html(const std::vector<SimilarEntry>& entries,
                         const std::vector<SimilarPair>& pairs, unsigned threshold) {
    std::string title = e(say(MSG_J_SIM_TITLE, {}));
    std::string out = "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                      "<title>" +
                      title + "</title>\n<style>" + STYLE + "</style>\n</head>\n<body>\n<h1>" +
                      title + "</h1>\n<p class=\"about\">" + e(say(MSG_J_SIM_ABOUT, {})) +
                      "</p>\n<p class=\"summary\">" + e(summary(entries, pairs.size(), threshold)) +
                      "</p>\n";
    if (!pairs.empty()) {
        out += "<table class=\"pairs\">\n";
        for (std::size_t p = 0; p < pairs.size(); ++p)
            out += "<tr><td class=\"score\"><a href=\"#pair-" + number(p + 1) + "\">" +
                   number(pairs[p].score) + "%</a></td><td>" +
                   e(shown_name(entries[pairs[p].a].name)) + "</td><td>" +
                   e(shown_name(entries[pairs[p].b].name)) + "</td></tr>\n";
        out += "</table>\n";
    }
    for (std::size_t p = 0; p < pairs.size(); ++p) {
        const SimilarPair& pair = pairs[p];
        const SimilarEntry& a = entries[pair.a];
        const SimilarEntry& b = entries[pair.b];
        out +=
            "<h2 id=\"pair-" + number(p + 1) + "\">" +
            e(std::string(without_final_breaks(say(
                MSG_J_SIM_PAIR, {number(pair.score), shown_name(a.name), shown_name(b.name)})))) +
            "</h2>\n";
        for (const SimilarRegion& r : similar_regions(pair, a.code, b.code))
            out += "<table class=\"region\">\n<tr><th>" +
                   e(lines_words(a.name, r.a_first, r.a_last)) + "</th><th>" +
                   e(lines_words(b.name, r.b_first, r.b_last)) + "</th></tr>\n<tr><td><pre>" +
                   html_lines(a, r.a_first, r.a_last) + "</pre></td><td><pre>" +
                   html_lines(b, r.b_first, r.b_last) + "</pre></td></tr>\n</table>\n";
    }
    std::size_t skipped = entries.size() - compiled_count(entries);
    if (skipped > 0) {
        out +=
            "<h2 id=\"skipped\">" + e(say(MSG_J_SIM_SKIPPED, {number(skipped)})) + "</h2>\n<ul>\n";
        for (const SimilarEntry& entry : entries)
            if (!entry.compiled)
                out += "<li>" + e(shown_name(entry.name)) + ": " + e(entry.why) + "</li>\n";
        out += "</ul>\n";
    }
    return out + "</body>\n</html>\n";
}
