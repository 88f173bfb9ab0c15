#include "judge/manifest.hpp"

#include <charconv>
#include <filesystem>
#include <map>
#include <system_error>

#include "driver/user_file.hpp"
#include "judge/text.hpp"

namespace {

const char* const PROGRAM = "tsumiki-judge";

// The words of a line, its comment left out.
std::vector<std::string_view> words_of(std::string_view line) {
    line = line.substr(0, line.find('#'));
    std::vector<std::string_view> words;
    while (!line.empty()) {
        std::size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string_view::npos) break;
        line.remove_prefix(start);
        std::size_t end = line.find_first_of(" \t\r");
        words.push_back(line.substr(0, end));
        line.remove_prefix(end == std::string_view::npos ? line.size() : end);
    }
    return words;
}

} // namespace

bool parse_manifest(std::string_view bytes, const std::string& path, Judgement& judgement,
                    std::string& error) {
    std::size_t cases = judgement.cases.size();
    std::vector<bool> grouped(cases, false), hidden(cases, false);
    std::vector<CaseGroup> groups;
    // Each case's index by its name: a long manifest on many cases is
    // read in n log n.
    std::map<std::string_view, std::size_t> index;
    for (std::size_t c = 0; c < cases; ++c)
        index.emplace(judgement.cases[c], c);
    std::size_t line_number = 0;
    // A byte order mark (an editor's, on Windows) is not a word.
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    auto complain = [&](Msg text, std::string_view word) {
        error = say(text, {PROGRAM, shown_name(path), number(line_number),
                           visible(to_utf8(word, Encoding::utf8), 40)});
        return false;
    };
    while (!bytes.empty()) {
        ++line_number;
        std::size_t end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        std::vector<std::string_view> words = words_of(line);
        if (words.empty()) continue;
        bool hiding = words[0] == "hidden";
        CaseGroup group;
        if (!hiding) {
            auto [stop, failed] =
                std::from_chars(words[0].data(), words[0].data() + words[0].size(), group.points);
            if (failed != std::errc() || stop != words[0].data() + words[0].size() ||
                group.points > MAX_GROUP_POINTS)
                return complain(MSG_J_MANIFEST_BAD_POINTS, words[0]);
        }
        if (words.size() < 2) return complain(MSG_J_MANIFEST_NO_CASES, words[0]);
        for (std::size_t w = 1; w < words.size(); ++w) {
            auto found = index.find(words[w]);
            if (found == index.end()) return complain(MSG_J_MANIFEST_NO_SUCH_CASE, words[w]);
            std::size_t c = found->second;
            if (hiding) {
                hidden[c] = true;
                continue;
            }
            if (grouped[c]) return complain(MSG_J_MANIFEST_TWICE, words[w]);
            grouped[c] = true;
            group.cases.push_back(c);
        }
        if (!hiding) groups.push_back(std::move(group));
    }
    // The cases named by no group, a point each, in their places.
    for (std::size_t c = 0; c < cases; ++c)
        if (!grouped[c]) groups.push_back(CaseGroup{1, {c}});
    judgement.groups = std::move(groups);
    judgement.hidden = std::move(hidden);
    return true;
}

bool read_manifest(const std::string& folder, Judgement& judgement, std::string& error) {
    std::string path = (std::filesystem::path(folder) / MANIFEST_NAME).string();
    std::error_code failed;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, failed))) return true;
    std::string bytes;
    FileRefusal refusal = read_user_file(path, MANIFEST_BYTES, bytes, folder);
    if (refusal != FileRefusal::none) {
        error = say(MSG_J_CASE_REFUSED,
                    {PROGRAM, shown_name(path), refusal_words(refusal, MANIFEST_BYTES)});
        return false;
    }
    return parse_manifest(bytes, path, judgement, error);
}
