#include "judge/similar_command.hpp"

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "judge/inputs.hpp"
#include "judge/options.hpp"
#include "judge/report_files.hpp"
#include "judge/similar_report.hpp"
#include "judge/text.hpp"
#include "judge/worker.hpp"

namespace {

const char* const PROGRAM = "tsumiki-judge";

struct SimilarLine {
    bool help = false;
    unsigned threshold = SIMILAR_DEFAULT_THRESHOLD;
    std::string html;
    std::vector<std::string> operands;
};

bool fails(std::string& error, const std::string& complaint) {
    error = complaint + say(MSG_J_HINT, {PROGRAM});
    return false;
}

bool read_line(int argc, char** argv, SimilarLine& line, std::string& error) {
    bool options_end = false;
    for (int i = 2; i < argc; ++i) {
        std::string_view a = argv[i];
        if (options_end || a.size() < 2 || a[0] != '-') {
            line.operands.emplace_back(a);
            continue;
        }
        if (a == "--") {
            options_end = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            line.help = true;
            continue;
        }
        OptionWord word = split_option(a);
        std::string_view name = word.name;
        if (name != "--threshold" && name != "--html")
            return fails(error, say(MSG_J_UNKNOWN_OPTION, {PROGRAM, a}));
        if (!take_value(word, argc, argv, i))
            return fails(error, say(MSG_J_MISSING_VALUE, {PROGRAM, name}));
        std::string_view value = word.value;
        bool good = !value.empty();
        if (name == "--html") {
            line.html = value;
        } else {
            auto [end, failed] =
                std::from_chars(value.data(), value.data() + value.size(), line.threshold);
            good = good && failed == std::errc() && end == value.data() + value.size() &&
                   line.threshold <= 100;
        }
        if (!good) return fails(error, say(MSG_J_BAD_VALUE, {PROGRAM, name, value}));
    }
    if (!line.help && line.operands.empty())
        return fails(error, say(MSG_J_NO_SUBMISSIONS, {PROGRAM}));
    return true;
}

// The source's lines in UTF-8, as the compiler counts them: a line break
// ends one, a carriage return is dropped, and a tab is spaces to the next
// multiple of eight.
std::vector<std::string> lines_of(const std::string& bytes) {
    std::string text = source_to_utf8(bytes);
    std::vector<std::string> lines(1);
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            lines.emplace_back();
        } else if (c == '\t') {
            lines.back() += std::string(8 - display_width(lines.back()) % 8, ' ');
        } else {
            lines.back() += c;
        }
    }
    return lines;
}

bool write_out(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
           std::fflush(stdout) == 0;
}

} // namespace

int similar_command(int argc, char** argv) {
    SimilarLine line;
    std::string error;
    if (!read_line(argc, argv, line, error)) {
        std::fputs(error.c_str(), stderr);
        return 2;
    }
    if (line.help) {
        std::string text = say(MSG_J_USAGE_SIMILAR, {PROGRAM}) +
                           say(MSG_J_HELP_SIMILAR, {number(SIMILAR_DEFAULT_THRESHOLD)});
        return write_out(text) ? 0 : 1;
    }
    std::vector<std::string> names;
    if (!find_submissions(line.operands, names, error)) {
        std::fputs(error.c_str(), stderr);
        return 2;
    }
    // The page's temporary file before any work, never over a submission.
    ReportFile page;
    page.path = line.html;
    if (!page.path.empty()) {
        if (same_file_as_any(page.path, names)) {
            std::fputs(say(MSG_J_REPORT_IS_INPUT, {PROGRAM, shown_name(page.path)}).c_str(),
                       stderr);
            return 2;
        }
        if (!open_report(page)) {
            std::fputs(say(MSG_J_REPORT_UNWRITABLE, {PROGRAM, shown_name(page.path)}).c_str(),
                       stderr);
            return 2;
        }
    }
    std::vector<SimilarEntry> entries(names.size());
    std::vector<const SimilarCode*> codes(names.size(), nullptr);
    for (std::size_t s = 0; s < names.size(); ++s) {
        SimilarEntry& entry = entries[s];
        entry.name = names[s];
        std::string bytes;
        FileRefusal refusal =
            read_user_file(names[s], SUBMISSION_BYTES, bytes, folder_of(names[s]));
        if (refusal != FileRefusal::none) {
            entry.why = say(MSG_J_SOURCE_REFUSED, {refusal_words(refusal, SUBMISSION_BYTES)});
            continue;
        }
        entry.compiled = similar_code_of(bytes, entry.code, entry.why);
        if (!entry.compiled) continue;
        entry.lines = lines_of(bytes);
        codes[s] = &entry.code;
    }
    std::vector<SimilarPair> pairs = similar_pairs(codes, line.threshold);
    if (!page.path.empty() && !finish_report(page, similar_html(entries, pairs, line.threshold))) {
        std::fputs(say(MSG_J_REPORT_UNWRITABLE, {PROGRAM, shown_name(page.path)}).c_str(), stderr);
        return 1;
    }
    if (!write_out(similar_text(entries, pairs, line.threshold))) {
        std::fputs(msg_in(MSG_OUTPUT_FAILED, Encoding::utf8), stderr);
        return 1;
    }
    return 0;
}
