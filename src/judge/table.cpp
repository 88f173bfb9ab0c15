// The table for a terminal.
#include <algorithm>

#include "judge/reports.hpp"
#include "judge/text.hpp"

namespace {

// The colour of each verdict (ANSI): green, red, magenta, yellow, blue, cyan.
const char* const colours[VERDICT_COUNT] = {"32", "31", "35", "33", "34", "36"};

void pad(std::string& out, const std::string& text, std::size_t width) {
    out += text;
    std::size_t w = display_width(text);
    if (w < width) out.append(width - w, ' ');
}

std::string painted(Verdict verdict, bool colour) {
    std::string name = verdict_name(verdict);
    if (!colour) return name;
    return std::string("\x1b[") + colours[static_cast<int>(verdict)] + "m" + name + "\x1b[0m";
}

std::string where(const Outcome& outcome) {
    if (outcome.line == 0) return "";
    return say(MSG_J_PLACE, {number(static_cast<unsigned>(outcome.line)),
                             number(static_cast<unsigned>(outcome.column))}) +
           ": ";
}

} // namespace

std::string table_report(const Judgement& judgement, bool colour) {
    std::vector<std::string> names;
    std::size_t name_width = display_width(say(MSG_J_SUBMISSION, {}));
    for (const std::string& s : judgement.submissions) {
        names.push_back(shown_name(s));
        name_width = std::max(name_width, display_width(names.back()));
    }
    std::vector<std::string> cases;
    std::vector<std::size_t> widths;
    for (const std::string& c : judgement.cases) {
        cases.push_back(shown_name(c));
        widths.push_back(std::max<std::size_t>(display_width(cases.back()), 3));
    }

    std::string out;
    pad(out, say(MSG_J_SUBMISSION, {}), name_width);
    for (std::size_t c = 0; c < cases.size(); ++c) {
        out += "  ";
        pad(out, cases[c], widths[c]);
    }
    out += "  " + say(MSG_J_SCORE, {}) + "\n";
    std::size_t counts[VERDICT_COUNT] = {};
    std::size_t judged = 0;
    for (std::size_t s = 0; s < names.size(); ++s) {
        pad(out, names[s], name_width);
        bool compile_error_counted = false;
        for (std::size_t c = 0; c < cases.size(); ++c) {
            out += "  ";
            const Outcome* outcome = judgement.find(s, c);
            if (!outcome) {
                pad(out, "-", widths[c]);
                continue;
            }
            // A compile error once a submission: no case of it ran.
            if (outcome->verdict != Verdict::CE || !compile_error_counted)
                ++counts[static_cast<int>(outcome->verdict)];
            compile_error_counted = compile_error_counted || outcome->verdict == Verdict::CE;
            ++judged;
            out += painted(outcome->verdict, colour);
            out.append(widths[c] - std::string(verdict_name(outcome->verdict)).size(), ' ');
        }
        Score score = score_of(judgement, s);
        out += "  " + number(score.points) + "/" + number(score.max_points) + "\n";
    }

    // Why each run that was not AC was not; a compile error once.
    std::string details;
    for (std::size_t s = 0; s < names.size(); ++s) {
        bool compile_error_said = false;
        for (std::size_t c = 0; c < cases.size(); ++c) {
            const Outcome* outcome = judgement.find(s, c);
            if (!outcome || outcome->verdict == Verdict::AC) continue;
            if (outcome->verdict == Verdict::CE) {
                if (compile_error_said) continue;
                compile_error_said = true;
                details += names[s] + ": ";
            } else {
                details += names[s] + " " + cases[c] + ": ";
            }
            // The message's first line follows the verdict; a hint, on a
            // line of its own in the message, goes under it, indented.
            std::string_view message = outcome->message;
            std::size_t cut = message.find('\n');
            details += painted(outcome->verdict, colour) + " " + where(*outcome) +
                       visible(message.substr(0, cut), std::string::npos) + "\n";
            while (cut != std::string_view::npos) {
                message.remove_prefix(cut + 1);
                cut = message.find('\n');
                details += "    " + visible(message.substr(0, cut), std::string::npos) + "\n";
            }
        }
    }
    if (!details.empty()) out += "\n" + details;

    out += '\n';
    out += say(MSG_J_SUMMARY,
               {number(names.size()), number(cases.size()), number(names.size() * cases.size())});
    for (int v = 0; v < VERDICT_COUNT; ++v) {
        if (v > 0) out += "  ";
        out += painted(static_cast<Verdict>(v), colour) + " " + number(counts[v]);
    }
    if (judged < names.size() * cases.size()) {
        out += ' ';
        out += say(MSG_J_NOT_JUDGED, {number(names.size() * cases.size() - judged)});
    }
    out += "\n";
    return out;
}
